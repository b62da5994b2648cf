#include "dialogs/help_window.h"

#include <QFile>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "io/command_help.h"
#include "io/keyboard_layout.h"

namespace qv {

namespace {

QString resourcePath(const QString& page) { return ":/manual/" + page; }

}  // namespace

ManualBrowser::ManualBrowser(const KeyboardLayout& layout, QWidget* parent)
    : QTextBrowser(parent), layout_(layout) {}

QVariant ManualBrowser::loadResource(int type, const QUrl& name) {
    if (type == QTextDocument::MarkdownResource || name.path().endsWith(".md")) {
        const QString page = name.path().section('/', -1);
        if (QFile::exists(resourcePath(page))) return HelpWindow::pageText(page, layout_);
    }
    return QTextBrowser::loadResource(type, name);
}

HelpWindow::HelpWindow(const KeyboardLayout& layout, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("HelpWindow");
    setWindowTitle("Qorvette manual");
    resize(820, 640);  // the pictures of the pages (760 wide) fit
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* tools = new QToolBar(this);
    tools->setObjectName("ToolBarHelp");
    column->addWidget(tools);
    browser_ = new ManualBrowser(layout, this);
    browser_->setObjectName("TextBrowserHelp");
    browser_->setOpenExternalLinks(true);
    column->addWidget(browser_);

    QAction* back = tools->addAction("Back", browser_, &QTextBrowser::backward);
    back->setObjectName("HelpBack");
    QAction* forward = tools->addAction("Forward", browser_, &QTextBrowser::forward);
    forward->setObjectName("HelpForward");
    tools->addAction("Contents", this, [this] { showPage("index.md"); })->setObjectName("HelpContents");
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    // The caption names the page by its heading.
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = browser_->document()->firstBlock().text().trimmed();
        setWindowTitle(title.isEmpty() || title == "Qorvette manual" ? QString("Qorvette manual")
                                                                      : "Qorvette manual - " + title);
    });
    showPage("index.md");
}

void HelpWindow::showPage(const QString& page) {
    const QUrl url("qrc:/manual/" + page);
    if (browser_->source() == url) browser_->reload();
    else browser_->setSource(url, QTextDocument::MarkdownResource);
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QStringList HelpWindow::pages() {
    return {"index.md",    "getting-started.md", "patterns.md", "instruments.md", "information.md", "editor-page.md",
            "keys.md",     "effects.md",         "formats.md",  "export.md",      "command-line.md"};
}

QString HelpWindow::pageText(const QString& page, const KeyboardLayout& layout) {
    QFile file(resourcePath(page));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.contains(kMarker))
        text.replace(kMarker, QString::fromStdString(commandTablesMarkdown(layout)));
    return text;
}

}  // namespace qv
