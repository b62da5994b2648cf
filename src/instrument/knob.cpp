// A minimal knob so that the instrument page builds and runs: values,
// clamping, the change event and the keys; no dial drawing and no pop-up.
#include "instrument/knob.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qv {

TKnob::TKnob(QWidget* parent, TFormTBarPop* popup) : QWidget(parent), popup_(popup) {
    setFocusPolicy(Qt::StrongFocus);
    labelRow_ = QFontMetrics(font()).height() + 1;
    setFixedSize(32, labelRow_ + 32);
    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    label_->setGeometry(0, -2, 32, labelRow_);
    refreshLabel();
}

int TKnob::clampToRange(int value, int min, int max, bool* clamped) {
    const int lo = std::min(min, max);
    const int hi = std::max(min, max);
    const int v = std::clamp(value, lo, hi);
    if (clamped) *clamped = v != value;
    return v;
}

bool TKnob::setValue(int value) {
    bool clamped = false;
    const int v = clampToRange(value, Min, Max, &clamped);
    if (v != value_) {
        value_ = v;
        refreshLabel();
        update();
    }
    if (onChange) onChange(Tag, value_);
    return clamped;
}

bool TKnob::step(int amount) { return setValue(Min < Max ? value_ + amount : value_ - amount); }

double TKnob::pointerAngle() const {
    const int span = std::abs(Max - Min);
    if (span == 0) return 225.0;
    return 225.0 + 270.0 / span * std::abs(value_ - Min);
}

bool TKnob::highlighted() const { return hasFocus() || (popup_ && popup_->activeKnob() == this); }

void TKnob::refreshLabel() {
    if (label_) label_->setText(QString::number(value_));
}

void TKnob::paintEvent(QPaintEvent*) {}

void TKnob::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void TKnob::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void TKnob::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (key == Qt::Key_Up || (keypad && key == Qt::Key_Plus)) step(1);
    else if (key == Qt::Key_Down || (keypad && key == Qt::Key_Minus)) step(-1);
    else if (key == Qt::Key_Left) focusNextPrevChild(false);
    else if (key == Qt::Key_Right) focusNextPrevChild(true);
    else if (key == Qt::Key_Backspace) setValue(value_ / 10);
    else if (key == Qt::Key_Delete) setValue(0);
    else if (!keypad && key >= Qt::Key_0 && key <= Qt::Key_9) {
        const int digit = key - Qt::Key_0;
        if (setValue(value_ * 10 + digit)) setValue(digit);
    } else if (!keypad && key == Qt::Key_Minus && (Min < 0 || Max < 0)) setValue(-value_);
    else QWidget::keyPressEvent(event);
}

void TKnob::keyReleaseEvent(QKeyEvent* event) { QWidget::keyReleaseEvent(event); }

void TKnob::wheelEvent(QWheelEvent* event) {
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) step(notches);
    event->accept();
}

void TKnob::mousePressEvent(QMouseEvent*) { setFocus(Qt::MouseFocusReason); }

bool TKnob::event(QEvent* event) { return QWidget::event(event); }

TFormTBarPop::TFormTBarPop() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    resize(145, 22);
}

TFormTBarPop::~TFormTBarPop() = default;

void TFormTBarPop::popupFor(TKnob*) {}

void TFormTBarPop::finish() { active_ = nullptr; }

int TFormTBarPop::valueToPosition(const TKnob& knob, int value) {
    const int span = std::abs(knob.Max - knob.Min);
    if (span == 0) return 0;
    const double p = knob.Max < knob.Min ? 127.0 - double(value - knob.Max) * 127.0 / span
                                         : double(value - knob.Min) * 127.0 / span;
    return int(std::lround(p));
}

int TFormTBarPop::positionToValue(const TKnob& knob, int position) {
    const int span = std::abs(knob.Max - knob.Min);
    const double v = knob.Max < knob.Min ? knob.Min - double(position) * span / 127.0
                                         : knob.Min + double(position) * span / 127.0;
    return int(std::lround(v));
}

void TFormTBarPop::dragTo(int x) {
    if (active_) active_->setValue(positionToValue(*active_, std::clamp(x, 0, 127)));
}

int TFormTBarPop::thumbLeft() const { return 0; }

void TFormTBarPop::mouseMoveEvent(QMouseEvent* event) { QWidget::mouseMoveEvent(event); }

void TFormTBarPop::mouseReleaseEvent(QMouseEvent* event) { QWidget::mouseReleaseEvent(event); }

void TFormTBarPop::changeEvent(QEvent* event) { QWidget::changeEvent(event); }

bool TFormTBarPop::eventFilter(QObject* watched, QEvent* event) {
    return QWidget::eventFilter(watched, event);
}

}  // namespace qv
