// The pattern view: the text grid of the Patterns page that shows the current
// pattern around the cursor row (always on the middle line), one line per
// row, 14 character columns per channel, optionally with the end of the
// previous and the start of the next pattern of the order list. Above it, the
// header with the mute and solo buttons.
//
// The view only reads the Song, the view state and the settings; the pattern
// input turns its mouse signals into edits.
#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QRawFont>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "app/app_context.h"

class QPainter;
class QToolButton;

namespace qv {

// Columns of one line: 2 row digits, a space, then 14 per channel.
constexpr int kPatternLineColumns = 87;
constexpr int kPatternChannelColumns = 14;
constexpr int kPatternMaxLines = 1024;
// Colour indexes beyond the twelve settings: the black of the cursor field.
constexpr int kColorCursorField = Settings::kColors;

// One piece of a line: its first column, its text and its colours (indexes
// into Settings::ColorIndex, or kColorCursorField).
struct PatternLineSpan {
    int column;
    QString text;
    int colorIndex;                    // text colour
    int backgroundIndex = Settings::ColorOutOfRange;
};

// What a line of the view shows.
enum class PatternLineKind {
    Blank,      // no row: 87 spaces on ColorOutOfRange
    Row,        // a row of the current pattern
    Cursor,     // the cursor row (the middle line)
    PrevNext,   // a row of the previous or next pattern
    NoPattern,  // "No pattern number selected"
};

struct PatternLine {
    PatternLineKind kind = PatternLineKind::Blank;
    int pattern = 0;
    int row = 0;
};

struct PatternLineStyle {
    bool focused = true;     // the view is the window's active control
    bool noteDots = false;   // empty note as "..."
    int cursorField = 0;     // cursor column (channel * 8 + field) on the cursor row
    Selection selection;
};

// The texts and colours of one line; the spans cover the 87 columns in order.
std::vector<PatternLineSpan> formatPatternLine(const PatternLine& line, const Row* row,
                                               const PatternLineStyle& style);
// The spans joined into the 87-column text.
QString patternLineText(const std::vector<PatternLineSpan>& spans);

// Which row each of `lines` lines shows. showPrevNext: whether rows of the
// neighbouring order positions are shown.
std::vector<PatternLine> patternLines(const Song& song, const EditorViewState& view, int lines,
                                      bool showPrevNext);

using PatternColors = std::array<QColor, Settings::kColors + 1>;

// A colour setting as a QColor; -1 (or any negative value) is its default,
// the out-of-range default being the palette's button colour.
QColor patternColor(const Settings& settings, int index, const QPalette& palette);
// The default of a colour as a stored value (red + 256 * green + 65536 * blue),
// -1 for the out-of-range colour (it follows the palette).
int defaultPatternColor(int index);
// All twelve colours and the cursor field's black, by index.
PatternColors patternColors(const Settings& settings, const QPalette& palette);

// The font of the settings and its cell measured from "1": the width and the
// height of that text. The font's letter spacing is set so that every glyph
// advances exactly one cell; the glyphs of the printable ASCII characters are
// looked up once, so drawing a line needs no text shaping.
struct PatternFontCell {
    QFont font;
    int charWidth = 8;
    int lineHeight = 14;
    int ascent = 11;
    QRawFont raw;
    std::array<quint32, 128> glyphs{};
};
PatternFontCell patternFontFor(const QString& name, int pointSize);
// The largest point size (6-32) at which a whole line of the font fits into
// width pixels; the smallest size when none does.
int fitPatternFontSize(const QString& name, int width);

// Draws one line at the top edge y: the backgrounds, then the texts, each
// character in its cell.
void drawPatternLine(QPainter& painter, int y, const std::vector<PatternLineSpan>& spans,
                     const PatternColors& colors, const PatternFontCell& cell);

class PatternView : public QWidget {
    Q_OBJECT
public:
    explicit PatternView(AppContext& ctx, QWidget* parent = nullptr);

    void refresh() { update(); }
    // The cursor row moved by `rows` within the same pattern and nothing else
    // changed: the drawn lines move by as many lines, and only the lines that
    // come into view and the old and new cursor lines are drawn.
    void followRows(int rows);
    // Re-reads the font from the settings and measures the cell from "1".
    void applyFont();
    int visibleRows() const;
    int charWidth() const { return cell_.charWidth; }
    int lineHeight() const { return cell_.lineHeight; }
    const QFont& patternFont() const { return cell_.font; }
    // The point size in use: the setting's, or the fitted one.
    int fontSize() const { return fontSize_; }
    // The width the view is shown in (the scroll box's viewport): with
    // "fit to window" the font is measured anew when its fitted size changes.
    void setAvailableWidth(int width);
    // Muted channels (bit c) are drawn dimmed.
    void setMutedChannels(uint8_t mask);
    uint8_t mutedChannels() const { return muted_; }
    // The row the song plays (order position, row; -1 when stopped): marked
    // when the view shows it while the cursor is elsewhere.
    void setPlayingRow(int orderPosition, int row);
    std::pair<int, int> playingRow() const { return {playOrder_, playRow_}; }
    // The left edge and the width in pixels of the cursor's channel (from
    // the row numbers on for the first channel).
    std::pair<int, int> cursorChannelSpan() const;
    void setEditSongMode(bool on);
    bool editSongMode() const { return editSong_; }
    // Whether the cursor row is drawn focused: the view (or the scroll box
    // around it) is the window's active control.
    bool showsFocus() const;
    // The pattern row and the cursor column (channel * 8 + field) under a
    // point. Columns 0-3 and 87 on are no cell: false, column -1. A line that
    // shows no row of the current pattern gives row -1.
    bool cellAt(QPoint pos, int* row, int* column) const;

signals:
    void cellClicked(int row, int column, Qt::KeyboardModifiers mods);
    void mouseDragged(int row, int column);
    void wheelSteps(int steps);  // rows: positive for a turn towards the user
    void contextMenuRequested(QPoint globalPos);
    // The font was measured again: the header lays its buttons out anew and
    // the settings page redraws its preview.
    void fontApplied();
    // The left button went up again, and a double click; the same cell
    // arguments as cellClicked.
    void cellReleased(int row, int column, Qt::KeyboardModifiers mods);
    void cellDoubleClicked(int row, int column);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    AppContext& ctx_;
    PatternFontCell cell_;
    // Drawn lines by their content: scrolling by one row redraws the same
    // lines one line further, so most lines of a redraw are one image copy.
    QHash<QString, QImage> lineCache_;
    PatternColors cacheColors_;
    qreal cacheRatio_ = 0;
    bool editSong_ = false;
    int wheelRest_ = 0;
    int fontSize_ = 9;
    int availableWidth_ = 0;
    uint8_t muted_ = 0;
    int playOrder_ = -1;
    int playRow_ = -1;
};

// The channel header: "*", then "M", "S" and "Chan.A" ... "Chan.F", and a
// filler. A channel is audible exactly while its "M" is up.
class PatternHeader : public QWidget {
    Q_OBJECT
public:
    explicit PatternHeader(AppContext& ctx, QWidget* parent = nullptr);

    // Widths from the view's character cell, buttons left to right; done
    // again whenever the view measures its font anew.
    void layoutFor(const PatternView& view);

    uint8_t channelMask() const;
    bool isMuted(int channel) const;
    // The channel the solo follows, -1 when none.
    int soloChannelFollowed() const { return soloFollow_; }
    QToolButton* button(int n) const { return buttons_[n]; }

public slots:
    // "M" of a channel toggled (also the genMuteA ... genMuteF keys).
    void muteChannel(int channel);
    // "*" toggled (the genMuteAll key).
    void muteAll();
    // "S" of a channel toggled (the genSoloMode key, on the cursor's channel).
    void soloChannel(int channel);
    // The Chan button: only this channel audible.
    void chanChannel(int channel);
    // The cursor moved to another channel: the solo follows it.
    void followCursor(int channel);

signals:
    void channelMaskChanged(uint8_t mask);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutButtons();
    void followFont(const PatternView& view);
    void applyRules();
    void allClicked();
    void muteClicked();
    void soloClicked(int channel);
    void chanClicked(int channel);

    AppContext& ctx_;
    std::array<QToolButton*, 20> buttons_{};
    int soloFollow_ = -1;
    int charWidth_ = 8;
    QMetaObject::Connection fontConnection_;
};

}  // namespace qv
