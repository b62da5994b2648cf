#include "editor/pattern_view.h"

#include <QToolButton>

namespace qv {

std::vector<PatternLineSpan> formatPatternLine(const PatternLine&, const Row*, const PatternLineStyle&) {
    return {{0, QString(kPatternLineColumns, QLatin1Char(' ')), Settings::ColorNormalText}};
}

QString patternLineText(const std::vector<PatternLineSpan>& spans) {
    QString text;
    for (const auto& s : spans) text += s.text;
    return text;
}

std::vector<PatternLine> patternLines(const Song&, const EditorViewState&, int lines, bool) {
    return std::vector<PatternLine>(lines);
}

QColor patternColor(const Settings&, int, const QPalette& palette) { return palette.color(QPalette::Button); }
int defaultPatternColor(int) { return -1; }

PatternView::PatternView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("PaintBoxPtn"));
}
void PatternView::applyFont() {}
int PatternView::visibleRows() const { return height() / lineHeight_ + 1; }
void PatternView::setEditSongMode(bool on) { editSong_ = on; update(); }
bool PatternView::showsFocus() const { return false; }
bool PatternView::cellAt(QPoint, int*, int*) const { return false; }
void PatternView::paintEvent(QPaintEvent*) {}
void PatternView::mousePressEvent(QMouseEvent*) {}
void PatternView::mouseMoveEvent(QMouseEvent*) {}
void PatternView::mouseDoubleClickEvent(QMouseEvent*) {}
void PatternView::wheelEvent(QWheelEvent*) {}
void PatternView::contextMenuEvent(QContextMenuEvent*) {}

PatternHeader::PatternHeader(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("PanelPtnHeader"));
    for (auto& b : buttons_) b = new QToolButton(this);
}
void PatternHeader::layoutFor(const PatternView&) {}
uint8_t PatternHeader::channelMask() const { return 0x3f; }
bool PatternHeader::isMuted(int) const { return false; }
void PatternHeader::muteChannel(int) {}
void PatternHeader::muteAll() {}
void PatternHeader::soloChannel(int) {}
void PatternHeader::chanChannel(int) {}
void PatternHeader::followCursor(int) {}
void PatternHeader::applyRules() {}
void PatternHeader::allClicked() {}
void PatternHeader::muteClicked() {}
void PatternHeader::soloClicked(int) {}
void PatternHeader::chanClicked(int) {}

}  // namespace qv
