// The module file flow of the main window: new, open, save, the recent files,
// the MOD import, the module handed over by another copy, the module named on
// the command line, the question asked before unsaved changes would be lost
// ("Save changes to NAME?" with Save / Discard / Cancel, only when the song
// differs from its file) and the crash-recovery copy. Songs are loaded, saved
// and replaced through the song document. The window builds the menus and
// hands the recent-file items over; it hears about new songs, names, the
// modified state and saves through the signals.
#pragma once

#include <QObject>
#include <QString>
#include <array>

#include "app/app_context.h"
#include "editor/user_dialogs.h"

class QAction;

namespace qv {

class Recovery;

class FileFlow : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kUntitled = "untitled.qze";
    static constexpr const char* kModuleFilter = "Qorvette editable module (*.qze)";

    FileFlow(AppContext& ctx, UserDialogs& dialogs, QObject* parent = nullptr);
    ~FileFlow() override;

    // Keeps a recovery copy of the song while it has unsaved changes (none
    // without). The recovery object outlives the flow or is given back with
    // nullptr.
    void setRecovery(Recovery* recovery);
    // At start: offers the newest recovery copy that is newer than its
    // module; true when a copy was recovered.
    bool offerRecovery();
    // The song differs from its file.
    bool isModified() const;
    // Asks "Save changes to NAME?" when the song has unsaved changes (with
    // caption); true when the action that replaces the song may go on (saved,
    // discarded or nothing to save), false when it was cancelled.
    bool askToSave(const QString& caption);

    // The ten recent-file items of the File menu, Recent0 first; their
    // captions are the list.
    void setRecentActions(const std::array<QAction*, Settings::kRecentFiles>& actions);

    // The start-up load of the command-line module: silent, and the name is
    // taken only when the load succeeds.
    void loadStartupModule(const QString& path);
    // Open by name: the common path of Open, the recent files and the
    // single-instance hand-over. Asks about unsaved changes first (caption
    // of the question); returns the load result (0-3), or -1 when the
    // question was cancelled.
    int openByName(const QString& path, const QString& caption = "Open module");
    // The message of a failed module load (results 1-5).
    static QString moduleLoadErrorText(int result, const QString& path);
    // The single-instance receiver.
    void handOver(const QString& argumentText);
    // Saves to path; false (with an "Error" box) when the file cannot be written.
    bool saveModuleTo(const QString& path);
    // New song after the question; true when it was cleared.
    bool newModule();
    // Import with a known path (the menu handler asks for it first).
    bool importModFrom(const QString& path);
    // Whether the window may close (the close query: unsaved changes).
    bool queryClose();
    // The window closes: the recovery copy is no longer needed.
    void closing();

    void addRecent(const QString& path);
    QString recentCaption(int n) const;
    const QString& moduleFileName() const { return moduleFileName_; }
    // Whether the last import ran to success.
    bool lastImportOk() const { return lastImportOk_; }

    // Skips the close query (tests and the hand-over of a closing session).
    bool askOnClose = true;

public slots:
    void FileNewClick();
    void FileLoadClick();
    // Save through the dialog; false when cancelled or failed.
    bool FileSaveClick();
    void RecentClick(int n);
    void ImportMODClick();

signals:
    // The song is about to be replaced: playback must stop and the chips be reset.
    void aboutToReplaceSong();
    // A new, loaded or imported song is in place: every page refreshes.
    void songReplaced();
    // The module file name changed (the caption shows it).
    void fileNameChanged(const QString& path);
    // The song was written to path.
    void saved(const QString& path);
    // Another copy handed a module over: the window comes to the front.
    void raiseRequested();
    // The song now differs (or no longer differs) from its file.
    void modifiedChanged(bool modified);

private:
    void afterLoad(const QString& path);
    void setFileName(const QString& path);
    // The normal save: to the module's own file, through the dialog when it
    // has none yet.
    bool saveCurrent();
    void songChanged(const SongChange& change);
    void writeRecoveryCopy();
    void dropRecoveryCopy();

    AppContext& ctx_;
    UserDialogs& dialogs_;
    QString moduleFileName_ = kUntitled;
    std::array<QAction*, Settings::kRecentFiles> recent_{};
    bool lastImportOk_ = false;
    int listener_ = 0;
    bool modifiedShown_ = false;
    Recovery* recovery_ = nullptr;
    bool recoveryPending_ = false;  // changed since the last recovery copy
};

}  // namespace qv
