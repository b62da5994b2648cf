// The Instruments page: the list and its grey free items, the knobs writing
// the Song and the clamping write-back, SSG-EG track bars with their
// pictures, the envelope points, the piano's hit test and mouse, keyboard
// playing with and without poly mode, the name edit, the questions of clear
// and reset, the instrument files, and the main window's wiring.
#include <QtTest>
#include <QApplication>
#include <QKeyEvent>
#include <QCheckBox>
#include <QListWidget>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/app_context.h"
#include "editor/form_main.h"
#include "editor/key_dispatcher.h"
#include "editor/window_fixture.h"
#include "dialogs/form_copy_ex_ins.h"
#include "dialogs/form_copy_ex_op.h"
#include "instrument/instrument_page.h"
#include "song/module_file.h"
#include "instrument/instrument_widgets.h"
#include "instrument/knob.h"
#include "song/instrument_file.h"

namespace {

using qv::test::Box;

// A page over its own engine; every question is recorded and answered.
struct Rig {
    Rig() {
        ctx.chips.create(qv::kSampleRate, qv::kChipClock, 128);
        page = std::make_unique<qv::InstrumentPage>(ctx);
        page->messageBoxFn = [this](const QString& text, const QString& caption,
                                    QMessageBox::StandardButtons) {
            boxes.append({text, caption});
            return answer;
        };
        page->editorOctave = [this] { return octave; };
        QObject::connect(page.get(), &qv::InstrumentPage::instrumentChosen, [this](int n) { chosen = n; });
    }
    ~Rig() {
        page.reset();
        ctx.chips.destroy();
    }
    qv::AppContext ctx{std::make_unique<qv::NullAudioDevice>()};
    std::unique_ptr<qv::InstrumentPage> page;
    QList<Box> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    int octave = 4;
    int chosen = -1;

    qv::Instrument& ins(int number = 1) { return ctx.song->instrument(number); }
    int voices() const {
        int n = 0;
        for (int v = 0; v < qv::Audition::kVoices; ++v) n += ctx.audition.voiceNote(v) >= 0;
        return n;
    }
    bool sounding(int note) const {
        for (int v = 0; v < qv::Audition::kVoices; ++v)
            if (ctx.audition.voiceNote(v) == note) return true;
        return false;
    }
};

// The main window over its own engine, with boxes and dialogs answered.
// The window with its instrument file dialogs recorded and answered.
struct Window : qv::test::WindowFixture {
    Window() {
        window->openFilesDialogFn = [this](const QString& title, const QString& start, const QString& filter,
                                           const QString&) {
            lastTitle = title;
            lastStart = start;
            lastFilter = filter;
            return openResult;
        };
        window->saveDialogFn = [this](const QString& title, const QString& start, const QString&,
                                      const QString&) {
            lastTitle = title;
            lastStart = start;
            return saveResult;
        };
    }
    qv::InstrumentPage& page() { return window->instrumentPage(); }

    QStringList openResult;
    QString saveResult;
    QString lastFilter, lastTitle, lastStart;
};

QImage picture(const QLabel* label) { return label->pixmap().toImage(); }

}  // namespace

class TestInstrumentPage : public QObject {
    Q_OBJECT
private slots:
    void controlsOfThePage() {
        Rig r;
        qv::InstrumentPage& p = *r.page;
        QCOMPARE(p.objectName(), QString("TabSheetIns"));
        // The knob table: ranges, marks, tags and positions.
        const int lefts[9] = {34, 70, 106, 142, 184, 220, 262, 298, 340};
        const int mins[9] = {0, 0, 0, 0, 127, 15, 0, -3, 0};
        const int maxs[9] = {31, 31, 31, 15, 0, 0, 15, 3, 3};
        const int marks[9] = {8, 8, 8, 8, 16, 8, 8, 7, 4};
        for (int op = 0; op < 4; ++op)
            for (int k = 0; k < 9; ++k) {
                qv::TKnob* knob = p.knob(op * 9 + k);
                QCOMPARE(knob->Tag, 10 * op + k);
                QCOMPARE(knob->Min, mins[k]);
                QCOMPARE(knob->Max, maxs[k]);
                QCOMPARE(knob->Marks, marks[k]);
                QCOMPARE(knob->x(), lefts[k]);
                QCOMPARE(knob->y(), 6);
                QCOMPARE(knob->Bitmap, &p.pictures().knobFace);
                QCOMPARE(knob->parentWidget()->objectName(), QString("PanelOp%1").arg(op + 1));
            }
        qv::TKnob* fb = p.knob(36);
        QCOMPARE(fb->Tag, 100);
        QCOMPARE(fb->Max, 7);
        QCOMPARE(fb->x(), 540);
        QCOMPARE(fb->parentWidget()->objectName(), QString("PanelOp1"));
        QCOMPARE(p.knob(4)->value(), 127);  // TL
        QCOMPARE(p.knob(5)->value(), 0);    // SL of a fresh instrument
        for (int op = 0; op < 4; ++op) {
            QSlider* eg = p.trackBarEG(op);
            QCOMPARE(eg->minimum(), 7);
            QCOMPARE(eg->maximum(), 15);
            QCOMPARE(eg->property("Tag").toInt(), 10 * op + 9);
            QCOMPARE(p.imageEG(op)->size(), QSize(44, 22));
            QCOMPARE(p.envelope(op)->size(), QSize(88, 44));
            QCOMPARE(p.envelope(op)->objectName(), QString("PaintBoxEnv%1").arg(op + 1));
        }
        for (int a = 0; a < 8; ++a) {
            QCOMPARE(p.algoButton(a)->text(), QString::number(a));
            QCOMPARE(p.pictures().algorithms[a].size(), QSize(121, 65));
        }
        QVERIFY(p.algoButton(0)->isChecked());
        QCOMPARE(p.imageConnect()->size(), QSize(121, 65));
        for (const QPixmap& eg : p.pictures().ssgEg) QCOMPARE(eg.size(), QSize(44, 22));
        QCOMPARE(p.pictures().keys.size(), QSize(8 * 26, 64));
        QCOMPARE(p.nameEdit()->maxLength(), 17);
        QCOMPARE(p.octaveBar()->minimum(), 1);
        QCOMPARE(p.octaveBar()->maximum(), 6);
        QCOMPARE(p.octaveBar()->value(), 3);
        QCOMPARE(p.octaveBar()->toolTip(), QString("Octave"));
        QCOMPARE(p.piano()->size(), QSize(546, 80));
        QCOMPARE(p.keysBox()->objectName(), QString("ScrollBoxKeys"));
        QCOMPARE(p.polyButton()->toolTip(), QString("Polyphonic mode on/off"));
        QVERIFY(p.polyButton()->isChecked());  // the setting's default
        auto hint = [&](const char* name) { return p.findChild<QToolButton*>(name)->toolTip(); };
        QCOMPARE(hint("SpeedButtonInsNew"), QString("Clear instrument"));
        QCOMPARE(hint("SpeedButtonInsOpen"), QString("Open instrument"));
        QCOMPARE(hint("SpeedButtonInsSave"), QString("Save instrument"));
        QCOMPARE(hint("SpeedButtonInsExch"), QString("Copy/Exchange instruments"));
        QCOMPARE(hint("SpeedButtonOpExch"), QString("Copy/Exchange operators settings"));
        QCOMPARE(hint("SpeedButtonResetOp3"), QString("Reset operator settings"));
        QVERIFY(p.findChild<QToolButton*>("SpeedButtonInsExch")->isEnabled());
        QVERIFY(p.findChild<QToolButton*>("SpeedButtonOpExch")->isEnabled());
        QCOMPARE(p.findChild<QToolButton*>("SpeedButtonResetOp3")->property("Tag").toInt(), 2);
        // Tab order: operator 1's knobs, its SSG-EG, FB, then operator 2 ...
        auto nextTab = [](QWidget* w) {
            do w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            return w;
        };
        QCOMPARE(nextTab(p.knob(8)), static_cast<QWidget*>(p.trackBarEG(0)));
        QCOMPARE(nextTab(p.trackBarEG(0)), static_cast<QWidget*>(p.knob(36)));
        QCOMPARE(nextTab(p.knob(36)), static_cast<QWidget*>(p.knob(9)));
        QCOMPARE(nextTab(p.knob(35)), static_cast<QWidget*>(p.trackBarEG(3)));
        QCOMPARE(nextTab(p.trackBarEG(3)), static_cast<QWidget*>(p.nameEdit()));
        QCOMPARE(nextTab(p.nameEdit()), static_cast<QWidget*>(p.list()));
        QCOMPARE(nextTab(p.list()), static_cast<QWidget*>(p.octaveBar()));
    }

    void newSongListsFreeInstrumentsInGrey() {
        Rig r;
        qv::InstrumentList* list = r.page->list();
        QCOMPARE(list->count(), 255);
        QCOMPARE(list->item(0)->text(), QString("01: empty"));
        QCOMPARE(list->item(254)->text(), QString("FF: empty"));
        QCOMPARE(list->currentRow(), 0);
        for (int i = 0; i < 255; ++i) QVERIFY(list->isFree(i));
        QCOMPARE(list->sizeHintForRow(0), 16);
        // Any parameter of instrument 1 takes it out of the free state.
        r.page->knob(0)->setValue(5);  // AR
        QCOMPARE(r.ins().operators[0].AR, 5);
        QVERIFY(!list->isFree(0));
        // Clearing it makes it free (grey) again.
        r.page->SpeedButtonInsNewClick();
        QCOMPARE(r.boxes.size(), 1);
        QCOMPARE(r.boxes[0].text, QString("Clear instrument?"));
        QCOMPARE(r.boxes[0].caption, QString("Confirm"));
        QVERIFY(r.ins().isDefault());
        QVERIFY(list->isFree(0));
        QCOMPARE(r.page->knob(0)->value(), 0);
    }

    // The list keeps the number's colon in any font, and a focused knob's
    // white pointer dot stands on the dark dial cap, not on the light page.
    void colonAndPointerDotShow() {
        Rig r;
        qv::InstrumentList* list = r.page->list();
        QFont big = list->font();
        big.setPointSize(20);
        QImage img(400, 40, QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            QStyleOptionViewItem opt;
            opt.rect = img.rect();
            opt.palette = list->palette();
            opt.font = big;
            opt.state = QStyle::State_Enabled;
            list->itemDelegate()->paint(&p, opt, list->model()->index(12, 0));  // "0D: empty"
        }
        const QFontMetrics m(big);
        int darkest = 255;
        for (int x = 2 + m.horizontalAdvance("0D"); x < 2 + m.horizontalAdvance("0D:"); ++x)
            for (int y = 0; y < img.height(); ++y) darkest = std::min(darkest, qGray(img.pixel(x, y)));
        QVERIFY2(darkest < 200, "the colon of 0D: is cut off");

        QWidget top;
        qv::TKnob knob(&top);
        knob.Min = 0;
        knob.Max = 31;
        knob.Marks = 8;
        knob.Bitmap = &r.page->pictures().knobFace;
        knob.setValue(0);  // the pointer at 225 degrees, the lower left
        top.show();
        QVERIFY(QTest::qWaitForWindowActive(&top));
        knob.setFocus();
        QCoreApplication::processEvents();
        QVERIFY(knob.highlighted());
        const QImage face = knob.grab().toImage();
        const int cx = 16, cy = knob.labelRowHeight() + 16;
        QCOMPARE(face.pixelColor(cx - 6, cy + 6), QColor(Qt::white));
        // Around the dot, inwards and to both sides: the dark cap.
        for (const QPoint& near : {QPoint(cx - 3, cy + 3), QPoint(cx - 4, cy + 9), QPoint(cx - 9, cy + 4)})
            QVERIFY2(qGray(face.pixel(near)) < 110, qPrintable(QString("grey %1").arg(qGray(face.pixel(near)))));
    }

    void freeItemsAreDrawnInGreyText() {
        Rig r;
        qv::InstrumentList* list = r.page->list();
        r.page->knob(1)->setValue(3);  // instrument 1 in use, 2 free
        auto render = [&](int row) {
            QImage img(200, 16, QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            QStyleOptionViewItem opt;
            opt.rect = img.rect();
            opt.palette = list->palette();
            opt.state = QStyle::State_Enabled;
            list->itemDelegate()->paint(&p, opt, list->model()->index(row, 0));
            return img;
        };
        // The darkest pixel of the text shows which colour drew it.
        auto darkest = [](const QImage& img) {
            int best = 255;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) best = std::min(best, qGray(img.pixel(x, y)));
            return best;
        };
        const int used = darkest(render(0));
        const int free = darkest(render(1));
        QVERIFY2(free > used, qPrintable(QString("free %1 used %2").arg(free).arg(used)));
    }

    void ssgEgTrackBarStoresAndShowsItsPicture() {
        Rig r;
        qv::InstrumentPage& p = *r.page;
        const auto& pics = p.pictures().ssgEg;
        QCOMPARE(picture(p.imageEG(1)), pics[0].toImage());
        p.trackBarEG(1)->setValue(8);
        QCOMPARE(r.ins().operators[1].SSGEG, 8);
        QCOMPARE(picture(p.imageEG(1)), pics[1].toImage());
        p.trackBarEG(1)->setValue(15);
        QCOMPARE(r.ins().operators[1].SSGEG, 15);
        QCOMPARE(picture(p.imageEG(1)), pics[8].toImage());
        p.trackBarEG(1)->setValue(7);
        QCOMPARE(r.ins().operators[1].SSGEG, 0);
        QCOMPARE(picture(p.imageEG(1)), pics[0].toImage());
        // The eight shapes and "off" are all different pictures.
        for (int i = 0; i < 9; ++i)
            for (int j = i + 1; j < 9; ++j) QVERIFY(pics[i].toImage() != pics[j].toImage());
        for (int i = 0; i < 8; ++i)
            for (int j = i + 1; j < 8; ++j)
                QVERIFY(p.pictures().algorithms[i].toImage() != p.pictures().algorithms[j].toImage());
    }

    void envelopePoints() {
        qv::Operator op;
        op.AR = 31;
        op.DR = 10;
        op.SR = 5;
        op.RR = 7;
        op.SL = 4;
        op.TL = 127;
        const int w = 88, h = 44;
        auto pts = qv::envelopePoints(op, w, h);
        QCOMPARE(pts.peak.y(), h - 1);  // TL 127: the peak on the bottom line
        QCOMPARE(pts.peak.x(), 0);      // 10 x 9.15 / 10000
        op.TL = 0;
        pts = qv::envelopePoints(op, w, h);
        QVERIFY2(pts.peak.y() <= 0 && pts.peak.y() >= -1, qPrintable(QString::number(pts.peak.y())));
        // Sustain point: (h - 1) - 127 x 11 / 15 x h / 127.
        QCOMPARE(pts.sustain.y(), int(43.0 - 127.0 * 11 / 15 * 44 / 127));
        // tD = 9.15 / 10000 + 4.02 / 24 x 4; x = 10 t.
        QCOMPARE(pts.sustain.x(), int(10 * (9.15 / 10000 + 4.02 / 24 * 4)));
        QCOMPARE(pts.sustainEnd.y(), h - 1);
        QCOMPARE(pts.releaseEnd.y(), h - 1);
        QCOMPARE(pts.releaseEnd.x(), int(10 * (9.15 / 10000 + 4.02 / 24 * 4 + 31.23 / 152 / 4)));
        // SL 0: the decay part is 0.02, so the sustain point stays at the peak.
        op.SL = 0;
        op.TL = 40;
        op.AR = 5;
        pts = qv::envelopePoints(op, w, h);
        QVERIFY(pts.sustain.x() - pts.peak.x() >= 0 && pts.sustain.x() - pts.peak.x() <= 1);
        QCOMPARE(pts.sustain.y(), pts.peak.y());
        // A rate of 0 runs the line off the box.
        op.AR = 0;
        pts = qv::envelopePoints(op, w, h);
        QVERIFY(pts.peak.x() >= w);
    }

    void envelopeColoursFollowTheCarrierMask() {
        qv::Instrument ins;
        for (auto& op : ins.operators) {
            op.AR = 31;
            op.TL = 0;
            op.SL = 8;
            op.DR = 20;
            op.RR = 5;
            op.SR = 3;
        }
        auto has = [](const QImage& img, QRgb colour) {
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if ((img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
            return false;
        };
        auto draw = [&](int op) {
            QImage img(88, 44, QImage::Format_RGB32);
            QPainter p(&img);
            qv::EnvelopeGraph::draw(p, ins, op, 88, 44);
            return img;
        };
        ins.algorithm = 4;  // carriers: operators 3 and 4
        QImage carrier = draw(2), modulator = draw(0);
        QVERIFY(has(carrier, qRgb(0, 255, 0)));
        QVERIFY(has(carrier, qRgb(255, 255, 0)));
        QVERIFY(!has(carrier, qRgb(192, 192, 192)));
        QVERIFY(has(modulator, qRgb(192, 192, 192)));
        QVERIFY(has(modulator, qRgb(128, 128, 128)));
        QVERIFY(!has(modulator, qRgb(0, 255, 0)));
        QVERIFY(has(carrier, qRgb(255, 0, 0)));       // the point marks
        QVERIFY(has(carrier, qRgb(64, 64, 64)));      // the grid
        QCOMPARE(carrier.pixel(5, 40) & 0xFFFFFF, 0u);  // black ground
    }

    void pianoHitTest() {
        using P = qv::PianoKeys;
        // Octave 6 shown first: the top-right key is note 95.
        QCOMPARE(P::hitTest(545, 70, 6), 95);
        QCOMPARE(P::hitTest(546, 70, 6), -1);  // beyond the third octave
        QCOMPARE(P::hitTest(-1, 70, 6), -1);
        QCOMPARE(P::hitTest(10, 15, 3), -1);   // the header
        QCOMPARE(P::hitTest(10, 100, 3), -1);
        // The upper part of a white key does not sound; below y = 50 it does.
        QCOMPARE(P::hitTest(5, 30, 3), -1);
        QCOMPARE(P::hitTest(5, 51, 3), 24);
        QCOMPARE(P::hitTest(5, 50, 3), -1);
        QCOMPARE(P::hitTest(20, 47, 3), -1);
        // Black keys within their 19 pixels.
        QCOMPARE(P::hitTest(16, 20, 3), 25);
        QCOMPARE(P::hitTest(34, 43, 3), 25);
        QCOMPARE(P::hitTest(35, 20, 3), -1);
        QCOMPARE(P::hitTest(182 + 146, 20, 3), 36 + 10);
        QCOMPARE(P::hitTest(2 * 182 + 164, 20, 6), 84 + 10);
        // White keys of the second octave.
        QCOMPARE(P::hitTest(182 + 26 * 4, 60, 1), 12 + 7);
    }

    void pianoMouseIsMonophonic() {
        Rig r;
        qv::PianoKeys* piano = r.page->piano();
        // Upper half of a white key: nothing.
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(5, 30));
        QCOMPARE(r.voices(), 0);
        QTest::mouseRelease(piano, Qt::LeftButton, {}, QPoint(5, 30));
        // Two keyboard notes sound in poly mode; a click stops them and
        // sounds its own note alone.
        r.page->noteKey(0, true);
        r.page->noteKey(4, true);
        QCOMPARE(r.voices(), 2);
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(5, 60));
        QCOMPARE(r.voices(), 1);
        QCOMPARE(r.ctx.audition.voiceNote(0), 24);
        QCOMPARE(r.ctx.audition.voiceKey(0), 255);
        QTest::mouseRelease(piano, Qt::LeftButton, {}, QPoint(5, 60));
        QCOMPARE(r.voices(), 0);
    }

    void polyModeSoundsThreeVoices() {
        Rig r;
        r.page->polyButton()->setChecked(true);
        r.octave = 2;
        r.page->noteKey(0, true);
        r.page->noteKey(2, true);
        r.page->noteKey(4, true);
        QCOMPARE(r.voices(), 3);
        QVERIFY(r.sounding(12) && r.sounding(14) && r.sounding(16));
        r.page->noteKey(5, true);  // a fourth is ignored
        QVERIFY(!r.sounding(17));
        QCOMPARE(r.voices(), 3);
        r.page->noteKey(2, false);
        QCOMPARE(r.voices(), 2);
        r.page->noteKey(5, true);
        QVERIFY(r.sounding(17));
        // Mono: a new key replaces the sounding note.
        r.page->releaseAllNotes();
        r.page->polyButton()->setChecked(false);
        QVERIFY(!r.ctx.settings.instrumentPolyMode);
        r.page->noteKey(0, true);
        r.page->noteKey(7, true);
        QCOMPARE(r.voices(), 1);
        QVERIFY(r.sounding(19));
        // Notes above 95 are clamped.
        r.octave = 8;
        r.page->noteKey(35, true);
        QVERIFY(r.sounding(95));
    }

    void nameEditKeepsSixteenCharacters() {
        Rig r;
        QLineEdit* edit = r.page->nameEdit();
        QCOMPARE(edit->text(), QString("empty"));
        edit->selectAll();
        QTest::keyClicks(edit, "ABCDEFGHIJKLMNOPQ");
        QCOMPARE(r.ins().nameText(), std::string("ABCDEFGHIJKLMNOP"));
        QCOMPARE(edit->text(), QString("ABCDEFGHIJKLMNOP"));
        QCOMPARE(r.page->list()->item(0)->text(), QString("01: ABCDEFGHIJKLMNOP"));
        QVERIFY(!r.page->list()->isFree(0));
    }

    void showInstrumentClampsAndWritesBack() {
        Rig r;
        r.ins(3).operators[2].TL = 200;
        r.ins(3).operators[0].DT = -7;
        r.ins(3).operators[1].SSGEG = 5;
        r.ins(3).FB = 9;
        r.ins(3).algorithm = 12;
        r.page->algoButton(6)->setChecked(true);
        r.page->list()->setCurrentRow(2);
        QCOMPARE(r.ctx.view.currentInstrument, 3);
        QCOMPARE(r.chosen, 3);
        QCOMPARE(r.page->knob(2 * 9 + 4)->value(), 127);
        QCOMPARE(r.ins(3).operators[2].TL, 127);
        QCOMPARE(r.ins(3).operators[0].DT, -3);
        // SSG-EG 1-7 is off like 0: the bar shows its start, the value stays.
        QCOMPARE(r.page->trackBarEG(1)->value(), 7);
        QCOMPARE(r.ins(3).operators[1].SSGEG, 5);
        QCOMPARE(r.ins(3).FB, 7);
        QCOMPARE(r.ins(3).algorithm, 6);  // the button that is down
        // The values of a later instrument are loaded into the controls.
        r.ins(4).operators[3].AR = 17;
        r.ins(4).operators[3].SSGEG = 11;
        r.ins(4).algorithm = 2;
        r.page->list()->setCurrentRow(3);
        QCOMPARE(r.page->knob(27)->value(), 17);
        QCOMPARE(r.page->trackBarEG(3)->value(), 11);
        QCOMPARE(picture(r.page->imageEG(3)), r.page->pictures().ssgEg[4].toImage());
        QVERIFY(r.page->algoButton(2)->isChecked());
        QCOMPARE(picture(r.page->imageConnect()), r.page->pictures().algorithms[2].toImage());
        QCOMPARE(r.ins(4).operators[3].AR, 17);
    }

    void algorithmButtonSetsTheAlgorithm() {
        Rig r;
        r.page->algoButton(5)->click();
        QCOMPARE(r.ins().algorithm, 5);
        QCOMPARE(picture(r.page->imageConnect()), r.page->pictures().algorithms[5].toImage());
        QVERIFY(!r.page->list()->isFree(0));
        r.page->algoButton(0)->click();
        QVERIFY(r.page->list()->isFree(0));
    }

    void clearAndResetOperatorAsk() {
        Rig r;
        for (auto& op : r.ins().operators) {
            op.AR = 9;
            op.MULT = 3;
            op.SSGEG = 10;
            op.TL = 20;
        }
        r.page->showInstrument();
        r.answer = QMessageBox::No;
        r.page->SpeedButtonResetOpClick(1);
        QCOMPARE(r.boxes.last().text, QString("Reset operator #2 settings?"));
        QCOMPARE(r.boxes.last().caption, QString("Confirm"));
        QCOMPARE(r.ins().operators[1].AR, 9);
        r.page->SpeedButtonInsNewClick();
        QCOMPARE(r.ins().operators[0].AR, 9);
        r.answer = QMessageBox::Yes;
        r.page->SpeedButtonResetOpClick(1);
        qv::Operator reset{};
        reset.TL = 127;
        QCOMPARE(r.ins().operators[1], reset);
        QCOMPARE(r.page->knob(9 + 4)->value(), 127);
        QCOMPARE(r.page->trackBarEG(1)->value(), 7);
        QCOMPARE(r.ins().operators[0].AR, 9);
        // The button of operator 4 carries tag 3.
        r.page->findChild<QToolButton*>("SpeedButtonResetOp4")->click();
        QCOMPARE(r.boxes.last().text, QString("Reset operator #4 settings?"));
        QCOMPARE(r.ins().operators[3], reset);
        r.page->findChild<QToolButton*>("SpeedButtonInsNew")->click();
        QCOMPARE(r.boxes.last().text, QString("Clear instrument?"));
        QVERIFY(r.ins().isDefault());
    }

    void listClickSetsTheWindowsInstrumentNumber() {
        Window w;
        qv::InstrumentPage& p = w.page();
        auto* ains = w.find<QSpinBox>("UpDownAIns");
        w.ctx.song->instrument(5).setName("Bass");
        p.refreshListItem(4, false);
        p.list()->setCurrentRow(4);
        QCOMPARE(ains->value(), 5);
        QCOMPARE(w.ctx.view.currentInstrument, 5);
        QCOMPARE(p.nameEdit()->text(), QString("Bass"));
        QCOMPARE(p.list()->item(4)->text(), QString("05: Bass"));
        // A new song makes instrument 1 current again.
        QVERIFY(w.window->fileFlow().newModule());
        QCOMPARE(w.ctx.view.currentInstrument, 1);
        QCOMPARE(p.list()->currentRow(), 0);
        QCOMPARE(p.list()->item(4)->text(), QString("05: empty"));
        QCOMPARE(p.nameEdit()->text(), QString("empty"));
    }

    // The page's copy/exchange buttons and the menu item run the dialogs and
    // show the result: the destination becomes current and selected.
    void copyAndExchangeThroughThePage() {
        Window w;
        qv::InstrumentPage& p = w.page();
        w.ctx.song->instrument(3).setName("Bell");
        w.ctx.song->instrument(3).operators[0].TL = 40;
        w.ctx.song->instrument(3).operators[2].MULT = 9;
        w.find<QListWidget>("ListBoxIns")->setCurrentRow(2);
        QCOMPARE(w.ctx.view.currentInstrument, 3);

        // Operators: exchange #1 and #3 of the current instrument.
        int seenSource = -1, seenDestination = -1;
        p.formCopyExOp().execHook = [&](qv::TFormCopyExOp& form) {
            seenSource = form.source();  // always opens with #1 as source
            form.destinationButton(2)->setChecked(true);
            form.Button2Click();
            return int(QDialog::Accepted);
        };
        w.find<QToolButton>("SpeedButtonOpExch")->click();
        QCOMPARE(seenSource, 0);
        QCOMPARE(w.ctx.song->instrument(3).operators[2].TL, 40);
        QCOMPARE(w.ctx.song->instrument(3).operators[0].MULT, 9);
        QCOMPARE(p.knob(6)->value(), 9);  // operator 1's MULT knob shows it

        // Instruments: copy 3 to 5 through the menu item.
        p.formCopyExIns().execHook = [&](qv::TFormCopyExIns& form) {
            seenSource = form.source();
            seenDestination = form.destination();
            form.upDown2()->setValue(4);
            form.Button1Click();
            return int(QDialog::Accepted);
        };
        w.find<QAction>("InstrumentCopyExchange")->trigger();
        QCOMPARE(seenSource, 2);
        QCOMPARE(seenDestination, 3);  // the next one is proposed
        QCOMPARE(w.ctx.song->instrument(5).nameText(), std::string("Bell"));
        QCOMPARE(w.ctx.view.currentInstrument, 5);
        QCOMPARE(w.find<QListWidget>("ListBoxIns")->currentRow(), 4);
        QCOMPARE(w.find<QSpinBox>("UpDownAIns")->value(), 5);
        QCOMPARE(w.find<QLineEdit>("EditInsName")->text(), QString("Bell"));
        QVERIFY(w.find<QListWidget>("ListBoxIns")->item(4)->text().startsWith("05: Bell"));

        // Exchange 5 and 1 with their numbers in the patterns.
        qv::Cell& cell = w.ctx.song->patterns[0].rows[0][0];
        cell.setPitch(40);
        cell.instrument = 5;
        p.formCopyExIns().execHook = [](qv::TFormCopyExIns& form) {
            form.upDown2()->setValue(0);
            form.checkBox1()->setChecked(true);
            form.Button2Click();
            return int(QDialog::Accepted);
        };
        p.SpeedButtonInsExchClick();
        QCOMPARE(int(cell.instrument), 1);
        QCOMPARE(w.ctx.song->instrument(1).nameText(), std::string("Bell"));
        QCOMPARE(w.ctx.view.currentInstrument, 1);

        // Cancel changes nothing.
        const qv::Instrument before = w.ctx.song->instrument(1);
        p.formCopyExIns().execHook = [](qv::TFormCopyExIns& form) {
            form.Button3Click();
            return int(QDialog::Rejected);
        };
        p.SpeedButtonInsExchClick();
        QVERIFY(w.ctx.song->instrument(1) == before);
        QCOMPARE(w.ctx.view.currentInstrument, 1);
    }

    void editorOctaveMovesTheTrackBar() {
        Window w;
        qv::InstrumentPage& p = w.page();
        auto* octave = w.find<QSpinBox>("UpDownOctave");
        QCOMPARE(p.octaveBar()->value(), 3);
        octave->setValue(6);
        QCOMPARE(p.octaveBar()->value(), 5);
        octave->setValue(8);
        QCOMPARE(p.octaveBar()->value(), 6);
        octave->setValue(1);
        QCOMPARE(p.octaveBar()->value(), 1);
    }

    void instrumentMenuAndFiles() {
        Window w;
        QTemporaryDir dir;
        qv::InstrumentPage& p = w.page();
        for (const char* name : {"InstrumentClear", "InstrumentOpen", "InstrumentSave"})
            QVERIFY(w.find<QAction>(name)->isEnabled());
        QVERIFY(w.find<QAction>("InstrumentCopyExchange")->isEnabled());
        // Save: the name proposed in the instrument folder.
        w.ctx.settings.pathInstrument = dir.path() + "/";
        p.knob(0)->setValue(12);
        p.knob(36)->setValue(5);
        w.ctx.song->instrument(1).setName("Lead");
        w.saveResult = dir.filePath("lead.qzi");
        w.find<QAction>("InstrumentSave")->trigger();
        QCOMPARE(w.lastTitle, QString("Save instrument"));
        QVERIFY(w.lastStart.endsWith("/Lead.qzi"));
        QCOMPARE(QFileInfo(w.saveResult).size(), qint64(42));
        // The proposal is a name the file system takes, ending in ".qzi"; a
        // name typed without the ending gets it, so the file opens again.
        w.ctx.song->instrument(1).setName("Hat o/c");
        w.saveResult = dir.filePath("E.Piano");
        w.find<QAction>("InstrumentSave")->trigger();
        QVERIFY(w.lastStart.endsWith("/Hat o_c.qzi"));
        QVERIFY(QFileInfo::exists(dir.filePath("E.Piano.qzi")));
        // Latin-1 names: typed, proposed and taken from a file name alike.
        p.nameEdit()->clear();
        QTest::keyClicks(p.nameEdit(), "B");
        QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_Adiaeresis, Qt::NoModifier, QString::fromUtf8("\u00e4"));
        QApplication::sendEvent(p.nameEdit(), &umlaut);
        QTest::keyClicks(p.nameEdit(), "ss");
        QCOMPARE(w.ctx.song->instrument(1).nameText(), std::string("B\xE4ss"));
        w.saveResult = dir.filePath(QString::fromUtf8("B\u00e4sslich.qzi"));
        w.find<QAction>("InstrumentSave")->trigger();
        QVERIFY(w.lastStart.endsWith(QString::fromUtf8("/B\u00e4ss.qzi")));
        w.openResult = {w.saveResult};
        w.find<QAction>("InstrumentOpen")->trigger();
        QCOMPARE(w.ctx.song->instrument(1).nameText(), std::string("B\xE4sslich"));
        QCOMPARE(p.nameEdit()->text(), QString::fromUtf8("B\u00e4sslich"));
        QCOMPARE(p.list()->item(0)->text(), QString::fromUtf8("01: B\u00e4sslich"));
        w.saveResult = dir.filePath("lead.qzi");
        // Open into instrument 1 and a bad file for the next free slot.
        QFile bad(dir.filePath("bad.y12"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(127, 0));
        bad.close();
        w.find<QAction>("InstrumentClear")->trigger();
        QCOMPARE(w.boxes.last().text, QString("Clear instrument?"));
        QVERIFY(w.ctx.song->instrument(1).isDefault());
        w.openResult = {w.saveResult, bad.fileName(), w.saveResult};
        w.find<QAction>("InstrumentOpen")->trigger();
        QVERIFY(w.lastFilter.startsWith("All supported formats (*qzi *.dat *.y12 *.ins)"));
        QCOMPARE(w.ctx.song->instrument(1).operators[0].AR, 12);
        QCOMPARE(w.ctx.song->instrument(1).FB, 5);
        QCOMPARE(w.ctx.song->instrument(1).nameText(), std::string("lead"));
        QCOMPARE(p.knob(0)->value(), 12);
        QCOMPARE(p.nameEdit()->text(), QString("lead"));
        QCOMPARE(w.boxes.last().text, "Can't open instrument '" + bad.fileName() + "'");
        QCOMPARE(w.boxes.last().caption, QString("Error"));
        QCOMPARE(p.list()->item(1)->text(), QString("02: lead"));  // the third file
        QCOMPARE(w.ctx.settings.pathInstrument, dir.path() + "/");
    }

    void bankAndInstrumentsFromAModule() {
        Window w;
        QTemporaryDir dir;
        qv::InstrumentPage& p = w.page();
        // No instrument folder chosen yet: Open starts in the shipped bank.
        w.ctx.settings.pathInstrument = ".";
        w.openResult = {};
        w.find<QAction>("InstrumentOpen")->trigger();
        QCOMPARE(QFileInfo(w.lastStart).canonicalFilePath(), QFileInfo(QV_SOURCE_DIR "/instruments").canonicalFilePath());

        // A module with instruments 1 and 3; this song has instrument 2 in use.
        auto bank = std::make_unique<qv::Song>();
        bank->clear();
        bank->instrument(1).setName("Bass");
        bank->instrument(1).FB = 4;
        bank->instrument(3).setName("Bell");
        bank->instrument(3).algorithm = 4;
        const QString bankPath = dir.filePath("bank.qze");
        QVERIFY(qv::saveModule(*bank, bankPath.toStdString()));
        w.ctx.song->instrument(2).FB = 1;
        w.boxes.clear();
        w.openResult = {dir.filePath("missing.qze"), bankPath};
        w.find<QAction>("InstrumentLoadFromModule")->trigger();
        QCOMPARE(w.lastTitle, QString("Load instruments from module"));
        QCOMPARE(w.boxes.size(), 1);
        QCOMPARE(w.boxes[0].text, "Can't open module '" + dir.filePath("missing.qze") + "'");
        QCOMPARE(w.ctx.song->instrument(1).nameText(), std::string("Bass"));
        QCOMPARE(w.ctx.song->instrument(2).FB, 1);
        QCOMPARE(w.ctx.song->instrument(3).nameText(), std::string("Bell"));
        QCOMPARE(p.list()->item(0)->text(), QString("01: Bass"));
        QCOMPARE(p.list()->item(2)->text(), QString("03: Bell"));
        QCOMPARE(p.nameEdit()->text(), QString("Bass"));
    }

    void cleanupRefreshesTheList() {
        Window w;
        qv::InstrumentPage& p = w.page();
        w.ctx.song->instrument(4).setName("unused");
        p.refreshListItem(3, false);
        QCOMPARE(p.list()->item(3)->text(), QString("04: unused"));
        w.find<QAction>("EditCleanupInstruments")->trigger();
        QCOMPARE(p.list()->item(3)->text(), QString("04: empty"));
    }

    // The window shown: focus-dependent keys, the wheel, leaving the page and
    // the timer's safety release.
    void keysOnTheShownPage() {
        Window w;
        w.ctx.layout.loadDefault();
        w.window->show();
        w.window->activateWindow();
        if (!QTest::qWaitForWindowActive(w.window.get())) QSKIP("no active window on this platform");
        auto* pages = w.find<QTabWidget>("PageControlMain");
        qv::InstrumentPage& p = w.page();
        w.find<QWidget>("ScrollBoxPtn")->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w.find<QWidget>("ScrollBoxPtn"));
        w.find<QSpinBox>("UpDownOctave")->setValue(4);
        // Shown, the page puts the focus on the piano: the digit-row sharps
        // play there and never reach a knob.
        pages->setCurrentWidget(&p);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.keysBox()));
        QTest::keyPress(p.keysBox(), Qt::Key_2);  // C#, second row
        QCOMPARE(w.ctx.audition.voiceNote(0), 13 + 36);
        QTest::keyRelease(p.keysBox(), Qt::Key_2);
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        QTest::keyClick(p.keysBox(), Qt::Key_5);
        QCOMPARE(w.ctx.song->instrument(1).operators[0].AR, 0);
        QCOMPARE(p.knob(0)->value(), 0);
        auto* keys = w.window->findChild<qv::KeyDispatcher*>();
        QVERIFY(keys);
        // A knob with the focus takes its own keys first.
        p.knob(0)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.knob(0)));
        QVERIFY(keys->keyMessage(0x26, true));  // Up
        QCOMPARE(w.ctx.song->instrument(1).operators[0].AR, 1);
        QVERIFY(keys->keyMessage(0x26, false));
        // "2" is a note key of the layout, but the knob takes the digit.
        QVERIFY(keys->keyMessage(0x32, true));
        QCOMPARE(p.knob(0)->value(), 12);
        keys->keyMessage(0x32, false);
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        // Z plays C of the editor's octave.
        w.find<QSpinBox>("UpDownOctave")->setValue(4);
        QVERIFY(keys->keyMessage(0x5A, true));
        QCOMPARE(w.ctx.audition.voiceNote(0), 36);
        QCOMPARE(w.ctx.audition.voiceKey(0), 0);
        QVERIFY(keys->keyMessage(0x5A, false));
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        // The name edit types; it plays nothing.
        p.nameEdit()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.nameEdit()));
        QVERIFY(!keys->keyMessage(0x5A, true));
        keys->keyMessage(0x5A, false);
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        // The piano: the wheel moves the octave track bar.
        p.keysBox()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.keysBox()));
        QVERIFY(keys->wheelMessage(1));
        QCOMPARE(p.octaveBar()->value(), 4);
        QVERIFY(keys->wheelMessage(-1));
        QCOMPARE(p.octaveBar()->value(), 3);
        // Safety release: the pointer outside with no button ends a mouse note.
        QVERIFY(w.ctx.audition.auditionStart(255, 40, false));
        QVERIFY(!p.mouseSafetyRelease(false, false));
        QVERIFY(!p.mouseSafetyRelease(true, true));
        QCOMPARE(w.ctx.audition.voiceNote(0), 40);
        QVERIFY(p.mouseSafetyRelease(true, false));
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        // A right button released anywhere ends the mouse note.
        QVERIFY(w.ctx.audition.auditionStart(255, 41, false));
        QTest::mouseRelease(p.nameEdit(), Qt::RightButton, {}, QPoint(2, 2));
        QCOMPARE(w.ctx.audition.voiceNote(0), -1);
        // Leaving the page releases every note.
        QVERIFY(keys->keyMessage(0x5A, true));
        QVERIFY(keys->keyMessage(0x58, true));  // X: D
        QVERIFY(w.ctx.audition.voiceNote(0) >= 0);
        pages->setCurrentIndex(0);
        for (int v = 0; v < 3; ++v) QCOMPARE(w.ctx.audition.voiceNote(v), -1);
        keys->keyMessage(0x5A, false);
        keys->keyMessage(0x58, false);
        // Coming back puts the focus on the piano again, not on the knob
        // that had it when the page was left.
        pages->setCurrentWidget(&p);
        p.knob(3)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.knob(3)));
        pages->setCurrentIndex(0);
        pages->setCurrentWidget(&p);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(p.keysBox()));
        QVERIFY(p.keysActive());
    }
};

QTEST_MAIN(TestInstrumentPage)
#include "tst_instrument_page.moc"
