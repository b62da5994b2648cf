// The pattern editor's input, driven with the Default layout's keys as the
// key filter sees them: what a key writes into the Song, where the cursor and
// the selection go, and how the Player is started and stopped.
#include <QMenu>
#include <QWidget>
#include <QtTest>
#include <mutex>

#include "app/app_context.h"
#include "editor/key_dispatcher.h"
#include "editor/pattern_input.h"

namespace {

namespace vk = qv::vk;

struct Rig {
    Rig() : ctx(std::make_unique<qv::NullAudioDevice>()), input(ctx) {
        ctx.chips.create(qv::kSampleRate, qv::kChipClock, 128);
        QObject::connect(&input, &qv::PatternInput::redrawNeeded, [this] { ++redraws; });
        QObject::connect(&input, &qv::PatternInput::songLengthChanged, [this] { ++lengthRefreshes; });
        QObject::connect(&input, &qv::PatternInput::autoInstrumentChanged, [this](int n) { shownInstrument = n; });
        std::lock_guard<std::mutex> lock(ctx.player.songMutex());
        ctx.player.songLengthFrames();
    }
    ~Rig() {
        ctx.player.stop();
        ctx.chips.destroy();
    }
    // A key goes down and up again (modifiers held around it by the caller).
    bool down(int code) {
        ctx.layout.keyDown(code);
        return input.handleKeyDown();
    }
    void up(int code) {
        ctx.layout.keyUp(code);
        input.handleKeyUp();
    }
    bool press(int code) {
        const bool used = down(code);
        up(code);
        return used;
    }
    bool pressWith(int modifier, int code) {
        ctx.layout.keyDown(modifier);
        const bool used = press(code);
        ctx.layout.keyUp(modifier);
        return used;
    }
    // One frame of the audio thread.
    void tick() {
        std::lock_guard<std::mutex> lock(ctx.player.songMutex());
        ctx.player.tick();
    }
    qv::Cell& cell(int row, int channel, int pattern = 0) {
        return ctx.song->patterns[pattern].rows[row][channel];
    }
    void place(int row, int column) {
        ctx.view.cursorRow = row;
        ctx.view.cursorColumn = column;
    }

    qv::AppContext ctx;
    qv::PatternInput input;
    int redraws = 0;
    int lengthRefreshes = 0;
    int shownInstrument = -1;
};

int letter(char c) { return vk::letter(c); }

}  // namespace

class TestPatternInput : public QObject {
    Q_OBJECT
  private slots:
    void patternLoopEffectRefreshesTheLength() {
        Rig r;
        r.place(4, 5);
        r.press(letter('E'));  // E00: no loop yet
        QCOMPARE(int(r.cell(4, 0).effect), 14);
        QCOMPARE(r.lengthRefreshes, 0);
        r.place(4, 6);
        r.press(vk::digit(6));  // E60: a loop start
        QCOMPARE(int(r.cell(4, 0).param), 0x60);
        QCOMPARE(r.lengthRefreshes, 1);
        r.place(4, 7);
        r.press(vk::digit(1));  // E61
        QCOMPARE(r.lengthRefreshes, 2);
    }
    void noteKeyWritesNoteOctaveInstrumentVolumeAndSteps() {
        Rig r;
        r.input.options.octave = 4;
        r.input.options.autoInstrumentOn = true;
        r.input.options.autoInstrument = 3;
        r.input.options.autoVolumeOn = true;
        r.input.options.autoVolume = 20;
        r.input.setAutoStep(true, 2);
        r.place(5, 8);  // channel B, note field

        QVERIFY(r.press(letter('Z')));  // C of the base octave
        const qv::Cell& c = r.cell(5, 1);
        QCOMPARE(int(c.note), 0);
        QCOMPARE(int(c.octave), 4);
        QCOMPARE(int(c.instrument), 3);
        QCOMPARE(int(c.volume), 20);
        QCOMPARE(r.ctx.view.cursorRow, 7);
        QVERIFY(r.redraws > 0);

        // The upper row of keys is an octave up; E of the second row.
        r.tick();
        QVERIFY(r.press(letter('E')));
        QCOMPARE(int(r.cell(7, 1).note), 4);
        QCOMPARE(int(r.cell(7, 1).octave), 5);
        QCOMPARE(r.ctx.view.cursorRow, 9);

        // A cell that already has an instrument keeps it and the auto
        // instrument takes it over.
        r.tick();
        r.cell(9, 1).instrument = 5;
        QVERIFY(r.press(letter('X')));
        QCOMPARE(int(r.cell(9, 1).instrument), 5);
        QCOMPARE(r.input.options.autoInstrument, 5);
        QCOMPARE(r.shownInstrument, 5);

        // Octave 9 and above is never written.
        r.tick();
        r.input.setOctave(8);
        QVERIFY(!r.press(letter('Q')));
        QCOMPARE(int(r.cell(11, 1).note), int(qv::kNoteEmpty));
        QCOMPARE(r.ctx.view.cursorRow, 11);

        // The octave keys set the base octave.
        int shownOctave = 0;
        QObject::connect(&r.input, &qv::PatternInput::octaveChanged, [&](int n) { shownOctave = n; });
        QVERIFY(r.press(vk::numpad(2)));
        QCOMPARE(r.input.options.octave, 2);
        QCOMPARE(shownOctave, 2);
    }

    void noteStartsThePlayerForOneRow() {
        Rig r;
        r.input.setAutoStep(true, 1);
        r.place(3, 16);
        QVERIFY(!r.ctx.player.isPlaying());
        r.press(letter('Z'));
        QVERIFY(r.ctx.player.isPlaying());
        QVERIFY(!r.ctx.player.stopOnRelease());
        QCOMPARE(r.ctx.player.soloChannel(), -1);
        QCOMPARE(r.ctx.player.position().row, 3);
        // The one-row sound does not hold the cursor.
        QCOMPARE(r.ctx.view.cursorRow, 4);
        r.tick();
        QVERIFY(!r.ctx.player.isPlaying());

        // "4" sounds only the cursor's channel.
        r.press(vk::digit(4));
        QVERIFY(r.ctx.player.isPlaying());
        QCOMPARE(r.ctx.player.soloChannel(), 2);
        r.tick();
        QVERIFY(!r.ctx.player.isPlaying());

        // Under a running song the cursor stays where it is.
        r.ctx.player.start(0, 0, false, false, false, -1);
        r.ctx.view.cursorRow = 4;
        r.press(letter('Z'));
        QCOMPARE(int(r.cell(4, 2).note), 0);
        QCOMPARE(r.ctx.view.cursorRow, 4);
        r.press(vk::Down);
        QCOMPARE(r.ctx.view.cursorRow, 4);
    }

    void fastTypingPutsEveryNoteOnItsOwnRow() {
        Rig r;
        r.input.setAutoStep(true, 1);
        r.place(0, 0);
        // Seven notes with no frame between them: each one's row still sounds
        // when the next comes.
        const char keys[] = {'Z', 'X', 'C', 'V', 'B', 'N', 'M'};
        for (char key : keys) {
            QVERIFY(r.press(letter(key)));
            QVERIFY(r.ctx.player.isPlaying());
            QCOMPARE(r.ctx.player.position().row, r.ctx.view.cursorRow - 1);  // the new row sounds
        }
        QCOMPARE(r.ctx.view.cursorRow, 7);
        const int notes[] = {0, 2, 4, 5, 7, 9, 11};
        for (int row = 0; row < 7; ++row) QCOMPARE(int(r.cell(row, 0).note), notes[row]);
        // The arrows and an effect digit are not held by the one-row sound either.
        r.press(vk::Up);
        QCOMPARE(r.ctx.view.cursorRow, 6);
        r.place(6, 5);
        QVERIFY(r.press(vk::digit(3)));
        QCOMPARE(int(r.cell(6, 0).effect), 3);
        QCOMPARE(r.ctx.view.cursorRow, 7);
    }

    void keyOffKeepsInstrumentEmptyButWritesVolume() {
        Rig r;
        r.input.options.autoInstrumentOn = true;
        r.input.options.autoInstrument = 7;
        r.input.options.autoVolumeOn = true;
        r.input.options.autoVolume = 12;
        r.input.setAutoStep(true, 1);
        QVERIFY(r.press(letter('A')));
        QCOMPARE(int(r.cell(0, 0).note), int(qv::kNoteKeyOff));
        QCOMPARE(int(r.cell(0, 0).octave), 1);
        QCOMPARE(int(r.cell(0, 0).instrument), 0);
        QCOMPARE(int(r.cell(0, 0).volume), 12);
        QCOMPARE(r.ctx.view.cursorRow, 1);
    }

    void releasingTheLastNoteKeyKeysOff() {
        Rig r;
        r.ctx.settings.patternEditorKeyoff = true;
        auto keyOn = [&](int chip, int channel) {
            return r.ctx.chips.chip(chip)->operatorState(channel, 0).keyOn;
        };
        auto allOn = [&] {
            for (int chip = 0; chip < 2; ++chip)
                for (int ch = 0; ch < 3; ++ch)
                    r.ctx.chips.writeRegister(chip, 0x28, static_cast<uint8_t>(0xF0 | ch));
        };
        allOn();
        QVERIFY(keyOn(1, 2));
        r.down(letter('Z'));
        r.down(letter('X'));
        r.up(letter('Z'));
        QVERIFY(keyOn(0, 0));  // X still held
        r.up(letter('X'));
        for (int chip = 0; chip < 2; ++chip)
            for (int ch = 0; ch < 3; ++ch) QVERIFY(!keyOn(chip, ch));
        // Other keys leave the sound alone.
        allOn();
        r.press(vk::Down);
        QVERIFY(keyOn(0, 1));
        // And so does the note key with the option off.
        r.ctx.settings.patternEditorKeyoff = false;
        r.press(letter('C'));
        QVERIFY(keyOn(0, 1));
    }

    void hexEntryIntoEachField() {
        Rig r;
        r.input.setAutoStep(false, 0);
        r.place(2, 0);
        // Volume: F then F gives 31, never more.
        QVERIFY(r.press(vk::Right));
        QCOMPARE(r.ctx.view.cursorColumn, 1);
        QVERIFY(r.press(letter('F')));
        QCOMPARE(int(r.cell(2, 0).volume), 31);
        r.press(vk::Right);
        QVERIFY(r.press(letter('F')));
        QCOMPARE(int(r.cell(2, 0).volume), 31);
        QVERIFY(r.press(vk::digit(7)));
        QCOMPARE(int(r.cell(2, 0).volume), 0x17);
        QCOMPARE(r.ctx.view.cursorRow, 2);  // step 0
        r.tick();
        // Instrument 2B.
        r.press(vk::Right);
        r.press(vk::digit(2));
        r.press(vk::Right);
        r.press(letter('B'));
        QCOMPARE(int(r.cell(2, 0).instrument), 0x2B);
        r.tick();
        // Effect F with parameter 06: a speed change refreshes the song length.
        QCOMPARE(r.lengthRefreshes, 0);
        r.press(vk::Right);
        r.press(letter('F'));
        QCOMPARE(int(r.cell(2, 0).effect), 15);
        QCOMPARE(r.lengthRefreshes, 1);
        r.press(vk::Right);
        r.press(vk::digit(0));
        QCOMPARE(r.lengthRefreshes, 1);  // 0 over 0 changes nothing
        r.press(vk::Right);
        r.press(vk::digit(6));
        QCOMPARE(int(r.cell(2, 0).param), 6);
        QCOMPARE(r.lengthRefreshes, 2);
        QCOMPARE(r.ctx.song->order.entries[0].speedEven, 3);
        // A key that is no hex digit is not used; the arrows are.
        QVERIFY(!r.press(letter('G')));
        QCOMPARE(r.ctx.view.cursorColumn, 7);
        QVERIFY(r.press(vk::Right));
        QCOMPARE(r.ctx.view.cursorColumn, 8);

        // Space repeats the last entered values into other fields.
        r.input.setAutoStep(true, 1);
        r.place(10, 1);
        QVERIFY(r.press(vk::Space));
        QCOMPARE(int(r.cell(10, 0).volume), 0x17);
        QCOMPARE(r.ctx.view.cursorRow, 11);
        r.place(10, 5);
        r.press(vk::Space);
        QCOMPARE(int(r.cell(10, 0).effect), 15);
        QCOMPARE(int(r.cell(10, 0).param), 6);
        // Delete clears the field under the cursor.
        r.place(10, 1);
        QVERIFY(r.press(vk::Delete));
        QCOMPARE(int(r.cell(10, 0).volume), 0);
        QCOMPARE(int(r.cell(10, 0).effect), 15);
    }

    void shiftArrowsSelect() {
        Rig r;
        r.place(10, 1 * 8 + 6);  // channel B, parameter high digit
        r.ctx.layout.keyDown(vk::Shift);
        QVERIFY(r.input.handleKeyDown());
        QVERIFY(r.input.selecting());
        r.press(vk::Down);
        r.press(vk::Down);
        QCOMPARE(r.ctx.view.cursorRow, 12);
        auto sel = r.ctx.view.selection;
        QCOMPARE(sel.x, 1);
        QCOMPARE(sel.y, 10);
        QCOMPARE(sel.w, 1);
        QCOMPARE(sel.h, 3);
        r.press(vk::Right);  // still channel B
        QCOMPARE(r.ctx.view.selection.w, 1);
        r.press(vk::Right);  // into channel C
        QCOMPARE(r.ctx.view.selection.w, 2);
        r.up(vk::Shift);
        QVERIFY(!r.input.selecting());
        r.press(vk::Down);
        QCOMPARE(r.ctx.view.selection.h, 3);  // kept, no longer extended

        // Ctrl+A selects the whole pattern, Ctrl+U nothing.
        r.pressWith(vk::Control, letter('A'));
        sel = r.ctx.view.selection;
        QCOMPARE(sel.x, 0);
        QCOMPARE(sel.w, 6);
        QCOMPARE(sel.h, 64);
        r.pressWith(vk::Control, letter('U'));
        QVERIFY(r.ctx.view.selection.empty());
    }

    void copyAndPaste() {
        Rig r;
        r.cell(0, 0).setPitch(40);
        r.cell(1, 0).volume = 9;
        r.place(0, 0);
        r.ctx.layout.keyDown(vk::Shift);
        r.input.handleKeyDown();
        r.press(vk::Down);
        r.up(vk::Shift);
        r.pressWith(vk::Control, letter('C'));
        QCOMPARE(r.ctx.clipboard.height, 2);
        r.place(20, 3 * 8);
        r.pressWith(vk::Control, letter('V'));
        QCOMPARE(r.cell(20, 3).pitch(), 40);
        QCOMPARE(int(r.cell(21, 3).volume), 9);
        QCOMPARE(r.cell(0, 0).pitch(), 40);  // copy leaves the source

        // Cut empties the source; the transposes move the selection's notes.
        r.ctx.view.selection = qv::Selection{3, 20, 1, 2};
        r.pressWith(vk::Control, letter('T'));
        QCOMPARE(r.cell(20, 3).pitch(), 52);
        r.input.EditCutClick();
        QVERIFY(r.cell(20, 3).isEmpty());
    }

    void backspacePullsUpAndInsertPushesDown() {
        Rig r;
        for (int row = 0; row < 6; ++row) r.cell(row, 2).volume = static_cast<int8_t>(row + 1);
        r.cell(3, 4).volume = 30;
        r.place(2, 2 * 8 + 1);
        QVERIFY(r.press(vk::Back));
        QCOMPARE(int(r.cell(2, 2).volume), 4);
        QCOMPARE(int(r.cell(4, 2).volume), 6);
        QCOMPARE(int(r.cell(3, 4).volume), 30);  // other channels untouched
        QCOMPARE(r.ctx.view.cursorRow, 2);
        QVERIFY(r.press(vk::Insert));
        QVERIFY(r.cell(2, 2).isEmpty());
        QCOMPARE(int(r.cell(3, 2).volume), 4);
        QCOMPARE(r.ctx.view.cursorRow, 2);
        // Ctrl+Insert pushes the whole row down.
        r.pressWith(vk::Control, vk::Insert);
        QCOMPARE(int(r.cell(4, 4).volume), 30);
        QCOMPARE(int(r.cell(4, 2).volume), 4);
    }

    void pageMovesClampSingleRowsWrap() {
        Rig r;
        r.ctx.settings.patternEditorPageStep = 16;
        r.place(60, 0);
        r.press(vk::Next);
        QCOMPARE(r.ctx.view.cursorRow, 63);
        r.press(vk::Down);
        QCOMPARE(r.ctx.view.cursorRow, 0);
        r.press(vk::Up);
        QCOMPARE(r.ctx.view.cursorRow, 63);
        r.place(5, 0);
        r.press(vk::Prior);
        QCOMPARE(r.ctx.view.cursorRow, 0);
        r.press(vk::End);
        QCOMPARE(r.ctx.view.cursorRow, 63);
        r.press(vk::Home);
        QCOMPARE(r.ctx.view.cursorRow, 0);
        // Left from column 0 wraps to 47, Tab to the same field of the next channel.
        r.press(vk::Left);
        QCOMPARE(r.ctx.view.cursorColumn, 47);
        r.press(vk::Tab);
        QCOMPARE(r.ctx.view.cursorColumn, 7);

        // EditSong: a note on the last row goes on to the next order position.
        r.ctx.song->order.length = 2;
        r.ctx.song->order.entries[1].pattern = 4;
        r.ctx.song->patterns[4].length = 16;
        r.input.setAutoStep(true, 1);
        r.ctx.layout.keyDown(vk::Control);
        r.press(letter('M'));
        r.ctx.layout.keyUp(vk::Control);
        QVERIFY(r.input.options.editSong);
        r.place(63, 0);
        r.press(letter('Z'));
        r.tick();
        QCOMPARE(r.ctx.view.orderCursor, 1);
        QCOMPARE(r.ctx.view.currentPattern, 4);
        QCOMPARE(r.ctx.view.cursorRow, 0);
        r.press(vk::Next);
        r.press(vk::Next);
        QCOMPARE(r.ctx.view.cursorRow, 15);  // last position: stops on the last row
        r.press(vk::Up);
        r.press(vk::Prior);
        r.press(vk::Prior);
        QCOMPARE(r.ctx.view.orderCursor, 0);
        QCOMPARE(r.ctx.view.cursorRow, 46);
    }

    void nothingIsEditedWithoutAPattern() {
        Rig r;
        r.ctx.view.noPatternSelected = true;
        r.ctx.view.selection = qv::Selection{0, 0, 6, 4};
        r.cell(0, 0).setPitch(30);
        QVERIFY(!r.press(letter('Z')));
        QVERIFY(!r.press(vk::Back));
        QVERIFY(!r.press(vk::Down));
        r.pressWith(vk::Control, letter('X'));
        r.input.EditDeleteClick();
        r.input.wheel(3);
        QCOMPARE(r.cell(0, 0).pitch(), 30);
        QCOMPARE(r.ctx.view.cursorRow, 0);
        QVERIFY(!r.ctx.player.isPlaying());
        // The octave keys still work.
        QVERIFY(r.press(vk::numpad(6)));
        QCOMPARE(r.input.options.octave, 6);
    }

    void playKeyPlaysWhileHeld() {
        Rig r;
        qv::KeyDispatcher d(r.ctx, r.input);
        d.patternEditorActive = [] { return true; };
        r.place(8, 0);
        QVERIFY(d.keyMessage(vk::Return, true));
        QVERIFY(r.ctx.player.isPlaying());
        QVERIFY(r.ctx.player.stopOnRelease());
        QCOMPARE(r.ctx.player.position().row, 8);
        r.tick();
        QVERIFY(r.ctx.player.isPlaying());
        d.keyMessage(vk::Return, false);
        QVERIFY(!r.ctx.player.isPlaying());

        // A song started from the toolbar also ends on the play key's release
        // when the window's follower takes over.
        r.ctx.player.start(0, 0, false, false, false, -1);
        bool windowStopped = false;
        d.onPlayKeyReleased = [&] {
            windowStopped = true;
            r.ctx.player.stop();
            return true;
        };
        d.keyMessage(vk::Return, true);  // already playing: nothing new
        d.keyMessage(vk::Return, false);
        QVERIFY(windowStopped);
        QVERIFY(!r.ctx.player.isPlaying());
    }

    void dispatcherRunsGlobalCommandsAndWheel() {
        Rig r;
        qv::KeyDispatcher d(r.ctx, r.input);
        bool patternPage = true;
        d.patternEditorActive = [&] { return patternPage; };
        std::vector<int> global;
        QObject::connect(&d, &qv::KeyDispatcher::globalCommand, [&](int c) { global.push_back(c); });
        // Ctrl+3 sets the auto step on every page.
        patternPage = false;
        d.keyMessage(vk::Control, true);
        QVERIFY(d.keyMessage(vk::digit(3), true));
        d.keyMessage(vk::digit(3), false);
        d.keyMessage(vk::Control, false);
        QCOMPARE(r.input.autoStep(), 3);
        QVERIFY(d.keyMessage(vk::f(5), true));
        d.keyMessage(vk::f(5), false);
        QCOMPARE(global, std::vector<int>{qv::cmd::GenPlayAll});
        // Off the pattern page notes write nothing.
        QVERIFY(!d.keyMessage(letter('Z'), true));
        d.keyMessage(letter('Z'), false);
        QCOMPARE(int(r.cell(0, 0).note), int(qv::kNoteEmpty));
        QVERIFY(!d.wheelMessage(1));
        patternPage = true;
        QVERIFY(d.wheelMessage(2));
        QCOMPARE(r.ctx.view.cursorRow, 2);
        QVERIFY(d.wheelMessage(-3));
        QCOMPARE(r.ctx.view.cursorRow, 63);
        // An inactive main window forgets every key.
        d.mainWindowActive = [] { return false; };
        QVERIFY(!d.keyMessage(vk::Shift, true));
        QCOMPARE(r.ctx.layout.keyState(vk::Shift), 0);
    }

    void realKeyEventsThroughTheFilter() {
        Rig r;
        qv::KeyDispatcher d(r.ctx, r.input);
        d.patternEditorActive = [] { return true; };
        d.install();
        QWidget w;
        r.input.setAutoStep(true, 1);
        QTest::keyClick(&w, Qt::Key_W);  // D of the upper row
        QCOMPARE(int(r.cell(0, 0).note), 2);
        QCOMPARE(int(r.cell(0, 0).octave), 5);
        QCOMPARE(r.ctx.view.cursorRow, 1);
        r.tick();
        QTest::keyClick(&w, Qt::Key_Down);
        QCOMPARE(r.ctx.view.cursorRow, 2);
        QTest::keyClick(&w, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(r.ctx.view.selection.h, 2);
        QCOMPARE(r.ctx.layout.keyState(vk::Shift), 0);
        d.uninstall();
        QTest::keyClick(&w, Qt::Key_Down);
        QCOMPARE(r.ctx.view.cursorRow, 3);
    }

    void unusedKeysTravelToParentsButCountOnce() {
        Rig r;
        qv::KeyDispatcher d(r.ctx, r.input);
        d.patternEditorActive = [] { return true; };
        d.install();
        QWidget window;
        auto* child = new QWidget(&window);
        child->setFocusPolicy(Qt::StrongFocus);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        child->setFocus();
        QCOMPARE(QApplication::focusWidget(), child);
        QTest::keyPress(child, Qt::Key_F);  // no command on F: the key goes on to the window
        QCOMPARE(r.ctx.layout.keyState(qv::vk::letter('F')), 1);
        QTest::keyRelease(child, Qt::Key_F);
        QCOMPARE(r.ctx.layout.keyState(qv::vk::letter('F')), 0);
        QTest::keyClick(child, Qt::Key_Z);
        QCOMPARE(int(r.cell(0, 0).note), 0);
    }

    // While a menu is open every key is the menu's: Down, a note key and
    // Enter reach no pattern, and Esc closes the menu instead of stopping.
    void openMenuTakesTheKeys() {
        Rig r;
        qv::KeyDispatcher d(r.ctx, r.input);
        d.patternEditorActive = [] { return true; };
        std::vector<int> global;
        QObject::connect(&d, &qv::KeyDispatcher::globalCommand, [&](int c) { global.push_back(c); });
        d.install();
        QWidget window;
        auto* view = new QWidget(&window);
        view->setFocusPolicy(Qt::StrongFocus);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view->setFocus();
        r.input.setAutoStep(true, 1);
        r.place(4, 0);
        QMenu menu(&window);
        int ran = 0;
        menu.addAction("One");
        QObject::connect(menu.addAction("Two"), &QAction::triggered, [&] { ++ran; });
        menu.popup(window.mapToGlobal(QPoint(10, 10)));
        QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(&menu));
        QTest::keyClick(&menu, Qt::Key_Down);
        QTest::keyClick(&menu, Qt::Key_Down);
        QTest::keyClick(&menu, Qt::Key_X);
        QCOMPARE(r.ctx.view.cursorRow, 4);
        QCOMPARE(int(r.cell(4, 0).note), int(qv::kNoteEmpty));
        QTest::keyClick(&menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu.isVisible());
        QVERIFY(global.empty());
        QCOMPARE(r.ctx.layout.keyState(vk::Escape), 0);
        // Enter runs the menu item, not the player.
        menu.popup(window.mapToGlobal(QPoint(10, 10)));
        QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(&menu));
        QTest::keyClick(&menu, Qt::Key_Down);
        QTest::keyClick(&menu, Qt::Key_Down);
        QTest::keyClick(&menu, Qt::Key_Return);
        QTRY_COMPARE(ran, 1);
        QVERIFY(!r.ctx.player.isPlaying());
        // With the menu gone the keys are the editor's again.
        QTest::keyClick(view, Qt::Key_Escape);
        QCOMPARE(global, std::vector<int>{qv::cmd::GenStop});
        QTest::keyClick(view, Qt::Key_X);
        QCOMPARE(int(r.cell(4, 0).note), 2);
    }

    void orderKeysAndBlockLengthChanges() {
        Rig r;
        r.ctx.song->order.length = 3;
        r.ctx.song->order.entries[1].pattern = 2;
        r.ctx.song->patterns[2].length = 8;
        int orderRefreshes = 0;
        QObject::connect(&r.input, &qv::PatternInput::orderCursorChanged, [&] { ++orderRefreshes; });
        r.place(30, 0);
        r.pressWith(vk::Control, vk::Prior);  // already at the first position
        QCOMPARE(r.ctx.view.orderCursor, 0);
        r.pressWith(vk::Control, vk::Next);
        QCOMPARE(r.ctx.view.orderCursor, 1);
        QCOMPARE(r.ctx.view.currentPattern, 2);
        QCOMPARE(r.ctx.view.cursorRow, 7);  // kept inside the shorter pattern
        QCOMPARE(orderRefreshes, 1);

        // Expanding a block makes the pattern longer and the song length is counted again.
        int lengthShown = 0;
        QObject::connect(&r.input, &qv::PatternInput::patternLengthChanged, [&] { lengthShown = r.ctx.song->patterns[2].length; });
        r.ctx.view.selection = qv::Selection{0, 0, 6, 8};
        r.input.BlockExpandClick();
        QCOMPARE(lengthShown, 16);
        QCOMPARE(r.lengthRefreshes, 1);
        // Pulling a speed effect out of the pattern counts the length again too.
        r.cell(3, 5, 2).effect = 15;
        r.cell(3, 5, 2).param = 4;
        r.place(1, 5 * 8);
        r.pressWith(vk::Control, vk::Back);
        QCOMPARE(r.lengthRefreshes, 1);
        r.place(2, 5 * 8);
        r.pressWith(vk::Control, vk::Back);
        QCOMPARE(r.lengthRefreshes, 2);
        QCOMPARE(int(r.cell(2, 5, 2).effect), 0);
    }

    void mouseClicksDragsAndDoubleClicks() {
        Rig r;
        r.ctx.view.selection = qv::Selection{0, 0, 2, 2};
        r.input.mouseClick(12, 3 * 8 + 4, Qt::NoModifier);
        QVERIFY(r.ctx.view.selection.empty());
        r.input.mouseRelease(12, 3 * 8 + 4, Qt::NoModifier);
        QCOMPARE(r.ctx.view.cursorRow, 12);
        QCOMPARE(r.ctx.view.cursorColumn, 28);
        // Dragging selects from the pressed cell, though the first move
        // reports the next one already.
        r.input.mouseClick(5, 8, Qt::NoModifier);
        r.input.mouseDrag(6, 8);
        r.input.mouseDrag(9, 2 * 8 + 1);
        auto sel = r.ctx.view.selection;
        QCOMPARE(sel.x, 1);
        QCOMPARE(sel.y, 5);
        QCOMPARE(sel.w, 2);
        QCOMPARE(sel.h, 5);
        r.input.mouseRelease(9, 17, Qt::NoModifier);
        QCOMPARE(r.ctx.view.cursorRow, 12);  // a drag leaves the cursor
        r.input.mouseDoubleClick(12, 28);
        sel = r.ctx.view.selection;
        QCOMPARE(sel.x, 3);
        QCOMPARE(sel.h, 64);
    }
};

QTEST_MAIN(TestPatternInput)
#include "tst_pattern_input.moc"
