// Writes the program icon as SVG and as PNG files of the sizes a Linux
// desktop asks for, from one description of its shapes, so the two agree:
// a rounded square in night blue to purple, three FM waves and a ring with a
// tail (a "Q").
//
// Usage: make_icons [output folder]   (default packaging/linux/icons)
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kSize = 256;

// One wave across the icon: y = base + amp * sin(k x + phase + index sin(2 k x)).
struct Wave {
    double base, amp, k, phase, index;
    const char* color;
    double width;
};
constexpr Wave kWaves[] = {
    {176, 14, 0.045, 0.0, 0.6, "#5fd4ff", 7},
    {192, 12, 0.060, 1.2, 1.2, "#b58cff", 6},
    {206, 10, 0.075, 2.1, 1.8, "#ff8fd0", 5},
};

QPainterPath wavePath(const Wave& w) {
    QPainterPath path;
    for (int x = 28; x <= 228; x += 4) {
        const double y = w.base + w.amp * std::sin(w.k * x + w.phase + w.index * std::sin(2 * w.k * x));
        if (x == 28) path.moveTo(x, y);
        else path.lineTo(x, y);
    }
    return path;
}

QString svgPath(const QPainterPath& path) {
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        d += QString("%1%2,%3 ").arg(i == 0 ? "M" : "L").arg(e.x, 0, 'f', 1).arg(e.y, 0, 'f', 1);
    }
    return d.trimmed();
}

void paint(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, kSize);
    sky.setColorAt(0, QColor("#18204a"));
    sky.setColorAt(1, QColor("#601858"));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    // The "Q": a ring and a tail.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor("#ffdc78"), 22, Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(QPointF(128, 100), 58, 58);
    p.drawLine(QPointF(160, 134), QPointF(196, 170));
    for (const Wave& w : kWaves) {
        p.setPen(QPen(QColor(w.color), w.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(wavePath(w));
    }
}

QString svgText() {
    QString svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
        "  <defs>\n"
        "    <linearGradient id=\"sky\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"256\" gradientUnits=\"userSpaceOnUse\">\n"
        "      <stop offset=\"0\" stop-color=\"#18204a\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#601858\"/>\n"
        "    </linearGradient>\n"
        "  </defs>\n"
        "  <rect x=\"8\" y=\"8\" width=\"240\" height=\"240\" rx=\"44\" fill=\"url(#sky)\"/>\n"
        "  <circle cx=\"128\" cy=\"100\" r=\"58\" fill=\"none\" stroke=\"#ffdc78\" stroke-width=\"22\"/>\n"
        "  <line x1=\"160\" y1=\"134\" x2=\"196\" y2=\"170\" stroke=\"#ffdc78\" stroke-width=\"22\" "
        "stroke-linecap=\"round\"/>\n";
    for (const Wave& w : kWaves)
        svg += QString("  <path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\" stroke-linecap=\"round\" "
                       "stroke-linejoin=\"round\"/>\n")
                   .arg(svgPath(wavePath(w)), w.color)
                   .arg(w.width);
    return svg + "</svg>\n";
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("packaging/linux/icons");
    QDir().mkpath(dir);
    QFile svg(dir + "/qorvette.svg");
    if (!svg.open(QIODevice::WriteOnly)) return 1;
    svg.write(svgText().toUtf8());
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(size / kSize, size / kSize);
        paint(p);
        p.end();
        if (!image.save(QString("%1/qorvette-%2.png").arg(dir).arg(size))) return 1;
    }
    std::printf("make_icons: icons written to %s\n", qPrintable(dir));
    return 0;
}
