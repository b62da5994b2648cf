#include "dialogs/block_box.h"

#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
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

QGroupBox* setUpBlockDialog(QDialog& dialog, const char* objectName, const QString& title) {
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(title);
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog.setModal(true);
    auto* outer = new QVBoxLayout(&dialog);
    outer->setContentsMargins(4, 4, 4, 4);
    auto* group = new QGroupBox(&dialog);
    group->setObjectName("GroupBox1");
    outer->addWidget(group);
    return group;
}

std::array<QPushButton*, 3> addCopyExchangeButtons(QGroupBox* box, QBoxLayout* rows) {
    auto* row = new QHBoxLayout;
    std::array<QPushButton*, 3> buttons{};
    const char* const captions[3] = {"Copy", "Exchange", "Cancel"};
    for (int i = 0; i < 3; ++i) {
        buttons[i] = new QPushButton(captions[i], box);
        buttons[i]->setObjectName(QString("Button%1").arg(i + 1));
        buttons[i]->setAutoDefault(false);
        row->addWidget(buttons[i]);
    }
    rows->addLayout(row);
    return buttons;
}

}  // namespace qv
