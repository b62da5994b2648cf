#include "dialogs/block_box.h"

#include <QMessageBox>
#include <QPointer>

#include "io/keyboard_layout.h"

namespace qv {

MessageBoxFn makeMessageBox(QWidget* parent, KeyboardLayout& layout) {
    QPointer<QWidget> owner(parent);
    return [owner, &layout](const QString& text, const QString& caption) {
        layout.clearKeyState();
        const auto icon = caption == QLatin1String("Warning") ? QMessageBox::Warning
                                                              : QMessageBox::Information;
        QMessageBox box(icon, caption, text, QMessageBox::Ok, owner.data());
        box.exec();
    };
}

QuestionBoxFn makeQuestionBox(QWidget* parent, KeyboardLayout& layout) {
    QPointer<QWidget> owner(parent);
    return [owner, &layout](const QString& text, const QString& caption) {
        layout.clearKeyState();
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                        owner.data());
        return box.exec() == QMessageBox::Yes;
    };
}

}  // namespace qv
