// The knob control and its pop-up track bar: range and clamping in either
// direction, the keys, the wheel, painting only on a change, and the drag
// through the pop-up with the cursor held on the track and put back after.
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest>

#include <QScreen>
#include <memory>
#include <vector>

#include "instrument/knob.h"

namespace {

using qv::TFormTBarPop;
using qv::TKnob;

struct Reports {
    std::vector<std::pair<int, int>> calls;
    void attach(TKnob& k) {
        QObject::connect(&k, &qv::TKnob::valueChanged,
                         [this](int tag, int value) { calls.emplace_back(tag, value); });
    }
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

void setUp(TKnob& k, int min, int max, int marks, int value) {
    k.Min = min;
    k.Max = max;
    k.Marks = marks;
    k.setValue(value);
}

void press(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyPress(w, key, mods);
    QTest::keyRelease(w, key, mods);
}

void typeDigit(QWidget* w, int digit) {
    press(w, static_cast<Qt::Key>(Qt::Key_0 + digit));
}

void wheel(QWidget* w, int delta) {
    QWheelEvent e(QPointF(5, 5), QPointF(w->mapToGlobal(QPoint(5, 5))), QPoint(),
                  QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

void mouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
           Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A window holding knobs and a line edit on either side, shown and active.
struct Window {
    QWidget top;
    QLineEdit* before;
    TKnob* knob;
    QLineEdit* after;
    explicit Window(TFormTBarPop* popup = nullptr) {
        auto* layout = new QVBoxLayout(&top);
        before = new QLineEdit(&top);
        knob = new TKnob(&top, popup);
        after = new QLineEdit(&top);
        layout->addWidget(before);
        layout->addWidget(knob);
        layout->addWidget(after);
        top.move(100, 100);
        top.show();
        top.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&top));
        knob->setFocus();
        QCoreApplication::processEvents();
    }
};

}  // namespace

class TestKnob : public QObject {
    Q_OBJECT
private slots:
    void creationSize() {
        TKnob k;
        QVERIFY(k.labelRowHeight() > 0);
        QCOMPARE(k.width(), 32);
        QCOMPARE(k.height(), k.labelRowHeight() + 32);
        QCOMPARE(k.label()->parentWidget(), &k);
        QCOMPARE(k.label()->geometry(), QRect(0, -2, 32, k.labelRowHeight()));
        QVERIFY(k.label()->alignment() & Qt::AlignHCenter);
        QCOMPARE(k.focusPolicy(), Qt::StrongFocus);
    }

    void clampingEitherOrder() {
        bool clamped = false;
        QCOMPARE(TKnob::clampToRange(200, 127, 0, &clamped), 127);
        QVERIFY(clamped);
        QCOMPARE(TKnob::clampToRange(-5, 127, 0, &clamped), 0);
        QVERIFY(clamped);
        QCOMPARE(TKnob::clampToRange(64, 127, 0, &clamped), 64);
        QVERIFY(!clamped);
        QCOMPARE(TKnob::clampToRange(-4, -3, 3, &clamped), -3);
        QVERIFY(clamped);

        TKnob k;
        Reports r;
        r.attach(k);
        k.Tag = 24;
        k.Min = 127;
        k.Max = 0;
        QVERIFY(k.setValue(200));
        QCOMPARE(k.value(), 127);
        QCOMPARE(k.label()->text(), QString("127"));
        QVERIFY(!k.setValue(3));
        QCOMPARE(r.calls.size(), size_t(2));
        QCOMPARE(r.calls.back(), std::make_pair(24, 3));
    }

    // TL: Min 127, Max 0. Up lowers the value; 127 sits at the arc's start.
    void backwardsKnob() {
        Window w;
        TKnob& k = *w.knob;
        setUp(k, 127, 0, 16, 127);
        QCOMPARE(k.pointerAngle(), 225.0);
        press(&k, Qt::Key_Up);
        QCOMPARE(k.value(), 126);
        press(&k, Qt::Key_Down);
        press(&k, Qt::Key_Down);
        QCOMPARE(k.value(), 127);
        k.setValue(0);
        QCOMPARE(k.pointerAngle(), 495.0);
        QVERIFY(k.step(1));  // past the Max end
        QCOMPARE(k.value(), 0);
        QVERIFY(!k.step(-5));
        QCOMPARE(k.value(), 5);
        // The track's left end is Min (127), its right end Max (0).
        QCOMPARE(TFormTBarPop::positionToValue(k, 0), 127);
        QCOMPARE(TFormTBarPop::positionToValue(k, 127), 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 127), 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 0), 127);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 100), 27);
    }

    void keypadPlusMinus() {
        Window w;
        TKnob& k = *w.knob;
        setUp(k, 0, 15, 8, 4);
        press(&k, Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(k.value(), 5);
        press(&k, Qt::Key_Minus, Qt::KeypadModifier);
        press(&k, Qt::Key_Minus, Qt::KeypadModifier);
        QCOMPARE(k.value(), 3);
        // Keypad digits are not typed digits.
        press(&k, Qt::Key_7, Qt::KeypadModifier);
        QCOMPARE(k.value(), 3);
    }

    void typingDigits() {
        Window w;
        TKnob& k = *w.knob;
        Reports r;
        r.attach(k);
        setUp(k, 0, 31, 8, 3);
        typeDigit(&k, 1);
        QCOMPARE(k.value(), 31);
        r.calls.clear();
        typeDigit(&k, 5);  // 315 is out of range: 31 reported, then 5
        QCOMPARE(k.value(), 5);
        QCOMPARE(r.calls.size(), size_t(2));
        QCOMPARE(r.calls[0].second, 31);
        QCOMPARE(r.calls[1].second, 5);
        press(&k, Qt::Key_Backspace);
        QCOMPARE(k.value(), 0);
        k.setValue(27);
        press(&k, Qt::Key_Backspace);
        QCOMPARE(k.value(), 2);
        press(&k, Qt::Key_Delete);
        QCOMPARE(k.value(), 0);
    }

    void backspaceTowardZero() {
        TKnob k;
        setUp(k, -3, 3, 7, -2);
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(&k, &e);
        QCOMPARE(k.value(), 0);
    }

    void minusKey() {
        Window w;
        TKnob& k = *w.knob;
        setUp(k, -3, 3, 7, 2);
        press(&k, Qt::Key_Minus);
        QCOMPARE(k.value(), -2);
        press(&k, Qt::Key_Minus);
        QCOMPARE(k.value(), 2);

        Reports r;
        r.attach(k);
        setUp(k, 0, 15, 8, 2);
        r.calls.clear();
        press(&k, Qt::Key_Minus);
        QCOMPARE(k.value(), 2);
        QVERIFY(r.calls.empty());
    }

    void leftRightMoveFocus() {
        Window w;
        QVERIFY(w.knob->hasFocus());
        press(w.knob, Qt::Key_Right);
        QVERIFY(w.after->hasFocus());
        w.knob->setFocus();
        press(w.knob, Qt::Key_Left);
        QVERIFY(w.before->hasFocus());
    }

    void keyUpsSwallowed() {
        TKnob k;
        for (auto [key, mods] : {std::pair{Qt::Key_Backspace, Qt::KeyboardModifiers{}},
                                 {Qt::Key_Up, {}},
                                 {Qt::Key_Down, {}},
                                 {Qt::Key_Delete, {}},
                                 {Qt::Key_Plus, Qt::KeypadModifier},
                                 {Qt::Key_Minus, Qt::KeypadModifier}}) {
            QKeyEvent e(QEvent::KeyRelease, key, mods);
            e.ignore();
            QApplication::sendEvent(&k, &e);
            QVERIFY(e.isAccepted());
        }
        for (auto key : {Qt::Key_A, Qt::Key_5, Qt::Key_Left}) {
            QKeyEvent e(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(&k, &e);
            QVERIFY(!e.isAccepted());
        }
        // Keys the knob does not use go on to the parent.
        QKeyEvent e(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QApplication::sendEvent(&k, &e);
        QVERIFY(!e.isAccepted());
    }

    void sameValueReportsWithoutRepaint() {
        Window w;
        TKnob& k = *w.knob;
        setUp(k, 0, 31, 8, 10);
        QCoreApplication::processEvents();
        PaintCounter paints;
        k.installEventFilter(&paints);
        Reports r;
        r.attach(k);
        QVERIFY(!k.setValue(10));
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 0);
        QCOMPARE(r.calls.size(), size_t(1));
        QCOMPARE(r.calls[0].second, 10);
        k.setValue(11);
        QVERIFY(paints.count >= 1);  // at once, before any event processing
        QCOMPARE(k.label()->text(), QString("11"));
        k.removeEventFilter(&paints);
    }

    void wheelSteps() {
        Window w;
        TKnob& k = *w.knob;
        Reports r;
        setUp(k, 0, 31, 8, 0);
        r.attach(k);
        wheel(&k, -120);  // one notch down at 0
        QCOMPARE(k.value(), 0);
        QCOMPARE(r.calls.size(), size_t(1));
        wheel(&k, 240);
        QCOMPARE(k.value(), 2);
        wheel(&k, 60);  // half a notch waits for the other half
        QCOMPARE(k.value(), 2);
        wheel(&k, 60);
        QCOMPARE(k.value(), 3);
        setUp(k, 15, 0, 8, 15);
        wheel(&k, 120);  // clockwise on a backwards knob lowers it
        QCOMPARE(k.value(), 14);
    }

    void highlightColours() {
        Window w;
        TKnob& k = *w.knob;
        QVERIFY(k.highlighted());
        QCOMPARE(k.label()->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        w.after->setFocus();
        QCoreApplication::processEvents();
        QVERIFY(!k.highlighted());
        QCOMPARE(k.label()->palette().color(QPalette::WindowText),
                 QApplication::palette("QMenu").color(QPalette::WindowText));
    }

    void paintsDotWhereThePointerIs() {
        Window w;
        TKnob& k = *w.knob;
        setUp(k, 0, 15, 8, 0);  // pointer at 225 degrees: lower left
        w.after->setFocus();
        QCoreApplication::processEvents();
        QImage img = k.grab().toImage();
        const int cx = 16, cy = k.labelRowHeight() + 16;
        // sin(225) * 9 = -6.36, -cos(225) * 9 = 6.36: truncated to (cx - 6, cy + 6).
        QCOMPARE(img.pixelColor(cx - 6, cy + 6), QColor(192, 192, 192));
        // The first tick mark starts at radius 16 on the same angle:
        // 16 - 11.31 and cy + 11.31, truncated.
        QCOMPARE(img.pixelColor(4, cy + 11), QColor(Qt::black));
        QCOMPARE(img.pixelColor(7, cy + 8), QColor(Qt::black));
        k.setFocus();
        QCoreApplication::processEvents();
        img = k.grab().toImage();
        QCOMPARE(img.pixelColor(cx - 6, cy + 6), QColor(Qt::white));
    }

    void popupMapping() {
        TKnob k;
        setUp(k, 0, 31, 8, 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 0), 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 31), 127);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 1), 4);    // 4.10
        QCOMPARE(TFormTBarPop::valueToPosition(k, 15), 61);  // 61.45
        QCOMPARE(TFormTBarPop::positionToValue(k, 64), 16);  // 15.62
        QCOMPARE(TFormTBarPop::positionToValue(k, 127), 31);

        // DT: the middle value lands on a half and rounds up.
        setUp(k, -3, 3, 7, 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 0), 64);   // 63.5
        QCOMPARE(TFormTBarPop::valueToPosition(k, -3), 0);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 3), 127);
        QCOMPARE(TFormTBarPop::positionToValue(k, 0), -3);
        // Negative results round away from zero as a whole.
        QCOMPARE(TFormTBarPop::positionToValue(k, 10), -3);  // -2.53
        QCOMPARE(TFormTBarPop::positionToValue(k, 11), -2);  // -2.48
        QCOMPARE(TFormTBarPop::positionToValue(k, 32), -1);  // -1.49
        QCOMPARE(TFormTBarPop::positionToValue(k, 64), 0);

        // A backwards knob with an even span: 127 - 63.5 rounds to 64.
        setUp(k, 6, 0, 7, 3);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 3), 64);
        QCOMPARE(TFormTBarPop::valueToPosition(k, 6), 0);
        QCOMPARE(TFormTBarPop::positionToValue(k, 64), 3);  // 2.98
        QCOMPARE(TFormTBarPop::positionToValue(k, 127), 0);

        // Every value goes to a position and back unchanged.
        for (auto [min, max] : {std::pair{0, 31}, {0, 15}, {127, 0}, {15, 0}, {-3, 3}, {0, 3}}) {
            setUp(k, min, max, 8, min);
            for (int v = std::min(min, max); v <= std::max(min, max); ++v)
                QCOMPARE(TFormTBarPop::positionToValue(k, TFormTBarPop::valueToPosition(k, v)),
                         v);
        }
    }

    void dragThroughPopup() {
        TFormTBarPop popup;
        Window w(&popup);
        TKnob& k = *w.knob;
        setUp(k, 0, 31, 8, 15);
        Reports r;
        r.attach(k);
        w.after->setFocus();
        const QPoint start = k.mapToGlobal(QPoint(10, 20));
        QCursor::setPos(start);
        // Where the platform cannot move the cursor, the remembered position
        // stands in for it.
        const bool cursorMovable = QCursor::pos() == start;
        if (!cursorMovable) qInfo("the cursor cannot be placed on this platform");

        mouse(&k, QEvent::MouseButtonPress, QPoint(10, 20), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(k.hasFocus());
        QCOMPARE(popup.activeKnob(), &k);
        QVERIFY(popup.isVisible());
        QVERIFY(!popup.reversed());
        QCOMPARE(popup.savedCursor(), start);
        // Centred under the knob, top at its bottom edge.
        const QPoint knobTopLeft = k.mapToGlobal(QPoint(0, 0));
        QCOMPARE(popup.pos(), QPoint(knobTopLeft.x() + 16 - 145 / 2, knobTopLeft.y() + k.height()));
        QCOMPARE(popup.size(), QSize(145, 22));
        QCOMPARE(QWidget::mouseGrabber(), &popup);
        // The thumb and the cursor stand at the value's position (61).
        QCOMPARE(popup.thumbLeft(), 61 + 9 - 4);
        QCOMPARE(popup.thumbTop(), 7 + 4 - 8);
        const QRect line = popup.trackLine();
        QCOMPARE(line, QRect(popup.pos().x() + 9, popup.pos().y() + 11, 128, 1));
        if (cursorMovable) QCOMPARE(QCursor::pos(), QPoint(line.left() + 61, line.top()));
        for (int i = 0; i < popup.shadowCount(); ++i) {
            QVERIFY(popup.shadow(i)->isVisible());
            QCOMPARE(popup.shadow(i)->pos(), popup.pos() + QPoint(i + 1, i + 1));
        }

        // Dragging to the right end and beyond it.
        r.calls.clear();
        mouse(&popup, QEvent::MouseMove, QPoint(9 + 127, 11), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 31);
        QCOMPARE(popup.thumbLeft(), 127 + 9 - 4);
        mouse(&popup, QEvent::MouseMove, QPoint(400, 30), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 31);
        if (cursorMovable) QCOMPARE(QCursor::pos(), QPoint(line.right(), line.top()));
        mouse(&popup, QEvent::MouseMove, QPoint(9 + 64, 11), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 16);
        mouse(&popup, QEvent::MouseMove, QPoint(-50, 11), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 0);
        QCOMPARE(popup.thumbLeft(), 9 - 4);
        QCOMPARE(r.calls.size(), size_t(4));
        QVERIFY(k.highlighted());

        // Releasing ends the drag and puts the cursor back.
        mouse(&popup, QEvent::MouseButtonRelease, QPoint(200, 200), Qt::LeftButton,
              Qt::NoButton);
        QCOMPARE(popup.activeKnob(), nullptr);
        QVERIFY(!popup.isVisible());
        QVERIFY(QWidget::mouseGrabber() != &popup);
        for (int i = 0; i < popup.shadowCount(); ++i) QVERIFY(!popup.shadow(i)->isVisible());
        if (cursorMovable) QCOMPARE(QCursor::pos(), start);
        QCOMPARE(popup.savedCursor(), start);
        QCOMPARE(k.value(), 0);
    }

    void popupStaysOnTheScreen() {
        const QRect screen(0, 0, 1024, 768);
        const QSize size(145, 22);
        // Room everywhere: centred under the knob.
        QCOMPARE(TFormTBarPop::placeFor(QRect(500, 300, 32, 48), size, screen), QPoint(500 + 16 - 72, 348));
        // At the left and right edges: pushed onto the screen.
        QCOMPARE(TFormTBarPop::placeFor(QRect(2, 300, 32, 48), size, screen), QPoint(0, 348));
        QCOMPARE(TFormTBarPop::placeFor(QRect(1000, 300, 32, 48), size, screen), QPoint(1024 - 145, 348));
        // At the bottom: above the knob.
        QCOMPARE(TFormTBarPop::placeFor(QRect(500, 730, 32, 48), size, screen), QPoint(444, 730 - 22));
        // A screen that does not start at 0 (a second monitor).
        QCOMPARE(TFormTBarPop::placeFor(QRect(1030, 10, 32, 48), size, QRect(1024, 0, 800, 600)),
                 QPoint(1024, 58));

        // A real knob at the screen's left edge: the whole track is on the
        // screen, so both ends can be dragged to.
        TFormTBarPop popup;
        Window w(&popup);
        w.top.move(0, 100);
        QCoreApplication::processEvents();
        TKnob& k = *w.knob;
        setUp(k, 0, 31, 8, 3);
        mouse(&k, QEvent::MouseButtonPress, QPoint(10, 20), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(popup.activeKnob(), &k);
        const QRect area = k.screen()->availableGeometry();
        QVERIFY2(area.contains(popup.geometry()), qPrintable(QString("popup at %1,%2").arg(popup.x()).arg(popup.y())));
        QVERIFY(area.contains(popup.trackLine()));
        mouse(&popup, QEvent::MouseMove, QPoint(9, 11), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 0);
        mouse(&popup, QEvent::MouseMove, QPoint(9 + 127, 11), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(k.value(), 31);
        mouse(&popup, QEvent::MouseButtonRelease, QPoint(20, 11), Qt::LeftButton, Qt::NoButton);
        QVERIFY(!popup.isVisible());
    }

    void dragBackwardsKnob() {
        TFormTBarPop popup;
        Window w(&popup);
        TKnob& k = *w.knob;
        setUp(k, 127, 0, 16, 127);
        mouse(&k, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(popup.reversed());
        QCOMPARE(popup.thumbLeft(), 9 - 4);  // 127 is the left end
        popup.dragTo(127);
        QCOMPARE(k.value(), 0);
        popup.dragTo(27);
        QCOMPARE(k.value(), 100);
        popup.finish();
        QCOMPARE(popup.activeKnob(), nullptr);
    }

    void releaseOverPanelEndsDrag() {
        TFormTBarPop popup;
        Window w(&popup);
        TKnob& k = *w.knob;
        setUp(k, 0, 15, 8, 3);
        mouse(&k, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(popup.activeKnob(), &k);
        auto* thumb = popup.findChild<QWidget*>("Panel3");
        QVERIFY(thumb);
        mouse(thumb, QEvent::MouseButtonRelease, QPoint(2, 2), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(popup.activeKnob(), nullptr);
        QVERIFY(!popup.isVisible());
    }

    void rightButtonOnlyFocuses() {
        TFormTBarPop popup;
        Window w(&popup);
        w.after->setFocus();
        mouse(w.knob, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
        QVERIFY(w.knob->hasFocus());
        QCOMPARE(popup.activeKnob(), nullptr);
        QVERIFY(!popup.isVisible());
    }

    void knobGoneDuringDrag() {
        TFormTBarPop popup;
        Window w(&popup);
        mouse(w.knob, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(popup.activeKnob(), w.knob);
        delete w.knob;
        QCOMPARE(popup.activeKnob(), nullptr);
        QVERIFY(!popup.isVisible());
    }
};

QTEST_MAIN(TestKnob)
#include "tst_knob.moc"
