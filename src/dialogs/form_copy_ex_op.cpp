#include "dialogs/form_copy_ex_op.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/block_box.h"

namespace qv {

namespace {

QToolButton* operatorButton(QWidget* parent, int number, int op, QButtonGroup* group) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString("SpeedButton%1").arg(number));
    b->setText(QString("Operator #%1").arg(op + 1));
    b->setCheckable(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setMinimumWidth(70);
    group->addButton(b, op);
    return b;
}

}  // namespace

TFormCopyExOp::TFormCopyExOp(QWidget* parent) : QDialog(parent) {
    auto* box = setUpBlockDialog(*this, "FormCopyExOp", "Copy/Exchange operators settings");
    auto* rows = new QVBoxLayout(box);

    auto* grid = new QGridLayout;
    auto* label1 = new QLabel("Source:", box);
    label1->setObjectName("Label1");
    auto* label2 = new QLabel("Destination:", box);
    label2->setObjectName("Label2");
    grid->addWidget(label1, 0, 0, 1, kOperators);
    grid->addWidget(label2, 2, 0, 1, kOperators);
    auto* sources = new QButtonGroup(this);
    sources->setExclusive(true);
    auto* destinations = new QButtonGroup(this);
    destinations->setExclusive(true);
    for (int op = 0; op < kOperators; ++op) {
        sourceButtons_[static_cast<size_t>(op)] = operatorButton(box, op + 1, op, sources);
        destinationButtons_[static_cast<size_t>(op)] =
            operatorButton(box, op + 5, op, destinations);
        grid->addWidget(sourceButtons_[static_cast<size_t>(op)], 1, op);
        grid->addWidget(destinationButtons_[static_cast<size_t>(op)], 3, op);
    }
    sourceButtons_[0]->setChecked(true);
    destinationButtons_[0]->setChecked(true);
    rows->addLayout(grid);
    rows->addStretch();

    const auto [copyB, exchangeB, cancelB] = addCopyExchangeButtons(box, rows);

    connect(copyB, &QPushButton::clicked, this, &TFormCopyExOp::Button1Click);
    connect(exchangeB, &QPushButton::clicked, this, &TFormCopyExOp::Button2Click);
    connect(cancelB, &QPushButton::clicked, this, &TFormCopyExOp::Button3Click);

    setFixedSize(QSize(312, 149).expandedTo(sizeHint()));
}

void TFormCopyExOp::setSource(int op) { source_ = std::clamp(op, 0, kOperators - 1); }
void TFormCopyExOp::setDestination(int op) { destination_ = std::clamp(op, 0, kOperators - 1); }

int TFormCopyExOp::execFor() {
    FormShow();
    return execHook ? execHook(*this) : exec();
}

void TFormCopyExOp::FormShow() {
    sourceButtons_[static_cast<size_t>(source_)]->setChecked(true);
    destinationButtons_[static_cast<size_t>(destination_)]->setChecked(true);
}

void TFormCopyExOp::storePressed() {
    for (int op = 0; op < kOperators; ++op) {
        if (sourceButtons_[static_cast<size_t>(op)]->isChecked()) source_ = op;
        if (destinationButtons_[static_cast<size_t>(op)]->isChecked()) destination_ = op;
    }
}

void TFormCopyExOp::Button1Click() {
    storePressed();
    copy_ = true;
    exchange_ = false;
    done(QDialog::Accepted);
}

void TFormCopyExOp::Button2Click() {
    storePressed();
    copy_ = false;
    exchange_ = true;
    done(QDialog::Accepted);
}

void TFormCopyExOp::Button3Click() {
    storePressed();
    copy_ = false;
    exchange_ = false;
    done(QDialog::Rejected);
}

void TFormCopyExOp::reject() { Button3Click(); }

}  // namespace qv
