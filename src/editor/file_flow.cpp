#include "editor/file_flow.h"

#include <QAction>
#include <QFileInfo>

#include "app/single_instance.h"
#include "io/mod_import.h"
#include "song/module_file.h"

namespace qv {

FileFlow::FileFlow(AppContext& ctx, UserDialogs& dialogs, QObject* parent)
    : QObject(parent), ctx_(ctx), dialogs_(dialogs) {
    setObjectName("FileFlow");
}

void FileFlow::setRecentActions(const std::array<QAction*, Settings::kRecentFiles>& actions) {
    recent_ = actions;
    for (int i = 0; i < Settings::kRecentFiles; ++i)
        connect(recent_[i], &QAction::triggered, this, [this, i] { RecentClick(i); });
}

void FileFlow::setFileName(const QString& path) {
    moduleFileName_ = path;
    emit fileNameChanged(path);
}

// ---- recent files ----------------------------------------------------------------

QString FileFlow::recentCaption(int n) const { return recent_[n]->text(); }

void FileFlow::addRecent(const QString& path) {
    std::array<QString, Settings::kRecentFiles> paths;
    for (int i = 0; i < Settings::kRecentFiles; ++i) paths[i] = recent_[i]->text().mid(4);
    int from = Settings::kRecentFiles - 1;
    for (int i = 0; i < Settings::kRecentFiles; ++i) {
        if (paths[i] == path) {
            from = i;
            break;
        }
    }
    for (int i = from; i > 0; --i) paths[i] = paths[i - 1];
    paths[0] = path;
    for (int i = 0; i < Settings::kRecentFiles; ++i)
        recent_[i]->setText(QString("&%1: %2").arg(i).arg(paths[i]));
}

void FileFlow::RecentClick(int n) {
    const QString path = recent_[n]->text().mid(4);
    if (path == "none") return;
    openByName(path);
}

// ---- new, open, save ---------------------------------------------------------------

bool FileFlow::newModule() {
    if (dialogs_.messageBox("Are you sure?", "New module", QMessageBox::Yes | QMessageBox::No) !=
        QMessageBox::Yes)
        return false;
    emit aboutToReplaceSong();
    {
        std::lock_guard<std::mutex> lock(ctx_.player.songMutex());
        ctx_.song->clear();
        ctx_.player.resetChannels();
    }
    setFileName(kUntitled);
    emit songReplaced();
    return true;
}

void FileFlow::FileNewClick() { newModule(); }

void FileFlow::FileLoadClick() {
    const QString path = dialogs_.openDialogFn(
        "Open module", existingFolder(ctx_.settings.pathModule), kModuleFilter, "qze");
    if (path.isEmpty()) return;
    openByName(path);
    ctx_.settings.pathModule = folderOf(path);
}

void FileFlow::afterLoad(const QString& path) {
    addRecent(path);
    setFileName(path);
    emit songReplaced();
}

int FileFlow::openByName(const QString& path) {
    emit aboutToReplaceSong();
    int result;
    {
        std::lock_guard<std::mutex> lock(ctx_.player.songMutex());
        result = loadModule(*ctx_.song, path.toStdString());
        if (result == kModuleLoaded) ctx_.player.resetChannels();
    }
    // A file that failed to load leaves the song as it was, still under its
    // own name: only a loaded file becomes the current one.
    if (result == kModuleLoaded) {
        afterLoad(path);
        return result;
    }
    QString text;
    if (result == kModuleNotFound) text = "File '" + path + "' not found!";
    else if (result == kModuleWrongFormat) text = "File '" + path + "' has wrong format!";
    else text = "Can't alloc memory to load file!";
    dialogs_.messageBox(text, "Error!", QMessageBox::Ok);
    return result;
}

void FileFlow::loadStartupModule(const QString& path) {
    if (path.isEmpty()) return;
    int result;
    {
        std::lock_guard<std::mutex> lock(ctx_.player.songMutex());
        result = loadModule(*ctx_.song, path.toStdString());
    }
    if (result == kModuleLoaded) afterLoad(path);
}

void FileFlow::handOver(const QString& argumentText) {
    emit raiseRequested();
    const QString path = SingleInstance::pathFromArgumentText(argumentText);
    if (path.isEmpty() || !QFileInfo(path).isFile()) return;
    if (dialogs_.messageBox("Open new module? Current module will be lost.\n", "Warning",
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        openByName(path);
}

bool FileFlow::saveModuleTo(const QString& path) {
    bool ok;
    {
        std::lock_guard<std::mutex> lock(ctx_.player.songMutex());
        ok = saveModule(*ctx_.song, path.toStdString());
    }
    if (!ok) {
        dialogs_.showError("Can't save file '" + path + "'!");
        return false;
    }
    addRecent(path);
    setFileName(path);
    ctx_.settings.pathModule = folderOf(path);
    emit saved(path);
    return true;
}

void FileFlow::FileSaveClick() {
    QString start = existingFolder(ctx_.settings.pathModule);
    if (moduleFileName_ != kUntitled) start = moduleFileName_;
    else start += "/" + QString(kUntitled);
    const QString path = dialogs_.saveDialogFn("Save module", start, kModuleFilter, "qze");
    if (path.isEmpty()) return;
    saveModuleTo(path);
}

bool FileFlow::queryClose() {
    return !askOnClose || dialogs_.messageBox("Are you sure?", "Exit confirm",
                                              QMessageBox::Yes | QMessageBox::No) ==
                              QMessageBox::Yes;
}

// ---- import ------------------------------------------------------------------------

bool FileFlow::importModFrom(const QString& path) {
    bool ok;
    {
        std::lock_guard<std::mutex> lock(ctx_.player.songMutex());
        ok = importMod(path.toStdString(), *ctx_.song);
        if (ok) ctx_.player.resetChannels();
    }
    ctx_.settings.pathImport = folderOf(path);
    lastImportOk_ = ok;
    if (!ok) {
        dialogs_.showError("Can't import file '" + path + "'!");
        return false;
    }
    const int dot = path.lastIndexOf('.');
    setFileName((dot >= 0 ? path.left(dot + 1) : path + ".") + "qze");
    emit songReplaced();
    return true;
}

void FileFlow::ImportMODClick() {
    emit aboutToReplaceSong();
    const QString path = dialogs_.openDialogFn("Import music data from MOD file",
                                               existingFolder(ctx_.settings.pathImport),
                                               "MOD music module (*.mod)", "mod");
    if (!path.isEmpty()) importModFrom(path);
}

}  // namespace qv
