// The main window's Block, Edit clean-up and pattern pop-up commands that go
// through the block dialogs and the message boxes, and what the window shows
// after order-list edits: the dialogs are the window's own instances, driven
// through their exec hooks, and every box is recorded and answered.
#include <QtTest>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>

#include "app/app_context.h"
#include "dialogs/block_commands.h"
#include "editor/form_main.h"
#include "editor/order_grid.h"
#include "editor/window_fixture.h"

namespace {

using qv::test::Box;

struct Fixture : qv::test::WindowFixture {
    template <class T>
    T* find(const char* name) const {
        T* found = window->findChild<T*>(name);
        if (!found) qWarning("no %s", name);
        return found;
    }
    void trigger(const char* action) { find<QAction>(action)->trigger(); }
    // Shown and active, so that focus and the layout's key states work as
    // for a user at the keyboard.
    void activate() {
        if (window->isActiveWindow()) return;
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    qv::OrderGrid& grid() { return *find<qv::OrderGrid>("StringGridOrd"); }
    qv::Cell& cell(int pattern, int row, int channel) {
        return ctx.song->patterns[pattern].rows[row][channel];
    }
    int pitch(int pattern, int row, int channel) { return cell(pattern, row, channel).pitch(); }
    void setOrder(std::initializer_list<int> patterns) {
        int i = 0;
        for (int p : patterns) ctx.song->order.entries[i++].pattern = static_cast<uint8_t>(p);
        ctx.song->order.length = static_cast<int16_t>(i);
        window->refreshAfterNewSong();
    }
    QString framesLabel() const { return find<QLabel>("LabelTFrmVal")->text(); }
    // Clicks the order grid's cell at a position, as the mouse would.
    void clickOrderCell(int position) {
        activate();
        qv::OrderGrid& g = grid();
        const QRect r = g.visualItemRect(g.item(0, position));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, r.center());
    }
};

// Notes entered note by note: (row, channel, pitch, instrument).
void putNotes(Fixture& f, int pattern, std::initializer_list<std::array<int, 4>> notes) {
    for (const auto& [row, channel, pitch, instrument] : notes) {
        qv::Cell& c = f.cell(pattern, row, channel);
        c.setPitch(pitch);
        c.instrument = static_cast<int16_t>(instrument);
    }
}

}  // namespace

class TestBlockMenus : public QObject {
    Q_OBJECT
private slots:
    void everyPatternCommandIsWired() {
        Fixture f;
        for (const char* name : {"BlockVolumeScale", "BlockEffectScale", "BlockDuplicate",
                                 "BlockTranspose", "EditCleanupInstruments",
                                 "EditRearrangeInstruments", "EditRearrangePatterns"})
            QVERIFY2(f.find<QAction>(name)->isEnabled(), name);
        // Every item of the pattern pop-up, its Transpose submenu included.
        auto* popup = f.find<QMenu>("PopupMenuPtn");
        QList<QAction*> items = popup->actions();
        for (int i = 0; i < items.size(); ++i) {
            if (items[i]->menu()) items += items[i]->menu()->actions();
            if (!items[i]->isSeparator())
                QVERIFY2(items[i]->isEnabled(), qPrintable(items[i]->text()));
        }
        QCOMPARE(f.find<QAction>("PtnPopupTransp")->text(), QString("Advanced"));
        // The dialogs are the window's, centred over it.
        QCOMPARE(f.window->formTranspose().parentWidget(), f.window.get());
        QCOMPARE(f.window->formDuplicate().parentWidget(), f.window.get());
        QCOMPARE(f.window->formScale().parentWidget(), f.window.get());
    }

    void transposeCheckLoopThenApply() {
        Fixture f;
        putNotes(f, 0, {{0, 0, 36, 1}, {3, 1, 80, 1}});
        f.ctx.view.selection = {0, 0, 6, 8};
        int openings = 0;
        QList<int> amountsOnOpening;
        f.window->formTranspose().execHook = [&](qv::TFormTranspose& d) {
            amountsOnOpening << d.amount();
            switch (++openings) {
            case 1: d.setAmount(7); d.ButtonCheckClick(); break;    // 87 fits
            case 2: d.setAmount(19); d.ButtonCheckClick(); break;   // 99 does not
            default: d.setAmount(7); d.ButtonOKClick(); break;
            }
            return 1;
        };
        f.trigger("BlockTranspose");
        QCOMPARE(openings, 3);
        QCOMPARE(amountsOnOpening, (QList<int>{0, 7, 19}));  // kept between openings
        QCOMPARE(f.boxes.size(), 2);
        QCOMPARE(f.boxes[0].text, QString("None of notes is out of range.\n"));
        QCOMPARE(f.boxes[0].caption, QString("OK"));
        QCOMPARE(f.boxes[1].text, QString("Some notes is out of range!\n"));
        QCOMPARE(f.boxes[1].caption, QString("Warning"));
        QCOMPARE(f.pitch(0, 0, 0), 43);
        QCOMPARE(f.pitch(0, 3, 1), 87);

        // The pop-up's Advanced opens the same dialog; Cancel changes nothing.
        f.window->formTranspose().execHook = [&](qv::TFormTranspose& d) {
            amountsOnOpening << d.amount();
            d.ButtonCancelClick();
            return 0;
        };
        f.trigger("PtnPopupTransp");
        QCOMPARE(amountsOnOpening.last(), 7);
        QCOMPARE(f.pitch(0, 0, 0), 43);
        QCOMPARE(f.boxes.size(), 2);
    }

    void wholeTrackTransposeFollowsTheChoices() {
        Fixture f;
        f.setOrder({0, 1, 0});
        putNotes(f, 0, {{0, 0, 36, 1}, {0, 2, 36, 1}});
        putNotes(f, 1, {{5, 2, 48, 1}});
        putNotes(f, 2, {{0, 2, 36, 1}});  // not in the order list
        f.ctx.view.cursorColumn = 2 * 8;  // cursor in channel 3
        f.ctx.view.selection = {};        // the whole track needs no selection
        f.window->formTranspose().execHook = [](qv::TFormTranspose& d) {
            d.setChoices(true, true, false);
            d.setAmount(7);
            d.ButtonOKClick();
            return 1;
        };
        f.trigger("BlockTranspose");
        QCOMPARE(f.pitch(0, 0, 0), 36);  // another channel
        QCOMPARE(f.pitch(0, 0, 2), 43);  // listed twice, moved once
        QCOMPARE(f.pitch(1, 5, 2), 55);
        QCOMPARE(f.pitch(2, 0, 2), 36);  // not listed

        // "Current instrument" takes the number in the window's instrument field.
        putNotes(f, 1, {{8, 4, 50, 2}, {9, 4, 50, 3}});
        f.find<QSpinBox>("UpDownAIns")->setValue(3);
        f.window->formTranspose().execHook = [](qv::TFormTranspose& d) {
            d.setChoices(true, false, true);
            d.setAmount(-12);
            d.ButtonOKClick();
            return 1;
        };
        f.trigger("BlockTranspose");
        QCOMPARE(f.pitch(1, 8, 4), 50);
        QCOMPARE(f.pitch(1, 9, 4), 38);
        QCOMPARE(f.pitch(0, 0, 2), 43);  // instrument 1
    }

    void duplicateAndScalesThroughTheDialogs() {
        Fixture f;
        qv::Pattern& p = f.ctx.song->patterns[0];
        p.length = 10;
        for (int r = 0; r < 4; ++r) {
            f.cell(0, r, 0).setPitch(30 + r);
            f.cell(0, r, 0).volume = 10;
        }
        f.ctx.view.selection = {0, 0, 1, 4};
        QList<int> timesOnOpening;
        f.window->formDuplicate().execHook = [&](qv::TFormDuplicate& d) {
            timesOnOpening << d.times();
            if (timesOnOpening.size() == 1) {
                d.setTimes(5);
                d.Button1Click();
                return 1;
            }
            d.Button2Click();
            return 0;
        };
        f.trigger("PtnPopupDuplicate");
        for (int r = 4; r < 10; ++r) QCOMPARE(f.pitch(0, r, 0), 30 + (r - 4) % 4);
        QCOMPARE(p.length, 10);
        f.cell(0, 4, 0).setPitch(1);
        f.trigger("BlockDuplicate");  // cancelled
        QCOMPARE(timesOnOpening, (QList<int>{1, 5}));
        QCOMPARE(f.pitch(0, 4, 0), 1);

        // Volume scale from 100 % down to 50 % over the four rows.
        QStringList captions;
        f.window->formScale().execHook = [&](qv::TFormScale& d) {
            captions << d.windowTitle();
            d.setLocked(false);
            d.setStartPosition(100);
            d.setEndPosition(50);
            d.ButtonOKClick();
            return 1;
        };
        f.trigger("BlockVolumeScale");
        QCOMPARE(f.cell(0, 0, 0).volume, 10);
        QCOMPARE(f.cell(0, 1, 0).volume, 8);
        QCOMPARE(f.cell(0, 2, 0).volume, 7);
        QCOMPARE(f.cell(0, 3, 0).volume, 6);
        // Effect scale from the pop-up: its own caption, the same dialog.
        f.cell(0, 0, 1).effect = 4;
        f.cell(0, 0, 1).param = 0x20;
        f.ctx.view.selection = {1, 0, 1, 1};
        int endOnOpening = -1;
        f.window->formScale().execHook = [&](qv::TFormScale& d) {
            captions << d.windowTitle();
            endOnOpening = d.endPercent();
            d.setLocked(true);
            d.setStartPosition(101);  // 110 %
            d.ButtonOKClick();
            return 1;
        };
        f.trigger("PtnPopupEffectScale");
        QCOMPARE(captions, (QStringList{"Volume scale", "Effect scale"}));
        QCOMPARE(endOnOpening, 50);  // as the last opening left it
        QCOMPARE(int(f.cell(0, 0, 1).param), 0x23);  // 32 x 1.1, cut toward zero
    }

    void duplicatedSpeedEffectUpdatesTheSongLength() {
        Fixture f;
        f.ctx.song->patterns[0].length = 8;
        f.window->refreshAfterNewSong();
        QCOMPARE(f.framesLabel(), QString("0 of 24"));
        f.cell(0, 0, 0).effect = 15;  // speed 3/3, as the song's own
        f.cell(0, 0, 0).param = 0x33;
        f.cell(0, 1, 0).effect = 15;  // speed 6/6 from row 1 on
        f.cell(0, 1, 0).param = 0x66;
        f.ctx.view.selection = {0, 0, 1, 2};
        f.window->formDuplicate().execHook = [](qv::TFormDuplicate& d) {
            d.setTimes(1);
            d.Button1Click();
            return 1;
        };
        f.trigger("BlockDuplicate");
        // Rows 0-1 copied to 2-3: row 2 brings speed 3 back for one row, 3-7 at 6.
        QCOMPARE(f.window->lengthFrames(), 3 + 6 + 3 + 5 * 6);
        QCOMPARE(f.framesLabel(), QString("0 of 42"));
    }

    void dialogCommandsRefusedWhilePlayingOrWithoutPattern() {
        Fixture f;
        f.ctx.view.selection = {0, 0, 6, 16};
        int openings = 0;
        f.window->formTranspose().execHook = [&](qv::TFormTranspose& d) { ++openings; d.ButtonCancelClick(); return 0; };
        f.window->formDuplicate().execHook = [&](qv::TFormDuplicate& d) { ++openings; d.Button2Click(); return 0; };
        f.window->formScale().execHook = [&](qv::TFormScale& d) { ++openings; d.ButtonCancelClick(); return 0; };
        const char* commands[] = {"BlockTranspose", "BlockDuplicate", "BlockVolumeScale", "BlockEffectScale"};

        // The order cursor one past the end: no pattern is being edited.
        f.clickOrderCell(1);
        QVERIFY(f.ctx.view.noPatternSelected);
        QVERIFY(!f.find<QSpinBox>("UpDownPtn")->isEnabled());
        QVERIFY(!f.find<QSpinBox>("UpDownPtnLen")->isEnabled());
        for (const char* c : commands) f.trigger(c);
        QCOMPARE(openings, 0);
        f.clickOrderCell(0);
        QVERIFY(f.find<QSpinBox>("UpDownPtn")->isEnabled());
        for (const char* c : commands) f.trigger(c);
        QCOMPARE(openings, 4);

        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->SpeedButtonPlayAllClick();
        QVERIFY(f.ctx.player.isPlaying());
        for (const char* c : commands) f.trigger(c);
        QCOMPARE(openings, 4);
        // Order edits are refused too, from the keys and from the pop-up.
        f.grid().setFocus();
        QTest::keyClick(&f.grid(), Qt::Key_5);
        f.grid().OrderInsertSameClick();
        QCOMPARE(int(f.ctx.song->order.length), 1);
        QCOMPARE(int(f.ctx.song->order.entries[0].pattern), 0);
        f.window->SpeedButtonStopClick();
    }

    void cleanupInstrumentsAsksToRearrange() {
        for (const bool yes : {false, true}) {
            Fixture f;
            for (int i : {1, 2, 4}) f.ctx.song->instrument(i).setName("used?");
            f.ctx.song->instrument(4).algorithm = 3;
            putNotes(f, 7, {{0, 0, 36, 4}});  // pattern 7 is not even in the order list
            f.answers = {yes ? QMessageBox::Yes : QMessageBox::No};
            f.trigger("EditCleanupInstruments");
            QCOMPARE(f.boxes.size(), 1);
            QCOMPARE(f.boxes[0].text,
                     QString("2 unused instruments were removed.\nRearrange instruments by order?"));
            QCOMPARE(f.boxes[0].caption, QString("Complete"));
            QVERIFY(f.ctx.song->instrument(2).isDefault());
            const int now = yes ? 1 : 4;  // packed at the front on yes
            QCOMPARE(f.ctx.song->instrument(now).algorithm, 3);
            QCOMPARE(int(f.cell(7, 0, 0).instrument), now);
            // Nothing left to remove: no question at all.
            f.trigger("EditCleanupInstruments");
            QCOMPARE(f.boxes.size(), 1);
        }
        // Rearrange on its own, straight from the menu.
        Fixture f;
        f.ctx.song->instrument(5).setName("five");
        putNotes(f, 0, {{2, 3, 40, 5}});
        f.trigger("EditRearrangeInstruments");
        QVERIFY(f.boxes.isEmpty());
        QCOMPARE(f.ctx.song->instrument(1).nameText(), std::string("five"));
        QCOMPARE(int(f.cell(0, 2, 3).instrument), 1);
    }

    void rearrangePatternsAsksFirst() {
        Fixture f;
        f.setOrder({5, 3, 5});
        putNotes(f, 5, {{0, 0, 36, 1}});
        f.ctx.song->patterns[5].length = 32;
        putNotes(f, 3, {{1, 1, 40, 1}});
        putNotes(f, 9, {{2, 2, 44, 1}});  // unused
        f.window->refreshAfterNewSong();
        f.answers = {QMessageBox::No};
        f.trigger("EditRearrangePatterns");
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, QString("All unused patterns will be deleted. Continue?"));
        QCOMPARE(f.boxes[0].caption, QString("Warning"));
        QCOMPARE(int(f.ctx.song->order.entries[0].pattern), 5);
        QCOMPARE(f.pitch(9, 2, 2), 44);

        f.trigger("EditRearrangePatterns");
        QCOMPARE(f.boxes.size(), 2);
        QCOMPARE(f.grid().cellText(0), QString("0L"));
        QCOMPARE(f.grid().cellText(1), QString("1"));
        QCOMPARE(f.grid().cellText(2), QString("0"));
        QCOMPARE(f.pitch(0, 0, 0), 36);
        QCOMPARE(f.pitch(1, 1, 1), 40);
        QVERIFY(f.cell(9, 2, 2).isEmpty());
        // The controls show the renumbered pattern under the cursor.
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 0);
        QCOMPARE(f.find<QSpinBox>("UpDownPtnLen")->value(), 32);
        QCOMPARE(f.framesLabel(), QString("0 of %1").arg(3 * (32 + 64 + 32)));
    }

    void orderEditsRefreshLengthAndControls() {
        Fixture f;
        f.ctx.song->patterns[1].length = 32;
        QCOMPARE(f.framesLabel(), QString("0 of 192"));
        f.activate();
        qv::OrderGrid& grid = f.grid();
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Right);  // one past the end
        QVERIFY(!f.find<QSpinBox>("UpDownPtn")->isEnabled());
        QTest::keyClick(&grid, Qt::Key_1);  // appends pattern 1
        QCOMPARE(int(f.ctx.song->order.length), 2);
        QVERIFY(f.find<QSpinBox>("UpDownPtn")->isEnabled());
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 1);
        QCOMPARE(f.find<QSpinBox>("UpDownPtnLen")->value(), 32);
        QCOMPARE(f.window->lengthFrames(), 3 * (64 + 32));
        QCOMPARE(f.framesLabel(), QString("192 of 288"));  // the position is entry 1's start

        // A speed change, then playing from entry 1 starts at the new speed:
        // the entries' cached timing was refreshed.
        f.find<QSpinBox>("UpDownSpdEven")->setValue(5);
        f.find<QSpinBox>("UpDownSpdOdd")->setValue(5);
        QCOMPARE(f.framesLabel(), QString("320 of 480"));
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->SpeedButtonPlayPosClick();
        QCOMPARE(f.ctx.player.position().speedEven, 5);
        f.window->SpeedButtonStopClick();

        // Insert new from the pop-up and delete again: length and label follow.
        grid.PopupMenuOrdPopup();
        grid.popupMenu()->findChild<QAction*>("OrderInsertNew")->trigger();
        QCOMPARE(int(f.ctx.song->order.length), 3);
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 2);
        QCOMPARE(f.find<QSpinBox>("UpDownPtnLen")->value(), 64);
        QCOMPARE(f.window->lengthFrames(), 5 * (64 + 64 + 32));
        grid.popupMenu()->findChild<QAction*>("OrderDeletePos")->trigger();
        QCOMPARE(f.window->lengthFrames(), 5 * (64 + 32));
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 1);
        // The loop key and the focus key of the grid.
        QTest::keyClick(&grid, Qt::Key_L);
        QCOMPARE(grid.cellText(1), QString("1L"));
        QTest::keyClick(&grid, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("ScrollBoxPtn"));
    }

    void dropsOverTheOrderGridReachIt() {
        // A drop goes to the widget under the mouse that accepts drops, or
        // to the nearest parent that does (how the window hands a drag on).
        Fixture f;
        f.setOrder({0, 1, 2});
        f.activate();
        qv::OrderGrid& g = f.grid();
        const QPoint cell = g.visualItemRect(g.item(0, 1)).center();
        QWidget* target = f.window->childAt(g.viewport()->mapTo(f.window.get(), cell));
        while (target && !target->isWindow() && !target->acceptDrops()) target = target->parentWidget();
        QCOMPARE(target, g.viewport());
        // What the drop then does.
        QVERIFY(g.dropSwap(2, 0));
        QCOMPARE(g.cellText(0), QString("2L"));
        QCOMPARE(g.cellText(2), QString("0"));
        QCOMPARE(f.ctx.view.orderCursor, 0);
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 2);
    }

    void clickOnTheOrderGridMovesAPlayingSong() {
        Fixture f;
        f.setOrder({0, 1, 2});
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->SpeedButtonPlayAllClick();
        QTRY_VERIFY_WITH_TIMEOUT(f.ctx.view.cursorRow > 0, 3000);
        f.clickOrderCell(2);
        QCOMPARE(f.ctx.player.position().orderPosition, 2);
        // The follower keeps the cursor there and shows the entry's pattern;
        // the order list itself is not touched.
        QTest::qWait(100);
        QCOMPARE(f.ctx.view.orderCursor, 2);
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 2);
        QCOMPARE(int(f.ctx.song->order.entries[0].pattern), 0);
        QCOMPARE(int(f.ctx.song->order.entries[2].pattern), 2);
        // A click past the end cannot move the Player; the cursor goes back
        // to the playing entry and shows its pattern again.
        f.clickOrderCell(5);
        QTRY_VERIFY_WITH_TIMEOUT(!f.ctx.view.noPatternSelected, 1000);
        QCOMPARE(f.ctx.view.orderCursor, f.ctx.player.position().orderPosition);
        QVERIFY(f.find<QSpinBox>("UpDownPtn")->isEnabled());
        f.window->SpeedButtonStopClick();
    }
};

QTEST_MAIN(TestBlockMenus)
#include "tst_block_menus.moc"
