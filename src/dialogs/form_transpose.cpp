#include "dialogs/form_transpose.h"

#include <memory>

#include "dialogs/block_box.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qv {

namespace {

QWidget* makePanel(QWidget* parent, const char* name, QRadioButton*& first, const QString& firstText,
                   const char* firstName, QRadioButton*& second, const QString& secondText,
                   const char* secondName) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);
    first = new QRadioButton(firstText, panel);
    first->setObjectName(firstName);
    first->setChecked(true);
    second = new QRadioButton(secondText, panel);
    second->setObjectName(secondName);
    layout->addWidget(first);
    layout->addWidget(second);
    // Each panel is its own group of radio buttons.
    auto* group = new QButtonGroup(panel);
    group->addButton(first);
    group->addButton(second);
    return panel;
}

}  // namespace

TFormTranspose::TFormTranspose(QWidget* parent) : QDialog(parent) {
    auto* group = setUpBlockDialog(*this, "FormTranspose", "Advanced transpose");
    auto* rows = new QVBoxLayout(group);

    auto* top = new QHBoxLayout;
    auto* octUp = new QPushButton("- Oct", group);
    octUp->setObjectName("ButtonOctUp");
    octUp->setAutoDefault(false);
    upDownAmount_ = new QSpinBox(group);
    upDownAmount_->setObjectName("UpDownAmount");
    upDownAmount_->setRange(-kMaxAmount, kMaxAmount);
    upDownAmount_->setValue(0);
    if (auto* edit = upDownAmount_->findChild<QLineEdit*>()) edit->setObjectName("EditAmount");
    auto* octDown = new QPushButton("+ Oct", group);
    octDown->setObjectName("ButtonOctDown");
    octDown->setAutoDefault(false);
    auto* check = new QPushButton("Check", group);
    check->setObjectName("ButtonCheck");
    check->setAutoDefault(false);
    auto* ok = new QPushButton("OK", group);
    ok->setObjectName("ButtonOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", group);
    cancel->setObjectName("ButtonCancel");
    cancel->setAutoDefault(false);
    top->addWidget(octUp);
    top->addWidget(upDownAmount_);
    top->addWidget(octDown);
    top->addStretch();
    top->addWidget(check);
    top->addWidget(ok);
    top->addWidget(cancel);
    rows->addLayout(top);

    auto* panels = new QHBoxLayout;
    panels->addWidget(makePanel(group, "PanelRange", rangeBlock_, "Selected block", "RadioButtonRangeBlock",
                                rangeTrack_, "Whole track", "RadioButtonRangeTrack"));
    panels->addWidget(makePanel(group, "PanelChn", chnAll_, "All channels", "RadioButtonChnAll", chnCur_,
                                "Current channel", "RadioButtonChnCur"));
    panels->addWidget(makePanel(group, "PanelIns", insAll_, "All instruments", "RadioButtonInsAll", insCur_,
                                "Current instrument", "RadioButtonInsCur"));
    rows->addLayout(panels);
    chnAll_->setEnabled(false);
    chnCur_->setEnabled(false);

    connect(octUp, &QPushButton::clicked, this, &TFormTranspose::ButtonOctUpClick);
    connect(octDown, &QPushButton::clicked, this, &TFormTranspose::ButtonOctDownClick);
    connect(check, &QPushButton::clicked, this, &TFormTranspose::ButtonCheckClick);
    connect(ok, &QPushButton::clicked, this, &TFormTranspose::ButtonOKClick);
    connect(cancel, &QPushButton::clicked, this, &TFormTranspose::ButtonCancelClick);
    connect(upDownAmount_, &QSpinBox::valueChanged, this, &TFormTranspose::UpDownAmountChange);
    for (QRadioButton* r : {rangeBlock_, rangeTrack_, chnAll_, chnCur_, insAll_, insCur_})
        connect(r, &QRadioButton::clicked, this, &TFormTranspose::RadioButtonClick);

    setFixedSize(QSize(416, 104).expandedTo(sizeHint()));
}

int TFormTranspose::execFor() {
    accepted_ = false;
    checkOnly_ = false;
    return execHook ? execHook(*this) : exec();
}

void TFormTranspose::UpDownAmountChange(int value) { settings_.amount = value; }

void TFormTranspose::setAmount(int value) { upDownAmount_->setValue(value); }

void TFormTranspose::ButtonOctUpClick() { setAmount(upDownAmount_->value() - 12); }
void TFormTranspose::ButtonOctDownClick() { setAmount(upDownAmount_->value() + 12); }

void TFormTranspose::readChoices() {
    settings_.wholeTrack = rangeTrack_->isChecked();
    settings_.currentChannel = chnCur_->isChecked();
    settings_.currentInstrument = insCur_->isChecked();
}

void TFormTranspose::RadioButtonClick() {
    readChoices();
    chnAll_->setEnabled(settings_.wholeTrack);
    chnCur_->setEnabled(settings_.wholeTrack);
}

void TFormTranspose::setChoices(bool wholeTrack, bool currentChannel, bool currentInstrument) {
    (wholeTrack ? rangeTrack_ : rangeBlock_)->setChecked(true);
    (currentChannel ? chnCur_ : chnAll_)->setChecked(true);
    (currentInstrument ? insCur_ : insAll_)->setChecked(true);
    RadioButtonClick();
}

void TFormTranspose::ButtonCheckClick() {
    readChoices();
    accepted_ = true;
    checkOnly_ = true;
    done(QDialog::Accepted);
}

void TFormTranspose::ButtonOKClick() {
    readChoices();
    accepted_ = true;
    checkOnly_ = false;
    done(QDialog::Accepted);
}

void TFormTranspose::ButtonCancelClick() {
    accepted_ = false;
    checkOnly_ = false;
    done(QDialog::Rejected);
}

void TFormTranspose::reject() {
    accepted_ = false;
    checkOnly_ = false;
    QDialog::reject();
}

// ------------------------------------------------------------- the command

TransposeResult runTranspose(AppContext& ctx, const TransposeSettings& settings, int instrumentFilter,
                             bool checkOnly) {
    const int filter = settings.currentInstrument ? instrumentFilter : 0;
    TransposeResult result;
    // A check changes nothing and goes through no edit.
    auto run = [&](Song& song) {
        if (settings.wholeTrack) {
            // Each listed pattern once, its instrument context taken from
            // where it first plays: the instrument in force before its row 0
            // is the one the earlier positions leave behind.
            std::array<int, kPatterns> firstPosition;
            firstPosition.fill(-1);
            for (int i = song.order.length - 1; i >= 0; --i) firstPosition[song.order.entries[i].pattern] = i;
            const int channel = settings.currentChannel ? ctx.view.cursorChannel() : 0;
            const int width = settings.currentChannel ? 1 : kChannels;
            for (int p = 0; p < kPatterns; ++p) {
                if (firstPosition[p] < 0) continue;
                const Block block{p, channel, 0, width, song.patterns[p].length};
                const bool ok = transposeBlock(song, firstPosition[p], block, settings.amount, filter, checkOnly);
                if (checkOnly && !ok) {
                    result.inRange = false;
                    break;
                }
                result.changed = result.changed || ok;
            }
        } else {
            const Selection& sel = ctx.view.selection;
            Block block{ctx.view.currentPattern, sel.x, sel.y, sel.w, sel.h};
            Block clipped = block;
            // A selection that holds no cells has no notes to leave the range.
            if (clipBlock(song, clipped)) {
                const bool ok =
                    transposeBlock(song, ctx.view.orderCursor, block, settings.amount, filter, checkOnly);
                if (checkOnly)
                    result.inRange = ok;
                else
                    result.changed = ok;
            }
        }
    };
    if (checkOnly) {
        auto copy = std::make_unique<Song>();
        ctx.document.copySongInto(*copy);
        run(*copy);
    } else {
        const SongChange scope =
            settings.wholeTrack ? SongChange::allPatterns() : SongChange::cells(ctx.view.currentPattern);
        ctx.document.edit(settings.wholeTrack ? "Transpose track" : "Transpose block", scope, run);
    }
    if (checkOnly) {
        result.changed = false;
        result.text = result.inRange ? QStringLiteral("None of notes is out of range.\n")
                                     : QStringLiteral("Some notes is out of range!\n");
        result.caption = result.inRange ? QStringLiteral("OK") : QStringLiteral("Warning");
    }
    return result;
}

bool blockTransposeCommand(AppContext& ctx, TFormTranspose& form, int instrumentField,
                           const MessageBoxFn& box) {
    if (ctx.player.isPlaying() || ctx.view.noPatternSelected) return false;
    bool checkOnly = true;
    while (checkOnly) {
        ctx.layout.clearKeyState();
        form.execFor();
        checkOnly = form.checkOnly();
        if (!form.wasAccepted()) {
            if (checkOnly) continue;
            return false;
        }
        const TransposeResult result = runTranspose(ctx, form.settings(), instrumentField, checkOnly);
        if (checkOnly) {
            ctx.layout.clearKeyState();
            if (box) box(result.text, result.caption);
            continue;
        }
        return result.changed;
    }
    return false;
}

}  // namespace qv
