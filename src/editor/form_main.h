// The main window: toolbar, the four pages, the menus, the play-position
// follower and the module file flow (new, open, save, recent files, exports,
// import). Everything it works on lives in the AppContext built by main.
#pragma once
#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "app/app_context.h"

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

class TFormRenderWav;
class TFormAbout;
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

class TFormMain : public QMainWindow, private PositionListener {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Qorvette v1.22";
    static constexpr const char* kUntitled = "untitled.qze";
    static constexpr const char* kModuleFilter = "Qorvette editable module (*.qze)";

    // Message box: text, caption, buttons; returns the button pressed. Tests
    // replace it so that no modal box ever waits for a user.
    using MessageBoxFn = std::function<QMessageBox::StandardButton(
        const QString& text, const QString& caption, QMessageBox::StandardButtons buttons)>;
    // File dialogs: title, start folder or file, filter, default suffix; an
    // empty result means the user cancelled.
    using FileDialogFn = std::function<QString(const QString& title, const QString& start,
                                               const QString& filter, const QString& suffix)>;

    explicit TFormMain(AppContext& ctx, QWidget* parent = nullptr);
    ~TFormMain() override;

    MessageBoxFn messageBoxFn;
    FileDialogFn openDialogFn;
    FileDialogFn saveDialogFn;
    // Open dialog that lets several files be chosen (the instrument files);
    // an empty list means the user cancelled.
    using FilesDialogFn = std::function<QStringList(const QString& title, const QString& start,
                                                    const QString& filter, const QString& suffix)>;
    FilesDialogFn openFilesDialogFn;
    // Runs instead of showing the About box modally (tests).
    std::function<void(TFormAbout&)> aboutHook;

    // Clears the key state, then shows the message box.
    QMessageBox::StandardButton messageBox(const QString& text, const QString& caption,
                                           QMessageBox::StandardButtons buttons);

    // The start-up load of the command-line module: silent, and the name is
    // taken only when the load succeeds.
    void loadStartupModule(const QString& path);
    // Open by name: the common path of Open, the recent files and the
    // single-instance hand-over. Returns the load result (0-3).
    int openByName(const QString& path);
    // The single-instance receiver.
    void handOver(const QString& argumentText);
    // Saves to path; false (with an "Error" box) when the file cannot be written.
    bool saveModuleTo(const QString& path);
    // New song after the question; true when it was cleared.
    bool newModule();

    void addRecent(const QString& path);
    QString recentCaption(int n) const;
    const QString& moduleFileName() const { return moduleFileName_; }

    // Time display.
    void recomputeLength();
    void refreshPosition();
    static QString timeText(int positionFrames, int lengthFrames);
    static QString framesText(int positionFrames, int lengthFrames);
    int lengthFrames() const { return lengthFrames_; }

    // Refresh after a new or loaded song.
    void refreshAfterNewSong();
    // Writes the window's state (bounds, recent captions, control values)
    // back into the settings record.
    void storeSettings();
    // Skips the close query (tests and the hand-over of a closing session).
    bool askOnClose = true;
    PatternInput& patternInput() { return *input_; }
    // The block dialogs, created once with the window; they keep their
    // values from one opening to the next. Tests set their exec hooks.
    TFormTranspose& formTranspose() { return *formTranspose_; }
    TFormDuplicate& formDuplicate() { return *formDuplicate_; }
    TFormScale& formScale() { return *formScale_; }
    InstrumentPage& instrumentPage() { return *insPage_; }
    // Whether the last export or import ran to success.
    bool lastExportOk() const { return lastExportOk_; }

    // Exports and import with a known path (the menu handlers ask for it first).
    bool exportWaveTo(const QString& path, bool allChannels);
    bool exportVgmTo(const QString& path);
    bool exportRegistersTo(const QString& path, bool megaDrive);
    bool importModFrom(const QString& path);

    // The help file beside the program.
    static QString helpFilePath();

    // Shown once in the status bar when the audio output did not open.
    void reportAudioFailure(const QString& error);
    // Reports (once) when the stream is closed or plays on the silent
    // stand-in instead of a sound card.
    void checkSoundOutput();
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
    void FileNewClick();
    void FileLoadClick();
    void FileSaveClick();
    void RecentClick(int n);
    void ExportWaveClick(bool unmuted);
    void ExportVGMClick();
    void ExporRegQZMClick();
    void ExporRegSMDClick();
    void ImportMODClick();
    void PatternExpandClick();
    void PatternShrinkClick();
    void HelpShowClick();
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

private:
    void buildToolbar(QWidget* parent);
    void buildPages();
    void buildPatternsPage(QWidget* page);
    void buildMenus();
    void wireEditor();
    void syncInputOptions();
    void globalCommand(int command);
    QAction* menuAction(const char* name) const;
    QSpinBox* addUpDown(QWidget* parent, const char* editName, const char* upDownName, int min,
                        int max, int value);
    void setCaption();
    void afterStart();
    void stopAndReset();
    void Timer1Timer();
    void Timer2Timer();
    void redrawPattern();
    void refreshOrderGrid();
    void showSongTiming();
    // UpDownPtn and UpDownPtnLen show the current pattern without writing
    // it into the order list.
    void showCurrentPattern();
    // The pattern number and length controls are usable only while the
    // order cursor stands on an entry.
    void showNoPatternState();
    void afterLoad(const QString& path);
    void startPlayer(int order, bool loopPattern);
    QString exportStart(const QString& suffix) const;
    void rememberExportFolder(const QString& path);
    void showError(const QString& text);

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
    QString moduleFileName_ = kUntitled;
    QString exportBaseName_;
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
    // Underrun samples last reported in the status line and the log.
    uint64_t underrunsShown_ = 0;
    bool lastExportOk_ = false;

    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QToolButton* playAll_ = nullptr;
    QToolButton* playPos_ = nullptr;
    QToolButton* playPtn_ = nullptr;
    QToolButton* stop_ = nullptr;
    QToolButton* reset_ = nullptr;
    QToolButton* testSignal_ = nullptr;
    QToolButton* editSong_ = nullptr;
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
    TFormRenderWav* renderWav_ = nullptr;
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
};

}  // namespace qv
