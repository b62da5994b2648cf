// Message boxes of the block and clean-up commands, replaceable so that the
// commands can run without a modal box (tests hand in their own function).
#pragma once

#include <QString>
#include <functional>

#include <array>

class QBoxLayout;
class QDialog;
class QGroupBox;
class QPushButton;
class QWidget;

namespace qv {

class KeyboardLayout;

// An information box with only an OK button: (text, caption).
using MessageBoxFn = std::function<void(const QString& text, const QString& caption)>;
// A yes/no box: (text, caption); true for yes.
using QuestionBoxFn = std::function<bool(const QString& text, const QString& caption)>;

// Boxes shown over the parent; each first clears the layout's key state so
// that no key stays held across the modal box.
MessageBoxFn makeMessageBox(QWidget* parent, KeyboardLayout& layout);
QuestionBoxFn makeQuestionBox(QWidget* parent, KeyboardLayout& layout);

// The common frame of the block dialogs: a modal dialog with a title bar
// only, holding one group box ("GroupBox1") that takes the controls.
QGroupBox* setUpBlockDialog(QDialog& dialog, const char* objectName, const QString& title);

// The copy/exchange dialogs' row of "Copy", "Exchange" and "Cancel"
// (Button1-3), none of them a default button, added to rows.
std::array<QPushButton*, 3> addCopyExchangeButtons(QGroupBox* box, QBoxLayout* rows);

}  // namespace qv
