#include "dialogs/form_scale.h"

#include "dialogs/block_box.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

namespace qv {

namespace {

// A track bar with ticks on both sides and a marker at the neutral 100 %.
class ScaleTrackBar : public QSlider {
public:
    explicit ScaleTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
        setRange(0, TFormScale::kTrackMax);
        setTickPosition(QSlider::TicksBothSides);
        setTickInterval(10);
        setPageStep(10);
        setValue(TFormScale::kTrackNeutral);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QSlider::paintEvent(event);
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        const int span = groove.width() - handle.width();
        const int x = groove.left() + handle.width() / 2 +
                      QStyle::sliderPositionFromValue(minimum(), maximum(), TFormScale::kTrackNeutral, span);
        QPainter painter(this);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isEnabled() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid));
        const QPolygon marker({QPoint(x - 4, 0), QPoint(x + 4, 0), QPoint(x, 5)});
        painter.drawPolygon(marker);
    }
};

QString percentText(int percent) { return QString::number(percent) + QLatin1Char('%'); }

}  // namespace

int TFormScale::percentForPosition(int position) {
    return position <= kTrackNeutral ? position : 10 * position - 900;
}

TFormScale::TFormScale(QWidget* parent) : QDialog(parent) {
    auto* group = setUpBlockDialog(*this, "FormScale", "Volume scale");
    auto* grid = new QGridLayout(group);

    auto* labelStart = new QLabel("Start scale:", group);
    labelStart->setObjectName("LabelStart");
    trackStart_ = new ScaleTrackBar(group);
    trackStart_->setObjectName("TrackBarStart");
    labelStartVal_ = new QLabel(percentText(100), group);
    labelStartVal_->setObjectName("LabelStartVal");
    labelEnd_ = new QLabel("End scale:", group);
    labelEnd_->setObjectName("LabelEnd");
    trackEnd_ = new ScaleTrackBar(group);
    trackEnd_->setObjectName("TrackBarEnd");
    labelEndVal_ = new QLabel(percentText(100), group);
    labelEndVal_->setObjectName("LabelEndVal");
    const int valueWidth = labelStartVal_->fontMetrics().horizontalAdvance("1000%") + 4;
    labelStartVal_->setMinimumWidth(valueWidth);
    labelEndVal_->setMinimumWidth(valueWidth);
    grid->addWidget(labelStart, 0, 0);
    grid->addWidget(trackStart_, 0, 1);
    grid->addWidget(labelStartVal_, 0, 2);
    grid->addWidget(labelEnd_, 1, 0);
    grid->addWidget(trackEnd_, 1, 1);
    grid->addWidget(labelEndVal_, 1, 2);

    auto* bottom = new QHBoxLayout;
    lock_ = new QCheckBox("Lock together", group);
    lock_->setObjectName("CheckBoxLock");
    lock_->setChecked(true);
    auto* ok = new QPushButton("OK", group);
    ok->setObjectName("ButtonOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", group);
    cancel->setObjectName("ButtonCancel");
    cancel->setAutoDefault(false);
    bottom->addWidget(lock_);
    bottom->addStretch();
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    grid->addLayout(bottom, 2, 0, 1, 3);

    connect(trackStart_, &QSlider::valueChanged, this, &TFormScale::TrackBarStartChange);
    connect(trackEnd_, &QSlider::valueChanged, this, &TFormScale::TrackBarEndChange);
    connect(lock_, &QCheckBox::clicked, this, &TFormScale::CheckBoxLockClick);
    connect(ok, &QPushButton::clicked, this, &TFormScale::ButtonOKClick);
    connect(cancel, &QPushButton::clicked, this, &TFormScale::ButtonCancelClick);

    CheckBoxLockClick();  // locked at creation: the end track follows
    setFixedSize(QSize(333, 138).expandedTo(sizeHint()));
}

int TFormScale::execFor(const QString& caption) {
    setWindowTitle(caption);
    accepted_ = false;
    return execHook ? execHook(*this) : exec();
}

void TFormScale::TrackBarStartChange(int position) {
    startPercent_ = percentForPosition(position);
    labelStartVal_->setText(percentText(startPercent_));
    if (lock_->isChecked()) trackEnd_->setValue(position);
}

void TFormScale::TrackBarEndChange(int position) {
    endPercent_ = percentForPosition(position);
    labelEndVal_->setText(percentText(endPercent_));
}

void TFormScale::CheckBoxLockClick() {
    const bool locked = lock_->isChecked();
    trackEnd_->setEnabled(!locked);
    labelEnd_->setEnabled(!locked);
    labelEndVal_->setEnabled(!locked);
    if (locked) trackEnd_->setValue(trackStart_->value());
}

void TFormScale::setStartPosition(int position) { trackStart_->setValue(position); }
void TFormScale::setEndPosition(int position) { trackEnd_->setValue(position); }

void TFormScale::setLocked(bool locked) {
    lock_->setChecked(locked);
    CheckBoxLockClick();
}

void TFormScale::ButtonOKClick() {
    accepted_ = true;
    done(QDialog::Accepted);
}

void TFormScale::ButtonCancelClick() {
    accepted_ = false;
    done(QDialog::Rejected);
}

void TFormScale::reject() {
    accepted_ = false;
    QDialog::reject();
}

namespace {

bool scaleCommand(AppContext& ctx, TFormScale& form, const QString& caption, bool volume) {
    if (ctx.player.isPlaying() || ctx.view.noPatternSelected) return false;
    ctx.layout.clearKeyState();  // no key stays held across the modal dialog
    form.execFor(caption);
    if (!form.wasAccepted()) return false;
    const Selection& sel = ctx.view.selection;
    const Block block{ctx.view.currentPattern, sel.x, sel.y, sel.w, sel.h};
    bool changed = false;
    ctx.document.edit(volume ? "Volume scale" : "Effect scale", SongChange::cells(block.pattern), [&](Song& song) {
        changed = volume ? volumeScale(song, block, form.startPercent(), form.endPercent())
                         : effectScale(song, block, form.startPercent(), form.endPercent());
    });
    return changed;
}

}  // namespace

bool blockVolumeScaleCommand(AppContext& ctx, TFormScale& form) {
    return scaleCommand(ctx, form, QStringLiteral("Volume scale"), true);
}

bool blockEffectScaleCommand(AppContext& ctx, TFormScale& form) {
    return scaleCommand(ctx, form, QStringLiteral("Effect scale"), false);
}

}  // namespace qv
