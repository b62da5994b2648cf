// The "Advanced transpose" dialog and the transpose command that opens it:
// an amount in semitones, the range (selected block or the whole track), the
// channels of the whole track (all or the cursor's) and the instrument
// filter. "Check" only reports whether some note would leave the note range
// and opens the dialog again; "OK" transposes.
#pragma once

#include <QDialog>
#include <functional>

#include "app/app_context.h"
#include "dialogs/block_box.h"

class QPushButton;
class QRadioButton;
class QSpinBox;

namespace qv {

struct TransposeSettings {
    int amount = 0;                  // semitones, -95..95
    bool wholeTrack = false;         // else the selected block
    bool currentChannel = false;     // whole track: the cursor's channel only
    bool currentInstrument = false;  // only notes of the instrument field's instrument
};

class TFormTranspose : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxAmount = 95;

    explicit TFormTranspose(QWidget* parent = nullptr);

    // Shows the dialog modally (or runs the exec hook instead) and returns
    // the dialog code.
    int execFor();
    // Replaces the modal loop, for tests: it gets the dialog and returns the
    // dialog code after pressing its buttons.
    std::function<int(TFormTranspose&)> execHook;

    // Results of the last opening.
    bool wasAccepted() const { return accepted_; }
    bool checkOnly() const { return checkOnly_; }
    TransposeSettings settings() const { return settings_; }
    int amount() const { return settings_.amount; }

    // The controls' handlers, callable as a click would.
    void ButtonOctUpClick();    // "- Oct"
    void ButtonOctDownClick();  // "+ Oct"
    void ButtonCheckClick();
    void ButtonOKClick();
    void ButtonCancelClick();
    void RadioButtonClick();
    void UpDownAmountChange(int value);
    // Sets the amount through the up-down control (held within -95..95).
    void setAmount(int value);
    // Sets the radio buttons as clicks would.
    void setChoices(bool wholeTrack, bool currentChannel, bool currentInstrument);

    void reject() override;  // Esc acts as Cancel

private:
    void readChoices();

    QSpinBox* upDownAmount_ = nullptr;
    QRadioButton* rangeBlock_ = nullptr;
    QRadioButton* rangeTrack_ = nullptr;
    QRadioButton* chnAll_ = nullptr;
    QRadioButton* chnCur_ = nullptr;
    QRadioButton* insAll_ = nullptr;
    QRadioButton* insCur_ = nullptr;
    TransposeSettings settings_;
    bool accepted_ = false;
    bool checkOnly_ = false;
};

// What a transpose run did: in check mode whether every note stays in range
// and the box to show; in apply mode whether anything was transposed.
struct TransposeResult {
    bool changed = false;
    bool inRange = true;
    QString text;     // check mode: the box text
    QString caption;  // check mode: the box caption
};

// Runs the transpose on the Song under the Player's lock. The selected block
// is the view's selection in the current pattern, with the instrument in
// force found back from the order cursor; the whole track is every pattern of
// the order list, once each in pattern number order, with the instrument in
// force found back from the pattern's first position in the list.
// instrumentFilter is the instrument field's number, used only with
// "Current instrument". A selection without cells checks as in range.
TransposeResult runTranspose(AppContext& ctx, const TransposeSettings& settings, int instrumentFilter,
                             bool checkOnly);

// The Block / pattern pop-up transpose command: opens the dialog, repeating
// while the user checks (showing the box after each check), then transposes.
// Does nothing while the Player runs or no pattern is selected. Returns true
// when the pattern view needs a redraw.
bool blockTransposeCommand(AppContext& ctx, TFormTranspose& form, int instrumentField,
                           const MessageBoxFn& box);

}  // namespace qv
