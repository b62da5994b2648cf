// The manual window: the pages of docs/manual (compiled in as resources)
// in a text browser with Back, Forward and Contents. The Keys page gets its
// command tables from the keyboard layout in use each time it is shown, so
// a loaded layout shows its own keys.
#pragma once

#include <QTextBrowser>
#include <QWidget>

namespace qv {

class KeyboardLayout;

// The browser that fills the Keys page in from the layout.
class ManualBrowser : public QTextBrowser {
    Q_OBJECT
public:
    ManualBrowser(const KeyboardLayout& layout, QWidget* parent);
    QVariant loadResource(int type, const QUrl& name) override;

private:
    const KeyboardLayout& layout_;
};

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kMarker = "<!-- qorvette:commands -->";
    static constexpr const char* kIndex = "qrc:/manual/index.md";

    explicit HelpWindow(const KeyboardLayout& layout, QWidget* parent = nullptr);

    // page: a file name of the manual ("keys.md"); reloads it, so the Keys
    // page follows a layout changed since it was last shown.
    void showPage(const QString& page);
    QTextBrowser* browser() const { return browser_; }
    // The manual's page names, in the order of its contents.
    static QStringList pages();
    // A manual page's Markdown as the window shows it.
    static QString pageText(const QString& page, const KeyboardLayout& layout);

protected:
    void keyPressEvent(QKeyEvent* event) override;  // Esc closes the window

private:
    ManualBrowser* browser_;
};

}  // namespace qv
