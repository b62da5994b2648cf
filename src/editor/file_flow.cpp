#include "editor/file_flow.h"

#include <QAction>
#include <QFileInfo>

#include "app/single_instance.h"
#include "editor/recovery.h"
#include "io/mod_import.h"
#include "song/module_file.h"

namespace qv {

namespace {

// Module paths are kept absolute (caption, save target, recent files), so a
// later change of the working folder cannot point them at another file.
QString absolutePath(const QString& path) { return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath(); }

}  // namespace

FileFlow::FileFlow(AppContext& ctx, UserDialogs& dialogs, QObject* parent)
    : QObject(parent), ctx_(ctx), dialogs_(dialogs) {
    setObjectName("FileFlow");
    listener_ = ctx_.document.addListener([this](const SongChange& c) { songChanged(c); });
}

FileFlow::~FileFlow() { ctx_.document.removeListener(listener_); }

bool FileFlow::isModified() const { return ctx_.document.isModified(); }

void FileFlow::songChanged(const SongChange& change) {
    if (change.cause != SongChange::Cause::Save && change.cause != SongChange::Cause::Load)
        recoveryPending_ = true;
    const bool modified = isModified();
    if (modified == modifiedShown_) return;
    modifiedShown_ = modified;
    emit modifiedChanged(modified);
}

// ---- unsaved changes -----------------------------------------------------------------

bool FileFlow::askToSave(const QString& caption) {
    if (!isModified()) return true;
    const QMessageBox::StandardButton answer = dialogs_.messageBox(
        "Save changes to " + QFileInfo(moduleFileName_).fileName() + "?", caption,
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    if (answer == QMessageBox::Save) return saveCurrent();
    if (answer != QMessageBox::Discard) return false;
    dropRecoveryCopy();
    return true;
}

bool FileFlow::saveCurrent() {
    // A new song, or an imported one whose name is only proposed, has no file yet.
    if (moduleFileName_ == kUntitled || !QFileInfo(moduleFileName_).isFile())
        return FileSaveClick();
    return saveModuleTo(moduleFileName_);
}

// ---- crash recovery ---------------------------------------------------------------------

void FileFlow::setRecovery(Recovery* recovery) {
    if (recovery_) disconnect(recovery_, nullptr, this, nullptr);
    recovery_ = recovery;
    if (recovery_) connect(recovery_, &Recovery::due, this, &FileFlow::writeRecoveryCopy);
}

void FileFlow::writeRecoveryCopy() {
    if (!recovery_) return;
    if (!isModified()) {
        // Undone back to the file: nothing left to recover.
        dropRecoveryCopy();
        return;
    }
    if (!recoveryPending_ && recovery_->current()) return;
    // The copy is taken under the song lock; the disk is written without it.
    auto copy = std::make_unique<Song>();
    ctx_.document.copySongInto(*copy);
    if (recovery_->write(*copy, moduleFileName_)) recoveryPending_ = false;
}

void FileFlow::dropRecoveryCopy() {
    if (recovery_) recovery_->remove();
    recoveryPending_ = true;
}

bool FileFlow::offerRecovery() {
    if (!recovery_) return false;
    const std::optional<Recovery::Record> record = recovery_->findOffer(moduleFileName_);
    if (!record) return false;
    const QString when = record->written.toString("yyyy-MM-dd hh:mm:ss");
    if (dialogs_.messageBox("Recover unsaved work from " + when + "?", "Recovery",
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        Recovery::removeRecord(*record);
        return false;
    }
    auto song = std::make_unique<Song>();
    if (loadModule(*song, record->songFile.toStdString()) != kModuleLoaded) {
        dialogs_.showError("Can't read the recovered work from '" + record->songFile + "'!");
        return false;
    }
    emit aboutToReplaceSong();
    ctx_.document.replaceSong(*song, true);
    // The copy stays until the song is saved or its changes discarded.
    recovery_->adopt(*record);
    recoveryPending_ = false;
    setFileName(record->modulePath);
    emit songReplaced();
    return true;
}

void FileFlow::setRecentActions(const std::array<QAction*, Settings::kRecentFiles>& actions) {
    recent_ = actions;
    for (int i = 0; i < Settings::kRecentFiles; ++i)
        connect(recent_[i], &QAction::triggered, this, [this, i] { RecentClick(i); });
}

void FileFlow::setFileName(const QString& given) {
    // The untitled name and a proposed import name stay as they are given.
    const QString path = QFileInfo(given).isFile() ? absolutePath(given) : given;
    moduleFileName_ = path;
    emit fileNameChanged(path);
}

// ---- recent files ----------------------------------------------------------------

QString FileFlow::recentCaption(int n) const { return recent_[n]->text(); }

void FileFlow::addRecent(const QString& given) {
    const QString path = absolutePath(given);
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
    if (!askToSave("New module")) return false;
    emit aboutToReplaceSong();
    auto fresh = std::make_unique<Song>();
    fresh->clear();
    ctx_.document.replaceSong(*fresh, false);
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

int FileFlow::openByName(const QString& path, const QString& caption) {
    if (!askToSave(caption)) return -1;
    emit aboutToReplaceSong();
    // The disk is read outside the song lock.
    const int result = ctx_.document.load(path.toStdString());
    // A file that failed to load leaves the song as it was, still under its
    // own name: only a loaded file becomes the current one.
    if (result == kModuleLoaded) {
        afterLoad(path);
        return result;
    }
    dialogs_.messageBox(moduleLoadErrorText(result, path), "Error!", QMessageBox::Ok);
    return result;
}

QString FileFlow::moduleLoadErrorText(int result, const QString& path) {
    switch (result) {
        case kModuleNotFound: return "File '" + path + "' not found!";
        case kModuleWrongFormat: return "File '" + path + "' has wrong format!";
        case kModuleIsFolder: return "File '" + path + "' is a folder!";
        case kModuleNoAccess: return "Can't read file '" + path + "': permission denied!";
        default: return "Can't alloc memory to load file!";
    }
}

void FileFlow::loadStartupModule(const QString& path) {
    if (path.isEmpty()) return;
    if (ctx_.document.load(path.toStdString()) == kModuleLoaded) afterLoad(path);
}

void FileFlow::handOver(const QString& argumentText) {
    emit raiseRequested();
    const QString path = SingleInstance::pathFromArgumentText(argumentText);
    if (path.isEmpty() || !QFileInfo(path).isFile()) return;
    // Only unsaved changes are asked about.
    openByName(path, "Warning");
}

bool FileFlow::saveModuleTo(const QString& path) {
    // The song is copied under the lock and written outside it.
    if (!ctx_.document.save(path.toStdString())) {
        dialogs_.showError("Can't save file '" + path + "'!");
        return false;
    }
    dropRecoveryCopy();
    addRecent(path);
    setFileName(path);
    ctx_.settings.pathModule = folderOf(path);
    emit saved(path);
    return true;
}

bool FileFlow::FileSaveClick() {
    QString start = existingFolder(ctx_.settings.pathModule);
    if (moduleFileName_ != kUntitled) start = moduleFileName_;
    else start += "/" + QString(kUntitled);
    const QString path = dialogs_.saveDialogFn("Save module", start, kModuleFilter, "qze");
    if (path.isEmpty()) return false;
    return saveModuleTo(path);
}

bool FileFlow::queryClose() { return !askOnClose || askToSave("Exit confirm"); }

void FileFlow::closing() {
    if (recovery_) recovery_->remove();
}

// ---- import ------------------------------------------------------------------------

bool FileFlow::importModFrom(const QString& path) {
    // Read and converted outside the song lock; in place as one undoable step.
    auto imported = std::make_unique<Song>();
    ctx_.document.copySongInto(*imported);
    ReadResult read = ReadResult::ok;
    const bool ok = importMod(path.toStdString(), *imported, &read);
    if (ok) ctx_.document.replaceSong(*imported, true, "Import MOD");
    ctx_.settings.pathImport = folderOf(path);
    lastImportOk_ = ok;
    if (!ok) {
        dialogs_.showError(read == ReadResult::ok ? "Can't import file '" + path + "'!"
                                                  : "Can't import file '" + path + "': " + readProblemText(read) + "!");
        return false;
    }
    const int dot = path.lastIndexOf('.');
    setFileName((dot >= 0 ? path.left(dot + 1) : path + ".") + "qze");
    emit songReplaced();
    return true;
}

void FileFlow::ImportMODClick() {
    if (!askToSave("Import MOD file")) return;
    emit aboutToReplaceSong();
    const QString path = dialogs_.openDialogFn("Import music data from MOD file",
                                               existingFolder(ctx_.settings.pathImport),
                                               "MOD music module (*.mod)", "mod");
    if (!path.isEmpty()) importModFrom(path);
}

}  // namespace qv
