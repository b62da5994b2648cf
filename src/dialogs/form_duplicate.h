// The "Duplicate block" dialog (how many times the selected block is copied
// below itself) and the duplicate command.
#pragma once

#include <QDialog>
#include <functional>

#include "app/app_context.h"

class QSpinBox;

namespace qv {

class TFormDuplicate : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxTimes = 256;

    explicit TFormDuplicate(QWidget* parent = nullptr);

    // Shows the dialog modally (or runs the exec hook instead).
    int execFor();
    std::function<int(TFormDuplicate&)> execHook;

    bool wasAccepted() const { return accepted_; }
    int times() const { return times_; }

    void Button1Click();  // OK
    void Button2Click();  // Cancel
    void UpDown1Change(int value);
    // Sets the count through the up-down control (held within 1-256).
    void setTimes(int value);

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSpinBox* upDown1_ = nullptr;
    int times_ = 1;
    bool accepted_ = false;
};

// The Block / pattern pop-up duplicate command: the dialog's count applied
// to the selection of the current pattern. Nothing while the Player runs or
// no pattern is selected. True when the pattern view needs a redraw.
bool blockDuplicateCommand(AppContext& ctx, TFormDuplicate& form);

}  // namespace qv
