// The About box: the logo with the version on it, the credits and two links.
// A click anywhere but on a link closes it.
#pragma once

#include <QDialog>
#include <QLabel>

namespace qv {

// A label that acts as a link: hand cursor, blue while the mouse is over it,
// and a click hands its target to the desktop.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, const QString& target, QWidget* parent);
    const QString& target() const { return target_; }
    QColor normalColor;

signals:
    void activated(const QString& target);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setTextColor(const QColor& color);
    QString target_;
};

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kUrl = "https://nostrel.org/qorvette";
    static constexpr const char* kEMail = "qorvette@nostrel.org";

    // title: the program's title; the part after the product name is the version.
    explicit TFormAbout(const QString& title, QWidget* parent = nullptr);

    // The part of the title after the product name (" v1.22").
    static QString versionText(const QString& title);
    // The targets the two links hand to the desktop.
    static QString urlTarget();
    static QString eMailTarget();

signals:
    // The "Manual" link on the logo was clicked (the box closes).
    void manualRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qv
