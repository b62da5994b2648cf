// The main window: caption, pages and menus, the time display, the recent
// files, New / Open / Save with their questions and messages, the Patterns
// page's controls, the close query and the exports. Message boxes and file
// dialogs are replaced by recorders, so nothing modal ever waits.
#include <QtTest>

#include <QScrollArea>
#include <QScrollBar>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QPushButton>
#include <QToolButton>

#include "app/app_context.h"
#include "editor/form_main.h"
#include "editor/order_grid.h"
#include "editor/pattern_view.h"
#include "editor/pattern_input.h"
#include "editor/window_fixture.h"
#include "song/module_file.h"

namespace {

using qv::test::Box;

// The window with its file dialogs answered by dialogResult.
struct Fixture : qv::test::WindowFixture {
    explicit Fixture(qv::NullAudioDevice::Options card = {}) : WindowFixture(card) {
        window->openDialogFn = [this](const QString&, const QString&, const QString&,
                                      const QString&) { return dialogResult; };
        window->saveDialogFn = window->openDialogFn;
    }
    QString dialogResult;

    QString actionText(const char* name) const {
        QAction* a = find<QAction>(name);
        return a ? a->text() : QString("<missing %1>").arg(name);
    }
};

}  // namespace

class TestFormMain : public QObject {
    Q_OBJECT
private slots:
    void captionPagesMenusAndControls() {
        Fixture f;
        QCOMPARE(f.window->windowTitle(), QString("Qorvette v1.22 [untitled.qze]"));
        auto* pages = f.find<QTabWidget>("PageControlMain");
        QVERIFY(pages);
        QCOMPARE(pages->count(), 4);
        QCOMPARE(pages->tabText(0), QString("Patterns"));
        QCOMPARE(pages->tabText(1), QString("Instruments"));
        QCOMPARE(pages->tabText(2), QString("Information"));
        QCOMPARE(pages->tabText(3), QString("Editor"));
        for (const char* name : {"TabSheetPtn", "TabSheetIns", "TabSheetInfo", "TabSheetSetup",
                                 "PanelToolbar", "PanelPtnCtrl", "PanelPtnHeader", "ScrollBoxPtn",
                                 "PaintBoxPtn", "StringGridOrd", "ShapeClip", "PaintBoxLvl",
                                 "LabelTTimeVal", "LabelTFrmVal", "EditPtnLen", "EditAVol"})
            QVERIFY2(f.find<QWidget>(name), name);
        // The pattern editor has the focus from the start, and the toolbar's
        // buttons never take it.
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("ScrollBoxPtn"));
        QTest::mouseClick(f.find<QToolButton>("SpeedButtonPlayAll"), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), f.find<QWidget>("ScrollBoxPtn"));
        f.window->SpeedButtonStopClick();

        QCOMPARE(f.actionText("FileNew"), QString("&New"));
        QCOMPARE(f.actionText("FileLoad"), QString("&Open module"));
        QCOMPARE(f.actionText("FileSave"), QString("&Save module"));
        QCOMPARE(f.actionText("ExporRegQZM"), QString("&QZD file for QZM"));
        QCOMPARE(f.actionText("ExporRegSMD"), QString("QZ&D file for SMD"));
        QCOMPARE(f.actionText("ExportVGM"), QString("&VGM file for SMD"));
        QCOMPARE(f.actionText("ExportWaveAll"), QString("Wave file (&all)"));
        QCOMPARE(f.actionText("ExportWaveUnmuted"), QString("Wave file (&unmuted)"));
        QCOMPARE(f.actionText("ExportVGM2203"), QString("VGM for the sound extension..."));
        QCOMPARE(f.actionText("ExportWaveChannels"), QString("Wave files, one per channel..."));
        QCOMPARE(f.actionText("ImportMOD"), QString("&MOD file"));
        QCOMPARE(f.actionText("FileClose"), QString("&Close"));
        QCOMPARE(f.actionText("Recent0"), QString("&0: none"));
        QCOMPARE(f.actionText("Recent9"), QString("&9: none"));
        QCOMPARE(f.actionText("EditRearrangePatterns"), QString("Rearrange &patterns"));
        QCOMPARE(f.actionText("BlockTranspose"), QString("Advanced &transpose"));
        QCOMPARE(f.actionText("PatternExpand"), QString("&Expand (size*2)"));
        QCOMPARE(f.actionText("PatternShrink"), QString("&Shrink (size/2)"));
        QCOMPARE(f.actionText("InstrumentCopyExchange"), QString("Copy/E&xchange"));
        QCOMPARE(f.actionText("HelpAbout"), QString("&About..."));
        QCOMPARE(f.find<QMenu>("MainMenuFile")->title(), QString("&File"));
        QCOMPARE(f.find<QMenu>("MainMenuPattern")->title(), QString("&Pattern"));
        QVERIFY(f.find<QAction>("InstrumentClear")->isEnabled());
        QVERIFY(f.find<QAction>("EditCut")->isEnabled());
        QVERIFY(f.find<QAction>("InstrumentCopyExchange")->isEnabled());

        QCOMPARE(f.find<QToolButton>("SpeedButtonPlayAll")->toolTip(), QString("Play from start (F5)"));
        QCOMPARE(f.find<QToolButton>("SpeedButtonStop")->toolTip(), QString("Stop playing (ESC)"));
        QVERIFY(!f.find<QToolButton>("SpeedButtonStop")->isEnabled());
        QCOMPARE(f.find<QToolButton>("SpeedButtonPlayPtn")->toolTip(),
                 QString("Play pattern in loop (F8)"));
        QCOMPARE(f.find<QWidget>("ShapeClip")->toolTip(), QString("Clip indicator"));

        struct Range { const char* name; int min, max, value; };
        for (const Range& r : {Range{"UpDownPtnLen", 1, 256, 64}, Range{"UpDownPtn", 0, 255, 0},
                               Range{"UpDownOctave", 1, 8, 4}, Range{"UpDownSpdEven", 1, 15, 3},
                               Range{"UpDownSpdOdd", 1, 15, 3}, Range{"UpDownInter", 1, 255, 1},
                               Range{"UpDownAStep", 0, 256, 1}, Range{"UpDownAIns", 0, 255, 1},
                               Range{"UpDownAVol", 0, 31, 31}}) {
            auto* spin = f.find<QSpinBox>(r.name);
            QVERIFY2(spin, r.name);
            QCOMPARE(spin->minimum(), r.min);
            QCOMPARE(spin->maximum(), r.max);
            QCOMPARE(spin->value(), r.value);
        }
        QVERIFY(!f.find<QSpinBox>("UpDownAVol")->isEnabled());
        QVERIFY(f.find<QToolButton>("SpeedButtonAStep")->isChecked());
        f.find<QToolButton>("SpeedButtonAVol")->click();
        QVERIFY(f.find<QSpinBox>("UpDownAVol")->isEnabled());
        f.find<QToolButton>("SpeedButtonAStep")->click();
        QVERIFY(!f.find<QSpinBox>("UpDownAStep")->isEnabled());
        QCOMPARE(f.ctx.settings.effectiveAutoStep(), 0);
    }

    void timeDisplay() {
        QCOMPARE(qv::TFormMain::timeText(0, 6250), QString("00:00 of 02:05"));
        QCOMPARE(qv::TFormMain::framesText(0, 6250), QString("0 of 6250"));
        QCOMPARE(qv::TFormMain::timeText(3050, 183000), QString("01:01 of 61:00"));
        Fixture f;
        // A new song: 64 rows at speed 3.
        QCOMPARE(f.window->lengthFrames(), 192);
        QCOMPARE(f.find<QLabel>("LabelTTimeVal")->text(), QString("00:00 of 00:03"));
        QCOMPARE(f.find<QLabel>("LabelTFrmVal")->text(), QString("0 of 192"));
        // Speed, interleave and length changes recompute it.
        f.find<QSpinBox>("UpDownSpdEven")->setValue(6);
        f.find<QSpinBox>("UpDownSpdOdd")->setValue(6);
        QCOMPARE(f.ctx.song->speedEven, 6);
        QCOMPARE(f.find<QLabel>("LabelTFrmVal")->text(), QString("0 of 384"));
        f.find<QSpinBox>("UpDownPtnLen")->setValue(32);
        QCOMPARE(f.ctx.song->patterns[0].length, 32);
        QCOMPARE(f.window->lengthFrames(), 192);
        f.find<QToolButton>("SpeedButtonSpdEqual")->click();
        QCOMPARE(f.ctx.song->speedOdd, 6);
        // The total is the pass as played: a pattern loop over the 32 rows
        // plays them twice.
        f.ctx.song->patterns[0].rows[0][0].effect = 14;
        f.ctx.song->patterns[0].rows[0][0].param = 0x60;
        f.ctx.song->patterns[0].rows[31][0].effect = 14;
        f.ctx.song->patterns[0].rows[31][0].param = 0x61;
        f.ctx.document.refreshTiming();  // written past the document
        f.window->recomputeLength();
        QCOMPARE(f.window->lengthFrames(), 2 * 192);
        QCOMPARE(f.find<QLabel>("LabelTFrmVal")->text(), QString("0 of 384"));
    }

    // With the order cursor past the end the song is over: the position is
    // the whole length, not the stale timing of an entry deleted there.
    void timePastTheEndOfTheOrderList() {
        Fixture f;
        auto* grid = f.find<qv::OrderGrid>("StringGridOrd");
        for (int i = 0; i < 3; ++i) grid->OrderInsertSameClick();
        QCOMPARE(f.window->lengthFrames(), 4 * 192);
        grid->selectColumn(3);
        grid->OrderDeletePosClick();
        grid->OrderDeletePosClick();
        QCOMPARE(f.window->lengthFrames(), 2 * 192);
        f.ctx.view.cursorRow = 10;
        grid->selectColumn(3);
        QVERIFY(f.ctx.view.noPatternSelected);
        QCOMPARE(f.find<QLabel>("LabelTFrmVal")->text(), QString("384 of 384"));
        QCOMPARE(f.find<QLabel>("LabelTTimeVal")->text(), QString("00:07 of 00:07"));
    }

    // Playback held by the play key ends when the pattern view loses the focus.
    void heldPlaybackStopsOnFocusLoss() {
        Fixture f;
        f.ctx.layout.loadDefault();
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        auto* box = f.find<QWidget>("ScrollBoxPtn");
        box->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), box);
        QTest::keyPress(box, Qt::Key_Return);
        QVERIFY(f.ctx.player.isPlaying());
        QVERIFY(f.ctx.player.stopOnRelease());
        f.find<QWidget>("StringGridOrd")->setFocus();
        QTRY_VERIFY(!f.ctx.player.isPlaying());
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Return);
    }

    void recentFiles() {
        Fixture f;
        f.window->fileFlow().addRecent("/a.qze");
        f.window->fileFlow().addRecent("/b.qze");
        f.window->fileFlow().addRecent("/a.qze");
        QCOMPARE(f.window->fileFlow().recentCaption(0), QString("&0: /a.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(1), QString("&1: /b.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(2), QString("&2: none"));
        for (int i = 0; i < 11; ++i) f.window->fileFlow().addRecent(QString("/f%1.qze").arg(i));
        QCOMPARE(f.window->fileFlow().recentCaption(0), QString("&0: /f10.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(9), QString("&9: /f1.qze"));
        // An item in the middle moves to the top, the ones above move down.
        f.window->fileFlow().addRecent("/f5.qze");
        QCOMPARE(f.window->fileFlow().recentCaption(0), QString("&0: /f5.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(1), QString("&1: /f10.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(5), QString("&5: /f6.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(6), QString("&6: /f4.qze"));
        QCOMPARE(f.window->fileFlow().recentCaption(7), QString("&7: /f3.qze"));
        // An empty entry does nothing when clicked; a stored file opens.
        Fixture g;
        g.window->fileFlow().RecentClick(4);
        QVERIFY(g.boxes.isEmpty());
        f.window->fileFlow().RecentClick(0);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, QString("File '/f5.qze' not found!"));
        // The captions are what is stored.
        f.window->storeSettings();
        QCOMPARE(f.ctx.settings.recentNames[0], QString("&0: /f5.qze"));
    }

    void newAsksAboutUnsavedChanges() {
        Fixture f;
        QVERIFY(f.ctx.document.edit("Speed", qv::SongChange::speeds(),
                                    [](qv::Song& s) { s.speedEven = 7; }));
        QVERIFY(f.ctx.document.edit("Note", qv::SongChange::cells(0),
                                    [](qv::Song& s) { s.patterns[0].rows[0][0].setPitch(40); }));
        f.answer = QMessageBox::Cancel;
        f.window->fileFlow().FileNewClick();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, QString("Save changes to untitled.qze?"));
        QCOMPARE(f.boxes[0].caption, QString("New module"));
        QCOMPARE(f.ctx.song->speedEven, 7);
        f.answer = QMessageBox::Discard;
        f.window->fileFlow().FileNewClick();
        QCOMPARE(f.ctx.song->speedEven, 3);
        QVERIFY(f.ctx.song->patterns[0].rows[0][0].isEmpty());
        QCOMPARE(f.window->windowTitle(), QString("Qorvette v1.22 [untitled.qze]"));
        QCOMPARE(f.find<QSpinBox>("UpDownSpdEven")->value(), 3);
        // A new song has nothing to lose: the next New asks nothing.
        f.window->fileFlow().FileNewClick();
        QCOMPARE(f.boxes.size(), 2);
    }

    void openSaveAndFailures() {
        QTemporaryDir dir;
        Fixture f;
        const QString good = dir.filePath("song.qze");
        f.ctx.song->speedEven = 5;
        f.ctx.song->setTrackName("kept");
        QVERIFY(f.window->fileFlow().saveModuleTo(good));
        QCOMPARE(f.window->windowTitle(), "Qorvette v1.22 [" + good + "]");
        QCOMPARE(f.window->fileFlow().recentCaption(0), "&0: " + good);
        QCOMPARE(f.ctx.settings.pathModule, dir.path() + "/");

        // Not found: the song and its name stay.
        const QString missing = dir.filePath("nothing.qze");
        QCOMPARE(f.window->fileFlow().openByName(missing), int(qv::kModuleNotFound));
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, "File '" + missing + "' not found!");
        QCOMPARE(f.boxes[0].caption, QString("Error!"));
        QCOMPARE(f.ctx.song->trackNameText(), std::string("kept"));
        QCOMPARE(f.window->fileFlow().moduleFileName(), good);

        // Wrong format: the message, and still the song that was there.
        const QString junk = dir.filePath("junk.qze");
        {
            QFile file(junk);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(100, 'x'));
        }
        QCOMPARE(f.window->fileFlow().openByName(junk), int(qv::kModuleWrongFormat));
        QCOMPARE(f.boxes.last().text, "File '" + junk + "' has wrong format!");
        QCOMPARE(f.ctx.song->trackNameText(), std::string("kept"));
        QCOMPARE(f.ctx.song->speedEven, 5);
        QCOMPARE(f.window->fileFlow().moduleFileName(), good);
        QCOMPARE(f.window->fileFlow().recentCaption(0), "&0: " + good);

        // A failed save names the file in an "Error" box and keeps the name.
        const QString bad = dir.filePath("no/such/folder/x.qze");
        QVERIFY(!f.window->fileFlow().saveModuleTo(bad));
        QCOMPARE(f.boxes.last().caption, QString("Error"));
        QVERIFY(f.boxes.last().text.contains(bad));
        QCOMPARE(f.window->fileFlow().moduleFileName(), good);

        // Opening through the dialog loads the file and shows its values.
        Fixture g;
        g.dialogResult = good;
        g.window->fileFlow().FileLoadClick();
        QCOMPARE(g.ctx.song->trackNameText(), std::string("kept"));
        QCOMPARE(g.find<QSpinBox>("UpDownSpdEven")->value(), 5);
        QCOMPARE(g.window->windowTitle(), "Qorvette v1.22 [" + good + "]");
        QCOMPARE(g.ctx.settings.pathModule, dir.path() + "/");
        QVERIFY(g.boxes.isEmpty());
        // Start-up load: silent, and only a loaded file takes the name.
        Fixture h;
        h.window->fileFlow().loadStartupModule(junk);
        QVERIFY(h.boxes.isEmpty());
        QCOMPARE(h.window->fileFlow().moduleFileName(), QString("untitled.qze"));
        h.window->fileFlow().loadStartupModule(good);
        QCOMPARE(h.window->fileFlow().moduleFileName(), good);
        // The hand-over: a quoted path opens at once when nothing is unsaved,
        // asks first otherwise; a missing file is ignored.
        Fixture k;
        k.window->fileFlow().handOver(good);  // unquoted: loses a character at each end
        QVERIFY(k.boxes.isEmpty());
        QCOMPARE(k.window->fileFlow().moduleFileName(), QString("untitled.qze"));
        QVERIFY(k.ctx.document.edit("Speed", qv::SongChange::speeds(),
                                    [](qv::Song& s) { s.speedEven = 9; }));
        k.answer = QMessageBox::Cancel;
        k.window->fileFlow().handOver("\"" + good + "\"");
        QCOMPARE(k.boxes.size(), 1);
        QCOMPARE(k.boxes[0].caption, QString("Warning"));
        QCOMPARE(k.window->fileFlow().moduleFileName(), QString("untitled.qze"));
        k.answer = QMessageBox::Discard;
        k.window->fileFlow().handOver("\"" + good + "\"");
        QCOMPARE(k.window->fileFlow().moduleFileName(), good);
        k.window->fileFlow().newModule();
        k.window->fileFlow().handOver("\"" + good + "\"");
        QCOMPARE(k.boxes.size(), 2);
        QCOMPARE(k.window->fileFlow().moduleFileName(), good);
    }

    void patternControls() {
        Fixture f;
        auto* len = f.find<QSpinBox>("UpDownPtnLen");
        auto* expand = f.find<QAction>("PatternExpand");
        auto* shrink = f.find<QAction>("PatternShrink");
        len->setValue(129);
        QVERIFY(!expand->isEnabled());
        QVERIFY(shrink->isEnabled());
        len->setValue(1);
        QVERIFY(expand->isEnabled());
        QVERIFY(!shrink->isEnabled());
        len->setValue(16);
        f.ctx.view.cursorRow = 15;
        len->setValue(8);
        QCOMPARE(f.ctx.view.cursorRow, 7);
        expand->trigger();
        QCOMPARE(f.ctx.song->patterns[0].length, 16);
        QCOMPARE(len->value(), 16);
        shrink->trigger();
        QCOMPARE(len->value(), 8);
        // The pattern number goes into the order entry at the cursor.
        f.find<QSpinBox>("UpDownPtn")->setValue(3);
        QCOMPARE(int(f.ctx.song->order.entries[0].pattern), 3);
        QCOMPARE(len->value(), 64);
    }

    void playingKeepsSongSpeeds() {
        Fixture f;
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->SpeedButtonPlayAllClick();
        auto* stop = f.find<QToolButton>("SpeedButtonStop");
        QVERIFY(stop->isEnabled());
        QVERIFY(!f.find<QToolButton>("SpeedButtonPlayAll")->isEnabled());
        QVERIFY(!f.find<QToolButton>("SpeedButtonReset")->isEnabled());
        f.find<QSpinBox>("UpDownSpdEven")->setValue(9);
        QCOMPARE(f.ctx.song->speedEven, 3);
        // The follower moves the cursor along with the Player.
        QTRY_VERIFY_WITH_TIMEOUT(f.ctx.view.cursorRow > 0, 3000);
        f.window->SpeedButtonStopClick();
        QVERIFY(!stop->isEnabled());
        QCOMPARE(f.find<QSpinBox>("UpDownSpdEven")->value(), 3);
        QVERIFY(!f.ctx.player.isPlaying());
    }

    // A narrow window puts the time display under the toolbar's buttons
    // instead of letting the texts run into each other.
    void toolbarTextsNeverOverlap() {
        Fixture f;
        f.window->setMinimumSize(1, 1);  // as a window manager may force it
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        auto* toolbar = f.find<QWidget>("PanelToolbar");
        for (int width : {640, 760, 1300}) {
            f.window->resize(width, 600);
            QTRY_COMPARE(toolbar->width(), width);
            QCoreApplication::processEvents();
            QList<QRect> boxes;
            for (QWidget* w : toolbar->findChildren<QWidget*>()) {
                if (!w->isVisible() || (!qobject_cast<QToolButton*>(w) && !qobject_cast<QLabel*>(w))) continue;
                const QRect r(w->mapTo(toolbar, QPoint(0, 0)), w->size());
                QVERIFY2(r.right() < width, qPrintable(w->objectName() + " beyond the edge"));
                for (const QRect& other : boxes)
                    QVERIFY2(!r.intersects(other), qPrintable(QString("overlap at width %1").arg(width)));
                boxes.append(r);
            }
            QVERIFY(boxes.size() >= 13);
        }
    }

    // Follow song off: the cursor moves and notes go in while the song plays
    // on elsewhere; the view marks the playing row.
    void followSongOff() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.ctx.song->order.length = 2;
        f.ctx.song->order.entries[1].pattern = 1;
        QVERIFY(f.ctx.audio.open(0, 0));
        auto* follow = f.find<QToolButton>("SpeedButtonFollowSong");
        QVERIFY(follow && follow->isChecked());
        auto* scroll = f.find<QWidget>("ScrollBoxPtn");
        QTest::keyClick(scroll, Qt::Key_ScrollLock);  // the default layout's key
        QVERIFY(!follow->isChecked());
        QVERIFY(!f.window->patternInput().options.followSong);
        f.window->SpeedButtonPlayPtnClick();  // pattern 0 in a loop
        QTRY_VERIFY_WITH_TIMEOUT(f.ctx.player.position().row > 1, 3000);
        // To the next order position (pattern 1) and down two rows, while
        // the Player stays in pattern 0.
        QTest::keyClick(scroll, Qt::Key_PageDown, Qt::ControlModifier);
        QTest::keyClick(scroll, Qt::Key_Down);
        QTest::keyClick(scroll, Qt::Key_Down);
        QCOMPARE(f.ctx.view.orderCursor, 1);
        QCOMPARE(f.ctx.view.currentPattern, 1);
        QCOMPARE(f.ctx.view.cursorRow, 2);
        QTest::keyClick(scroll, Qt::Key_Q);  // C-5 with the octave at 4
        QTest::keyClick(scroll, Qt::Key_W);
        QVERIFY(f.ctx.player.isPlaying());
        QCOMPARE(f.ctx.player.position().orderPosition, 0);
        QVERIFY(f.ctx.song->patterns[1].rows[2][0].hasNote());
        QVERIFY(f.ctx.song->patterns[1].rows[3][0].hasNote());
        QCOMPARE(f.ctx.view.cursorRow, 4);  // the auto step moved on
        QTest::qWait(100);
        QCOMPARE(f.ctx.view.cursorRow, 4);  // the follower left it there
        QCOMPARE(f.find<qv::PatternView>("PaintBoxPtn")->playingRow().first, 0);
        // Back on: the cursor follows the Player again.
        QTest::keyClick(scroll, Qt::Key_ScrollLock);
        QVERIFY(follow->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(f.ctx.view.orderCursor, 0, 3000);
        f.window->SpeedButtonStopClick();
        QCOMPARE(f.find<qv::PatternView>("PaintBoxPtn")->playingRow().first, -1);
    }

    // Without a sound card the song still plays at its pace, silently, and the
    // status line says once why there is no sound.
    void playsSilentlyWithoutACard() {
        qv::NullAudioDevice::Options missing;
        missing.failOpen = true;
        Fixture f(missing);
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->checkSoundOutput();
        QCOMPARE(f.window->statusBar()->currentMessage(),
                 QString("No sound output: no audio device present"));
        f.window->SpeedButtonPlayAllClick();
        QTRY_VERIFY_WITH_TIMEOUT(f.ctx.view.cursorRow > 2, 3000);
        f.window->statusBar()->clearMessage();
        f.window->checkSoundOutput();
        QVERIFY(f.window->statusBar()->currentMessage().isEmpty());
        f.window->SpeedButtonStopClick();
        QVERIFY(!f.ctx.player.isPlaying());
    }

    // A module named relative to the working folder is remembered by its
    // absolute path; a folder given as a module says so.
    void modulePathsAreAbsoluteAndFoldersNamed() {
        QTemporaryDir dir;
        Fixture f;
        QVERIFY(f.window->fileFlow().saveModuleTo(dir.filePath("demo.qze")));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        QCOMPARE(f.window->fileFlow().openByName("demo.qze"), int(qv::kModuleLoaded));
        QVERIFY(f.window->fileFlow().saveModuleTo("demo.qze"));
        QVERIFY(QDir::setCurrent(before));
        const QString absolute = QDir(dir.path()).filePath("demo.qze");
        QCOMPARE(f.window->fileFlow().moduleFileName(), absolute);
        QCOMPARE(f.window->fileFlow().recentCaption(0), "&0: " + absolute);
        QCOMPARE(f.window->fileFlow().recentCaption(1), QString("&1: none"));
        f.window->storeSettings();
        QCOMPARE(f.ctx.settings.recentNames[0], "&0: " + absolute);

        QCOMPARE(f.window->fileFlow().openByName(dir.path()), int(qv::kModuleIsFolder));
        QCOMPARE(f.boxes.last().text, "File '" + dir.path() + "' is a folder!");
        QCOMPARE(f.window->fileFlow().moduleFileName(), absolute);
    }

    // When the card returns (tried at each Play and every few seconds), the
    // sound comes back and the message goes.
    void soundComesBackWhenTheCardReturns() {
        qv::NullAudioDevice::Options missing;
        missing.failOpen = true;
        Fixture f(missing);
        auto& card = static_cast<qv::NullAudioDevice&>(f.ctx.audioDevice->card());
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->checkSoundOutput();
        QVERIFY(f.window->statusBar()->currentMessage().startsWith("No sound output"));
        card.setFailOpen(false);
        f.window->SpeedButtonPlayAllClick();
        QVERIFY(!f.ctx.audioDevice->silent());
        QVERIFY(f.window->statusBar()->currentMessage().isEmpty());
        f.window->SpeedButtonStopClick();

        // The server goes away while the program runs, then returns.
        card.setFailOpen(true);
        card.setFailed(true);
        QTRY_VERIFY_WITH_TIMEOUT(f.window->statusBar()->currentMessage().startsWith("No sound output"), 3000);
        card.setFailOpen(false);
        QTRY_VERIFY_WITH_TIMEOUT(f.window->statusBar()->currentMessage().isEmpty(), 8000);
        QVERIFY(!f.ctx.audioDevice->silent());
    }

    // Losing activation forgets held keys; on the Instruments page it also
    // ends every audition note (a release elsewhere never reaches us).
    void deactivationReleasesKeysAndAudition() {
        Fixture f;
        f.ctx.layout.loadDefault();
        f.ctx.layout.keyDown(0x5A);  // Z held
        QVERIFY(f.ctx.layout.keyState(0x5A) != 0);
        f.window->applicationDeactivated();
        QCOMPARE(f.ctx.layout.keyState(0x5A), 0);

        auto* pages = f.find<QTabWidget>("PageControlMain");
        QVERIFY(pages);
        QVERIFY(f.ctx.audition.auditionStart(0x5A, 48, true));
        f.window->applicationDeactivated();  // Patterns page: the note goes on
        QVERIFY(f.ctx.audition.voiceNote(0) == 48 || f.ctx.audition.voiceNote(1) == 48 ||
                f.ctx.audition.voiceNote(2) == 48);
        pages->setCurrentWidget(f.find<QWidget>("TabSheetIns"));
        f.window->applicationDeactivated();
        for (int v = 0; v < 3; ++v) QCOMPARE(f.ctx.audition.voiceNote(v), -1);
    }

    void editorWiring() {
        Fixture f;
        qv::PatternInput& in = f.window->patternInput();
        f.find<QSpinBox>("UpDownOctave")->setValue(6);
        QCOMPARE(in.options.octave, 6);
        emit in.octaveChanged(2);
        QCOMPARE(f.find<QSpinBox>("UpDownOctave")->value(), 2);
        f.find<QToolButton>("SpeedButtonAVol")->click();
        QVERIFY(in.options.autoVolumeOn);
        emit in.autoStepChanged(true, 4);
        QCOMPARE(in.options.autoStep(), 4);
        f.find<QToolButton>("SpeedButtonEditSong")->click();
        QVERIFY(in.options.editSong);
        // The pattern view, its header and the order grid are the real ones.
        QCOMPARE(QString(f.find<QWidget>("PaintBoxPtn")->metaObject()->className()),
                 QString("qv::PatternView"));
        QCOMPARE(QString(f.find<QWidget>("PanelPtnHeader")->metaObject()->className()),
                 QString("qv::PatternHeader"));
        QCOMPARE(QString(f.find<QWidget>("StringGridOrd")->metaObject()->className()),
                 QString("qv::OrderGrid"));
        // The pattern step request moves the pattern number and the order entry.
        emit in.patternStepRequested(1);
        QCOMPARE(f.find<QSpinBox>("UpDownPtn")->value(), 1);
        QCOMPARE(int(f.ctx.song->order.entries[0].pattern), 1);
    }

    void headerScrollsWithTheView() {
        Fixture f;
        f.window->resize(560, 480);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        auto* scroll = f.find<QScrollArea>("ScrollBoxPtn");
        auto* view = f.find<qv::PatternView>("PaintBoxPtn");
        auto* header = f.find<qv::PatternHeader>("PanelPtnHeader");
        QScrollBar* bar = scroll->horizontalScrollBar();
        // A font whose line is wider than the window.
        f.ctx.settings.patternFontSize = 24;
        view->applyFont();
        QTRY_VERIFY(bar->maximum() > 0);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(scroll));
        // Every "M" stands over its channel's columns, scrolled or not.
        auto muteOverChannel = [&](int c) {
            const int buttonLeft = header->button(1 + 3 * c)->mapTo(f.window.get(), QPoint(0, 0)).x();
            const int columnLeft = view->mapTo(f.window.get(), QPoint((3 + 14 * c) * view->charWidth(), 0)).x();
            return std::abs(buttonLeft - columnLeft) <= view->charWidth();
        };
        QVERIFY(muteOverChannel(1));
        // Tab walks to channel F, which comes into sight with its buttons.
        for (int i = 0; i < 5; ++i) QTest::keyClick(scroll, Qt::Key_Tab);
        QCOMPARE(f.ctx.view.cursorColumn / 8, 5);
        QVERIFY(bar->value() > 0);
        const int channelRight = (3 + 14 * 6) * view->charWidth();
        const int shownRight = bar->value() + scroll->viewport()->width();
        QVERIFY2(shownRight >= channelRight, qPrintable(QString("%1 < %2").arg(shownRight).arg(channelRight)));
        QVERIFY(muteOverChannel(5));
        const QPoint muteF = header->button(1 + 3 * 5)->mapTo(scroll->viewport(), QPoint(2, 2));
        QVERIFY(scroll->viewport()->rect().contains(muteF));
        // Back to channel A: the row numbers are shown again.
        for (int i = 0; i < 5; ++i) QTest::keyClick(scroll, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.ctx.view.cursorColumn / 8, 0);
        QCOMPARE(bar->value(), 0);
        // A muted channel is drawn dimmed.
        header->muteChannel(2);
        QCOMPARE(view->mutedChannels(), uint8_t(0b100));
    }

    void waveRenderCancel() {
        QTemporaryDir dir;
        Fixture f;
        // A long song: 256 entries of 256 rows at speed 15.
        f.ctx.song->order.length = 256;
        f.ctx.song->patterns[0].length = 256;
        f.ctx.song->speedEven = f.ctx.song->speedOdd = 15;
        const QString wav = dir.filePath("long.wav");
        bool sawDialog = false;
        QTimer::singleShot(100, [&] {
            auto* dialog = f.window->findChild<QDialog*>("FormRenderWav");
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), QString("Render to WAV file"));
            QVERIFY(!(dialog->windowFlags() & Qt::WindowCloseButtonHint));
            auto* button = dialog->findChild<QPushButton*>("ButtonCancel");
            QCOMPARE(button->text(), QString("Cancel"));
            sawDialog = true;
            button->click();
        });
        QElapsedTimer clock;
        clock.start();
        f.window->exportCommands().exportWaveTo(wav, true);
        QVERIFY(sawDialog);
        QVERIFY(clock.elapsed() < 20000);
        QVERIFY(f.boxes.isEmpty());
        const qint64 full = 44 + 2 * qint64(882) * (256 * 256 * 15 + 150);
        QVERIFY(QFileInfo(wav).size() > 44);
        QVERIFY(QFileInfo(wav).size() < full);
    }

    void closeQuery() {
        Fixture f;
        f.window->fileFlow().askOnClose = true;
        f.window->show();
        QVERIFY(f.ctx.document.edit("Speed", qv::SongChange::speeds(),
                                    [](qv::Song& s) { s.speedEven = 9; }));
        f.answer = QMessageBox::Cancel;
        QVERIFY(!f.window->close());
        QCOMPARE(f.boxes.last().text, QString("Save changes to untitled.qze?"));
        QCOMPARE(f.boxes.last().caption, QString("Exit confirm"));
        QVERIFY(f.window->isVisible());
        f.answer = QMessageBox::Discard;
        QVERIFY(f.window->close());
        // Without unsaved changes the window closes without a question.
        Fixture g;
        g.window->fileFlow().askOnClose = true;
        g.window->show();
        QVERIFY(g.window->close());
        QVERIFY(g.boxes.isEmpty());
    }

    void exportsAndImport() {
        QTemporaryDir dir;
        Fixture f;
        QVERIFY(f.ctx.audio.open(0, 0));
        f.window->fileFlow().addRecent("x");
        // Register dumps and VGM with the stream running.
        const QString qzd = dir.filePath("a.qzd");
        QVERIFY(f.window->exportCommands().exportRegistersTo(qzd, false));
        QVERIFY(QFileInfo(qzd).size() > 4);
        QVERIFY(f.window->exportCommands().exportRegistersTo(dir.filePath("b.qzd"), true));
        QVERIFY(f.window->exportCommands().exportVgmTo(dir.filePath("c.vgm")));
        QCOMPARE(f.ctx.settings.pathExport, dir.path() + "/");
        QVERIFY(f.boxes.isEmpty());
        QVERIFY(!f.window->exportCommands().exportVgmTo(dir.filePath("no/c.vgm")));
        QCOMPARE(f.boxes.last().caption, QString("Error"));
        QVERIFY(f.boxes.last().text.contains(dir.filePath("no/c.vgm")));
        QVERIFY(!f.window->exportCommands().exportRegistersTo(dir.filePath("no/a.qzd"), false));
        QVERIFY(f.boxes.last().text.contains(dir.filePath("no/a.qzd")));

        // Wave: a new song is 192 frames, plus 150 of ring-out. The stream is
        // closed around the render and open again afterwards.
        f.ctx.chips.setChannelMask(0x3D);
        const QString wav = dir.filePath("d.wav");
        f.dialogResult = wav;
        f.window->exportCommands().ExportWaveClick(false);
        QVERIFY(f.window->exportCommands().lastExportOk());
        QCOMPARE(QFileInfo(wav).size(), qint64(44 + 2 * 882 * (192 + 150)));
        QVERIFY(f.ctx.audio.isOpen());
        QCOMPARE(int(f.ctx.chips.channelMask()), 0x3D);
        QVERIFY(!f.window->exportCommands().exportWaveTo(dir.filePath("no/d.wav"), true));
        QCOMPARE(f.boxes.last().caption, QString("Error"));
        QVERIFY(f.ctx.audio.isOpen());

        // The sound extension's VGM and the six per-channel wave files.
        QVERIFY(f.window->exportCommands().exportVgm2203To(dir.filePath("e.2203.vgm")));
        QVERIFY(QFileInfo(dir.filePath("e.2203.vgm")).size() > 0x80);
        f.dialogResult = dir.filePath("s.wav");
        f.window->exportCommands().ExportWaveChannelsClick();
        QVERIFY(f.window->exportCommands().lastExportOk());
        for (int c = 1; c <= 6; ++c)
            QCOMPARE(QFileInfo(dir.filePath(QString("s.ch%1.wav").arg(c))).size(), qint64(44 + 2 * 882 * (192 + 150)));
        QVERIFY(!QFileInfo::exists(dir.filePath("s.wav")));
        QVERIFY(f.ctx.audio.isOpen());

        // MOD import: a failure names the file; the song stays.
        const QString mod = dir.filePath("bad.mod");
        {
            QFile file(mod);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(700, '\0'));
        }
        f.ctx.song->setTrackName("still");
        f.dialogResult = mod;
        f.window->fileFlow().ImportMODClick();
        QVERIFY(f.boxes.last().text.contains(mod));
        QCOMPARE(f.ctx.song->trackNameText(), std::string("still"));
        QCOMPARE(f.ctx.settings.pathImport, dir.path() + "/");
    }
};

QTEST_MAIN(TestFormMain)
#include "tst_form_main.moc"
