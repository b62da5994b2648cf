// The modal boxes and file dialogs the editor's commands ask the user with.
// The main window fills in the real ones; tests replace them with recorders,
// so that no modal box ever waits for a user.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

#include "io/keyboard_layout.h"

namespace qv {

// The folder of a chosen file, with its trailing "/".
inline QString folderOf(const QString& path) { return QFileInfo(path).absolutePath() + "/"; }
// Where a file dialog starts: the folder, or "." when it does not exist.
inline QString existingFolder(const QString& folder) {
    return QDir(folder).exists() ? folder : QStringLiteral(".");
}

class UserDialogs {
public:
    // Message box: text, caption, buttons; returns the button pressed.
    using MessageBoxFn = std::function<QMessageBox::StandardButton(
        const QString& text, const QString& caption, QMessageBox::StandardButtons buttons)>;
    // File dialogs: title, start folder or file, filter, default suffix; an
    // empty result means the user cancelled.
    using FileDialogFn = std::function<QString(const QString& title, const QString& start,
                                               const QString& filter, const QString& suffix)>;
    // Open dialog that lets several files be chosen (the instrument files);
    // an empty list means the user cancelled.
    using FilesDialogFn = std::function<QStringList(const QString& title, const QString& start,
                                                    const QString& filter, const QString& suffix)>;

    explicit UserDialogs(KeyboardLayout& layout) : layout_(layout) {}

    MessageBoxFn messageBoxFn;
    FileDialogFn openDialogFn;
    FileDialogFn saveDialogFn;
    FilesDialogFn openFilesDialogFn;

    // Clears the key state (a key released while the box is up never reaches
    // the editor), then shows the message box.
    QMessageBox::StandardButton messageBox(const QString& text, const QString& caption,
                                           QMessageBox::StandardButtons buttons) {
        layout_.clearKeyState();
        return messageBoxFn(text, caption, buttons);
    }
    void showError(const QString& text) { messageBox(text, "Error", QMessageBox::Ok); }

private:
    KeyboardLayout& layout_;
};

}  // namespace qv
