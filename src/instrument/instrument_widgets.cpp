#include "instrument/instrument_widgets.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr std::array<double, 32> kRate{0.00001, 1, 1.5, 2, 3, 4, 6, 8, 12, 16, 24,
                                       32, 56, 70, 100, 152, 228, 334, 400, 500, 600, 700,
                                       700, 700, 800, 800, 800, 800, 900, 900, 900, 10000};
constexpr std::array<double, 16> kLevelWeight{1, 2, 3, 4, 4, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8};

double rate(int index) { return kRate[std::clamp(index, 0, 31)]; }
double weight(int sl) { return kLevelWeight[std::clamp(sl, 0, 15)]; }

}  // namespace

EnvelopePoints envelopePoints(const Operator& op, int w, int h) {
    (void)w;
    // Times in units of 10 pixels; a rate of 0 never ends.
    const double tA = op.AR == 0 ? 10000.0 : 9.15 / rate(op.AR);
    double decay;
    if (op.SL == 0) decay = 0.02;
    else if (op.DR == 0) decay = 10000.0;
    else decay = 4.02 / rate(op.DR) * op.SL;
    const double tD = tA + decay;
    const double sustain = op.SR == 0 ? 10000.0 : (81.84 / rate(op.SR)) / weight(op.SL);
    const double tS = tD + sustain;
    const double release = op.RR == 0 ? 10000.0 : (31.23 / rate(2 * op.RR + 1)) / weight(op.SL);
    const double tR = tD + release;

    auto x = [](double t) { return static_cast<int>(10.0 * t); };
    const double hd = h;
    EnvelopePoints pts;
    pts.peak = QPoint(x(tA), static_cast<int>((hd - 1) - hd / 127 * (127 - op.TL)));
    pts.sustain = QPoint(
        x(tD), static_cast<int>((hd - 1) - double(127 - op.TL) * (15 - op.SL) / 15 * hd / 127));
    pts.sustainEnd = QPoint(x(tS), h - 1);
    pts.releaseEnd = QPoint(x(tR), h - 1);
    return pts;
}

// ---- envelope graph ---------------------------------------------------------------

EnvelopeGraph::EnvelopeGraph(int op, QWidget* parent) : QWidget(parent), op_(op) {
    setObjectName(QString("PaintBoxEnv%1").arg(op + 1));
    resize(kDesignedWidth, kDesignedHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void EnvelopeGraph::draw(QPainter& p, const Instrument& ins, int op, int w, int h) {
    p.fillRect(0, 0, w, h, Qt::black);
    p.setPen(QColor(64, 64, 64));
    for (int x = 0; x < w; x += 10) p.drawLine(x, h - 1, x, 0);
    const bool carrier = (kCarrierMask[std::clamp(ins.algorithm, 0, 7)] >> op) & 1;
    const QColor curve = carrier ? QColor(0, 255, 0) : QColor(192, 192, 192);
    const QColor release = carrier ? QColor(255, 255, 0) : QColor(128, 128, 128);
    const EnvelopePoints pts = envelopePoints(ins.operators[op], w, h);
    p.setPen(curve);
    p.drawLine(QPoint(0, h), pts.peak);
    p.drawLine(pts.peak, pts.sustain);
    p.setPen(release);
    p.drawLine(pts.sustain, pts.releaseEnd);
    p.setPen(curve);
    p.drawLine(pts.sustain, pts.sustainEnd);
    for (const QPoint& m : {pts.peak, pts.sustain})
        p.fillRect(m.x() - 1, m.y() - 1, 3, 3, QColor(255, 0, 0));
}

void EnvelopeGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!source) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    // A larger page shows the same graph larger.
    if (size() != QSize(kDesignedWidth, kDesignedHeight)) {
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(static_cast<double>(width()) / kDesignedWidth, static_cast<double>(height()) / kDesignedHeight);
    }
    draw(p, source(), op_, kDesignedWidth, kDesignedHeight);
}

// ---- piano -----------------------------------------------------------------------

PianoKeys::PianoKeys(const QPixmap& sprites, QWidget* parent) : QWidget(parent), sprites_(sprites) {
    setObjectName("PaintBoxKeys");
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int PianoKeys::hitTest(int x, int y, int octavePosition) {
    if (x < 0 || y < 0 || x >= kWidth || y < 16 || y >= 100) return -1;
    const int base = 12 * octavePosition - 12 + 12 * (x / kOctaveWidth);
    int note = -1;
    if (y > 50) {
        note = base + kWhiteSemitone[(x / 26) % 7];
    } else if (y < 44) {
        const int d = x % kOctaveWidth;
        for (int s = 0; s < 12; ++s) {
            if (kKind[s] != 3) continue;
            if (d >= kOffset[s] && d <= kOffset[s] + 18) note = base + s;
        }
    }
    if (note > 95) note = 95;
    return note;
}

void PianoKeys::drawPiano(QPainter& p) const {
    p.fillRect(0, 0, kWidth, kHeight, Qt::white);
    const int first = octavePosition ? octavePosition() : 3;
    const int editor = editorOctave ? editorOctave() : 4;
    const bool focus = focused && focused();
    constexpr int col = 26;
    for (int k = 0; k < 3; ++k) {
        const int o = first + k;
        for (int s = 0; s < 12; ++s) {
            const int note = (o - 1) * 12 + s;
            const bool pressed = notePressed && notePressed(note);
            const int kind = kKind[s];
            const int sx = col * (pressed ? kind + 4 : kind);
            const int x0 = kOctaveWidth * k + kOffset[s];
            switch (kind) {
            case 0: p.drawPixmap(x0, 16, sprites_, sx, 0, 17, 36); break;
            case 1: p.drawPixmap(x0 + 10, 16, sprites_, sx + 10, 0, 7, 36); break;
            case 2: p.drawPixmap(x0 + 10, 16, sprites_, sx + 10, 0, 16, 36); break;
            default: p.drawPixmap(x0, 16, sprites_, sx, 0, 19, 36); break;
            }
            if (kind != 3) p.drawPixmap(x0, 52, sprites_, sx, 36, 26, 28);
        }
        // The header: the editor's octave stands out.
        const bool current = o == editor;
        QColor fill, text;
        if (focus) {
            fill = current ? QColor(255, 255, 255) : QColor(192, 192, 192);
            text = Qt::black;
        } else {
            fill = current ? QColor(128, 128, 128) : QColor(192, 192, 192);
            text = current ? QColor(192, 192, 192) : QColor(128, 128, 128);
        }
        const QRect header(kOctaveWidth * k, 0, kOctaveWidth + 1, 16);
        p.fillRect(header, fill);
        p.setPen(Qt::black);
        p.drawRect(header.adjusted(0, 0, -1, -1));
        p.setPen(text);
        // In the piano's own pixels, however large the page draws it.
        QFont font = p.font();
        font.setPixelSize(11);
        p.setFont(font);
        p.drawText(QRect(kOctaveWidth * k + 70, 0, kOctaveWidth - 70, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString("Octave %1").arg(o));
    }
}

void PianoKeys::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A wider page draws the three octaves larger.
    if (size() != QSize(kWidth, kHeight)) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.scale(static_cast<double>(width()) / kWidth, static_cast<double>(height()) / kHeight);
    }
    drawPiano(p);
}

QPoint PianoKeys::designedPoint(QPointF at) const {
    return {static_cast<int>(std::floor(at.x() * kWidth / std::max(1, width()))),
            static_cast<int>(std::floor(at.y() * kHeight / std::max(1, height())))};
}

void PianoKeys::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const QPoint at = designedPoint(event->position());
    emit pressed(hitTest(at.x(), at.y(), octavePosition ? octavePosition() : 3));
}

void PianoKeys::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = designedPoint(event->position());
    if (event->buttons() & (Qt::LeftButton | Qt::RightButton))
        emit moved(hitTest(at.x(), at.y(), octavePosition ? octavePosition() : 3), event->buttons());
}

void PianoKeys::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    emit released(event->button());
}

// ---- frame of the piano ----------------------------------------------------------------

KeysBox::KeysBox(QWidget* parent) : QFrame(parent) {
    setObjectName("ScrollBoxKeys");
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
}

void KeysBox::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    emit focusChanged();
}

void KeysBox::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    emit focusChanged();
}

// ---- instrument list ----------------------------------------------------------------------

namespace {

class InstrumentItemDelegate : public QStyledItemDelegate {
public:
    InstrumentItemDelegate(InstrumentList* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        p->fillRect(option.rect, selected ? pal.brush(QPalette::Highlight) : pal.brush(QPalette::Base));
        const bool free = list_->isFree && list_->isFree(index.row());
        QColor text = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
        if (free) text = pal.color(QPalette::Disabled, QPalette::Text);
        p->setPen(text);
        p->setFont(option.font);
        const QString s = index.data().toString();
        const QRect r = option.rect;
        // The number with its colon, then the name at 20 pixels or, in a
        // wider font, just after the widest number.
        const QFontMetrics metrics(option.font);
        const int numberWidth = metrics.horizontalAdvance(QStringLiteral("DD:"));
        const int nameLeft = std::max(20, 2 + numberWidth + metrics.horizontalAdvance(QLatin1Char(' ')));
        p->drawText(QRect(r.left() + 2, r.top(), nameLeft - 2, r.height()), Qt::AlignLeft | Qt::AlignTop,
                    s.left(3));
        p->drawText(QRect(r.left() + nameLeft, r.top(), r.width() - nameLeft, r.height()),
                    Qt::AlignLeft | Qt::AlignTop, s.mid(3));
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(),
                     std::max(16, QFontMetrics(option.font).height()));
    }

private:
    InstrumentList* list_;
};

}  // namespace

InstrumentList::InstrumentList(QWidget* parent) : QListWidget(parent) {
    setObjectName("ListBoxIns");
    setUniformItemSizes(true);
    setItemDelegate(new InstrumentItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::StrongFocus);
}

}  // namespace qv
