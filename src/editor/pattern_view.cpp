#include "editor/pattern_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "app/toggle_look.h"

namespace qv {

namespace {

const char kHex[] = "0123456789ABCDEF";
const char* const kNoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};

QChar hexDigit(int v) { return QLatin1Char(kHex[v & 15]); }

QString hex2(int v) {
    QString s(2, QLatin1Char(' '));
    s[0] = hexDigit(v >> 4);
    s[1] = hexDigit(v);
    return s;
}

QString noteText(const Cell& cell, bool dots) {
    if (cell.hasNote()) {
        QString s = QLatin1String(kNoteNames[cell.note]);
        s += hexDigit(cell.octave);
        return s;
    }
    if (cell.note == kNoteKeyOff) return QStringLiteral("***");
    return dots ? QStringLiteral("...") : QStringLiteral("---");
}

QString volumeText(const Cell& cell) { return cell.volume == 0 ? QStringLiteral("..") : hex2(cell.volume); }
QString instrumentText(const Cell& cell) {
    return cell.instrument == 0 ? QStringLiteral("..") : hex2(cell.instrument);
}
QString effectText(const Cell& cell) {
    if (!cell.hasEffect()) return QStringLiteral("...");
    QString s(1, hexDigit(cell.effect));
    return s + hex2(cell.param);
}

// The 13 columns of a channel after its "|".
QString channelText(const Cell& cell, bool dots) {
    QString s;
    s.reserve(13);
    s += noteText(cell, dots);
    s += QLatin1Char(' ');
    s += volumeText(cell);
    s += QLatin1Char(' ');
    s += instrumentText(cell);
    s += QLatin1Char(' ');
    s += effectText(cell);
    return s;
}

QString rowNumberText(int row) { return hex2(row) + QLatin1Char(' '); }

bool selected(const Selection& sel, int channel, int row) {
    return !sel.empty() && channel >= sel.x && channel < sel.x + sel.w && row >= sel.y && row < sel.y + sel.h;
}

// The eight fields of the cursor row, each drawn by itself, with their
// column offsets inside the channel (after the "|").
struct FieldText {
    int offset;
    QString text;
};

std::array<FieldText, 8> cursorFields(const Cell& cell, bool dots) {
    const bool noVolume = cell.volume == 0;
    const bool noInstrument = cell.instrument == 0;
    const bool noEffect = !cell.hasEffect();
    auto digit = [](bool none, int v) { return none ? QStringLiteral(".") : QString(1, hexDigit(v)); };
    return {{
        {0, noteText(cell, dots)},
        {4, digit(noVolume, cell.volume >> 4)},
        {5, digit(noVolume, cell.volume)},
        {7, digit(noInstrument, cell.instrument >> 4)},
        {8, digit(noInstrument, cell.instrument)},
        {10, digit(noEffect, cell.effect)},
        {11, digit(noEffect, cell.param >> 4)},
        {12, digit(noEffect, cell.param)},
    }};
}

}  // namespace

std::vector<PatternLineSpan> formatPatternLine(const PatternLine& line, const Row* row,
                                               const PatternLineStyle& style) {
    std::vector<PatternLineSpan> spans;
    const int lineBackground = style.focused ? Settings::ColorActiveLine : Settings::ColorInactiveLine;
    switch (line.kind) {
    case PatternLineKind::Blank:
        spans.push_back({0, QString(kPatternLineColumns, QLatin1Char(' ')), Settings::ColorNormalText,
                         Settings::ColorOutOfRange});
        return spans;
    case PatternLineKind::NoPattern:
        spans.push_back({0,
                         QString(30, QLatin1Char(' ')) + QStringLiteral("No pattern number selected") +
                             QString(31, QLatin1Char(' ')),
                         Settings::ColorInvertedText, lineBackground});
        return spans;
    case PatternLineKind::PrevNext: {
        QString text = rowNumberText(line.row);
        for (int c = 0; c < kChannels; ++c) {
            text += QLatin1Char('|');
            text += channelText((*row)[c], style.noteDots);
        }
        spans.push_back({0, text, Settings::ColorPrevNextPatterns, Settings::ColorOutOfRange});
        return spans;
    }
    case PatternLineKind::Row: {
        const bool fourth = line.row % 4 == 0;
        const int background = fourth ? Settings::ColorFourthLine : Settings::ColorNormalLine;
        const int selectBackground = fourth ? Settings::ColorSelectFourthLine : Settings::ColorSelectNormalLine;
        spans.reserve(1 + 2 * kChannels);
        spans.push_back({0, rowNumberText(line.row), Settings::ColorNormalText, background});
        for (int c = 0; c < kChannels; ++c) {
            const int col = 3 + kPatternChannelColumns * c;
            spans.push_back({col, QStringLiteral("|"), Settings::ColorSeparator, background});
            spans.push_back({col + 1, channelText((*row)[c], style.noteDots), Settings::ColorNormalText,
                             selected(style.selection, c, line.row) ? selectBackground : background});
        }
        return spans;
    }
    case PatternLineKind::Cursor: {
        spans.reserve(1 + 12 * kChannels);
        spans.push_back({0, rowNumberText(line.row), Settings::ColorInvertedText, lineBackground});
        for (int c = 0; c < kChannels; ++c) {
            const int col = 3 + kPatternChannelColumns * c;
            const bool channelSelected = selected(style.selection, c, line.row);
            const int fieldBackground = channelSelected ? Settings::ColorSelectActiveLine : lineBackground;
            spans.push_back({col, QStringLiteral("|"), Settings::ColorSeparator, lineBackground});
            const auto fields = cursorFields((*row)[c], style.noteDots);
            int next = col + 1;  // first column not yet covered
            for (int f = 0; f < 8; ++f) {
                const int fieldCol = col + 1 + fields[f].offset;
                if (fieldCol > next)  // the space before this field
                    spans.push_back({next, QString(fieldCol - next, QLatin1Char(' ')), Settings::ColorInvertedText,
                                     fieldBackground});
                const bool isCursor = style.focused && style.cursorField == c * 8 + f;
                spans.push_back({fieldCol, fields[f].text, Settings::ColorInvertedText,
                                 isCursor ? kColorCursorField : fieldBackground});
                next = fieldCol + static_cast<int>(fields[f].text.size());
            }
        }
        return spans;
    }
    }
    return spans;
}

QString patternLineText(const std::vector<PatternLineSpan>& spans) {
    QString text(kPatternLineColumns, QLatin1Char(' '));
    for (const auto& s : spans)
        for (int i = 0; i < s.text.size() && s.column + i < kPatternLineColumns; ++i) text[s.column + i] = s.text[i];
    return text;
}

std::vector<PatternLine> patternLines(const Song& song, const EditorViewState& view, int lines,
                                      bool showPrevNext) {
    lines = std::clamp(lines, 0, kPatternMaxLines);
    std::vector<PatternLine> out(lines);
    const int middle = lines / 2;
    if (lines == 0) return out;
    if (view.noPatternSelected) {
        out[middle].kind = PatternLineKind::NoPattern;
        return out;
    }
    const int current = std::clamp(view.currentPattern, 0, kPatterns - 1);
    const int length = song.patterns[current].length;
    out[middle] = {PatternLineKind::Cursor, current, view.cursorRow};

    if (!showPrevNext) {
        for (int k = 0; k < lines; ++k) {
            const int r = view.cursorRow - middle + k;
            if (k != middle && r >= 0 && r < length) out[k] = {PatternLineKind::Row, current, r};
        }
        return out;
    }

    // Walk the order list from the cursor: backwards above, forwards below.
    const int orderLength = song.order.length;
    auto lengthAt = [&](int pos) {
        return pos == view.orderCursor ? length : song.patterns[song.order.entries[pos].pattern].length;
    };
    auto lineFor = [&](int pos, int r) -> PatternLine {
        if (pos == view.orderCursor) return {PatternLineKind::Row, current, r};
        return {PatternLineKind::PrevNext, song.order.entries[pos].pattern, r};
    };
    int pos = view.orderCursor;
    int r = view.cursorRow;
    for (int k = middle - 1; k >= 0; --k) {
        if (--r < 0) {
            if (--pos < 0 || pos >= orderLength) break;
            r = lengthAt(pos) - 1;
        }
        out[k] = lineFor(pos, r);
    }
    pos = view.orderCursor;
    r = view.cursorRow;
    for (int k = middle + 1; k < lines; ++k) {
        if (++r >= lengthAt(pos)) {
            if (++pos >= orderLength) break;
            r = 0;
        }
        out[k] = lineFor(pos, r);
    }
    return out;
}

int defaultPatternColor(int index) {
    auto rgb = [](int r, int g, int b) { return r + 256 * g + 65536 * b; };
    switch (index) {
    case Settings::ColorNormalLine: return rgb(255, 255, 255);
    case Settings::ColorFourthLine: return rgb(224, 240, 224);
    case Settings::ColorNormalText: return rgb(0, 0, 0);
    case Settings::ColorInvertedText: return rgb(255, 255, 255);
    case Settings::ColorActiveLine: return rgb(0, 192, 0);
    case Settings::ColorInactiveLine: return rgb(128, 192, 128);
    case Settings::ColorSelectActiveLine: return rgb(160, 192, 0);
    case Settings::ColorSelectNormalLine: return rgb(192, 224, 224);
    case Settings::ColorSelectFourthLine: return rgb(144, 224, 224);
    case Settings::ColorSeparator: return rgb(192, 192, 192);
    case Settings::ColorPrevNextPatterns: return rgb(128, 128, 128);
    case kColorCursorField: return 0;
    default: return -1;  // ColorOutOfRange: the palette's button face
    }
}

QColor patternColor(const Settings& settings, int index, const QPalette& palette) {
    int value = index >= 0 && index < Settings::kColors ? settings.colors[index] : -1;
    if (value < 0) value = defaultPatternColor(index);
    if (value < 0) return palette.color(QPalette::Button);
    return QColor(value & 255, (value >> 8) & 255, (value >> 16) & 255);
}

PatternColors patternColors(const Settings& settings, const QPalette& palette) {
    PatternColors colors;
    for (int i = 0; i < static_cast<int>(colors.size()); ++i) colors[i] = patternColor(settings, i, palette);
    return colors;
}

void drawPatternLine(QPainter& painter, int y, const std::vector<PatternLineSpan>& spans,
                     const PatternColors& colors, const PatternFontCell& cell) {
    const int cw = cell.charWidth;
    // Backgrounds first, neighbours of one colour as one rectangle.
    for (size_t i = 0; i < spans.size();) {
        size_t j = i + 1;
        int end = spans[i].column + static_cast<int>(spans[i].text.size());
        while (j < spans.size() && spans[j].backgroundIndex == spans[i].backgroundIndex && spans[j].column == end) {
            end += static_cast<int>(spans[j].text.size());
            ++j;
        }
        painter.fillRect(spans[i].column * cw, y, (end - spans[i].column) * cw, cell.lineHeight,
                         colors[spans[i].backgroundIndex]);
        i = j;
    }
    // Then the glyphs, one run per text colour; spaces need none.
    if (!cell.raw.isValid()) return;
    QVector<quint32> indexes;
    QVector<QPointF> positions;
    indexes.reserve(kPatternLineColumns);
    positions.reserve(kPatternLineColumns);
    std::array<bool, Settings::kColors + 1> done{};
    for (const auto& span : spans) {
        if (done[span.colorIndex]) continue;
        done[span.colorIndex] = true;
        indexes.clear();
        positions.clear();
        for (const auto& s : spans) {
            if (s.colorIndex != span.colorIndex) continue;
            for (int i = 0; i < s.text.size() && s.column + i < kPatternLineColumns; ++i) {
                const ushort ch = s.text[i].unicode();
                if (ch <= ' ' || ch >= 128) continue;
                indexes.append(cell.glyphs[ch]);
                positions.append(QPointF((s.column + i) * cw, y + cell.ascent));
            }
        }
        if (indexes.isEmpty()) continue;
        QGlyphRun run;
        run.setRawFont(cell.raw);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        painter.setPen(colors[span.colorIndex]);
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
}

PatternFontCell patternFontFor(const QString& name, int pointSize) {
    PatternFontCell cell;
    QFont font(name, pointSize);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setKerning(false);
    const QFontMetrics metrics(font);
    cell.charWidth = std::max(1, metrics.horizontalAdvance(QStringLiteral("1")));
    cell.lineHeight = std::max(1, metrics.height());
    cell.ascent = metrics.ascent();
    // Glyph advances are fractional; spacing them to the whole cell keeps
    // every character of a text in its column.
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QStringLiteral("1"));
    font.setLetterSpacing(QFont::AbsoluteSpacing, cell.charWidth - advance);
    cell.font = font;
    cell.raw = QRawFont::fromFont(font);
    if (cell.raw.isValid()) {
        QString ascii;
        for (int ch = 0; ch < 128; ++ch) ascii += QChar(ch < 32 ? ' ' : ch);
        const QVector<quint32> found = cell.raw.glyphIndexesForString(ascii);
        for (int ch = 0; ch < 128 && ch < found.size(); ++ch) cell.glyphs[ch] = found[ch];
    }
    return cell;
}

int fitPatternFontSize(const QString& name, int width) {
    // The cell grows with the size, so the sizes are searched by halving.
    int lo = Settings::kMinFontSize;
    int hi = Settings::kMaxFontSize;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        QFont font(name, mid);
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        const int cw = std::max(1, QFontMetrics(font).horizontalAdvance(QStringLiteral("1")));
        if (kPatternLineColumns * cw <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

// ---- PatternView -----------------------------------------------------------

PatternView::PatternView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("PaintBoxPtn"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    applyFont();
    // The cursor row shows whether the view is the active control.
    connect(qApp, &QApplication::focusChanged, this, [this] { update(); });
}

void PatternView::applyFont() {
    const Settings& s = ctx_.settings;
    fontSize_ = s.patternFontFit && availableWidth_ > 0
                    ? fitPatternFontSize(s.patternFontName, availableWidth_)
                    : std::clamp(s.patternFontSize, Settings::kMinFontSize, Settings::kMaxFontSize);
    cell_ = patternFontFor(s.patternFontName, fontSize_);
    lineCache_.clear();
    // Narrower than a whole line the scroll box shows a scroll bar.
    setMinimumWidth(kPatternLineColumns * cell_.charWidth);
    update();
    emit fontApplied();
}

void PatternView::setAvailableWidth(int width) {
    if (width == availableWidth_) return;
    availableWidth_ = width;
    if (ctx_.settings.patternFontFit && fitPatternFontSize(ctx_.settings.patternFontName, width) != fontSize_)
        applyFont();
}

void PatternView::setMutedChannels(uint8_t mask) {
    if (mask == muted_) return;
    muted_ = mask;
    update();
}

void PatternView::setPlayingRow(int orderPosition, int row) {
    if (orderPosition == playOrder_ && row == playRow_) return;
    playOrder_ = orderPosition;
    playRow_ = row;
    update();
}

std::pair<int, int> PatternView::cursorChannelSpan() const {
    const int channel = std::clamp(ctx_.view.cursorColumn / 8, 0, kChannels - 1);
    const int first = channel == 0 ? 0 : 3 + kPatternChannelColumns * channel;
    const int last = 3 + kPatternChannelColumns * (channel + 1);  // the next "|" or the line's end
    return {first * cell_.charWidth, (last - first) * cell_.charWidth};
}

int PatternView::visibleRows() const { return std::min(height() / cell_.lineHeight + 1, kPatternMaxLines); }

void PatternView::setEditSongMode(bool on) {
    editSong_ = on;
    update();
}

bool PatternView::showsFocus() const {
    const QWidget* focus = window()->focusWidget();
    if (!focus) return false;
    return focus == this || (focus != window() && focus->isAncestorOf(this));
}

bool PatternView::cellAt(QPoint pos, int* row, int* column) const {
    *row = -1;
    *column = -1;
    if (pos.x() < 0 || pos.y() < 0) return false;
    const int col = pos.x() / cell_.charWidth;
    if (col < 4 || col >= kPatternLineColumns) return false;
    const int channel = (col - 4) / kPatternChannelColumns;
    const int inChannel = (col - 4) % kPatternChannelColumns;
    const bool rightHalf = pos.x() % cell_.charWidth >= cell_.charWidth / 2.0;
    // Column inside the channel -> field; blanks (and the next channel's "|")
    // go to the neighbour on the side of the click.
    static constexpr int kFieldOf[14] = {0, 0, 0, -1, 1, 2, -1, 3, 4, -1, 5, 6, 7, -1};
    int field = kFieldOf[inChannel];
    int ch = channel;
    if (field < 0) {
        if (inChannel == 13) {
            if (rightHalf) {
                ++ch;
                field = 0;
            } else {
                field = 7;
            }
        } else {
            field = kFieldOf[inChannel - 1] + (rightHalf ? 1 : 0);
        }
    }
    *column = ch * 8 + field;
    if (!ctx_.view.noPatternSelected) {
        const int length = ctx_.song->patterns[std::clamp(ctx_.view.currentPattern, 0, kPatterns - 1)].length;
        const int r = pos.y() / cell_.lineHeight + ctx_.view.cursorRow - visibleRows() / 2;
        if (r >= 0 && r < length) *row = r;
    }
    return true;
}

void PatternView::followRows(int rows) {
    const int lines = visibleRows();
    if (rows == 0) return;
    if (std::abs(rows) >= lines / 2) {
        update();
        return;
    }
    const int h = cell_.lineHeight;
    scroll(0, -rows * h);
    const int middle = lines / 2;
    update(QRect(0, middle * h, width(), h));
    update(QRect(0, (middle - rows) * h, width(), h));
}

void PatternView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setFont(cell_.font);
    painter.setPen(Qt::white);
    painter.setBackground(Qt::black);
    const PatternColors colors = patternColors(ctx_.settings, palette());
    const int lines = visibleRows();
    const Settings& settings = ctx_.settings;
    const bool showPrevNext = settings.patternShowPrevNext == 0 || (settings.patternShowPrevNext == 1 && editSong_);
    const Song& song = *ctx_.song;
    const auto shown = patternLines(song, ctx_.view, lines, showPrevNext);

    // Beyond the 87 columns: the scroll box's own background.
    const int lineWidth = kPatternLineColumns * cell_.charWidth;
    const QRect dirty = event->rect();
    if (width() > lineWidth && dirty.right() >= lineWidth)
        painter.fillRect(lineWidth, dirty.top(), width() - lineWidth, dirty.height(), colors[Settings::ColorOutOfRange]);

    PatternLineStyle style;
    style.focused = showsFocus();
    style.noteDots = settings.patternEditorDots;
    style.cursorField = ctx_.view.cursorColumn;
    style.selection = ctx_.view.selection;
    const qreal ratio = devicePixelRatioF();
    // About 16 MB of line images at most, yet always two screens' worth.
    const qint64 imageBytes = qint64(lineWidth * ratio + 1) * qint64(cell_.lineHeight * ratio + 1) * 4;
    const qint64 cacheLimit = std::max<qint64>(2 * lines + 8, (qint64(16) << 20) / imageBytes);
    if (colors != cacheColors_ || ratio != cacheRatio_ || lineCache_.size() > cacheLimit) {
        lineCache_.clear();
        cacheColors_ = colors;
        cacheRatio_ = ratio;
    }
    QString key;
    // Only the lines the paint event asks for.
    const int firstLine = std::max(0, dirty.top() / cell_.lineHeight);
    const int endLine = std::min(lines, dirty.bottom() / cell_.lineHeight + 1);
    for (int k = firstLine; k < endLine; ++k) {
        const PatternLine& line = shown[k];
        const int y = k * cell_.lineHeight;
        if (line.kind == PatternLineKind::Blank) {
            painter.fillRect(0, y, lineWidth, cell_.lineHeight, colors[Settings::ColorOutOfRange]);
            continue;
        }
        const Row* row = nullptr;
        if (line.kind != PatternLineKind::NoPattern)
            row = &song.patterns[line.pattern].rows[std::clamp(line.row, 0, kRows - 1)];
        const auto spans = formatPatternLine(line, row, style);
        key.clear();
        for (const auto& s : spans) {
            key += QChar(static_cast<ushort>(s.column + 1));
            key += QChar(static_cast<ushort>(s.colorIndex + 1));
            key += QChar(static_cast<ushort>(s.backgroundIndex + 1));
            key += s.text;
        }
        auto it = lineCache_.constFind(key);
        if (it == lineCache_.constEnd()) {
            QImage image(QSize(lineWidth, cell_.lineHeight) * ratio, QImage::Format_RGB32);
            image.setDevicePixelRatio(ratio);
            QPainter linePainter(&image);
            linePainter.setFont(cell_.font);
            drawPatternLine(linePainter, 0, spans, colors, cell_);
            linePainter.end();
            it = lineCache_.insert(key, image);
        }
        painter.drawImage(QPoint(0, y), *it);
    }
    // The row the song plays, when it is one of the current pattern's.
    if (playRow_ >= 0 && playOrder_ == ctx_.view.orderCursor && !ctx_.view.noPatternSelected) {
        for (int k = 0; k < lines; ++k) {
            const PatternLine& line = shown[k];
            if ((line.kind != PatternLineKind::Row && line.kind != PatternLineKind::Cursor) || line.row != playRow_)
                continue;
            const int pen = std::max(2, cell_.lineHeight / 8);
            const QColor mark(255, 128, 0);
            const int y = k * cell_.lineHeight;
            painter.fillRect(0, y, lineWidth, pen, mark);
            painter.fillRect(0, y + cell_.lineHeight - pen, lineWidth, pen, mark);
            painter.fillRect(0, y, 2 * cell_.charWidth, cell_.lineHeight, QColor(255, 128, 0, 120));
        }
    }
    // Muted channels: their columns under a veil of the background.
    if (muted_) {
        QColor veil = colors[Settings::ColorOutOfRange];
        veil.setAlpha(150);
        const int top = 0;
        const int bottom = lines * cell_.lineHeight;
        for (int c = 0; c < kChannels; ++c)
            if (muted_ & (1u << c))
                painter.fillRect((4 + kPatternChannelColumns * c) * cell_.charWidth, top,
                                 (kPatternChannelColumns - 1) * cell_.charWidth, bottom - top, veil);
    }
}

void PatternView::changeEvent(QEvent* event) {
    // The window was activated or left: the cursor row changes its look.
    if (event->type() == QEvent::ActivationChange) update();
    QWidget::changeEvent(event);
}

void PatternView::mousePressEvent(QMouseEvent* event) {
    // A click on the view gives the focus to the scroll box around it.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (w->objectName() == QLatin1String("ScrollBoxPtn")) {
            w->setFocus(Qt::MouseFocusReason);
            break;
        }
    int row, column;
    cellAt(event->position().toPoint(), &row, &column);
    if (event->button() == Qt::RightButton)
        emit contextMenuRequested(event->globalPosition().toPoint());
    else if (event->button() == Qt::LeftButton)
        emit cellClicked(row, column, event->modifiers());
}

void PatternView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    int row, column;
    if (cellAt(event->position().toPoint(), &row, &column)) emit mouseDragged(row, column);
}

void PatternView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    int row, column;
    cellAt(event->position().toPoint(), &row, &column);
    emit cellReleased(row, column, event->modifiers());
}

void PatternView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    int row, column;
    cellAt(event->position().toPoint(), &row, &column);
    emit cellDoubleClicked(row, column);
}

void PatternView::wheelEvent(QWheelEvent* event) {
    // One step per notch; fine-grained wheels add up to whole notches.
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0) emit wheelSteps(-notches);
    event->accept();
}

void PatternView::contextMenuEvent(QContextMenuEvent* event) {
    // The right button's press already asked for the menu.
    if (event->reason() != QContextMenuEvent::Mouse) emit contextMenuRequested(event->globalPos());
    event->accept();
}

// ---- PatternHeader ---------------------------------------------------------

namespace {
constexpr int kAll = 0;
constexpr int kFiller = 19;
int muteButton(int c) { return 1 + 3 * c; }
int soloButton(int c) { return 2 + 3 * c; }
int chanButton(int c) { return 3 + 3 * c; }
}  // namespace

PatternHeader::PatternHeader(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("PanelPtnHeader"));
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
        auto* b = new QToolButton(this);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(false);
        buttons_[i] = b;
    }
    buttons_[kAll]->setText(QStringLiteral("*"));
    buttons_[kAll]->setObjectName(QStringLiteral("SpeedButtonChnAll"));
    buttons_[kAll]->setCheckable(true);
    buttons_[kAll]->setChecked(true);
    setToggleLook(buttons_[kAll]);
    connect(buttons_[kAll], &QToolButton::clicked, this, [this] { allClicked(); });
    for (int c = 0; c < kChannels; ++c) {
        const QChar letter(QLatin1Char(static_cast<char>('A' + c)));
        QToolButton* m = buttons_[muteButton(c)];
        m->setText(QStringLiteral("M"));
        m->setObjectName(QStringLiteral("SpeedButtonMute") + letter);
        m->setCheckable(true);
        setToggleLook(m, ToggleLook::Mute);
        connect(m, &QToolButton::clicked, this, [this] { muteClicked(); });
        QToolButton* s = buttons_[soloButton(c)];
        s->setText(QStringLiteral("S"));
        s->setObjectName(QStringLiteral("SpeedButtonSolo") + letter);
        s->setCheckable(true);
        setToggleLook(s, ToggleLook::Solo);
        connect(s, &QToolButton::clicked, this, [this, c] { soloClicked(c); });
        QToolButton* chan = buttons_[chanButton(c)];
        chan->setText(QStringLiteral("Chan.%1").arg(letter));
        chan->setObjectName(QStringLiteral("SpeedButtonChan") + letter);
        connect(chan, &QToolButton::clicked, this, [this, c] { chanClicked(c); });
    }
    buttons_[kFiller]->setObjectName(QStringLiteral("SpeedButtonChnFill"));
    buttons_[kFiller]->setEnabled(false);
    setMinimumHeight(buttons_[chanButton(0)]->sizeHint().height());
    layoutButtons();
}

void PatternHeader::layoutFor(const PatternView& view) {
    charWidth_ = view.charWidth();
    followFont(view);
    layoutButtons();
    disconnect(fontConnection_);
    fontConnection_ = connect(&view, &PatternView::fontApplied, this, [this, &view] {
        charWidth_ = view.charWidth();
        followFont(view);
        layoutButtons();
    });
}

void PatternHeader::followFont(const PatternView& view) {
    // Captions grow with a large pattern font, never below the window's own.
    QFont f = QApplication::font(this);
    const qreal viewSize = view.fontSize() * 0.75;
    if (viewSize > f.pointSizeF()) f.setPointSizeF(viewSize);
    for (QToolButton* b : buttons_) b->setFont(f);
    setMinimumHeight(buttons_[chanButton(0)]->sizeHint().height());
}

void PatternHeader::resizeEvent(QResizeEvent*) { layoutButtons(); }

void PatternHeader::layoutButtons() {
    const int cw = charWidth_;
    // Edges in half characters: the "*" ends in the middle of channel A's "|",
    // each channel's buttons cover its 14 columns, and the last Chan button
    // ends with the last column.
    std::array<int, 20> halves{};
    halves[kAll] = 7;
    for (int c = 0; c < kChannels; ++c) {
        halves[muteButton(c)] = 4;
        halves[soloButton(c)] = 4;
        halves[chanButton(c)] = 20;
    }
    halves[chanButton(kChannels - 1)] = 19;
    halves[kFiller] = 2000;
    int edge = 0;
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
        const int left = edge * cw / 2;
        edge += halves[i];
        buttons_[i]->setGeometry(left, 0, edge * cw / 2 - left, height());
    }
}

uint8_t PatternHeader::channelMask() const {
    uint8_t mask = 0;
    for (int c = 0; c < kChannels; ++c)
        if (!buttons_[muteButton(c)]->isChecked()) mask |= static_cast<uint8_t>(1u << c);
    return mask;
}

bool PatternHeader::isMuted(int channel) const { return buttons_[muteButton(channel)]->isChecked(); }

void PatternHeader::muteChannel(int channel) {
    if (channel < 0 || channel >= kChannels) return;
    QToolButton* m = buttons_[muteButton(channel)];
    m->setChecked(!m->isChecked());
    muteClicked();
}

void PatternHeader::muteAll() {
    buttons_[kAll]->setChecked(!buttons_[kAll]->isChecked());
    allClicked();
}

void PatternHeader::soloChannel(int channel) {
    if (channel < 0 || channel >= kChannels) return;
    QToolButton* s = buttons_[soloButton(channel)];
    s->setChecked(!s->isChecked());
    soloClicked(channel);
}

void PatternHeader::chanChannel(int channel) {
    if (channel < 0 || channel >= kChannels) return;
    chanClicked(channel);
}

void PatternHeader::followCursor(int channel) {
    if (soloFollow_ < 0 || channel < 0 || channel >= kChannels || channel == soloFollow_) return;
    soloFollow_ = channel;
    applyRules();
}

void PatternHeader::allClicked() {
    const bool down = buttons_[kAll]->isChecked();
    for (int c = 0; c < kChannels; ++c) {
        buttons_[muteButton(c)]->setChecked(!down);
        if (down) buttons_[soloButton(c)]->setChecked(false);
    }
    if (down) soloFollow_ = -1;
    applyRules();
}

void PatternHeader::muteClicked() {
    bool anyMuted = false;
    for (int c = 0; c < kChannels; ++c) anyMuted = anyMuted || isMuted(c);
    buttons_[kAll]->setChecked(!anyMuted);
    soloFollow_ = -1;
    applyRules();
}

void PatternHeader::soloClicked(int channel) {
    if (buttons_[soloButton(channel)]->isChecked()) {
        soloFollow_ = channel;
        buttons_[kAll]->setChecked(false);
    } else {
        soloFollow_ = -1;
        for (int c = 0; c < kChannels; ++c) buttons_[muteButton(c)]->setChecked(false);
        buttons_[kAll]->setChecked(true);
    setToggleLook(buttons_[kAll]);
    }
    applyRules();
}

void PatternHeader::chanClicked(int channel) {
    for (int c = 0; c < kChannels; ++c) buttons_[muteButton(c)]->setChecked(c != channel);
    buttons_[kAll]->setChecked(false);
    soloFollow_ = -1;
    applyRules();
}

void PatternHeader::applyRules() {
    for (int c = 0; c < kChannels; ++c) {
        if (soloFollow_ >= 0) {
            buttons_[soloButton(c)]->setChecked(c == soloFollow_);
            buttons_[muteButton(c)]->setChecked(c != soloFollow_);
        } else {
            buttons_[soloButton(c)]->setChecked(false);
        }
    }
    const uint8_t mask = channelMask();
    ctx_.chips.setChannelMask(mask);
    emit channelMaskChanged(mask);
}

}  // namespace qv
