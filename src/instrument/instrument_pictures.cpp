#include "instrument/instrument_pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <vector>

namespace qv {

namespace {

// A dark dial cap wide enough to lie under the pointer dot (radius 9 of the
// 32-pixel dial), so that the white dot of a focused knob stands out.
QPixmap knobPicture() {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(9, 8), 14);
    shade.setColorAt(0, QColor(120, 120, 128));
    shade.setColorAt(1, QColor(36, 36, 40));
    p.setBrush(shade);
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.drawEllipse(QRectF(0.5, 0.5, 23, 23));
    return pm;
}

// Columns 0-2: white keys (with a black key right, between two, left),
// column 3 a black key with the white strip below it; 4-7 the same pressed.
QPixmap keySheet() {
    constexpr int w = InstrumentPictures::kKeyColumn;
    QPixmap pm(InstrumentPictures::kKeySheetWidth, InstrumentPictures::kKeySheetHeight);
    pm.fill(Qt::white);
    QPainter p(&pm);
    const QColor edge(96, 96, 96);
    const QColor whiteUp(255, 255, 255);
    const QColor whiteDown(176, 196, 222);
    for (int pressed = 0; pressed < 2; ++pressed) {
        for (int kind = 0; kind < 3; ++kind) {
            const int x = (kind + 4 * pressed) * w;
            p.fillRect(x, 0, w, 64, pressed ? whiteDown : whiteUp);
            // A rounded-looking front edge; a pressed key shows less of it.
            const int lip = pressed ? 2 : 4;
            p.fillRect(x, 63 - lip, w, lip, pressed ? QColor(150, 170, 200) : QColor(220, 220, 220));
            p.setPen(edge);
            p.drawLine(x, 0, x, 63);
            p.drawLine(x, 63, x + w - 1, 63);
        }
        const int x = (3 + 4 * pressed) * w;
        // Below the black key: the white keys' upper parts and their seam.
        p.fillRect(x, 0, w, 36, whiteUp);
        p.setPen(edge);
        p.drawLine(x + 10, 28, x + 10, 35);
        const int bodyEnd = pressed ? 27 : 25;
        p.fillRect(x, 0, 19, 28, QColor(16, 16, 16));
        p.fillRect(x + 2, 0, 15, bodyEnd, pressed ? QColor(72, 72, 96) : QColor(40, 40, 40));
        if (!pressed) {
            p.fillRect(x + 4, 1, 2, bodyEnd - 4, QColor(100, 100, 100));
            p.fillRect(x + 2, bodyEnd, 15, 2, QColor(70, 70, 70));
        }
    }
    return pm;
}

struct Box {
    int x, y;  // centre
};

// Connection diagram of one algorithm. The boxes carry the numbers of the
// operator rows (register order), so the chip's chain S1-S2-S3-S4 reads
// 1-3-2-4.
QPixmap algorithmPicture(int algorithm) {
    struct Layout {
        std::array<Box, 4> boxes;  // operators 1-4
        std::vector<std::pair<int, int>> links;
    };
    static const std::array<Layout, 8> layouts{{
        {{{{12, 32}, {60, 32}, {36, 32}, {84, 32}}}, {{1, 3}, {3, 2}, {2, 4}}},
        {{{{12, 16}, {44, 32}, {12, 48}, {76, 32}}}, {{1, 2}, {3, 2}, {2, 4}}},
        {{{{44, 16}, {44, 48}, {12, 48}, {76, 32}}}, {{3, 2}, {1, 4}, {2, 4}}},
        {{{{12, 16}, {44, 48}, {44, 16}, {76, 32}}}, {{1, 3}, {3, 4}, {2, 4}}},
        {{{{24, 16}, {24, 48}, {60, 16}, {60, 48}}}, {{1, 3}, {2, 4}}},
        {{{{20, 32}, {60, 32}, {60, 10}, {60, 54}}}, {{1, 3}, {1, 2}, {1, 4}}},
        {{{{20, 10}, {60, 32}, {60, 10}, {60, 54}}}, {{1, 3}}},
        {{{{60, 9}, {60, 41}, {60, 25}, {60, 57}}}, {}},
    }};
    static constexpr std::array<int, 8> carriers{8, 8, 8, 8, 12, 14, 14, 15};
    constexpr int halfW = 9, halfH = 6, bus = 104, outY = 32;

    QPixmap pm(InstrumentPictures::kAlgoWidth, InstrumentPictures::kAlgoHeight);
    pm.fill(Qt::white);
    QPainter p(&pm);
    const Layout& l = layouts[algorithm];
    p.setPen(QPen(Qt::black, 1));
    for (const auto& [from, to] : l.links) {
        const Box a = l.boxes[from - 1], b = l.boxes[to - 1];
        const int x0 = a.x + halfW, x1 = b.x - halfW;
        if (a.y == b.y) {
            p.drawLine(x0, a.y, x1, b.y);
        } else {
            const int mid = (x0 + x1) / 2;
            p.drawLine(x0, a.y, mid, a.y);
            p.drawLine(mid, a.y, mid, b.y);
            p.drawLine(mid, b.y, x1, b.y);
        }
    }
    // Feedback of operator 1 onto itself.
    const Box one = l.boxes[0];
    p.drawPolyline(QPolygon({QPoint(one.x + halfW, one.y), QPoint(one.x + halfW + 3, one.y),
                             QPoint(one.x + halfW + 3, one.y - halfH - 3),
                             QPoint(one.x - halfW - 3, one.y - halfH - 3),
                             QPoint(one.x - halfW - 3, one.y), QPoint(one.x - halfW, one.y)}));
    // Carriers into the output.
    int top = outY, bottom = outY;
    for (int op = 0; op < 4; ++op) {
        if (!(carriers[algorithm] >> op & 1)) continue;
        const Box c = l.boxes[op];
        p.drawLine(c.x + halfW, c.y, bus, c.y);
        top = std::min(top, c.y);
        bottom = std::max(bottom, c.y);
    }
    p.drawLine(bus, top, bus, bottom);
    p.drawLine(bus, outY, 118, outY);
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygon({QPoint(120, outY), QPoint(115, outY - 3), QPoint(115, outY + 3)}));
    // The operator boxes, carriers shaded.
    QFont font = p.font();
    font.setPixelSize(9);
    font.setBold(true);
    p.setFont(font);
    for (int op = 0; op < 4; ++op) {
        const Box b = l.boxes[op];
        const QRect r(b.x - halfW, b.y - halfH, 2 * halfW, 2 * halfH + 1);
        p.setBrush((carriers[algorithm] >> op & 1) ? QColor(160, 230, 160) : QColor(220, 220, 220));
        p.drawRect(r);
        p.drawText(r, Qt::AlignCenter, QString::number(op + 1));
    }
    return pm;
}

// index 0: SSG-EG off; 1-8: the shapes of the values 8-15.
QPixmap ssgEgPicture(int index) {
    QPixmap pm(InstrumentPictures::kEnvWidth, InstrumentPictures::kEnvHeight);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(0, 0, pm.width() - 1, pm.height() - 1);
    if (index == 0) {
        QFont font = p.font();
        font.setPixelSize(10);
        p.setFont(font);
        p.drawText(pm.rect(), Qt::AlignCenter, "off");
        return pm;
    }
    const int shape = index - 1;  // SSG-EG value - 8
    const bool attackFirst = shape & 4;  // starts rising
    const int top = 4, bottom = 17, seg = 10, left = 2;
    QPainterPath path;
    bool high = !attackFirst;  // level at the start of the next segment
    path.moveTo(left, high ? top : bottom);
    for (int s = 0; s < 4; ++s) {
        const int x1 = left + (s + 1) * seg;
        const bool rising = !high;
        const bool hold = (shape & 1) && s > 0;  // the one-shot shapes hold after the first
        if (hold) {
            path.lineTo(x1, path.currentPosition().y());
            continue;
        }
        path.lineTo(x1, rising ? top : bottom);
        high = rising;
        if (shape & 1) {
            // End of the one-shot: hold at the far end or jump to the other.
            const bool jump = (shape & 2) != 0;
            if (jump) {
                path.lineTo(x1, high ? bottom : top);
                high = !high;
            }
            continue;
        }
        if (shape & 2) continue;  // alternate: the next segment turns back
        // Repeat: jump back to the start level.
        path.lineTo(x1, rising ? bottom : top);
        high = !rising;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor(0, 0, 160), 1));
    p.drawPath(path);
    return pm;
}

}  // namespace

InstrumentPictures::InstrumentPictures() {
    knobFace = knobPicture();
    keys = keySheet();
    for (int a = 0; a < 8; ++a) algorithms[a] = algorithmPicture(a);
    for (int i = 0; i < 9; ++i) ssgEg[i] = ssgEgPicture(i);
}

}  // namespace qv
