// Undo and redo in the main window: the Edit menu's items follow the
// history, the keys of the layout reach them, undo goes back to where the
// change was made, and steps that change the song's structure wait while a
// song plays.
#include <QtTest>

#include <QAction>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include "editor/key_dispatcher.h"
#include "editor/window_fixture.h"

namespace {

// A key combination pressed and released as the dispatcher is fed.
void press(qv::KeyDispatcher& d, std::initializer_list<int> codes) {
    for (int c : codes) d.keyMessage(c, true);
    for (auto it = std::rbegin(codes); it != std::rend(codes); ++it) d.keyMessage(*it, false);
}

}  // namespace

class TestUndo : public QObject {
    Q_OBJECT
private slots:
    void menuItemsFollowTheHistory() {
        qv::test::WindowFixture f;
        QAction* undo = f.find<QAction>("EditUndo");
        QAction* redo = f.find<QAction>("EditRedo");
        QVERIFY(undo && redo);
        QVERIFY(!undo->isEnabled());
        QVERIFY(!redo->isEnabled());
        QCOMPARE(undo->text(), QString("Undo"));

        auto* speed = f.find<QSpinBox>("UpDownSpdEven");
        speed->setValue(7);
        QCOMPARE(f.ctx.song->speedEven, 7);
        QVERIFY(undo->isEnabled());
        QCOMPARE(undo->text(), QString("Undo Even speed"));
        const int changedLength = f.window->lengthFrames();

        undo->trigger();
        QCOMPARE(f.ctx.song->speedEven, 3);
        QCOMPARE(speed->value(), 3);  // the control follows
        QVERIFY(f.window->lengthFrames() != changedLength);
        QVERIFY(!undo->isEnabled());
        QCOMPARE(redo->text(), QString("Redo Even speed"));
        QVERIFY(!f.ctx.document.isModified());

        redo->trigger();
        QCOMPARE(f.ctx.song->speedEven, 7);
        QCOMPARE(speed->value(), 7);
        QCOMPARE(f.window->lengthFrames(), changedLength);
        QVERIFY(!redo->isEnabled());
        QVERIFY(f.ctx.document.isModified());
    }

    void keysUndoRedoAndShowThePlace() {
        qv::test::WindowFixture f;
        auto* d = f.window->findChild<qv::KeyDispatcher*>();
        QVERIFY(d);
        d->mainWindowActive = [] { return true; };
        auto* pages = f.find<QTabWidget>("PageControlMain");
        qv::Song& song = *f.ctx.song;
        qv::EditorViewState& v = f.ctx.view;

        // Pattern 5 at order position 1, a note typed at row 9 of channel B.
        f.ctx.document.edit("Order entry", qv::SongChange::orderList(), [](qv::Song& s) {
            s.order.length = 2;
            s.order.entries[1].pattern = 5;
        });
        v.orderCursor = 1;
        v.currentPattern = 5;
        v.cursorRow = 9;
        v.cursorColumn = 8;
        f.ctx.document.edit("Type note", qv::SongChange::cells(5),
                            [](qv::Song& s) { s.patterns[5].rows[9][1].setPitch(50); });
        // An instrument change on the Instruments page.
        v.currentInstrument = 3;
        f.ctx.document.edit("Change AR", qv::SongChange::instrumentPart(3),
                            [](qv::Song& s) { s.instrument(3).operators[0].AR = 17; });
        // Somewhere else meanwhile.
        v.orderCursor = 0;
        v.currentPattern = 0;
        v.cursorRow = 0;
        v.cursorColumn = 0;
        v.currentInstrument = 1;
        pages->setCurrentIndex(2);

        press(*d, {qv::vk::Control, qv::vk::letter('Z')});
        QCOMPARE(song.instrument(3).operators[0].AR, 0);
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(v.currentInstrument, 3);

        press(*d, {qv::vk::Control, qv::vk::letter('Z')});
        QVERIFY(song.patterns[5].rows[9][1].isEmpty());
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(v.orderCursor, 1);
        QCOMPARE(v.currentPattern, 5);
        QCOMPARE(v.cursorRow, 9);
        QCOMPARE(v.cursorColumn, 8);
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 5);

        press(*d, {qv::vk::Control, qv::vk::letter('Y')});
        QCOMPARE(song.patterns[5].rows[9][1].pitch(), 50);
        press(*d, {qv::vk::Control, qv::vk::Shift, qv::vk::letter('Z')});
        QCOMPARE(song.instrument(3).operators[0].AR, 17);
        QVERIFY(!f.ctx.document.canRedo());
    }

    void structureStepsWaitWhileASongPlays() {
        qv::test::WindowFixture f;
        f.find<QSpinBox>("UpDownSpdOdd")->setValue(5);
        f.ctx.document.edit("Type note", qv::SongChange::cells(0),
                            [](qv::Song& s) { s.patterns[0].rows[2][0].setPitch(40); });
        f.find<QToolButton>("SpeedButtonPlayAll")->click();
        QVERIFY(f.ctx.player.isPlaying());
        QVERIFY(f.window->undoClick());  // a cell: allowed, as typing is
        QVERIFY(f.ctx.song->patterns[0].rows[2][0].isEmpty());
        QVERIFY(!f.window->undoClick());  // the speed: refused, as its control is
        QCOMPARE(f.ctx.song->speedOdd, 5);
        f.find<QToolButton>("SpeedButtonStop")->click();
        QVERIFY(f.window->undoClick());
        QCOMPARE(f.ctx.song->speedOdd, 3);
    }
};

QTEST_MAIN(TestUndo)
#include "tst_undo.moc"
