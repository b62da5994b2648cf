#include "dialogs/form_about.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPainterPath>
#include <QUrl>
#include <cmath>
#include <cstring>

namespace qv {

namespace {

constexpr const char* kProduct = "Qorvette";

// The logo: a dark panel with the product name and a row of FM waveforms.
QPixmap logoPixmap() {
    QPixmap pixmap(320, 140);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 140);
    sky.setColorAt(0, QColor(24, 32, 72));
    sky.setColorAt(1, QColor(96, 24, 88));
    p.fillRect(pixmap.rect(), sky);
    // Four operator waves, each modulating the next one a little more.
    for (int op = 0; op < 4; ++op) {
        QPainterPath path;
        for (int x = 0; x <= 320; x += 2) {
            const double t = x / 320.0 * 6.2832 * 3;
            const double y = 100 + 12 * std::sin(t + (op + 1) * 0.8 * std::sin(t * (op + 1)));
            if (x == 0) path.moveTo(x, y);
            else path.lineTo(x, y);
        }
        p.setPen(QPen(QColor::fromHsv(180 + op * 30, 160, 255, 150), 1.5));
        p.drawPath(path);
    }
    QFont font("Sans", 34, QFont::Bold);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRect(12, 14, 300, 60), Qt::AlignLeft | Qt::AlignVCenter, kProduct);
    p.setPen(QColor(255, 220, 120));
    p.drawText(QRect(10, 12, 300, 60), Qt::AlignLeft | Qt::AlignVCenter, kProduct);
    return pixmap;
}

}  // namespace

LinkLabel::LinkLabel(const QString& text, const QString& target, QWidget* parent)
    : QLabel(text, parent), target_(target) {
    setCursor(Qt::PointingHandCursor);
}

void LinkLabel::setTextColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
}

void LinkLabel::enterEvent(QEnterEvent* event) {
    setTextColor(QColor(0, 0, 255));
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    setTextColor(normalColor);
    QLabel::leaveEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
    event->accept();  // a link click does not close the box
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit activated(target_);
    event->accept();
}

TFormAbout::TFormAbout(const QString& title, QWidget* parent) : QDialog(parent) {
    setObjectName("TFormAbout");
    setWindowTitle("About");
    setFixedSize(336, 258);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    auto* logo = new QLabel(this);
    logo->setObjectName("ImageLogo");
    logo->setPixmap(logoPixmap());
    logo->setGeometry(8, 8, 320, 140);
    logo->installEventFilter(this);

    // The version on the logo's lower right, a black shadow under white text.
    const QString version = versionText(title);
    auto* shadow = new QLabel(version, this);
    shadow->setObjectName("LabelShadow");
    auto* text = new QLabel(version, this);
    text->setObjectName("LabelText");
    for (QLabel* l : {shadow, text}) {
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setAttribute(Qt::WA_TranslucentBackground);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        l->installEventFilter(this);
    }
    QPalette white = text->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    text->setPalette(white);
    QPalette black = shadow->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    shadow->setPalette(black);
    text->setGeometry(8 + 320 - 89 - 6, 8 + 140 - 22, 89, 18);
    shadow->setGeometry(text->x() + 1, text->y() + 1, 89, 18);
    text->raise();

    // The way to the built-in manual, on the logo's lower left.
    auto* manual = new LinkLabel("Manual (Help > Show help)", "qrc:/manual/index.md", this);
    manual->setObjectName("LabelManual");
    manual->setGeometry(14, 8 + 140 - 22, 200, 18);
    manual->normalColor = QColor(255, 220, 120);
    QPalette gold = manual->palette();
    gold.setColor(QPalette::WindowText, manual->normalColor);
    manual->setPalette(gold);
    manual->setAttribute(Qt::WA_TranslucentBackground);
    connect(manual, &LinkLabel::activated, this, [this] {
        emit manualRequested();
        accept();
    });

    const char* credits[] = {
        "Qorvette editor: the Nostrel team, 2026",
        "YM2203 emulation: Qorvette's own FM engine,",
        "written for this editor from the chip's",
        "documented registers and tables",
        "Faster rendering and exports: the Nostrel team",
        "Thanks to every musician who tried it early",
    };
    int y = 152;
    int n = 1;
    for (const char* line : credits) {
        auto* l = new QLabel(line, this);
        l->setObjectName(QString("StaticText%1").arg(n++));
        l->setGeometry(8, y, 320, 14);
        l->installEventFilter(this);
        y += 14;
    }
    auto* url = new LinkLabel(QString(kUrl).section("://", 1), urlTarget(), this);
    url->setObjectName("LabelUrl");
    url->setGeometry(8, y + 4, 160, 16);
    auto* mail = new LinkLabel(kEMail, eMailTarget(), this);
    mail->setObjectName("LabelEMail");
    mail->setGeometry(168, y + 4, 160, 16);
    mail->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (LinkLabel* link : {url, mail}) {
        link->normalColor = palette().color(QPalette::WindowText);
        connect(link, &LinkLabel::activated, this,
                [](const QString& target) { QDesktopServices::openUrl(QUrl(target)); });
    }
}

QString TFormAbout::versionText(const QString& title) {
    return title.startsWith(kProduct) ? title.mid(static_cast<int>(strlen(kProduct))) : title;
}

QString TFormAbout::urlTarget() { return kUrl; }

QString TFormAbout::eMailTarget() {
    return QString("mailto:") + kEMail + "?subject=" + kProduct;
}

void TFormAbout::mousePressEvent(QMouseEvent* event) {
    accept();
    event->accept();
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qv
