#include "dialogs/form_copy_ex_ins.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/song_text.h"
#include "dialogs/block_box.h"
#include "song/song.h"

namespace qv {

namespace {

QLabel* staticText(QWidget* parent, const char* name, int width) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setMinimumWidth(width);
    return l;
}

// An up-down: only the arrows of a spin box, the number is shown beside it.
QSpinBox* upDown(QWidget* parent, const char* name) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(0, TFormCopyExIns::kLastInstrument);
    s->setWrapping(false);
    s->setFixedWidth(20);
    if (auto* edit = s->findChild<QLineEdit*>()) {
        edit->setReadOnly(true);
        edit->setVisible(false);
    }
    return s;
}

}  // namespace

TFormCopyExIns::TFormCopyExIns(QWidget* parent) : QDialog(parent) {
    auto* box = setUpBlockDialog(*this, "FormCopyExIns", "Copy/Exchange instruments");
    auto* rows = new QVBoxLayout(box);

    auto* grid = new QGridLayout;
    auto* label1 = new QLabel("Source:", box);
    label1->setObjectName("Label1");
    staticText1_ = staticText(box, "StaticText1", 24);
    upDown1_ = upDown(box, "UpDown1");
    staticText2_ = staticText(box, "StaticText2", 150);
    auto* label2 = new QLabel("Dest.:", box);
    label2->setObjectName("Label2");
    staticText3_ = staticText(box, "StaticText3", 24);
    upDown2_ = upDown(box, "UpDown2");
    staticText4_ = staticText(box, "StaticText4", 150);
    auto* findEmpty = new QToolButton(box);
    findEmpty->setObjectName("SpeedButton1");
    findEmpty->setText("Find empty");
    findEmpty->setFocusPolicy(Qt::NoFocus);
    grid->addWidget(label1, 0, 0);
    grid->addWidget(staticText1_, 0, 1);
    grid->addWidget(upDown1_, 0, 2);
    grid->addWidget(staticText2_, 0, 3);
    grid->addWidget(label2, 1, 0);
    grid->addWidget(staticText3_, 1, 1);
    grid->addWidget(upDown2_, 1, 2);
    grid->addWidget(staticText4_, 1, 3);
    grid->addWidget(findEmpty, 1, 4);
    grid->setColumnStretch(3, 1);
    rows->addLayout(grid);

    checkBox1_ = new QCheckBox("Exchange with instrument numbers in patterns", box);
    checkBox1_->setObjectName("CheckBox1");
    checkBox1_->setChecked(true);
    rows->addWidget(checkBox1_);
    rows->addStretch();

    const auto [copyB, exchangeB, cancelB] = addCopyExchangeButtons(box, rows);

    connect(upDown1_, &QSpinBox::valueChanged, this, &TFormCopyExIns::UpDown1Change);
    connect(upDown2_, &QSpinBox::valueChanged, this, &TFormCopyExIns::UpDown2Change);
    connect(findEmpty, &QToolButton::clicked, this, &TFormCopyExIns::SpeedButton1Click);
    connect(copyB, &QPushButton::clicked, this, &TFormCopyExIns::Button1Click);
    connect(exchangeB, &QPushButton::clicked, this, &TFormCopyExIns::Button2Click);
    connect(cancelB, &QPushButton::clicked, this, &TFormCopyExIns::Button3Click);

    setFixedSize(QSize(350, 154).expandedTo(sizeHint()));
}

int TFormCopyExIns::execFor(const Song& song) {
    song_ = &song;
    FormShow();
    const int result = execHook ? execHook(*this) : exec();
    song_ = nullptr;
    return result;
}

void TFormCopyExIns::showInstrument(QLabel* number, QLabel* name, int instrument) {
    number->setText(QString("%1").arg(instrument + 1, 2, 16, QChar('0')).toUpper());
    name->setText(song_ ? songText(song_->instruments[static_cast<size_t>(instrument)]
                                                     .nameText())
                        : QString());
}

void TFormCopyExIns::FormShow() {
    // The up-downs report their new positions, which stores the same values.
    const int source = source_;
    const int destination = destination_;
    showInstrument(staticText1_, staticText2_, source);
    showInstrument(staticText3_, staticText4_, destination);
    upDown1_->setValue(source);
    upDown2_->setValue(destination);
    source_ = source;
    destination_ = destination;
}

void TFormCopyExIns::UpDown1Change(int position) {
    if (position < 0 || position > kLastInstrument) return;
    source_ = position;
    showInstrument(staticText1_, staticText2_, source_);
}

void TFormCopyExIns::UpDown2Change(int position) {
    if (position < 0 || position > kLastInstrument) return;
    destination_ = position;
    showInstrument(staticText3_, staticText4_, destination_);
}

void TFormCopyExIns::SpeedButton1Click() {
    if (!song_) return;
    const std::optional<int> free = song_->firstFreeInstrument();
    if (!free) return;  // every instrument is in use
    destination_ = *free - 1;
    showInstrument(staticText3_, staticText4_, destination_);
    upDown2_->setValue(destination_);
}

void TFormCopyExIns::Button1Click() {
    copy_ = true;
    exchange_ = false;
    exchangeInPatterns_ = false;
    done(QDialog::Accepted);
}

void TFormCopyExIns::Button2Click() {
    copy_ = false;
    exchange_ = true;
    exchangeInPatterns_ = checkBox1_->isChecked();
    done(QDialog::Accepted);
}

void TFormCopyExIns::Button3Click() {
    copy_ = false;
    exchange_ = false;
    exchangeInPatterns_ = false;
    done(QDialog::Rejected);
}

void TFormCopyExIns::reject() { Button3Click(); }

}  // namespace qv
