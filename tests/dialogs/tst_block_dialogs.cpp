// The block operation dialogs and their commands: the transpose check loop
// and its boxes, whole-track transpose, the scale track mapping and lock,
// the duplicate count, and the clean-up questions.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>
#include <memory>

#include "app/app_context.h"
#include "dialogs/block_commands.h"

namespace {

using qv::AppContext;

std::unique_ptr<AppContext> makeContext() {
    auto ctx = std::make_unique<AppContext>(std::make_unique<qv::NullAudioDevice>());
    ctx->view.selection = {0, 0, 6, 16};
    return ctx;
}

qv::Cell& cell(AppContext& ctx, int pattern, int row, int channel) {
    return ctx.song->patterns[pattern].rows[row][channel];
}

struct Box {
    QStringList texts, captions;
    qv::MessageBoxFn fn() {
        return [this](const QString& t, const QString& c) {
            texts << t;
            captions << c;
        };
    }
};

template <class T>
T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found) qWarning("no control %s", name);
    return found;
}

}  // namespace

class TestBlockDialogs : public QObject {
    Q_OBJECT
private slots:
    void transposeDialogControls() {
        qv::TFormTranspose form;
        QCOMPARE(form.windowTitle(), QString("Advanced transpose"));
        QCOMPARE(child<QPushButton>(form, "ButtonOctUp")->text(), QString("- Oct"));
        QCOMPARE(child<QPushButton>(form, "ButtonOctDown")->text(), QString("+ Oct"));
        QCOMPARE(child<QPushButton>(form, "ButtonCheck")->text(), QString("Check"));
        auto* upDown = child<QSpinBox>(form, "UpDownAmount");
        QCOMPARE(upDown->minimum(), -95);
        QCOMPARE(upDown->maximum(), 95);
        QCOMPARE(upDown->value(), 0);
        QCOMPARE(child<QLineEdit>(form, "EditAmount")->text(), QString("0"));
        QVERIFY(child<QRadioButton>(form, "RadioButtonRangeBlock")->isChecked());
        QVERIFY(child<QRadioButton>(form, "RadioButtonChnAll")->isChecked());
        QVERIFY(child<QRadioButton>(form, "RadioButtonInsAll")->isChecked());
        QVERIFY(!child<QRadioButton>(form, "RadioButtonChnAll")->isEnabled());
        QVERIFY(!child<QRadioButton>(form, "RadioButtonChnCur")->isEnabled());
        QCOMPARE(child<QRadioButton>(form, "RadioButtonRangeTrack")->text(), QString("Whole track"));
        QVERIFY(child<QWidget>(form, "PanelRange") && child<QWidget>(form, "PanelChn") &&
                child<QWidget>(form, "PanelIns"));
        // The octave buttons go through the up-down: held within -95..95.
        child<QPushButton>(form, "ButtonOctDown")->click();
        QCOMPARE(form.amount(), 12);
        form.setAmount(90);
        form.ButtonOctDownClick();
        QCOMPARE(form.amount(), 95);
        form.setAmount(-90);
        form.ButtonOctUpClick();
        QCOMPARE(form.amount(), -95);
        QCOMPARE(child<QLineEdit>(form, "EditAmount")->text(), QString("-95"));
        // "Whole track" enables the channel choice.
        child<QRadioButton>(form, "RadioButtonRangeTrack")->click();
        QVERIFY(child<QRadioButton>(form, "RadioButtonChnCur")->isEnabled());
        QVERIFY(form.settings().wholeTrack);
        child<QRadioButton>(form, "RadioButtonRangeBlock")->click();
        QVERIFY(!child<QRadioButton>(form, "RadioButtonChnCur")->isEnabled());
        form.setAmount(3);
        form.show();
        form.grab().save("/tmp/form_transpose.png");
        child<QPushButton>(form, "ButtonCancel")->click();
        QVERIFY(!form.wasAccepted());
        QVERIFY(!form.checkOnly());
        QCOMPARE(form.amount(), 3);  // kept for the next opening
    }

    void checkReopensTheDialogThenOkApplies() {
        auto ctx = makeContext();
        cell(*ctx, 0, 2, 1).setPitch(36);
        qv::TFormTranspose form;
        Box box;
        int openings = 0;
        int amountSeen = 0;
        form.execHook = [&](qv::TFormTranspose& f) {
            ++openings;
            if (openings == 1) {
                f.setAmount(5);
                f.ButtonCheckClick();
            } else {
                amountSeen = f.amount();
                f.ButtonOKClick();
            }
            return 1;
        };
        QVERIFY(qv::blockTransposeCommand(*ctx, form, 1, box.fn()));
        QCOMPARE(openings, 2);
        QCOMPARE(amountSeen, 5);  // settings intact after the check
        QCOMPARE(box.texts, QStringList("None of notes is out of range.\n"));
        QCOMPARE(box.captions, QStringList("OK"));
        QCOMPARE(cell(*ctx, 0, 2, 1).pitch(), 41);

        // Out of range: the warning, nothing changed, and Cancel ends it.
        openings = 0;
        form.execHook = [&](qv::TFormTranspose& f) {
            if (++openings == 1) {
                f.setAmount(60);
                f.ButtonCheckClick();
            } else {
                f.ButtonCancelClick();
            }
            return 0;
        };
        QVERIFY(!qv::blockTransposeCommand(*ctx, form, 1, box.fn()));
        QCOMPARE(openings, 2);
        QCOMPARE(box.texts.last(), QString("Some notes is out of range!\n"));
        QCOMPARE(box.captions.last(), QString("Warning"));
        QCOMPARE(cell(*ctx, 0, 2, 1).pitch(), 41);
    }

    void wholeTrackCurrentChannelOncePerPattern() {
        auto ctx = makeContext();
        auto& order = ctx->song->order;
        order.length = 3;
        order.entries[0].pattern = 0;
        order.entries[1].pattern = 1;
        order.entries[2].pattern = 0;  // listed twice
        cell(*ctx, 0, 0, 2).setPitch(20);
        cell(*ctx, 0, 40, 2).setPitch(30);  // outside the selection, inside the length
        cell(*ctx, 0, 0, 3).setPitch(20);
        cell(*ctx, 1, 5, 2).setPitch(50);
        cell(*ctx, 2, 0, 2).setPitch(20);   // not in the order list
        ctx->view.cursorColumn = 2 * 8 + 1;  // channel 2
        ctx->view.orderCursor = 1;
        ctx->view.currentPattern = 1;
        qv::TransposeSettings s{2, true, true, false};
        const auto result = qv::runTranspose(*ctx, s, 0, false);
        QVERIFY(result.changed);
        QVERIFY(result.text.isEmpty());
        QCOMPARE(cell(*ctx, 0, 0, 2).pitch(), 22);
        QCOMPARE(cell(*ctx, 0, 40, 2).pitch(), 32);
        QCOMPARE(cell(*ctx, 0, 0, 3).pitch(), 20);  // other channel
        QCOMPARE(cell(*ctx, 1, 5, 2).pitch(), 52);
        QCOMPARE(cell(*ctx, 2, 0, 2).pitch(), 20);  // unlisted pattern

        // All channels, only the notes of instrument 3.
        cell(*ctx, 0, 0, 3).instrument = 3;
        qv::TransposeSettings f{-1, true, false, true};
        qv::runTranspose(*ctx, f, 3, false);
        QCOMPARE(cell(*ctx, 0, 0, 3).pitch(), 19);
        QCOMPARE(cell(*ctx, 0, 0, 2).pitch(), 22);
        // Check mode stops at the first pattern out of range and changes nothing.
        qv::TransposeSettings far{-40, true, false, false};
        const auto check = qv::runTranspose(*ctx, far, 0, true);
        QVERIFY(!check.inRange);
        QCOMPARE(check.caption, QString("Warning"));
        QCOMPARE(cell(*ctx, 1, 5, 2).pitch(), 52);
    }

    void wholeTrackInstrumentContextFromFirstPosition() {
        // Pattern 2 plays at position 2, after pattern 1 sets instrument 6:
        // its notes without an instrument are instrument 6's, wherever the
        // order cursor stands (here on pattern 0, which sets instrument 4).
        auto ctx = makeContext();
        auto& order = ctx->song->order;
        order.length = 3;
        order.entries[0].pattern = 0;
        order.entries[1].pattern = 1;
        order.entries[2].pattern = 2;
        cell(*ctx, 0, 0, 0).instrument = 4;
        cell(*ctx, 0, 0, 0).setPitch(10);
        cell(*ctx, 1, 0, 0).instrument = 6;
        cell(*ctx, 1, 0, 0).setPitch(30);
        cell(*ctx, 2, 3, 0).setPitch(20);
        ctx->view.orderCursor = 0;
        qv::TransposeSettings s{1, true, false, true};
        QVERIFY(qv::runTranspose(*ctx, s, 6, false).changed);
        QCOMPARE(cell(*ctx, 0, 0, 0).pitch(), 10);
        QCOMPARE(cell(*ctx, 1, 0, 0).pitch(), 31);
        QCOMPARE(cell(*ctx, 2, 3, 0).pitch(), 21);
        qv::runTranspose(*ctx, s, 4, false);
        QCOMPARE(cell(*ctx, 0, 0, 0).pitch(), 11);
        QCOMPARE(cell(*ctx, 2, 3, 0).pitch(), 21);
    }

    void checkWithoutSelectionIsInRange() {
        auto ctx = makeContext();
        ctx->view.selection = {};
        cell(*ctx, 0, 0, 0).setPitch(95);
        qv::TransposeSettings s{12, false, false, false};
        const auto check = qv::runTranspose(*ctx, s, 0, true);
        QVERIFY(check.inRange);
        QCOMPARE(check.text, QString("None of notes is out of range.\n"));
        QCOMPARE(check.caption, QString("OK"));
        QVERIFY(!qv::runTranspose(*ctx, s, 0, false).changed);
        // A selection over the note does report it.
        ctx->view.selection = {0, 0, 1, 1};
        QVERIFY(!qv::runTranspose(*ctx, s, 0, true).inRange);
        QCOMPARE(cell(*ctx, 0, 0, 0).pitch(), 95);
    }

    void blockCommandsRefusedWhilePlayingOrWithoutPattern() {
        auto ctx = makeContext();
        qv::TFormTranspose transpose;
        qv::TFormDuplicate duplicate;
        qv::TFormScale scale;
        int opened = 0;
        transpose.execHook = [&](qv::TFormTranspose&) { return ++opened; };
        duplicate.execHook = [&](qv::TFormDuplicate&) { return ++opened; };
        scale.execHook = [&](qv::TFormScale&) { return ++opened; };
        ctx->view.noPatternSelected = true;
        QVERIFY(!qv::blockTransposeCommand(*ctx, transpose, 1, {}));
        QVERIFY(!qv::blockDuplicateCommand(*ctx, duplicate));
        QVERIFY(!qv::blockVolumeScaleCommand(*ctx, scale));
        ctx->view.noPatternSelected = false;
        QVERIFY(ctx->chips.create(qv::kSampleRate, qv::kChipClock, 128));
        {
            std::lock_guard<std::mutex> lock(ctx->player.songMutex());
            ctx->player.songLengthFrames();
        }
        ctx->player.start(0, 0, false, false, false, -1);
        QVERIFY(!qv::blockTransposeCommand(*ctx, transpose, 1, {}));
        QVERIFY(!qv::blockEffectScaleCommand(*ctx, scale));
        QCOMPARE(opened, 0);
        ctx->player.stop();
        ctx->chips.destroy();
    }

    void scaleMappingAndLock() {
        QCOMPARE(qv::TFormScale::percentForPosition(0), 0);
        QCOMPARE(qv::TFormScale::percentForPosition(100), 100);
        QCOMPARE(qv::TFormScale::percentForPosition(101), 110);
        QCOMPARE(qv::TFormScale::percentForPosition(150), 600);
        QCOMPARE(qv::TFormScale::percentForPosition(190), 1000);
        qv::TFormScale form;
        auto* start = child<QSlider>(form, "TrackBarStart");
        auto* end = child<QSlider>(form, "TrackBarEnd");
        QCOMPARE(start->maximum(), 190);
        QCOMPARE(start->value(), 100);
        QCOMPARE(start->tickPosition(), QSlider::TicksBothSides);
        QCOMPARE(child<QLabel>(form, "LabelStart")->text(), QString("Start scale:"));
        QCOMPARE(child<QLabel>(form, "LabelEnd")->text(), QString("End scale:"));
        QCOMPARE(child<QLabel>(form, "LabelStartVal")->text(), QString("100%"));
        auto* lock = child<QCheckBox>(form, "CheckBoxLock");
        QCOMPARE(lock->text(), QString("Lock together"));
        QVERIFY(lock->isChecked());
        QVERIFY(!end->isEnabled());
        QCOMPARE(form.startPercent(), 100);
        QCOMPARE(form.endPercent(), 100);
        // Locked: the end follows the start.
        start->setValue(150);
        QCOMPARE(form.startPercent(), 600);
        QCOMPARE(end->value(), 150);
        QCOMPARE(form.endPercent(), 600);
        QCOMPARE(child<QLabel>(form, "LabelEndVal")->text(), QString("600%"));
        // Unlocked: both free.
        lock->click();
        QVERIFY(end->isEnabled());
        QVERIFY(child<QLabel>(form, "LabelEnd")->isEnabled());
        end->setValue(101);
        start->setValue(50);
        QCOMPARE(form.startPercent(), 50);
        QCOMPARE(form.endPercent(), 110);
        QCOMPARE(child<QLabel>(form, "LabelEndVal")->text(), QString("110%"));
        // Locking again moves the end to the start.
        lock->click();
        QCOMPARE(end->value(), 50);
        QVERIFY(!end->isEnabled());
        form.setWindowTitle("Volume scale");
        form.show();
        form.grab().save("/tmp/form_scale.png");
        form.hide();
    }

    void scaleCommandsApplyTheirPercents() {
        auto ctx = makeContext();
        cell(*ctx, 0, 0, 0).volume = 10;
        cell(*ctx, 0, 0, 1).effect = 3;
        cell(*ctx, 0, 0, 1).param = 40;
        qv::TFormScale form;
        QString caption;
        form.execHook = [&](qv::TFormScale& f) {
            caption = f.windowTitle();
            f.setStartPosition(110);  // 200 %
            f.ButtonOKClick();
            return 1;
        };
        ctx->view.selection = {0, 0, 2, 1};
        QVERIFY(qv::blockVolumeScaleCommand(*ctx, form));
        QCOMPARE(caption, QString("Volume scale"));
        QCOMPARE(int(cell(*ctx, 0, 0, 0).volume), 20);
        QVERIFY(qv::blockEffectScaleCommand(*ctx, form));
        QCOMPARE(caption, QString("Effect scale"));
        QCOMPARE(int(cell(*ctx, 0, 0, 1).param), 80);
        // Cancel changes nothing.
        form.execHook = [](qv::TFormScale& f) {
            f.ButtonCancelClick();
            return 0;
        };
        QVERIFY(!qv::blockVolumeScaleCommand(*ctx, form));
        QCOMPARE(int(cell(*ctx, 0, 0, 0).volume), 20);
    }

    void duplicateDialogAndCommand() {
        qv::TFormDuplicate form;
        QCOMPARE(form.windowTitle(), QString("Duplicate block"));
        auto* upDown = child<QSpinBox>(form, "UpDown1");
        QCOMPARE(upDown->minimum(), 1);
        QCOMPARE(upDown->maximum(), 256);
        QCOMPARE(child<QLineEdit>(form, "Edit1")->text(), QString("1"));
        QCOMPARE(child<QPushButton>(form, "Button1")->text(), QString("OK"));
        QCOMPARE(child<QPushButton>(form, "Button2")->text(), QString("Cancel"));
        QCOMPARE(form.times(), 1);
        form.show();
        form.grab().save("/tmp/form_duplicate.png");
        form.hide();

        auto ctx = makeContext();
        ctx->song->patterns[0].length = 10;
        for (int r = 0; r < 4; ++r) cell(*ctx, 0, r, 1).volume = static_cast<int8_t>(r + 1);
        ctx->view.selection = {1, 0, 1, 4};
        // Enter in the count acts as OK.
        form.execHook = [](qv::TFormDuplicate& f) {
            auto* edit = f.findChild<QLineEdit*>("Edit1");
            edit->selectAll();
            QTest::keyClicks(edit, "5");
            QTest::keyClick(edit, Qt::Key_Return);
            return 1;
        };
        QVERIFY(qv::blockDuplicateCommand(*ctx, form));
        QVERIFY(form.wasAccepted());
        QCOMPARE(form.times(), 5);
        const int expected[10] = {1, 2, 3, 4, 1, 2, 3, 4, 1, 2};
        for (int r = 0; r < 10; ++r) QCOMPARE(int(cell(*ctx, 0, r, 1).volume), expected[r]);
        QCOMPARE(int(cell(*ctx, 0, 10, 1).volume), 0);  // the length is the limit
        // The count stays for the next opening; Cancel does nothing.
        int timesSeen = 0;
        form.execHook = [&timesSeen](qv::TFormDuplicate& f) {
            timesSeen = f.times();
            f.Button2Click();
            return 0;
        };
        cell(*ctx, 0, 0, 1).volume = 9;
        QVERIFY(!qv::blockDuplicateCommand(*ctx, form));
        QCOMPARE(timesSeen, 5);
        QCOMPARE(int(cell(*ctx, 0, 4, 1).volume), 1);
    }

    void cleanupQuestions() {
        auto ctx = makeContext();
        ctx->song->instrument(1).FB = 3;
        ctx->song->instrument(4).FB = 4;
        ctx->song->instrument(6).FB = 5;
        cell(*ctx, 0, 0, 0).instrument = 1;
        cell(*ctx, 0, 1, 0).instrument = 6;
        QStringList asked;
        int refreshed = 0;
        auto answer = [&](bool yes) {
            return [&asked, yes](const QString& t, const QString& c) {
                asked << c + "|" + t;
                return yes;
            };
        };
        QCOMPARE(qv::cleanupInstrumentsCommand(*ctx, answer(true), [&] { ++refreshed; }), 1);
        QCOMPARE(asked, QStringList("Complete|1 unused instruments were removed.\nRearrange instruments by order?"));
        QVERIFY(ctx->song->instrumentIsFree(4));
        QCOMPARE(ctx->song->instrument(2).FB, 5);  // packed after the yes
        QCOMPARE(cell(*ctx, 0, 1, 0).instrument, 2);
        QVERIFY(refreshed >= 1);
        asked.clear();
        QCOMPARE(qv::cleanupInstrumentsCommand(*ctx, answer(true)), 0);  // nothing more to remove
        QVERIFY(asked.isEmpty());

        auto& order = ctx->song->order;
        order.length = 3;
        order.entries[0].pattern = 5;
        order.entries[1].pattern = 3;
        order.entries[2].pattern = 5;
        cell(*ctx, 5, 0, 0).volume = 7;
        cell(*ctx, 8, 0, 0).volume = 8;
        QVERIFY(!qv::rearrangePatternsCommand(*ctx, answer(false)));
        QCOMPARE(order.entries[0].pattern, 5);
        QCOMPARE(asked.last(), QString("Warning|All unused patterns will be deleted. Continue?"));
        QVERIFY(qv::rearrangePatternsCommand(*ctx, answer(true)));
        QCOMPARE(order.entries[0].pattern, 0);
        QCOMPARE(order.entries[1].pattern, 1);
        QCOMPARE(order.entries[2].pattern, 0);
        QCOMPARE(int(cell(*ctx, 0, 0, 0).volume), 7);
        QCOMPARE(int(cell(*ctx, 8, 0, 0).volume), 0);
        QCOMPARE(ctx->view.currentPattern, 0);
    }
};

QTEST_MAIN(TestBlockDialogs)
#include "tst_block_dialogs.moc"
