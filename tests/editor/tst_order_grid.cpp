// The order list grid: cell texts, cursor and no-pattern state, typed entry,
// the list commands and their menu, drag swap, and the refusal of every edit
// while the song plays.
#include <QAction>
#include <QDrag>
#include <QMimeData>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "app/app_context.h"
#include "editor/key_dispatcher.h"
#include "editor/order_grid.h"
#include "editor/pattern_input.h"

namespace {

struct Rig {
    qv::AppContext ctx{std::make_unique<qv::NullAudioDevice>()};
    std::unique_ptr<qv::OrderGrid> grid;

    explicit Rig(std::initializer_list<int> entries) {
        auto& order = ctx.song->order;
        order.length = static_cast<int16_t>(entries.size());
        int i = 0;
        for (int p : entries) order.entries[i++].pattern = static_cast<uint8_t>(p);
        grid = std::make_unique<qv::OrderGrid>(ctx);
        grid->resize(400, 48);
        grid->refresh();
    }
    int length() const { return ctx.song->order.length; }
    int at(int i) const { return ctx.song->order.entries[i].pattern; }
    // A key as the key dispatcher passes it on: the layout sees it first.
    void press(int code, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        if (mods & Qt::ControlModifier) ctx.layout.keyDown(qv::vk::Control);
        if (mods & Qt::ShiftModifier) ctx.layout.keyDown(qv::vk::Shift);
        ctx.layout.keyDown(code);
        QTest::keyClick(grid.get(), key, mods);
        ctx.layout.keyUp(code);
        if (mods & Qt::ShiftModifier) ctx.layout.keyUp(qv::vk::Shift);
        if (mods & Qt::ControlModifier) ctx.layout.keyUp(qv::vk::Control);
    }
    QAction* action(const char* name) const { return grid->popupMenu()->findChild<QAction*>(name); }
    void startPlaying() {
        QVERIFY(ctx.chips.create(qv::kSampleRate, qv::kChipClock, 128));
        {
            std::lock_guard<std::mutex> lock(ctx.player.songMutex());
            ctx.player.songLengthFrames();
        }
        ctx.player.start(0, 0, false, false, false, -1);
        QVERIFY(ctx.player.isPlaying());
    }
    void stopPlaying() {
        ctx.player.stop();
        ctx.chips.destroy();
    }
};

}  // namespace

class TestOrderGrid : public QObject {
    Q_OBJECT
private slots:
    void gridShape() {
        Rig rig{0};
        QCOMPARE(rig.grid->objectName(), QString("StringGridOrd"));
        QCOMPARE(rig.grid->columnCount(), 256);
        QCOMPARE(rig.grid->rowCount(), 1);
        QCOMPARE(rig.grid->columnWidth(0), 32);
        QCOMPARE(rig.grid->focusPolicy(), Qt::ClickFocus);
        QCOMPARE(rig.grid->popupMenu()->objectName(), QString("PopupMenuOrd"));
        QStringList texts;
        for (QAction* a : rig.grid->popupMenu()->actions())
            if (!a->isSeparator()) texts << a->text();
        QCOMPARE(texts, QStringList({"Insert &same", "Insert &new", "Insert &copy", "&Delete position",
                                     "Move to prev", "Move to next", "Set &loop position"}));
    }

    void cellTextsAndLoopMarker() {
        Rig rig{5, 6, 7};
        rig.ctx.song->order.loopPosition = 0;
        rig.grid->refresh();
        QCOMPARE(rig.grid->item(0, 0)->text(), QString("5L"));
        QCOMPARE(rig.grid->item(0, 1)->text(), QString("6"));
        QCOMPARE(rig.grid->item(0, 3)->text(), QString("..."));
        QCOMPARE(rig.grid->item(0, 255)->text(), QString("..."));
        // Setting the loop on entry 2 marks column 2 only.
        QSignalSpy changed(rig.grid.get(), &qv::OrderGrid::orderChanged);
        rig.grid->selectColumn(2);
        rig.grid->OrderSetLoopPosClick();
        QCOMPARE(rig.ctx.song->order.loopPosition, 2);
        QCOMPARE(changed.count(), 1);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(rig.grid->item(0, c)->text().endsWith('L'), c == 2);
        QCOMPARE(rig.grid->item(0, 2)->text(), QString("7L"));
        // Past the end the loop cannot be set.
        rig.grid->selectColumn(3);
        rig.grid->OrderSetLoopPosClick();
        QCOMPARE(rig.ctx.song->order.loopPosition, 2);
    }

    void cursorAndNoPatternState() {
        Rig rig{4, 9, 2};
        QSignalSpy moved(rig.grid.get(), &qv::OrderGrid::cursorMoved);
        rig.grid->setFocus();
        rig.grid->selectColumn(1);
        QCOMPARE(rig.ctx.view.orderCursor, 1);
        QCOMPARE(rig.ctx.view.currentPattern, 9);
        QVERIFY(!rig.ctx.view.noPatternSelected);
        QTest::keyClick(rig.grid.get(), Qt::Key_Right);
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        QCOMPARE(rig.ctx.view.currentPattern, 2);
        QTest::keyClick(rig.grid.get(), Qt::Key_Right);
        QCOMPARE(rig.ctx.view.orderCursor, 3);
        QVERIFY(rig.ctx.view.noPatternSelected);
        QCOMPARE(rig.grid->currentColumn(), 3);
        QTest::keyClick(rig.grid.get(), Qt::Key_Left);
        QVERIFY(!rig.ctx.view.noPatternSelected);
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        QCOMPARE(moved.count(), 4);
        // Left stops at 0, Right at 255.
        rig.grid->selectColumn(0);
        QTest::keyClick(rig.grid.get(), Qt::Key_Left);
        QCOMPARE(rig.ctx.view.orderCursor, 0);
        rig.grid->selectColumn(255);
        QTest::keyClick(rig.grid.get(), Qt::Key_Right);
        QCOMPARE(rig.ctx.view.orderCursor, 255);
        // A click selects the cell under the mouse.
        rig.grid->selectColumn(0);
        const QRect cell = rig.grid->visualItemRect(rig.grid->item(0, rig.grid->firstVisibleColumn() + 1));
        QTest::mouseClick(rig.grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(rig.ctx.view.orderCursor, rig.grid->firstVisibleColumn() + 1);
    }

    void scrollsTheCursorIntoView() {
        Rig rig{0};
        rig.grid->show();
        const int visible = rig.grid->visibleColumns();
        QVERIFY(visible >= 5);
        rig.grid->selectColumn(100);
        QCOMPARE(rig.grid->firstVisibleColumn(), 100 - visible + 1);
        rig.grid->selectColumn(50);
        QCOMPARE(rig.grid->firstVisibleColumn(), 50);
        rig.grid->selectColumn(52);
        QCOMPARE(rig.grid->firstVisibleColumn(), 50);  // already visible: no scroll
        rig.grid->selectColumn(0);
        rig.ctx.song->order.loopPosition = 1;
        rig.grid->refresh();
        rig.grid->grab().save("/tmp/order_grid.png");
    }

    void typedEntryAndCarry() {
        Rig rig{0, 0, 0};
        rig.grid->setFocus();
        rig.grid->selectColumn(0);
        QTest::keyClicks(rig.grid.get(), "128");
        QCOMPARE(rig.at(0), 128);
        QCOMPARE(rig.ctx.view.currentPattern, 128);
        rig.grid->selectColumn(1);
        QTest::keyClick(rig.grid.get(), '2');
        QTest::keyClick(rig.grid.get(), '5');
        QCOMPARE(rig.at(1), 25);
        QTest::keyClick(rig.grid.get(), '6');  // 256 does not fit: the digit alone
        QCOMPARE(rig.at(1), 6);
        // Backspace removes the last digit.
        rig.grid->selectColumn(0);
        QTest::keyClick(rig.grid.get(), Qt::Key_Backspace);
        QCOMPARE(rig.at(0), 12);
        QTest::keyClick(rig.grid.get(), Qt::Key_Backspace);
        QTest::keyClick(rig.grid.get(), Qt::Key_Backspace);
        QCOMPARE(rig.at(0), 0);
        QCOMPARE(rig.length(), 3);
    }

    void appendsOnePastTheEnd() {
        Rig rig{1, 2, 3};
        rig.ctx.song->order.entries[3].pattern = 7;  // a stale entry past the end
        rig.grid->setFocus();
        QSignalSpy changed(rig.grid.get(), &qv::OrderGrid::orderChanged);
        rig.grid->selectColumn(4);
        QTest::keyClick(rig.grid.get(), '5');  // two past the end: nothing
        QCOMPARE(rig.length(), 3);
        QCOMPARE(changed.count(), 0);
        rig.grid->selectColumn(3);
        QVERIFY(rig.ctx.view.noPatternSelected);
        QTest::keyClick(rig.grid.get(), '5');
        QCOMPARE(rig.length(), 4);
        QCOMPARE(rig.at(3), 5);
        QVERIFY(!rig.ctx.view.noPatternSelected);
        QCOMPARE(rig.ctx.view.currentPattern, 5);
        QCOMPARE(rig.grid->item(0, 3)->text(), QString("5"));
        QCOMPARE(changed.count(), 1);
        // Backspace one past the end does nothing.
        rig.grid->selectColumn(4);
        QTest::keyClick(rig.grid.get(), Qt::Key_Backspace);
        QCOMPARE(rig.length(), 4);
        // Increment and decrement: 0 at the end position, held within 0-255.
        QVERIFY(rig.grid->patternInc());
        QCOMPARE(rig.length(), 5);
        QCOMPARE(rig.at(4), 0);
        QVERIFY(rig.grid->patternDec());
        QCOMPARE(rig.at(4), 0);
        QVERIFY(rig.grid->patternInc());
        QCOMPARE(rig.at(4), 1);
        rig.ctx.song->order.entries[4].pattern = 255;
        QVERIFY(rig.grid->patternInc());
        QCOMPARE(rig.at(4), 255);
    }

    void insertKinds() {
        Rig rig{0, 1, 3};
        auto& song = *rig.ctx.song;
        song.patterns[2].rows[0][0].setPitch(40);
        song.patterns[2].length = 12;
        song.patterns[1].rows[5][2].volume = 9;
        song.patterns[1].length = 20;
        song.order.loopPosition = 2;
        rig.grid->selectColumn(1);
        rig.grid->OrderInsertNewClick();
        QCOMPARE(rig.length(), 4);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2), rig.at(3)}), QList<int>({0, 2, 1, 3}));
        QVERIFY(song.patterns[2].rows[0][0].isEmpty());  // cleared
        QCOMPARE(song.patterns[2].length, qv::kDefaultPatternLength);
        QCOMPARE(rig.ctx.view.orderCursor, 1);
        QCOMPARE(rig.ctx.view.currentPattern, 2);
        QCOMPARE(song.order.loopPosition, 3);  // moved with its entry
        QCOMPARE(rig.grid->item(0, 3)->text(), QString("3L"));
        // Copy: the lowest free number (4) holding a copy of the entry's pattern.
        rig.grid->selectColumn(2);
        rig.grid->OrderInsertCopyClick();
        QCOMPARE(rig.at(2), 4);
        QCOMPARE(rig.at(3), 1);
        QCOMPARE(song.patterns[4].rows[5][2].volume, 9);
        QCOMPARE(song.patterns[4].length, 20);
        // Same.
        rig.grid->OrderInsertSameClick();
        QCOMPARE(rig.at(2), 4);
        QCOMPARE(rig.at(3), 4);
        QCOMPARE(rig.length(), 6);
        // Nothing one past the end.
        rig.grid->selectColumn(6);
        rig.grid->OrderInsertSameClick();
        QCOMPARE(rig.length(), 6);
    }

    void deleteAndMenuRules() {
        Rig rig{8};
        rig.grid->selectColumn(0);
        rig.grid->PopupMenuOrdPopup();
        QVERIFY(!rig.action("OrderDeletePos")->isEnabled());
        QVERIFY(!rig.action("OrderMovePrev")->isEnabled());
        QVERIFY(!rig.action("OrderMoveNext")->isEnabled());
        rig.grid->OrderDeletePosClick();
        QCOMPARE(rig.length(), 1);
        QCOMPARE(rig.at(0), 8);

        Rig three{1, 2, 3};
        three.grid->selectColumn(1);
        three.grid->PopupMenuOrdPopup();
        QVERIFY(three.action("OrderDeletePos")->isEnabled());
        QVERIFY(three.action("OrderMovePrev")->isEnabled());
        QVERIFY(three.action("OrderMoveNext")->isEnabled());
        three.grid->selectColumn(2);
        three.grid->PopupMenuOrdPopup();
        QVERIFY(!three.action("OrderMoveNext")->isEnabled());
        // Deleting the last entry moves the cursor onto the new last one.
        three.grid->OrderDeletePosClick();
        QCOMPARE(three.length(), 2);
        QCOMPARE(three.ctx.view.orderCursor, 1);
        QCOMPARE(three.ctx.view.currentPattern, 2);
        QCOMPARE(three.grid->item(0, 2)->text(), QString("..."));
    }

    void moveFollowsTheEntry() {
        Rig rig{1, 2, 3};
        rig.grid->selectColumn(1);
        rig.grid->OrderMoveNextClick();
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({1, 3, 2}));
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        rig.grid->OrderMoveNextClick();  // no right neighbour
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({1, 3, 2}));
        rig.grid->OrderMovePrevClick();
        rig.grid->OrderMovePrevClick();
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({2, 1, 3}));
        QCOMPARE(rig.ctx.view.orderCursor, 0);
        QCOMPARE(rig.ctx.view.currentPattern, 2);
    }

    void layoutCommandKeys() {
        Rig rig{1, 2, 3};
        rig.ctx.layout.loadDefault();
        rig.grid->setFocus();
        QSignalSpy toPattern(rig.grid.get(), &qv::OrderGrid::focusPatternRequested);
        rig.grid->selectColumn(1);
        rig.press(qv::vk::Up, Qt::Key_Up);  // ordPatternInc
        QCOMPARE(rig.at(1), 3);
        rig.press(qv::vk::Down, Qt::Key_Down);
        rig.press(qv::vk::Down, Qt::Key_Down);
        QCOMPARE(rig.at(1), 1);
        rig.press(qv::vk::letter('L'), Qt::Key_L);  // ordLoopPosition
        QCOMPARE(rig.ctx.song->order.loopPosition, 1);
        rig.press(qv::vk::Insert, Qt::Key_Insert);  // ordInsertSame
        QCOMPARE(rig.length(), 4);
        QCOMPARE(rig.at(2), 1);
        rig.press(qv::vk::Delete, Qt::Key_Delete);  // ordDelete
        QCOMPARE(rig.length(), 3);
        // ctrl+right moves the entry (the plain arrow moves the cursor).
        rig.press(qv::vk::Right, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({1, 3, 1}));
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        rig.press(qv::vk::Left, Qt::Key_Left);
        QCOMPARE(rig.ctx.view.orderCursor, 1);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({1, 3, 1}));
        // Up one past the end appends pattern 0.
        rig.grid->selectColumn(3);
        rig.press(qv::vk::Up, Qt::Key_Up);
        QCOMPARE(rig.length(), 4);
        QCOMPARE(rig.at(3), 0);
        rig.press(qv::vk::Return, Qt::Key_Return);  // ordToPattern
        QCOMPARE(toPattern.count(), 1);
        rig.ctx.song->order.loopPosition = 1;
        rig.grid->selectColumn(2);
        rig.grid->show();
        rig.grid->grab().save("/tmp/order_grid_entries.png");
    }

    void dragSwapsOnlyTheTwo() {
        Rig rig{10, 11, 12, 13, 14};
        QVERIFY(rig.grid->dropSwap(0, 3));
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2), rig.at(3), rig.at(4)}),
                 QList<int>({13, 11, 12, 10, 14}));
        QCOMPARE(rig.ctx.view.orderCursor, 3);
        QCOMPARE(rig.ctx.view.currentPattern, 10);
        QVERIFY(!rig.grid->dropSwap(0, 5));   // past the end
        QVERIFY(!rig.grid->dropSwap(-1, 2));  // no drag source
        QCOMPARE(rig.at(0), 13);
        QCOMPARE(rig.grid->dragSource(), -1);
    }

    void heldListKeysActOncePerPress() {
        Rig rig{1, 2, 3, 4, 5};
        rig.ctx.layout.loadDefault();
        rig.grid->setFocus();
        rig.grid->selectColumn(1);
        // The press and then a second of auto-repeat, each seen by the
        // layout first as the key dispatcher does.
        auto hold = [&](int code, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
            if (mods & Qt::ControlModifier) rig.ctx.layout.keyDown(qv::vk::Control);
            for (int i = 0; i < 20; ++i) {
                rig.ctx.layout.keyDown(code);
                QKeyEvent event(QEvent::KeyPress, key, mods, QString(), i > 0);
                QApplication::sendEvent(rig.grid.get(), &event);
            }
            rig.ctx.layout.keyUp(code);
            if (mods & Qt::ControlModifier) rig.ctx.layout.keyUp(qv::vk::Control);
        };
        hold(qv::vk::Right, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2), rig.at(3)}), QList<int>({1, 3, 2, 4}));
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        hold(qv::vk::Delete, Qt::Key_Delete);
        QCOMPARE(rig.length(), 4);
        QCOMPARE(QList<int>({rig.at(1), rig.at(2), rig.at(3)}), QList<int>({3, 4, 5}));
        hold(qv::vk::Insert, Qt::Key_Insert);
        QCOMPARE(rig.length(), 5);
        // Up and Down still repeat: they step the pattern number.
        hold(qv::vk::Up, Qt::Key_Up);
        QCOMPARE(rig.at(2), 24);
    }

    // Under X11 a held key repeats as release and press pairs with one time
    // stamp, which Qt does not always mark as auto-repeat: the key dispatcher
    // still takes them as one held key.
    void repeatPairsThroughTheDispatcher() {
        Rig rig{1, 2, 3, 4, 5, 6};
        rig.ctx.layout.loadDefault();
        qv::PatternInput input(rig.ctx);
        qv::KeyDispatcher keys(rig.ctx, input);
        keys.install();
        rig.grid->show();
        rig.grid->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.grid.get()));
        rig.grid->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(rig.grid.get()));
        rig.grid->selectColumn(0);
        auto send = [&](QEvent::Type type, quint64 stamp) {
            QKeyEvent event(type, Qt::Key_Delete, Qt::NoModifier);
            event.setTimestamp(stamp);
            QApplication::sendEvent(rig.grid.get(), &event);
        };
        send(QEvent::KeyPress, 1000);
        for (quint64 t = 1500; t < 2000; t += 40) {
            send(QEvent::KeyRelease, t);
            send(QEvent::KeyPress, t);
        }
        QCOMPARE(rig.ctx.layout.keyState(qv::vk::Delete), 2);
        send(QEvent::KeyRelease, 2010);
        QTRY_COMPARE(rig.ctx.layout.keyState(qv::vk::Delete), 0);
        QCOMPARE(rig.length(), 5);
        // A new press is a new command.
        send(QEvent::KeyPress, 2100);
        send(QEvent::KeyRelease, 2150);
        QCOMPARE(rig.length(), 4);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1)}), QList<int>({3, 4}));
        keys.uninstall();
    }

    void rightClickActsOnTheClickedEntry() {
        Rig rig{10, 11, 12, 13, 14, 15};
        rig.grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.grid.get()));
        QWidget* port = rig.grid->viewport();
        auto at = [&](int column, int dx) {
            return QPoint(rig.grid->columnViewportPosition(column) + dx, port->height() / 2);
        };
        // Right-click entry 3, "Delete position": entry 3 goes, not the cursor's.
        QTimer::singleShot(0, rig.grid.get(), [&] {
            rig.action("OrderDeletePos")->trigger();
            rig.grid->popupMenu()->close();
        });
        QTest::mouseClick(port, Qt::RightButton, {}, at(3, 16));
        QTRY_COMPARE(rig.length(), 5);
        QCOMPARE(QList<int>({rig.at(0), rig.at(2), rig.at(3)}), QList<int>({10, 12, 14}));
        QCOMPARE(rig.ctx.view.orderCursor, 3);
    }

    void dragMovesThePressedEntry() {
        Rig rig{10, 11, 12, 13, 14, 15};
        rig.grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.grid.get()));
        QWidget* port = rig.grid->viewport();
        auto at = [&](int column, int dx) {
            return QPoint(rig.grid->columnViewportPosition(column) + dx, port->height() / 2);
        };
        // Press near the right edge of entry 0 and move on: the pressed entry
        // is the one dragged, though the threshold is crossed over entry 1.
        QTest::mousePress(port, Qt::LeftButton, {}, at(0, 29));
        QMouseEvent move(QEvent::MouseMove, at(1, 10), port->mapToGlobal(at(1, 10)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(port, &move);
        auto* drag = rig.grid->findChild<QDrag*>();
        QVERIFY(drag);
        QCOMPARE(drag->mimeData()->data("application/x-qorvette-order-position"), QByteArray("0"));
        QTest::mouseRelease(port, Qt::LeftButton, {}, at(1, 10));
    }

    void editsRefusedWhilePlaying() {
        Rig rig{1, 2, 3};
        rig.startPlaying();
        QSignalSpy changed(rig.grid.get(), &qv::OrderGrid::orderChanged);
        rig.grid->setFocus();
        rig.grid->selectColumn(2);
        QCOMPARE(rig.ctx.player.position().orderPosition, 2);  // the Player jumps
        QTest::keyClick(rig.grid.get(), '7');
        QTest::keyClick(rig.grid.get(), Qt::Key_Backspace);
        QVERIFY(!rig.grid->typeDigit(4));
        QVERIFY(!rig.grid->patternInc());
        rig.grid->OrderInsertNewClick();
        rig.grid->OrderDeletePosClick();
        rig.grid->OrderMovePrevClick();
        rig.grid->OrderSetLoopPosClick();
        QVERIFY(!rig.grid->dropSwap(0, 2));
        rig.grid->selectColumn(3);
        QTest::keyClick(rig.grid.get(), '5');  // no append either
        QCOMPARE(rig.length(), 3);
        QCOMPARE(QList<int>({rig.at(0), rig.at(1), rig.at(2)}), QList<int>({1, 2, 3}));
        QCOMPARE(rig.ctx.song->order.loopPosition, 0);
        QCOMPARE(changed.count(), 0);
        // The cursor still moves.
        QTest::keyClick(rig.grid.get(), Qt::Key_Left);
        QCOMPARE(rig.ctx.view.orderCursor, 2);
        rig.stopPlaying();
        QVERIFY(rig.grid->typeDigit(4));
        QCOMPARE(rig.at(2), 34);
    }
};

QTEST_MAIN(TestOrderGrid)
#include "tst_order_grid.moc"
