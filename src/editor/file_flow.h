// The module file flow of the main window: new, open, save, the recent files,
// the MOD import, the module handed over by another copy, the module named on
// the command line and the questions asked before work is lost. The window
// builds the menus and hands the recent-file items over; it hears about new
// songs, names and saves through the signals.
#pragma once

#include <QObject>
#include <QString>
#include <array>

#include "app/app_context.h"
#include "editor/user_dialogs.h"

class QAction;

namespace qv {

class FileFlow : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kUntitled = "untitled.qze";
    static constexpr const char* kModuleFilter = "Qorvette editable module (*.qze)";

    FileFlow(AppContext& ctx, UserDialogs& dialogs, QObject* parent = nullptr);

    // The ten recent-file items of the File menu, Recent0 first; their
    // captions are the list.
    void setRecentActions(const std::array<QAction*, Settings::kRecentFiles>& actions);

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
    // Import with a known path (the menu handler asks for it first).
    bool importModFrom(const QString& path);
    // Whether the window may close (the close query).
    bool queryClose();

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
    void FileSaveClick();
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

private:
    void afterLoad(const QString& path);
    void setFileName(const QString& path);

    AppContext& ctx_;
    UserDialogs& dialogs_;
    QString moduleFileName_ = kUntitled;
    std::array<QAction*, Settings::kRecentFiles> recent_{};
    bool lastImportOk_ = false;
};

}  // namespace qv
