// The pattern view: the texts and colours of every kind of line and cell, the
// rows shown around the cursor (with and without the neighbouring patterns),
// the no-pattern line, the mouse mapping, the painted result, and the channel
// header's mute and solo rules.
#include <QtTest>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <ctime>

#include "app/app_context.h"
#include "editor/pattern_view.h"

using qv::PatternLine;
using qv::PatternLineKind;
using qv::PatternLineSpan;
using qv::Settings;

namespace {

std::unique_ptr<qv::AppContext> makeContext() {
    return std::make_unique<qv::AppContext>(std::make_unique<qv::NullAudioDevice>());
}

qv::Cell noteCell(int note, int octave, int volume, int instrument, int effect, int param) {
    qv::Cell c;
    c.note = static_cast<int16_t>(note);
    c.octave = static_cast<int8_t>(octave);
    c.volume = static_cast<int8_t>(volume);
    c.instrument = static_cast<int16_t>(instrument);
    c.effect = static_cast<int8_t>(effect);
    c.param = static_cast<uint8_t>(param);
    return c;
}

// The span that covers a column.
const PatternLineSpan& spanAt(const std::vector<PatternLineSpan>& spans, int column) {
    for (const auto& s : spans)
        if (column >= s.column && column < s.column + s.text.size()) return s;
    qFatal("no span at column %d", column);
}

// The background colour of a pattern column, read from a rendered image, in a
// space column of the row number where no glyph is drawn.
QColor pixelAt(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

}  // namespace

class TestPatternView : public QObject {
    Q_OBJECT
private slots:
    void rowTextsPerCellKind() {
        qv::Row row{};
        row[0] = noteCell(3, 4, 0x0A, 5, 0, 0x10);            // D#4, vol 0A, ins 05, effect 010
        row[1] = noteCell(qv::kNoteKeyOff, 1, 0, 0, 0, 0);    // key off
        row[2] = qv::Cell{};                                  // empty
        row[3] = noteCell(11, 8, 31, 255, 15, 0xFF);          // B-8 1F FF FFF
        row[4] = noteCell(0, 1, 0, 0, 0xA, 0);                // C-1, effect A00
        row[5] = noteCell(qv::kNoteEmpty, 0, 1, 0, 0, 0);     // volume only
        qv::PatternLineStyle style;
        const auto spans = qv::formatPatternLine({PatternLineKind::Row, 0, 0x1D}, &row, style);
        const QString text = qv::patternLineText(spans);
        QCOMPARE(text.size(), 87);
        QCOMPARE(text,
                 QStringLiteral("1D |D#4 0A 05 010|*** .. .. ...|--- .. .. ...|B-8 1F FF FFF|"
                                "C-1 .. .. A00|--- 01 .. ..."));
        // Row number and cells in the normal text colour, "|" in the separator colour.
        QCOMPARE(spanAt(spans, 0).colorIndex, int(Settings::ColorNormalText));
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(spanAt(spans, 3 + 14 * c).text, QStringLiteral("|"));
            QCOMPARE(spanAt(spans, 3 + 14 * c).colorIndex, int(Settings::ColorSeparator));
            QCOMPARE(spanAt(spans, 4 + 14 * c).colorIndex, int(Settings::ColorNormalText));
            QCOMPARE(spanAt(spans, 4 + 14 * c).text.size(), 13);
        }
        // Dots mode shows an empty note as "..."; the key off stays "***".
        style.noteDots = true;
        const QString dots = qv::patternLineText(qv::formatPatternLine({PatternLineKind::Row, 0, 0x1D}, &row, style));
        QCOMPARE(dots.mid(3 + 14 * 2, 14), QStringLiteral("|... .. .. ..."));
        QCOMPARE(dots.mid(3 + 14 * 1, 4), QStringLiteral("|***"));
        // A blank line is 87 spaces on the out-of-range colour.
        const auto blank = qv::formatPatternLine({PatternLineKind::Blank, 0, 0}, nullptr, style);
        QCOMPARE(qv::patternLineText(blank), QString(87, QLatin1Char(' ')));
        QCOMPARE(blank[0].backgroundIndex, int(Settings::ColorOutOfRange));
    }

    void lineBackgroundsAndFourthLines() {
        qv::Row row{};
        qv::PatternLineStyle style;
        for (int r : {0, 4, 8, 0x40}) {
            const auto spans = qv::formatPatternLine({PatternLineKind::Row, 0, r}, &row, style);
            for (const auto& s : spans) QCOMPARE(s.backgroundIndex, int(Settings::ColorFourthLine));
        }
        for (int r : {1, 2, 3, 5, 0x3F}) {
            const auto spans = qv::formatPatternLine({PatternLineKind::Row, 0, r}, &row, style);
            for (const auto& s : spans) QCOMPARE(s.backgroundIndex, int(Settings::ColorNormalLine));
        }
        // Rows of the neighbouring patterns: one grey text on the out-of-range colour.
        row[0] = noteCell(0, 4, 0, 0, 0, 0);
        const auto prev = qv::formatPatternLine({PatternLineKind::PrevNext, 1, 0x3F}, &row, style);
        QCOMPARE(prev.size(), size_t(1));
        QCOMPARE(prev[0].text.size(), 87);
        QVERIFY(prev[0].text.startsWith(QStringLiteral("3F |C-4 .. .. ...|---")));
        QCOMPARE(prev[0].colorIndex, int(Settings::ColorPrevNextPatterns));
        QCOMPARE(prev[0].backgroundIndex, int(Settings::ColorOutOfRange));
    }

    void cursorRowFieldByField() {
        qv::Row row{};
        row[0] = noteCell(3, 4, 0x0A, 0, 0, 0x10);
        row[1] = qv::Cell{};
        qv::PatternLineStyle style;
        style.focused = true;
        style.cursorField = 8 + 2;  // channel B, volume low digit
        const auto spans = qv::formatPatternLine({PatternLineKind::Cursor, 0, 7}, &row, style);
        QCOMPARE(qv::patternLineText(spans).left(31), QStringLiteral("07 |D#4 0A .. 010|--- .. .. ..."));
        // Each half of a number is its own piece: "0" "A"; a zero volume "." ".".
        QCOMPARE(spanAt(spans, 8).text, QStringLiteral("0"));
        QCOMPARE(spanAt(spans, 9).text, QStringLiteral("A"));
        QCOMPARE(spanAt(spans, 22).text, QStringLiteral("."));
        QCOMPARE(spanAt(spans, 23).text, QStringLiteral("."));
        // Effect 0 with a parameter shows all three places.
        QCOMPARE(spanAt(spans, 14).text + spanAt(spans, 15).text + spanAt(spans, 16).text, QStringLiteral("010"));
        // Inverted text on the active line colour; the cursor field black.
        for (const auto& s : spans) {
            if (s.text == QLatin1String("|")) {
                QCOMPARE(s.colorIndex, int(Settings::ColorSeparator));
                QCOMPARE(s.backgroundIndex, int(Settings::ColorActiveLine));
                continue;
            }
            QCOMPARE(s.colorIndex, int(Settings::ColorInvertedText));
            const int expected = s.column == 23 ? qv::kColorCursorField : int(Settings::ColorActiveLine);
            QCOMPARE(s.backgroundIndex, expected);
        }
        QCOMPARE(qv::patternColor(Settings{}, qv::kColorCursorField, QPalette()), QColor(Qt::black));
        // Without the focus: the inactive line colour and no cursor field.
        style.focused = false;
        const auto unfocused = qv::formatPatternLine({PatternLineKind::Cursor, 0, 7}, &row, style);
        for (const auto& s : unfocused) QCOMPARE(s.backgroundIndex, int(Settings::ColorInactiveLine));
    }

    void selectionColours() {
        qv::Row row{};
        qv::PatternLineStyle style;
        style.selection = {1, 4, 2, 3};  // channels B-C, rows 4-6
        style.cursorField = 0;
        auto bgAt = [&](int r, int column, PatternLineKind kind = PatternLineKind::Row) {
            return spanAt(qv::formatPatternLine({kind, 0, r}, &row, style), column).backgroundIndex;
        };
        const int chanA = 4, chanB = 4 + 14, chanC = 4 + 28, chanD = 4 + 42;
        QCOMPARE(bgAt(4, chanB), int(Settings::ColorSelectFourthLine));
        QCOMPARE(bgAt(5, chanC), int(Settings::ColorSelectNormalLine));
        QCOMPARE(bgAt(6, chanB + 12), int(Settings::ColorSelectNormalLine));
        QCOMPARE(bgAt(5, chanB - 1), int(Settings::ColorNormalLine));  // the "|" keeps the line colour
        QCOMPARE(bgAt(5, chanA), int(Settings::ColorNormalLine));
        QCOMPARE(bgAt(5, chanD), int(Settings::ColorNormalLine));
        QCOMPARE(bgAt(7, chanB), int(Settings::ColorNormalLine));
        QCOMPARE(bgAt(3, chanB), int(Settings::ColorNormalLine));
        // On the cursor row: fields and the spaces between them take the
        // selection colour; the cursor field stays black.
        style.cursorField = 8 + 3;
        QCOMPARE(bgAt(5, chanB, PatternLineKind::Cursor), int(Settings::ColorSelectActiveLine));
        QCOMPARE(bgAt(5, chanB + 3, PatternLineKind::Cursor), int(Settings::ColorSelectActiveLine));
        QCOMPARE(bgAt(5, chanB + 6, PatternLineKind::Cursor), int(Settings::ColorSelectActiveLine));
        QCOMPARE(bgAt(5, chanB + 7, PatternLineKind::Cursor), qv::kColorCursorField);
        QCOMPARE(bgAt(5, chanA, PatternLineKind::Cursor), int(Settings::ColorActiveLine));
        QCOMPARE(bgAt(8, chanB, PatternLineKind::Cursor), int(Settings::ColorActiveLine));
    }

    void noPatternLine() {
        auto ctx = makeContext();
        ctx->view.noPatternSelected = true;
        const auto lines = qv::patternLines(*ctx->song, ctx->view, 21, true);
        for (int k = 0; k < 21; ++k)
            QCOMPARE(lines[k].kind, k == 10 ? PatternLineKind::NoPattern : PatternLineKind::Blank);
        qv::PatternLineStyle style;
        const auto spans = qv::formatPatternLine(lines[10], nullptr, style);
        QCOMPARE(qv::patternLineText(spans),
                 QString(30, QLatin1Char(' ')) + QStringLiteral("No pattern number selected") +
                     QString(31, QLatin1Char(' ')));
        QCOMPARE(spans[0].colorIndex, int(Settings::ColorInvertedText));
        QCOMPARE(spans[0].backgroundIndex, int(Settings::ColorActiveLine));
        style.focused = false;
        QCOMPARE(qv::formatPatternLine(lines[10], nullptr, style)[0].backgroundIndex,
                 int(Settings::ColorInactiveLine));
    }

    void rowsAroundTheCursor() {
        auto ctx = makeContext();
        qv::Song& song = *ctx->song;
        song.order.length = 3;
        song.order.entries[0].pattern = 2;
        song.order.entries[1].pattern = 5;
        song.order.entries[2].pattern = 7;
        song.patterns[2].length = 4;
        song.patterns[5].length = 1;
        song.patterns[7].length = 3;
        ctx->view.orderCursor = 1;
        ctx->view.currentPattern = 5;
        ctx->view.cursorRow = 0;
        // Pattern of length 1 without neighbours: only the middle line.
        auto lines = qv::patternLines(song, ctx->view, 11, false);
        for (int k = 0; k < 11; ++k)
            QCOMPARE(lines[k].kind, k == 5 ? PatternLineKind::Cursor : PatternLineKind::Blank);
        QCOMPARE(lines[5].row, 0);
        QCOMPARE(lines[5].pattern, 5);
        // With them: pattern 2's rows above, pattern 7's below, then blanks.
        lines = qv::patternLines(song, ctx->view, 11, true);
        const PatternLineKind B = PatternLineKind::Blank, P = PatternLineKind::PrevNext;
        const PatternLineKind kinds[11] = {B, P, P, P, P, PatternLineKind::Cursor, P, P, P, B, B};
        const int rows[11] = {0, 0, 1, 2, 3, 0, 0, 1, 2, 0, 0};
        const int patterns[11] = {0, 2, 2, 2, 2, 5, 7, 7, 7, 0, 0};
        for (int k = 0; k < 11; ++k) {
            QCOMPARE(lines[k].kind, kinds[k]);
            if (kinds[k] == B) continue;
            QCOMPARE(lines[k].row, rows[k]);
            QCOMPARE(lines[k].pattern, patterns[k]);
        }
        // At order position 0 the lines above row 0 are blank; the rows of the
        // current position are drawn as the current pattern.
        ctx->view.orderCursor = 0;
        ctx->view.currentPattern = 2;
        ctx->view.cursorRow = 1;
        lines = qv::patternLines(song, ctx->view, 9, true);
        QCOMPARE(lines[0].kind, B);
        QCOMPARE(lines[2].kind, B);
        QCOMPARE(lines[3].kind, PatternLineKind::Row);
        QCOMPARE(lines[3].row, 0);
        QCOMPARE(lines[4].kind, PatternLineKind::Cursor);
        QCOMPARE(lines[6].kind, PatternLineKind::Row);
        QCOMPARE(lines[6].row, 3);
        QCOMPARE(lines[7].kind, P);
        QCOMPARE(lines[7].pattern, 5);
        QCOMPARE(lines[8].pattern, 7);
        // Hidden: the same lines show only the current pattern's rows.
        lines = qv::patternLines(song, ctx->view, 9, false);
        QCOMPARE(lines[3].kind, PatternLineKind::Row);
        QCOMPARE(lines[7].kind, B);
        QCOMPARE(lines[8].kind, B);
        // A 64-row pattern around row 40 fills every line with its own rows.
        song.patterns[2].length = 64;
        ctx->view.cursorRow = 40;
        lines = qv::patternLines(song, ctx->view, 30, true);
        for (int k = 0; k < 30; ++k) QCOMPARE(lines[k].row, 40 - 15 + k);
    }

    void colourDefaultsAndSettings() {
        Settings settings;
        QPalette palette;
        palette.setColor(QPalette::Button, QColor(10, 20, 30));
        QCOMPARE(qv::patternColor(settings, Settings::ColorOutOfRange, palette), QColor(10, 20, 30));
        QCOMPARE(qv::patternColor(settings, Settings::ColorNormalLine, palette), QColor(255, 255, 255));
        QCOMPARE(qv::patternColor(settings, Settings::ColorFourthLine, palette), QColor(224, 240, 224));
        QCOMPARE(qv::patternColor(settings, Settings::ColorNormalText, palette), QColor(0, 0, 0));
        QCOMPARE(qv::patternColor(settings, Settings::ColorInvertedText, palette), QColor(255, 255, 255));
        QCOMPARE(qv::patternColor(settings, Settings::ColorActiveLine, palette), QColor(0, 192, 0));
        QCOMPARE(qv::patternColor(settings, Settings::ColorInactiveLine, palette), QColor(128, 192, 128));
        QCOMPARE(qv::patternColor(settings, Settings::ColorSelectActiveLine, palette), QColor(160, 192, 0));
        QCOMPARE(qv::patternColor(settings, Settings::ColorSelectNormalLine, palette), QColor(192, 224, 224));
        QCOMPARE(qv::patternColor(settings, Settings::ColorSelectFourthLine, palette), QColor(144, 224, 224));
        QCOMPARE(qv::patternColor(settings, Settings::ColorSeparator, palette), QColor(192, 192, 192));
        QCOMPARE(qv::patternColor(settings, Settings::ColorPrevNextPatterns, palette), QColor(128, 128, 128));
        // A stored value is red + 256 * green + 65536 * blue; negative is the default.
        settings.colors[Settings::ColorFourthLine] = 0x123456;
        QCOMPARE(qv::patternColor(settings, Settings::ColorFourthLine, palette), QColor(0x56, 0x34, 0x12));
        settings.colors[Settings::ColorOutOfRange] = 255;
        QCOMPARE(qv::patternColor(settings, Settings::ColorOutOfRange, palette), QColor(255, 0, 0));
        settings.colors[Settings::ColorOutOfRange] = -5;
        QCOMPARE(qv::patternColor(settings, Settings::ColorOutOfRange, palette), QColor(10, 20, 30));
    }

    void fontMeasuredFromOne() {
        auto ctx = makeContext();
        qv::PatternView view(*ctx);
        QCOMPARE(view.objectName(), QStringLiteral("PaintBoxPtn"));
        QFont plain(ctx->settings.patternFontName, ctx->settings.patternFontSize);
        plain.setStyleHint(QFont::TypeWriter);
        plain.setFixedPitch(true);
        QCOMPARE(view.charWidth(), QFontMetrics(plain).horizontalAdvance(QStringLiteral("1")));
        QCOMPARE(view.lineHeight(), QFontMetrics(plain).height());
        // Every glyph advances exactly one cell, so the columns never drift.
        QCOMPARE(qRound(QFontMetricsF(view.patternFont()).horizontalAdvance(QString(87, QLatin1Char('0')))),
                 87 * view.charWidth());
        const int small = view.lineHeight();
        QSignalSpy applied(&view, &qv::PatternView::fontApplied);
        ctx->settings.patternFontSize = 12;
        view.applyFont();
        QVERIFY(view.lineHeight() > small);
        QCOMPARE(applied.size(), 1);
        view.resize(800, 10 * view.lineHeight() + 3);
        QCOMPARE(view.visibleRows(), 11);
        view.resize(800, 100000);
        QCOMPARE(view.visibleRows(), 1024);
    }

    void fitToWindowAndLargeSizes() {
        auto ctx = makeContext();
        const QString name = ctx->settings.patternFontName;
        ctx->settings.patternFontSize = 32;
        qv::PatternView view(*ctx);
        QCOMPARE(view.fontSize(), 32);  // sizes up to 32 points
        ctx->settings.patternFontFit = true;
        int previous = 0;
        for (int width : {300, 900, 1500, 2500, 4000}) {
            view.setAvailableWidth(width);
            const int size = view.fontSize();
            QVERIFY(size >= previous);
            previous = size;
            QCOMPARE(size, qv::fitPatternFontSize(name, width));
            // The largest size whose whole line fits, or the smallest one.
            if (size > Settings::kMinFontSize) QVERIFY(87 * view.charWidth() <= width);
            if (size < Settings::kMaxFontSize)
                QVERIFY(87 * qv::patternFontFor(name, size + 1).charWidth > width);
        }
        QCOMPARE(view.fontSize(), 32);
        QVERIFY(qv::fitPatternFontSize(name, 300) == Settings::kMinFontSize);
        QSignalSpy applied(&view, &qv::PatternView::fontApplied);
        view.setAvailableWidth(4001);  // same size: not measured again
        QCOMPARE(applied.size(), 0);
        ctx->settings.patternFontFit = false;
        ctx->settings.patternFontSize = 10;
        view.applyFont();
        QCOMPARE(view.fontSize(), 10);
    }

    void mutedChannelsAndPlayingRow() {
        auto ctx = makeContext();
        ctx->song->patterns[0].rows[1][0] = noteCell(0, 4, 0, 1, 0, 0);
        ctx->song->patterns[0].rows[1][1] = noteCell(0, 4, 0, 1, 0, 0);
        qv::PatternView view(*ctx);
        view.resize(87 * view.charWidth(), 9 * view.lineHeight());
        const int middle = view.visibleRows() / 2;
        const int y = (middle + 1) * view.lineHeight() + view.lineHeight() / 2;  // row 1
        auto render = [&] {
            QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
            view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags(QWidget::DrawChildren));
            return image;
        };
        // The blank between note and volume of channels A and B.
        const int xA = (7 + 0 * 14) * view.charWidth() + view.charWidth() / 2;
        const int xB = (7 + 1 * 14) * view.charWidth() + view.charWidth() / 2;
        QImage plain = render();
        QCOMPARE(plain.pixelColor(xA, y), QColor(255, 255, 255));
        QCOMPARE(plain.pixelColor(xB, y), QColor(255, 255, 255));
        view.setMutedChannels(0b10);
        QImage dimmed = render();
        QCOMPARE(dimmed.pixelColor(xA, y), QColor(255, 255, 255));
        QVERIFY(dimmed.pixelColor(xB, y) != QColor(255, 255, 255));
        // The note's glyphs lose contrast: the darkest pixel of channel B's
        // note is lighter than channel A's.
        auto darkest = [&](const QImage& image, int channel) {
            int best = 255;
            for (int x = (4 + 14 * channel) * view.charWidth(); x < (7 + 14 * channel) * view.charWidth(); ++x)
                for (int yy = (middle + 1) * view.lineHeight(); yy < (middle + 2) * view.lineHeight(); ++yy)
                    best = std::min(best, qGray(image.pixel(x, yy)));
            return best;
        };
        QVERIFY(darkest(dimmed, 1) > darkest(dimmed, 0) + 60);

        // The row the song plays is marked while the cursor is elsewhere,
        // only at the order position that plays.
        const int markY = (middle + 2) * view.lineHeight() + 1;  // row 2's top edge
        view.setPlayingRow(0, 2);
        QCOMPARE(render().pixelColor(xA, markY), QColor(255, 128, 0));
        view.setPlayingRow(1, 2);
        QVERIFY(render().pixelColor(xA, markY) != QColor(255, 128, 0));
        view.setPlayingRow(-1, -1);
    }

    void paintedView() {
        auto ctx = makeContext();
        qv::Song& song = *ctx->song;
        song.order.length = 2;
        song.order.entries[0].pattern = 0;
        song.order.entries[1].pattern = 1;
        song.patterns[0].length = 4;
        song.patterns[1].length = 16;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 6; ++c)
                if ((r + c) % 3 == 0) song.patterns[1].rows[r][c] = noteCell((r + c) % 12, 4, r, c + 1, r % 16, r * 7);
        ctx->view.orderCursor = 1;
        ctx->view.currentPattern = 1;
        ctx->view.cursorRow = 2;
        ctx->view.cursorColumn = 8 * 2 + 1;
        ctx->view.selection = {3, 5, 2, 4};

        QWidget window;
        qv::PatternHeader header(*ctx, &window);
        qv::PatternView view(*ctx, &window);
        view.setFocusPolicy(Qt::StrongFocus);
        const int lh = view.lineHeight(), cw = view.charWidth();
        header.setGeometry(0, 0, 100 * cw, 24);
        header.layoutFor(view);
        view.setGeometry(0, 24, 100 * cw, 20 * lh);  // 21 lines, the middle line is 10
        window.resize(100 * cw, 24 + 20 * lh);
        window.show();
        view.setFocus();
        QVERIFY(view.showsFocus());

        const int middle = view.visibleRows() / 2;
        QCOMPARE(middle, 10);
        auto lineY = [&](int line) { return line * lh + lh / 2; };
        auto spaceX = [&](int column) { return column * cw + 1; };
        QImage image = view.grab().toImage();
        if (qEnvironmentVariableIsSet("QV_PATTERN_VIEW_PNG"))
        {
            image.save(qEnvironmentVariable("QV_PATTERN_VIEW_PNG"));
            window.grab().save(qEnvironmentVariable("QV_PATTERN_VIEW_PNG") + QStringLiteral(".window.png"));
        }
        // Middle line: cursor row on the active colour, the cursor field black.
        QCOMPARE(pixelAt(image, spaceX(2), lineY(middle)), QColor(0, 192, 0));
        QCOMPARE(pixelAt(image, (3 + 28 + 5) * cw + 1, lineY(middle) - lh / 2 + 1), QColor(Qt::black));
        // Row 4 (line 12) is a fourth line, row 3 (line 11) a normal one.
        QCOMPARE(pixelAt(image, spaceX(2), lineY(12)), QColor(224, 240, 224));
        QCOMPARE(pixelAt(image, spaceX(2), lineY(11)), QColor(255, 255, 255));
        // Selection: channel D of row 5 (line 13), row 8 (line 16) a fourth line.
        QCOMPARE(pixelAt(image, (3 + 42 + 4) * cw + 1, lineY(13)), QColor(192, 224, 224));
        QCOMPARE(pixelAt(image, (3 + 42 + 4) * cw + 1, lineY(16)), QColor(144, 224, 224));
        QCOMPARE(pixelAt(image, (3 + 28 + 4) * cw + 1, lineY(13)), QColor(255, 255, 255));
        // Above row 0: the previous pattern's rows, grey text on the scroll
        // box colour; beyond the 87 columns the same colour.
        const QColor outside = view.palette().color(QPalette::Button);
        QCOMPARE(pixelAt(image, spaceX(2), lineY(7)), outside);
        QCOMPARE(pixelAt(image, 95 * cw, lineY(12)), outside);
        auto inked = [&](int line) {
            for (int x = 0; x < 87 * cw; ++x)
                for (int y = line * lh; y < (line + 1) * lh; ++y)
                    if (image.pixelColor(x, y) != outside) return true;
            return false;
        };
        QVERIFY(inked(7));   // row 3 of pattern 0
        QVERIFY(inked(4));   // its row 0
        QVERIFY(!inked(3));  // before order position 0 nothing
        // "Never": the previous pattern's lines are blank.
        ctx->settings.patternShowPrevNext = 2;
        image = view.grab().toImage();
        QVERIFY(!inked(7));
        // "EditSong mode only": hidden until EditSong mode is on.
        ctx->settings.patternShowPrevNext = 1;
        image = view.grab().toImage();
        QVERIFY(!inked(7));
        view.setEditSongMode(true);
        image = view.grab().toImage();
        QVERIFY(inked(7));
        // Losing the focus: inactive line colour, no black cursor field.
        auto* other = new QLineEdit(&window);
        other->show();
        other->setFocus();
        QVERIFY(!view.showsFocus());
        image = view.grab().toImage();
        QCOMPARE(pixelAt(image, spaceX(2), lineY(middle)), QColor(128, 192, 128));
        QCOMPARE(pixelAt(image, (3 + 28 + 5) * cw + 1, lineY(middle) - lh / 2 + 1), QColor(128, 192, 128));
        // No pattern selected: the message line only.
        ctx->view.noPatternSelected = true;
        image = view.grab().toImage();
        QVERIFY(!inked(7));
        QVERIFY(!inked(12));
        QCOMPARE(pixelAt(image, spaceX(2), lineY(middle)), QColor(128, 192, 128));
        ctx->view.noPatternSelected = false;

        // Header buttons stand over the channel columns.
        QCOMPARE(header.button(0)->geometry().right() + 1, 7 * cw / 2);
        QCOMPARE(header.button(1)->x(), 7 * cw / 2);
        QCOMPARE(header.button(4)->x(), (7 + 28) * cw / 2);
        QCOMPARE(header.button(18)->geometry().right() + 1, 87 * cw);
        QCOMPARE(header.button(19)->x(), 87 * cw);
        QCOMPARE(header.button(3)->text(), QStringLiteral("Chan.A"));
        QCOMPARE(header.button(18)->text(), QStringLiteral("Chan.F"));
        QCOMPARE(header.objectName(), QStringLiteral("PanelPtnHeader"));
        // A new font moves the buttons with the columns.
        ctx->settings.patternFontSize = 12;
        view.applyFont();
        QVERIFY(view.charWidth() > cw);
        QCOMPARE(header.button(4)->x(), (7 + 28) * view.charWidth() / 2);
        QCOMPARE(view.minimumWidth(), 87 * view.charWidth());
    }

    // Following the player moves the drawn lines and draws only what comes
    // into view and the two cursor lines: what the window shows afterwards is
    // what a whole new drawing gives, step after step, up and down.
    void followedRowsLookAsDrawnAnew() {
        auto ctx = makeContext();
        qv::Song& song = *ctx->song;
        song.patterns[0].length = 64;
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 6; ++c)
                if ((r * 5 + c) % 4 == 0) song.patterns[0].rows[r][c] = noteCell((r + c) % 12, 3, r % 32, c + 1, r % 16, r);
        ctx->view.cursorRow = 20;
        QWidget window;
        qv::PatternView view(*ctx, &window);
        const int lh = view.lineHeight();
        view.setGeometry(0, 0, 100 * view.charWidth(), 30 * lh + lh / 2);
        window.resize(view.size());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(20);
        for (int step : {1, 1, 3, -1, -4, 2, 14, -15}) {
            ctx->view.cursorRow += step;
            view.followRows(step);
            QTest::qWait(5);
            const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
            if (shown.isNull()) QSKIP("this platform cannot read back a window");
            const QImage drawn = view.grab().toImage();
            QCOMPARE(shown.convertToFormat(QImage::Format_RGB32).copy(view.geometry()),
                     drawn.convertToFormat(QImage::Format_RGB32));
        }
    }

    void mouseToCells() {
        auto ctx = makeContext();
        ctx->view.cursorRow = 20;
        qv::PatternView view(*ctx);
        const int lh = view.lineHeight(), cw = view.charWidth();
        view.resize(90 * cw, 20 * lh);  // 21 lines: line 0 shows row 10
        int row, column;
        auto at = [&](double col, int line) {
            return view.cellAt(QPoint(int(col * cw), line * lh + 1), &row, &column);
        };
        QVERIFY(!at(2, 0));
        QVERIFY(!at(3.9, 0));
        QCOMPARE(column, -1);
        QVERIFY(at(4, 0));
        QCOMPARE(row, 10);
        QCOMPARE(column, 0);
        QVERIFY(at(6.5, 10));
        QCOMPARE(row, 20);
        QCOMPARE(column, 0);
        const double b = 4 + 14;  // channel B
        struct { double offset; int field; } fields[] = {
            {0, 0}, {2.9, 0}, {3.1, 0}, {3.6, 1}, {4, 1}, {5, 2}, {6.2, 2}, {6.7, 3}, {7, 3}, {8, 4},
            {9.1, 4}, {9.8, 5}, {10, 5}, {11, 6}, {12, 7}, {13.2, 7}, {13.7, 16}};
        for (const auto& f : fields) {
            QVERIFY(at(b + f.offset, 3));
            QCOMPARE(column, f.field == 16 ? 16 : 8 + f.field);
        }
        QVERIFY(at(86.5, 3));
        QCOMPARE(column, 47);
        QVERIFY(!at(87.1, 3));
        // Rows outside the pattern give -1.
        ctx->view.cursorRow = 0;
        QVERIFY(at(5, 3));
        QCOMPARE(row, -1);
        QVERIFY(at(5, 10));
        QCOMPARE(row, 0);

        // The signals carry the same cells.
        QSignalSpy clicked(&view, &qv::PatternView::cellClicked);
        QSignalSpy dragged(&view, &qv::PatternView::mouseDragged);
        QSignalSpy released(&view, &qv::PatternView::cellReleased);
        QSignalSpy wheel(&view, &qv::PatternView::wheelSteps);
        QSignalSpy menu(&view, &qv::PatternView::contextMenuRequested);
        const QPoint p(int((b + 4) * cw), 12 * lh + 1);
        QTest::mousePress(&view, Qt::LeftButton, Qt::ShiftModifier, p);
        QTest::mouseMove(&view, p + QPoint(0, lh));
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, p + QPoint(0, lh));
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked[0][0].toInt(), 2);
        QCOMPARE(clicked[0][1].toInt(), 9);
        QCOMPARE(clicked[0][2].value<Qt::KeyboardModifiers>(), Qt::KeyboardModifiers(Qt::ShiftModifier));
        QCOMPARE(released.size(), 1);
        QCOMPARE(released[0][0].toInt(), 3);
        QTest::mousePress(&view, Qt::RightButton, Qt::NoModifier, p);
        QCOMPARE(menu.size(), 1);
        QCOMPARE(clicked.size(), 1);
        QWheelEvent down(QPointF(p), QPointF(view.mapToGlobal(p)), QPoint(), QPoint(0, -240), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &down);
        QCOMPARE(wheel.size(), 1);
        QCOMPARE(wheel[0][0].toInt(), 2);
        Q_UNUSED(dragged);
    }

    void headerMuteAndSoloRules() {
        auto ctx = makeContext();
        qv::PatternHeader header(*ctx);
        QSignalSpy masks(&header, &qv::PatternHeader::channelMaskChanged);
        QToolButton* all = header.button(0);
        auto mute = [&](int c) { return header.button(1 + 3 * c); };
        auto solo = [&](int c) { return header.button(2 + 3 * c); };
        auto chan = [&](int c) { return header.button(3 + 3 * c); };
        QVERIFY(all->isChecked());
        QCOMPARE(header.channelMask(), 0x3f);
        QVERIFY(mute(0)->isCheckable() && solo(0)->isCheckable() && !chan(0)->isCheckable());

        // "M" of channel B: its bit goes, "*" goes up; again: all back, "*" down.
        QTest::mouseClick(mute(1), Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x3d);
        QCOMPARE(masks.last()[0].value<uint8_t>(), 0x3d);
        QVERIFY(!all->isChecked());
        header.muteChannel(4);  // the genMuteE key
        QCOMPARE(ctx->chips.channelMask(), 0x2d);
        QTest::mouseClick(mute(1), Qt::LeftButton);
        header.muteChannel(4);
        QCOMPARE(ctx->chips.channelMask(), 0x3f);
        QVERIFY(all->isChecked());

        // Chan.C: only the third channel; "*" (up) clicked: everything back.
        QTest::mouseClick(chan(2), Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x04);
        QVERIFY(!all->isChecked());
        QTest::mouseClick(all, Qt::LeftButton);
        QVERIFY(all->isChecked());
        QCOMPARE(ctx->chips.channelMask(), 0x3f);
        // "*" clicked while down: every channel muted.
        QTest::mouseClick(all, Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x00);
        header.muteAll();  // the genMuteAll key
        QCOMPARE(ctx->chips.channelMask(), 0x3f);

        // "S" of channel B: solo that follows the cursor.
        QTest::mouseClick(solo(1), Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x02);
        QCOMPARE(header.soloChannelFollowed(), 1);
        QVERIFY(!all->isChecked());
        header.followCursor(4);
        QCOMPARE(ctx->chips.channelMask(), 0x10);
        QVERIFY(solo(4)->isChecked());
        QVERIFY(!solo(1)->isChecked());
        QVERIFY(mute(1)->isChecked() && !mute(4)->isChecked());
        // Another "S": the solo moves there.
        header.soloChannel(0);
        QCOMPARE(ctx->chips.channelMask(), 0x01);
        QVERIFY(!solo(4)->isChecked());
        // Up again: everything audible, "*" down, the solo ends.
        QTest::mouseClick(solo(0), Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x3f);
        QVERIFY(all->isChecked());
        QCOMPARE(header.soloChannelFollowed(), -1);
        header.followCursor(3);
        QCOMPARE(ctx->chips.channelMask(), 0x3f);
        // An "M" ends the solo-follow, keeping the mutes as they are.
        header.soloChannel(5);
        QTest::mouseClick(mute(2), Qt::LeftButton);
        QCOMPARE(header.soloChannelFollowed(), -1);
        QVERIFY(!solo(5)->isChecked());
        QCOMPARE(ctx->chips.channelMask(), 0x24);
        header.followCursor(1);
        QCOMPARE(ctx->chips.channelMask(), 0x24);
        // "*" down: "M" and "S" all up.
        header.soloChannel(2);
        QTest::mouseClick(all, Qt::LeftButton);
        QCOMPARE(ctx->chips.channelMask(), 0x3f);
        QVERIFY(!solo(2)->isChecked());
        QCOMPARE(header.soloChannelFollowed(), -1);
    }

    void paintTime() {
        auto ctx = makeContext();
        for (int r = 0; r < 256; ++r)
            for (int c = 0; c < 6; ++c) ctx->song->patterns[0].rows[r][c] = noteCell(r % 12, 1 + r % 8, r % 32, r, r % 16, r);
        ctx->song->patterns[0].length = 256;
        ctx->view.cursorRow = 100;
        ctx->view.selection = {1, 90, 3, 30};
        qv::PatternView view(*ctx);
        view.resize(1920, 1080);
        QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
        // As on the screen: the view paints every pixel itself, so no window
        // background is drawn first.
        const auto flags = QWidget::RenderFlags(QWidget::DrawChildren);
        view.render(&image, QPoint(), QRegion(), flags);
        // Three cases: the same picture again; the cursor walking down the
        // pattern (the usual redraw while editing or playing); every line
        // drawn afresh (the first redraw after a font or colour change).
        auto measure = [&](const char* what, auto&& step) {
            const int rounds = 200;
            timespec cpu0{}, cpu1{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < rounds; ++i) {
                step(i);
                view.render(&image, QPoint(), QRegion(), flags);
            }
            const double ms = timer.nsecsElapsed() / 1e6 / rounds;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
            const double cpuMs = ((cpu1.tv_sec - cpu0.tv_sec) * 1e9 + (cpu1.tv_nsec - cpu0.tv_nsec)) / 1e6 / rounds;
            qInfo("paint of 1920x1080 (%d lines), %s: %.3f ms elapsed, %.3f ms thread CPU", view.visibleRows(), what,
                  ms, cpuMs);
        };
        measure("same picture", [](int) {});
        measure("cursor moving", [&](int i) { ctx->view.cursorRow = i % 256; });
        measure("all lines new", [&](int i) {
            ctx->view.cursorRow = 100 + i % 2;
            view.applyFont();
        });
        ctx->view.cursorRow = 100;
        view.render(&image, QPoint(), QRegion(), flags);
        QCOMPARE(image.pixelColor(2 * view.charWidth() + 1, 51 * view.lineHeight() + 2), QColor(224, 240, 224));  // row 112
    }
};

QTEST_MAIN(TestPatternView)
#include "tst_pattern_view.moc"
