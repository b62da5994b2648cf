// The main window: toolbar, the four pages, the menus and the play-position
// follower. The module file flow (FileFlow) and the export commands
// (ExportCommands) are its parts, wired with signals. Everything it works on
// lives in the AppContext built by main. Its message boxes and file dialogs
// (UserDialogs) are the ones every part asks the user with.
#pragma once
#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "app/app_context.h"
#include "editor/user_dialogs.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;
class QFrame;

namespace qv {

class ExportCommands;
class FileFlow;
class TFormAbout;
class HelpWindow;
class InfoPage;
class SettingsPage;
class PatternView;
class PatternHeader;
class PatternInput;
class KeyDispatcher;
class OrderGrid;
class TFormTranspose;
class TFormDuplicate;
class TFormScale;
class InstrumentPage;

class TFormMain : public QMainWindow, public UserDialogs, private PositionListener {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Qorvette v1.22";

    explicit TFormMain(AppContext& ctx, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Runs instead of showing the About box modally (tests).
    std::function<void(TFormAbout&)> aboutHook;

    FileFlow& fileFlow() { return *files_; }
    ExportCommands& exportCommands() { return *exports_; }

    // Time display.
    void recomputeLength();
    void refreshPosition();
    static QString timeText(int positionFrames, int lengthFrames);
    static QString framesText(int positionFrames, int lengthFrames);
    int lengthFrames() const { return lengthFrames_; }

    // Refresh after a new or loaded song.
    void refreshAfterNewSong();
    // Edit > Undo / Redo (and their keys): take the newest step back or again
    // and show where it happened. Refused (false) while a song plays when the
    // step changed the song's structure (lengths, order list, speeds, the
    // whole song), as those edits are refused then.
    bool undoClick();
    bool redoClick();
    // Writes the window's state (bounds, recent captions, control values)
    // back into the settings record.
    void storeSettings();
    PatternInput& patternInput() { return *input_; }
    // The block dialogs, created once with the window; they keep their
    // values from one opening to the next. Tests set their exec hooks.
    TFormTranspose& formTranspose() { return *formTranspose_; }
    TFormDuplicate& formDuplicate() { return *formDuplicate_; }
    TFormScale& formScale() { return *formScale_; }
    InstrumentPage& instrumentPage() { return *insPage_; }
    // The help file beside the program.

    // Shown once in the status bar when the audio output did not open.
    void reportAudioFailure(const QString& error);
    // Reports (once) when the stream is closed or plays on the silent
    // stand-in instead of a sound card.
    void checkSoundOutput();
    // While the stream plays on the silent stand-in: tries the sound card
    // again (now, or when the retry interval has passed) and clears the
    // "No sound output" message once the card plays.
    void retrySoundOutput(bool now);
    // The program lost activation: the key state is forgotten and, on the
    // Instruments page, every audition note is released.
    void applicationDeactivated();
    // Re-opens the audio output with the buffer combos' indexes.
    bool reopenAudio();

public slots:
    void SpeedButtonPlayAllClick();
    void SpeedButtonPlayPosClick();
    void SpeedButtonPlayPtnClick();
    void SpeedButtonStopClick();
    void SpeedButtonResetClick();
    void PatternExpandClick();
    void PatternShrinkClick();
    // Opens the manual window (one per main window) and returns it.
    HelpWindow* HelpShowClick();
    void HelpAboutClick();
    void BlockTransposeClick();
    void BlockDuplicateClick();
    void BlockVolumeScaleClick();
    void BlockEffectScaleClick();
    void EditCleanupInstrumentsClick();
    void EditRearrangeInstrumentsClick();
    void EditRearrangePatternsClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolbar(QWidget* parent);
    void buildPages();
    void buildPatternsPage(QWidget* page);
    void buildMenus();
    void wireEditor();
    void syncInputOptions();
    void globalCommand(int command);
    // The song document's listener: views follow what changed; undo and redo
    // go where the change happened.
    void songChanged(const SongChange& change);
    void showChangePlace(const SongChange& change);
    void refreshUndoItems();
    bool undoRedoAllowed(const UndoStep* step) const;
    QAction* menuAction(const char* name) const;
    QSpinBox* addUpDown(QWidget* parent, const char* editName, const char* upDownName, int min,
                        int max, int value);
    void setCaption();
    void wireFileFlow();
    void afterStart();
    void stopAndReset();
    void Timer1Timer();
    void Timer2Timer();
    void redrawPattern();
    // The toolbar's time display goes below its buttons when the window is
    // too narrow for one row.
    void arrangeToolbar();
    void refreshOrderGrid();
    void showSongTiming();
    // UpDownPtn and UpDownPtnLen show the current pattern without writing
    // it into the order list.
    void showCurrentPattern();
    // The pattern number and length controls are usable only while the
    // order cursor stands on an entry.
    void showNoPatternState();
    void startPlayer(int order, bool loopPattern);

    void UpDownPtnChange(int value);
    void UpDownPtnLenChange(int value);
    void UpDownOctaveChange(int value);
    void UpDownSpdEvenChange(int value);
    void UpDownSpdOddChange(int value);
    void UpDownInterChange(int value);
    void UpDownAStepChange(int value);
    void SpeedButtonAStepClick(bool down);
    void SpeedButtonAVolClick(bool down);

    AppContext& ctx_;
    int documentListener_ = 0;
    int lengthFrames_ = 0;
    int positionFrames_ = 0;
    bool following_ = false;  // Timer1 is writing the controls
    // Any thread: the player moved; Timer1Timer runs soon on this thread.
    void positionChanged() override;
    std::atomic<bool> followPending_{false};
    int clipShown_ = -1;  // the clip light's colour: 1 red, 0 green, -1 not yet set
    // What Timer1 found at its last poll that changed anything.
    PlayPosition followed_{-1, -1, -1, -1, -1, -1};
    int followedLength_ = -1;
    bool audioFailureShown_ = false;
    int shownCursorColumn_ = 0;  // the column last brought into sight
    // Underrun samples last reported in the status line and the log.
    uint64_t underrunsShown_ = 0;

    QWidget* toolbar_ = nullptr;
    QWidget* toolButtons_ = nullptr;
    QWidget* toolStatus_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QToolButton* playAll_ = nullptr;
    QToolButton* playPos_ = nullptr;
    QToolButton* playPtn_ = nullptr;
    QToolButton* stop_ = nullptr;
    QToolButton* reset_ = nullptr;
    QToolButton* testSignal_ = nullptr;
    QToolButton* editSong_ = nullptr;
    QToolButton* followSong_ = nullptr;
    QSlider* volume_ = nullptr;
    QComboBox* bufSize_ = nullptr;
    QComboBox* bufCount_ = nullptr;
    QLabel* timeVal_ = nullptr;
    QLabel* frmVal_ = nullptr;
    QFrame* clip_ = nullptr;
    QWidget* scope_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QWidget* patternView_ = nullptr;
    QWidget* patternHeader_ = nullptr;
    QWidget* orderGrid_ = nullptr;

    QSpinBox* upDownPtnLen_ = nullptr;
    QSpinBox* upDownPtn_ = nullptr;
    QSpinBox* upDownOctave_ = nullptr;
    QSpinBox* upDownSpdEven_ = nullptr;
    QSpinBox* upDownSpdOdd_ = nullptr;
    QSpinBox* upDownInter_ = nullptr;
    QSpinBox* upDownAStep_ = nullptr;
    QSpinBox* upDownAIns_ = nullptr;
    QSpinBox* upDownAVol_ = nullptr;
    QToolButton* aStep_ = nullptr;
    QToolButton* aIns_ = nullptr;
    QToolButton* aVol_ = nullptr;

    std::array<QAction*, Settings::kRecentFiles> recent_{};
    QAction* patternExpand_ = nullptr;
    QAction* patternShrink_ = nullptr;
    QMenu* popupPtn_ = nullptr;
    PatternView* ptnView_ = nullptr;
    InfoPage* infoPage_ = nullptr;
    InstrumentPage* insPage_ = nullptr;
    SettingsPage* settingsPage_ = nullptr;
    PatternHeader* ptnHeader_ = nullptr;
    OrderGrid* ordGrid_ = nullptr;
    QWidget* scrollPtn_ = nullptr;
    std::unique_ptr<PatternInput> input_;
    KeyDispatcher* keys_ = nullptr;
    TFormTranspose* formTranspose_ = nullptr;
    TFormDuplicate* formDuplicate_ = nullptr;
    TFormScale* formScale_ = nullptr;
    FileFlow* files_ = nullptr;
    ExportCommands* exports_ = nullptr;
};

}  // namespace qv
