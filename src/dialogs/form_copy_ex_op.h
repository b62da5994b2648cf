// The "Copy/Exchange operators settings" dialog: a source and a destination
// operator of the current instrument, and whether to copy one onto the other
// or to swap them. Created once; it keeps its last choices between openings
// (the caller resets the source to operator #1 before each one).
#pragma once

#include <QDialog>
#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;

namespace qv {

class TFormCopyExOp : public QDialog {
    Q_OBJECT
public:
    static constexpr int kOperators = 4;

    explicit TFormCopyExOp(QWidget* parent = nullptr);

    // Presses the stored choices' buttons and shows the dialog modally (or
    // runs the exec hook instead).
    int execFor();
    std::function<int(TFormCopyExOp&)> execHook;

    // The results, read after the modal call. Operators are 0-3.
    int source() const { return source_; }
    int destination() const { return destination_; }
    bool copy() const { return copy_; }
    bool exchange() const { return exchange_; }
    void setSource(int op);
    void setDestination(int op);

    // The handlers.
    void FormShow();      // presses the buttons of the stored operators
    void Button1Click();  // Copy
    void Button2Click();  // Exchange
    void Button3Click();  // Cancel

    // SpeedButton1-4 (source) and SpeedButton5-8 (destination), by operator.
    QToolButton* sourceButton(int op) const { return sourceButtons_[static_cast<size_t>(op)]; }
    QToolButton* destinationButton(int op) const {
        return destinationButtons_[static_cast<size_t>(op)];
    }

    // Escape and the window's close act as Cancel.
    void reject() override;

private:
    // Takes the pressed source and destination into the results.
    void storePressed();

    std::array<QToolButton*, kOperators> sourceButtons_{};
    std::array<QToolButton*, kOperators> destinationButtons_{};
    int source_ = 0;
    int destination_ = 0;
    bool copy_ = false;
    bool exchange_ = false;
};

}  // namespace qv
