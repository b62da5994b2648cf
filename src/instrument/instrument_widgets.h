// The drawn parts of the instrument page: the envelope graph of one operator,
// the on-screen piano, its focusable frame and the owner-drawn instrument list.
#pragma once

#include <QFrame>
#include <QListWidget>
#include <QPoint>
#include <QWidget>
#include <array>
#include <functional>

#include "song/song.h"

class QPixmap;

namespace qv {

// The four points of an operator's envelope in a box of w x h pixels: the
// attack peak, the sustain point, the end of the sustain and the end of the
// release.
struct EnvelopePoints {
    QPoint peak, sustain, sustainEnd, releaseEnd;
};
EnvelopePoints envelopePoints(const Operator& op, int w, int h);

// Carrier mask by algorithm: bit n set when operator n + 1 reaches the output.
constexpr std::array<int, 8> kCarrierMask{8, 8, 8, 8, 12, 14, 14, 15};

// PaintBoxEnv1-4: draws the envelope of one operator of the instrument that
// `source` returns.
class EnvelopeGraph : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDesignedWidth = 88;
    static constexpr int kDesignedHeight = 44;
    EnvelopeGraph(int op, QWidget* parent = nullptr);
    // The instrument to draw (the page's current one).
    std::function<const Instrument&()> source;
    int op() const { return op_; }
    // Draws the graph into painter over a w x h box.
    static void draw(QPainter& p, const Instrument& ins, int op, int w, int h);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int op_;
};

// The piano: three octaves of 182 pixels under a 16-pixel header row.
class PianoKeys : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOctaveWidth = 182;
    static constexpr int kWidth = 3 * kOctaveWidth;  // 546
    static constexpr int kHeight = 80;
    static constexpr std::array<int, 12> kOffset{0, 16, 26, 42, 52, 78, 94, 104, 120, 130, 146, 156};
    static constexpr std::array<int, 12> kKind{0, 3, 1, 3, 2, 0, 3, 1, 3, 1, 3, 2};
    static constexpr std::array<int, 7> kWhiteSemitone{0, 2, 4, 5, 7, 9, 11};

    PianoKeys(const QPixmap& sprites, QWidget* parent = nullptr);

    // The note 0-95 under (x, y) with the first octave shown being
    // `octavePosition`, or -1.
    static int hitTest(int x, int y, int octavePosition);

    // What the drawing reads.
    std::function<int()> octavePosition;       // TrackBarOctave
    std::function<int()> editorOctave;         // UpDownOctave
    std::function<bool()> focused;             // ScrollBoxKeys has the focus
    std::function<bool(int note)> notePressed;  // an audition voice plays it

    void drawPiano(QPainter& p) const;

signals:
    // Mouse: press (note or -1), move with buttons held, release.
    void pressed(int note);
    void moved(int note, Qt::MouseButtons buttons);
    void released(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A point of the widget in the piano's designed 546 x 80 coordinates.
    QPoint designedPoint(QPointF at) const;
    const QPixmap& sprites_;
};

// ScrollBoxKeys: the focusable frame around the piano; focus changes redraw it.
class KeysBox : public QFrame {
    Q_OBJECT
public:
    explicit KeysBox(QWidget* parent = nullptr);

signals:
    void focusChanged();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// ListBoxIns: 255 items of 16 pixels, free instruments in grey text; typed
// characters do not search.
class InstrumentList : public QListWidget {
    Q_OBJECT
public:
    explicit InstrumentList(QWidget* parent = nullptr);
    // Whether instrument `index` (0-254) is free.
    std::function<bool(int index)> isFree;
    void keyboardSearch(const QString&) override {}
};

}  // namespace qv
