#include "instrument/knob.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <cstdlib>

namespace qv {

namespace {

constexpr int kDial = 32;  // the dial's size below the label row
constexpr int kLastPosition = TFormTBarPop::kTrackLength - 1;

// The pop-up's client area and its panels.
constexpr int kPopupWidth = 145;
constexpr int kPopupHeight = 22;
constexpr int kTrackLeft = 9;
constexpr int kTrackTop = 7;
constexpr int kTrackHeight = 8;
constexpr int kThumbWidth = 8;
constexpr int kThumbHeight = 16;

const QColor kSilver(192, 192, 192);
const QColor kDarkRed(128, 0, 0);

// num / den rounded to the nearest integer, halves away from zero (den > 0).
int roundDiv(long long num, long long den) {
    const long long twice = 2 * (num < 0 ? -num : num) + den;
    const long long q = twice / (2 * den);
    return static_cast<int>(num < 0 ? -q : q);
}

// A point at angle a (degrees clockwise from twelve o'clock) and radius r
// around (cx, cy), each coordinate truncated after adding.
QPoint onDial(int cx, int cy, double degrees, double r) {
    const double a = degrees * std::numbers::pi / 180.0;
    return {static_cast<int>(cx + std::sin(a) * r), static_cast<int>(cy - std::cos(a) * r)};
}

// One strip of the pop-up's drop shadow: black at a quarter opacity, the
// L-shaped band `width` pixels wide along the right and bottom edges.
class ShadowStrip : public QWidget {
public:
    explicit ShadowStrip(int width)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint),
          width_(width) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFixedSize(kPopupWidth, kPopupHeight);
        // Without translucency the mask still keeps the rest of the window out.
        setMask(band());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setClipRegion(band());
        p.fillRect(rect(), QColor(0, 0, 0, 64));
    }

private:
    QRegion band() const {
        return QRegion(0, 0, width(), height()) -
               QRegion(0, 0, width() - width_, height() - width_);
    }
    int width_;
};

// Translucent top-level windows cannot be placed by the application on
// every platform; there the pop-up simply goes without its shadow.
bool platformPlacesWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

// ---- TKnob -------------------------------------------------------------------

TKnob::TKnob(QWidget* parent, TFormTBarPop* popup) : QWidget(parent), popup_(popup) {
    setFocusPolicy(Qt::StrongFocus);  // a tab stop, and a click focuses it
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    label_ = new QLabel(this);
    label_->setObjectName("Label");
    label_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    labelRow_ = label_->fontMetrics().height();
    resize(kDial, labelRow_ + kDial);
    label_->setGeometry(0, -2, width(), labelRow_);
    refreshLabel();
}

QSize TKnob::sizeHint() const { return {dial_, labelRow_ + dial_}; }

void TKnob::setDialSize(int size) {
    dial_ = std::max(16, size);
    labelRow_ = label_->fontMetrics().height();
    resize(dial_, labelRow_ + dial_);
    label_->setGeometry(0, -2, width(), labelRow_);
    update();
}

void TKnob::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    label_->setGeometry(0, -2, width(), labelRow_);
}

int TKnob::clampToRange(int value, int min, int max, bool* clamped) {
    const int lo = std::min(min, max);
    const int hi = std::max(min, max);
    const int result = std::clamp(value, lo, hi);
    if (clamped) *clamped = result != value;
    return result;
}

bool TKnob::setValue(int value) {
    bool clamped = false;
    const int v = clampToRange(value, Min, Max, &clamped);
    const bool changed = v != value_;
    value_ = v;
    if (changed) {
        refreshLabel();
        repaint();
    }
    emit valueChanged(Tag, value_);
    return clamped;
}

bool TKnob::step(int amount) {
    // Clockwise is towards Max, whichever way the range runs.
    const long long target = Min < Max ? static_cast<long long>(value_) + amount
                                       : static_cast<long long>(value_) - amount;
    return setValue(static_cast<int>(std::clamp<long long>(target, INT_MIN, INT_MAX)));
}

double TKnob::pointerAngle() const {
    const int span = std::abs(Max - Min);
    if (span == 0) return 225.0;
    return 225.0 + 270.0 / span * std::abs(value_ - Min);
}

bool TKnob::highlighted() const {
    return hasFocus() || (popup_ && popup_->activeKnob() == this);
}

void TKnob::refreshLabel() {
    label_->setText(QString::number(value_));
    const QColor colour = highlighted()
                              ? kDarkRed
                              : QApplication::palette("QMenu").color(QPalette::WindowText);
    QPalette pal = label_->palette();
    if (pal.color(QPalette::WindowText) != colour) {
        pal.setColor(QPalette::WindowText, colour);
        label_->setPalette(pal);
    }
}

void TKnob::refreshHighlight() {
    refreshLabel();
    update();
}

void TKnob::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width();
    const int cx = w / 2;
    const int cy = labelRow_ + w / 2;
    // Lengths are those of the 32-pixel dial, grown with the knob.
    auto scaled = [w](double length) { return length * w / kDial; };

    p.setPen(QPen(Qt::black, std::max(1.0, scaled(1))));
    p.setBrush(Qt::black);
    const int r = w / 2;
    for (int i = 0; i < Marks; ++i) {
        const double a = Marks > 1 ? 225.0 + i * 270.0 / (Marks - 1) : 225.0;
        p.drawLine(onDial(cx, cy, a, r), onDial(cx, cy, a, r - scaled(4)));
    }

    if (Bitmap && !Bitmap->isNull()) {
        if (w == kDial) {
            p.drawPixmap(cx - Bitmap->width() / 2, cy - Bitmap->height() / 2, *Bitmap);
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            const QSizeF size(scaled(Bitmap->width()), scaled(Bitmap->height()));
            p.drawPixmap(QRectF(QPointF(cx - size.width() / 2, cy - size.height() / 2), size), *Bitmap,
                         QRectF(Bitmap->rect()));
        }
    }

    const QPoint dot = onDial(cx, cy, pointerAngle(), w / 2 - scaled(7));
    const QColor colour = highlighted() ? QColor(Qt::white) : kSilver;
    p.setPen(colour);
    p.setBrush(colour);
    const int half = std::max(2, static_cast<int>(scaled(2)));
    p.drawEllipse(QRect(dot.x() - half, dot.y() - half, 2 * half, 2 * half));
}

void TKnob::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    refreshHighlight();
}

void TKnob::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    refreshHighlight();
}

bool TKnob::handlesKey(const QKeyEvent& event, bool negativeRange) {
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    switch (event.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return true;
    case Qt::Key_Plus:
        return keypad;
    case Qt::Key_Minus:
        return keypad || negativeRange;
    default:
        return !keypad && event.key() >= Qt::Key_0 && event.key() <= Qt::Key_9;
    }
}

void TKnob::keyPressEvent(QKeyEvent* event) {
    if (!handlesKey(*event, negativeRange())) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    const int key = event->key();
    switch (key) {
    case Qt::Key_Up: step(1); break;
    case Qt::Key_Down: step(-1); break;
    case Qt::Key_Left: focusNextPrevChild(false); break;
    case Qt::Key_Right: focusNextPrevChild(true); break;
    case Qt::Key_Backspace: setValue(value_ / 10); break;
    case Qt::Key_Delete: setValue(0); break;
    case Qt::Key_Plus: step(1); break;
    case Qt::Key_Minus:
        if (keypad)
            step(-1);
        else
            setValue(-value_);
        break;
    default: {
        // Typing appends a digit; once the number cannot grow any more the
        // digit starts a new one.
        const int digit = key - Qt::Key_0;
        const long long grown = static_cast<long long>(value_) * 10 + digit;
        if (setValue(static_cast<int>(std::clamp<long long>(grown, INT_MIN, INT_MAX))))
            setValue(digit);
        break;
    }
    }
    event->accept();
}

void TKnob::keyReleaseEvent(QKeyEvent* event) {
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Delete:
        event->accept();
        return;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
        if (keypad) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyReleaseEvent(event);
}

void TKnob::wheelEvent(QWheelEvent* event) {
    // One notch (120) is one step; finer wheels add up to whole notches.
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) step(notches);
    event->accept();
}

void TKnob::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton && popup_) popup_->popupFor(this);
    event->accept();
}

bool TKnob::event(QEvent* event) {
    // The arrow keys, digits and the rest belong to the knob, not to the
    // dialog or menu shortcuts around it.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (handlesKey(*key, negativeRange())) {
                event->accept();
                return true;
            }
        }
    }
    return QWidget::event(event);
}

// ---- TFormTBarPop ---------------------------------------------------------------

TFormTBarPop::TFormTBarPop()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::NoDropShadowWindowHint) {
    setObjectName("FormTBarPop");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(QFont("Tahoma"));
    setFixedSize(kPopupWidth, kPopupHeight);

    panel1_ = new QFrame(this);
    panel1_->setObjectName("Panel1");
    panel1_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel1_->setLineWidth(2);
    panel1_->setGeometry(0, 0, kPopupWidth, kPopupHeight);

    track_ = new QFrame(panel1_);
    track_->setObjectName("Panel2");
    track_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    track_->setLineWidth(1);
    track_->setAutoFillBackground(true);
    track_->setBackgroundRole(QPalette::Base);
    track_->setGeometry(kTrackLeft, kTrackTop, kTrackLength, kTrackHeight);

    thumb_ = new QFrame(panel1_);
    thumb_->setObjectName("Panel3");
    thumb_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    thumb_->setLineWidth(1);
    thumb_->setAutoFillBackground(true);
    thumb_->setGeometry(kTrackLeft - kThumbWidth / 2,
                        kTrackTop + kTrackHeight / 2 - kThumbHeight / 2, kThumbWidth,
                        kThumbHeight);

    // The form and both panels end the drag on a button release.
    for (QWidget* w : {static_cast<QWidget*>(panel1_), static_cast<QWidget*>(track_),
                       static_cast<QWidget*>(thumb_)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    setMouseTracking(true);

    if (platformPlacesWindows())
        for (size_t i = 0; i < shadows_.size(); ++i)
            shadows_[i] = std::make_unique<ShadowStrip>(static_cast<int>(i) + 1);

    // Losing the application's focus ends a drag like a release does.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive && active_) finish();
            });
}

TFormTBarPop::~TFormTBarPop() {
    if (mouseGrabber() == this) releaseMouse();
}

int TFormTBarPop::shadowCount() const {
    return static_cast<int>(std::count_if(shadows_.begin(), shadows_.end(),
                                          [](const auto& s) { return s != nullptr; }));
}

int TFormTBarPop::valueToPosition(const TKnob& knob, int value) {
    const long long span = std::abs(knob.Max - knob.Min);
    if (span == 0) return 0;
    if (knob.Max < knob.Min)
        return roundDiv(kLastPosition * span - static_cast<long long>(value - knob.Max) * kLastPosition,
                        span);
    return roundDiv(static_cast<long long>(value - knob.Min) * kLastPosition, span);
}

int TFormTBarPop::positionToValue(const TKnob& knob, int position) {
    const long long span = std::abs(knob.Max - knob.Min);
    const long long start = static_cast<long long>(knob.Min) * kLastPosition;
    if (knob.Max < knob.Min) return roundDiv(start - position * span, kLastPosition);
    return roundDiv(start + position * span, kLastPosition);
}

int TFormTBarPop::thumbLeft() const { return thumb_->x(); }
int TFormTBarPop::thumbTop() const { return thumb_->y(); }

QRect TFormTBarPop::trackLine() const {
    const QPoint topLeft = pos();
    return {topLeft.x() + kTrackLeft, topLeft.y() + kTrackTop + kTrackHeight / 2, kTrackLength, 1};
}

QPoint TFormTBarPop::holdOnTrack(QPoint global) const {
    const QRect line = trackLine();
    return {std::clamp(global.x(), line.left(), line.right()), line.top()};
}

void TFormTBarPop::popupFor(TKnob* knob) {
    if (!knob) return;
    if (active_) finish();
    active_ = knob;
    // A knob that goes away in the middle of a drag ends it.
    activeGone_ = connect(knob, &QObject::destroyed, this, [this] {
        active_ = nullptr;
        finish();
    });

    const QRect knobRect(knob->mapToGlobal(QPoint(0, 0)), knob->size());
    const QScreen* screen = QGuiApplication::screenAt(knobRect.center());
    if (!screen) screen = knob->screen();
    move(placeFor(knobRect, size(), screen ? screen->availableGeometry() : QRect()));
    wasActivated_ = false;
    show();

    reversed_ = knob->Max < knob->Min;
    savedCursor_ = QCursor::pos();
    const int position = valueToPosition(*knob, knob->value());
    QCursor::setPos(holdOnTrack(QPoint(pos().x() + kTrackLeft + position, 0)));
    thumb_->move(position + kTrackLeft - kThumbWidth / 2,
                 kTrackTop + kTrackHeight / 2 - kThumbHeight / 2);
    // The pop-up takes the mouse over from the knob while the button is held.
    grabMouse();

    for (size_t i = 0; i < shadows_.size(); ++i) {
        if (!shadows_[i]) continue;
        shadows_[i]->move(pos().x() + static_cast<int>(i) + 1, pos().y() + static_cast<int>(i) + 1);
        shadows_[i]->show();
    }
    raise();  // above its shadows
    knob->refreshHighlight();
}

QPoint TFormTBarPop::placeFor(const QRect& knob, QSize size, const QRect& screen) {
    QPoint at(knob.center().x() + 1 - size.width() / 2, knob.bottom() + 1);
    if (!screen.isValid()) return at;
    if (at.y() + size.height() > screen.bottom() + 1) at.setY(knob.top() - size.height());
    at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())));
    at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height())));
    return at;
}

void TFormTBarPop::dragTo(int x) {
    if (!active_) return;
    x = std::clamp(x, 0, kLastPosition);
    active_->setValue(positionToValue(*active_, x));
    if (!active_) return;  // the change handler may have ended the drag
    thumb_->move(valueToPosition(*active_, active_->value()) + kTrackLeft - kThumbWidth / 2,
                 thumb_->y());
}

void TFormTBarPop::finish() {
    TKnob* knob = active_;
    const bool wasShown = isVisible() || knob;
    active_ = nullptr;
    disconnect(activeGone_);
    for (auto& s : shadows_)
        if (s) s->hide();
    if (mouseGrabber() == this) releaseMouse();
    if (wasShown) QCursor::setPos(savedCursor_);
    hide();
    if (knob) knob->refreshHighlight();
}

void TFormTBarPop::mouseMoveEvent(QMouseEvent* event) {
    if (!active_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // The cursor stays on the track line while the drag runs.
    const QPoint global = event->globalPosition().toPoint();
    const QPoint held = holdOnTrack(global);
    if (held != global) QCursor::setPos(held);
    dragTo(held.x() - pos().x() - kTrackLeft);
    event->accept();
}

void TFormTBarPop::mouseReleaseEvent(QMouseEvent* event) {
    finish();
    event->accept();
}

void TFormTBarPop::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            wasActivated_ = true;
        else if (wasActivated_ && active_)
            finish();
    }
    QWidget::changeEvent(event);
}

bool TFormTBarPop::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        finish();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qv
