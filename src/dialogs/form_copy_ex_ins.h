// The "Copy/Exchange instruments" dialog: a source and a destination
// instrument of the Song (chosen with up-downs, or the first free one for
// the destination), and whether to copy, to exchange, and to exchange their
// numbers in the patterns as well. Created once; the check box keeps its
// state between openings, the caller presets source and destination.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QSpinBox;
class QToolButton;

namespace qv {

struct Song;

class TFormCopyExIns : public QDialog {
    Q_OBJECT
public:
    static constexpr int kLastInstrument = 254;  // instrument indices are 0-254

    explicit TFormCopyExIns(QWidget* parent = nullptr);

    // Fills the texts from the stored choices and shows the dialog modally
    // (or runs the exec hook instead). The names and "Find empty" read the
    // song, which must stay alive during the call; only the user-interface
    // thread writes instruments, so the song lock is not needed for reading.
    int execFor(const Song& song);
    std::function<int(TFormCopyExIns&)> execHook;

    // The results, read after the modal call. Instruments are indices 0-254
    // (instrument number - 1).
    int source() const { return source_; }
    int destination() const { return destination_; }
    bool copy() const { return copy_; }
    bool exchange() const { return exchange_; }
    bool exchangeInPatterns() const { return exchangeInPatterns_; }
    // Presets, taken into the controls when the dialog is shown.
    void setSource(int instrument) { source_ = instrument; }
    void setDestination(int instrument) { destination_ = instrument; }

    // The handlers.
    void FormShow();
    void UpDown1Change(int position);
    void UpDown2Change(int position);
    void SpeedButton1Click();  // Find empty
    void Button1Click();       // Copy
    void Button2Click();       // Exchange
    void Button3Click();       // Cancel

    QSpinBox* upDown1() const { return upDown1_; }
    QSpinBox* upDown2() const { return upDown2_; }
    QCheckBox* checkBox1() const { return checkBox1_; }

    // Escape and the window's close act as Cancel.
    void reject() override;

private:
    // Number and name texts of one instrument.
    void showInstrument(QLabel* number, QLabel* name, int instrument);

    const Song* song_ = nullptr;
    QLabel* staticText1_ = nullptr;
    QLabel* staticText2_ = nullptr;
    QLabel* staticText3_ = nullptr;
    QLabel* staticText4_ = nullptr;
    QSpinBox* upDown1_ = nullptr;
    QSpinBox* upDown2_ = nullptr;
    QCheckBox* checkBox1_ = nullptr;
    int source_ = 0;
    int destination_ = 0;
    bool copy_ = false;
    bool exchange_ = false;
    bool exchangeInPatterns_ = false;
};

}  // namespace qv
