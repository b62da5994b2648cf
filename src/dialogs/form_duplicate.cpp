#include "dialogs/form_duplicate.h"

#include "dialogs/block_box.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qv {

TFormDuplicate::TFormDuplicate(QWidget* parent) : QDialog(parent) {
    auto* group = setUpBlockDialog(*this, "FormDuplicate", "Duplicate block");
    auto* rows = new QVBoxLayout(group);

    auto* top = new QHBoxLayout;
    upDown1_ = new QSpinBox(group);
    upDown1_->setObjectName("UpDown1");
    upDown1_->setRange(1, kMaxTimes);
    upDown1_->setValue(1);
    if (auto* edit = upDown1_->findChild<QLineEdit*>()) {
        edit->setObjectName("Edit1");
        edit->installEventFilter(this);
    }
    upDown1_->installEventFilter(this);
    auto* label = new QLabel("times", group);
    label->setObjectName("Label1");
    top->addWidget(upDown1_);
    top->addWidget(label);
    top->addStretch();
    rows->addLayout(top);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton("OK", group);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", group);
    cancel->setObjectName("Button2");
    cancel->setAutoDefault(false);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    rows->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &TFormDuplicate::Button1Click);
    connect(cancel, &QPushButton::clicked, this, &TFormDuplicate::Button2Click);
    connect(upDown1_, &QSpinBox::valueChanged, this, &TFormDuplicate::UpDown1Change);

    setFixedSize(QSize(171, 82).expandedTo(sizeHint()));
}

int TFormDuplicate::execFor() {
    accepted_ = false;
    return execHook ? execHook(*this) : exec();
}

void TFormDuplicate::UpDown1Change(int value) { times_ = value; }
void TFormDuplicate::setTimes(int value) { upDown1_->setValue(value); }

void TFormDuplicate::Button1Click() {
    accepted_ = true;
    done(QDialog::Accepted);
}

void TFormDuplicate::Button2Click() {
    accepted_ = false;
    done(QDialog::Rejected);
}

void TFormDuplicate::reject() {
    accepted_ = false;
    QDialog::reject();
}

bool TFormDuplicate::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the count acts as OK and goes no further.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            upDown1_->interpretText();
            Button1Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool blockDuplicateCommand(AppContext& ctx, TFormDuplicate& form) {
    if (ctx.player.isPlaying() || ctx.view.noPatternSelected) return false;
    ctx.layout.clearKeyState();  // no key stays held across the modal dialog
    form.execFor();
    if (!form.wasAccepted()) return false;
    const Selection& sel = ctx.view.selection;
    const Block block{ctx.view.currentPattern, sel.x, sel.y, sel.w, sel.h};
    bool changed = false;
    ctx.document.edit("Duplicate", SongChange::cells(block.pattern),
                      [&](Song& song) { changed = duplicateBlock(song, block, form.times()); });
    return changed;
}

}  // namespace qv
