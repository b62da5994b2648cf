// The Instruments page (TabSheetIns): one instrument of the Song at a time,
// with a knob for every operator parameter and the feedback, the SSG-EG track
// bars, the algorithm buttons with their connection picture, an envelope
// graph per operator, the instrument list with the name edit, and the piano
// that sounds the instrument on the audition chip. Every edit goes straight
// into the Song under the song lock.
//
// The current instrument is ctx.view.currentInstrument, held as the
// instrument number 1-255 (what cells call it); the list row is that - 1.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/app_context.h"
#include "instrument/instrument_pictures.h"

class QButtonGroup;
class QFrame;
class QLabel;
class QLineEdit;
class QSlider;
class QToolButton;

namespace qv {

class TKnob;
class TFormTBarPop;
class EnvelopeGraph;
class PianoKeys;
class KeysBox;
class InstrumentList;

class TFormCopyExOp;
class TFormCopyExIns;

class InstrumentPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kKnobs = 37;        // 9 per operator row, then FB
    static constexpr int kFeedbackCode = 100;
    static constexpr int kMouseKey = 255;    // the piano's audition key
    static constexpr const char* kOpenFilter =
        "All supported formats (*qzi *.dat *.y12 *.ins);;Qorvette instrument (*.qzi);;"
        "Yamaha 2612 Instrument Editor (*.dat);;Gens KMod channel dump (*.y12);;"
        "MVS Tracker MD instrument (*.ins)";
    static constexpr const char* kSaveFilter = "Qorvette instrument (*.qzi)";

    explicit InstrumentPage(AppContext& ctx, QWidget* parent = nullptr);
    ~InstrumentPage() override;

    // Hooks the main window sets (tests answer them).
    using MessageBoxFn = std::function<QMessageBox::StandardButton(
        const QString& text, const QString& caption, QMessageBox::StandardButtons buttons)>;
    using OpenFilesFn = std::function<QStringList(const QString& title, const QString& start,
                                                  const QString& filter, const QString& suffix)>;
    using SaveFileFn = std::function<QString(const QString& title, const QString& start,
                                             const QString& filter, const QString& suffix)>;
    MessageBoxFn messageBoxFn;
    OpenFilesFn openDialogFn;
    // The shipped instrument bank, where the Open dialog starts while no
    // instrument folder has been chosen yet (empty: none found).
    QString bankFolder;
    SaveFileFn saveDialogFn;
    // The pattern editor's octave (UpDownOctave), 1-8.
    std::function<int()> editorOctave;

    // The copy/exchange dialogs, created once with the page.
    TFormCopyExOp& formCopyExOp() { return *copyExOp_; }
    TFormCopyExIns& formCopyExIns() { return *copyExIns_; }
    void SpeedButtonOpExchClick();
    void SpeedButtonInsExchClick();

    // List row of the current instrument, 0-254.
    int currentIndex() const;
    Instrument& instrument();

    // Loads every control from the current instrument; values out of a
    // control's range come back clamped and are written into the Song.
    void showInstrument();
    // index -1: refill all 255 items and select the first; else replace one
    // item's text. updateName: the name edit shows the current instrument's name.
    void refreshListItem(int index, bool updateName);
    // After the Song's instruments changed from outside (new, loaded or
    // imported song): the list refilled, instrument 1 current and shown.
    void refreshAfterNewSong();
    // After clean-up or rearrangement: the list refilled, the current
    // instrument kept selected and shown again.
    void refreshAfterInstrumentsMoved();

    // The handlers.
    void ParamChange(int code, int value);
    void SpeedButtonAlgoClick();
    void ListBoxInsClick();
    void EditInsNameChange(const QString& text);
    void SpeedButtonInsNewClick();
    void SpeedButtonResetOpClick(int tag);
    void SpeedButtonInsOpenClick();
    void SpeedButtonInsSaveClick();
    // "Load instruments from module...": every non-empty instrument of the
    // chosen modules into free slots from the current one upwards.
    void LoadFromModuleClick();
    void TrackBarOctaveChange(int position);
    void TabSheetInsExit();

    // Keyboard playing, called by the key dispatcher.
    // One of the knobs, TrackBarOctave, ListBoxIns or the piano has the focus.
    bool keysActive() const;
    // A knob has the focus: its own keys first (Windows virtual-key code).
    bool controlKey(int code, bool down);
    // Note key k (0-35) pressed or released.
    void noteKey(int index, bool down);
    // Wheel while the piano has the focus: the octave track bar moves by one.
    bool wheelSteps(int steps);
    // The editor's octave changed: TrackBarOctave follows (octave - 1).
    void editorOctaveChanged(int octave);
    // The main window's 20 ms timer: a mouse note ends when the pointer left
    // the window with no button held while the piano has the focus.
    bool mouseSafetyRelease(bool pointerOutside, bool buttonDown);
    // Every audition note off; the piano redrawn.
    bool releaseAllNotes();

    // Controls, for the window and the tests.
    TKnob* knob(int i) const { return knobs_[i]; }
    QSlider* trackBarEG(int op) const { return trackBarEG_[op]; }
    QLabel* imageEG(int op) const { return imageEG_[op]; }
    EnvelopeGraph* envelope(int op) const { return envelopes_[op]; }
    QToolButton* algoButton(int a) const { return algoButtons_[a]; }
    QLabel* imageConnect() const { return imageConnect_; }
    InstrumentList* list() const { return list_; }
    QLineEdit* nameEdit() const { return nameEdit_; }
    QToolButton* polyButton() const { return polyMode_; }
    QSlider* octaveBar() const { return octave_; }
    PianoKeys* piano() const { return piano_; }
    KeysBox* keysBox() const { return keysBox_; }
    TFormTBarPop* popup() const { return popup_.get(); }
    const InstrumentPictures& pictures() const { return pictures_; }
    // Text of list row i: "01: empty".
    QString itemText(int index) const;

signals:
    // The list selection changed: the pattern editor's UpDownAIns := number.
    void instrumentChosen(int number);
    // Instrument numbers in the patterns changed (an exchange): redraw them.
    void patternsChanged();

protected:
    void hideEvent(QHideEvent* event) override;
    // While the piano has the focus: a right button released anywhere ends
    // the mouse note.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TFormCopyExOp* copyExOp_ = nullptr;
    TFormCopyExIns* copyExIns_ = nullptr;
    void buildOperatorRows();
    void buildRightColumn();
    void buildPiano();
    void setTabOrder();
    // Puts a control at its designed place (at the designed scale) and
    // remembers it there; the page's layout grows it with the window.
    void place(QWidget* widget, const QRect& designed);
    // The scale that fits the operator rows, the piano and the right column
    // into `page`: 1 at the designed size, at most 3.
    double layoutScale(QSize page) const;
    void layoutPage();
    QMessageBox::StandardButton ask(const QString& text, const QString& caption,
                                    QMessageBox::StandardButtons buttons);
    void afterFreeChange(bool wasFree);
    // One change of the current instrument through the song document.
    void editInstrument(const std::string& what, const std::function<void(Instrument&)>& change,
                        const std::string& mergeKey = {});
    bool pianoHasFocus() const;
    void startMouseNote(int note);
    void moveMouseNote(int note, Qt::MouseButtons buttons);
    void releaseMouseNote();
    void redrawPiano();

    AppContext& ctx_;
    InstrumentPictures pictures_;
    std::unique_ptr<TFormTBarPop> popup_;
    std::array<TKnob*, kKnobs> knobs_{};
    std::array<QSlider*, 4> trackBarEG_{};
    std::array<QLabel*, 4> imageEG_{};
    std::array<EnvelopeGraph*, 4> envelopes_{};
    std::array<QToolButton*, 8> algoButtons_{};
    QButtonGroup* algoGroup_ = nullptr;
    QWidget* panelAlgo_ = nullptr;
    QLabel* imageConnect_ = nullptr;
    QWidget* buttonRow_ = nullptr;
    InstrumentList* list_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QToolButton* polyMode_ = nullptr;
    QSlider* octave_ = nullptr;
    PianoKeys* piano_ = nullptr;
    KeysBox* keysBox_ = nullptr;
    int rowsBottom_ = 0;
    QWidget* headerPanel_ = nullptr;
    std::array<QWidget*, 4> opPanels_{};
    std::vector<std::pair<QWidget*, QRect>> design_;
    double scale_ = 1.0;
    int designedHeight_ = 400;
    bool refilling_ = false;
    bool watchingMouse_ = false;
};

}  // namespace qv
