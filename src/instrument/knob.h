// TKnob: the rotary control that edits one instrument parameter. It shows its
// value as a number above a dial with tick marks and a pointer dot, takes the
// focus, and changes by arrow keys, keypad plus and minus, typed digits, the
// wheel, and by dragging on the pop-up track bar that opens under it when the
// left button is pressed. Every set and step is reported through valueChanged
// (tag, value), also when the value stayed the same.
//
// TFormTBarPop: the one pop-up track bar of the program (owned by whoever
// creates the knobs; every knob is handed the same instance). While it is
// shown the mouse is held on its track line; releasing the button anywhere
// hides it and puts the cursor back where the drag began.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QLabel;
class QFrame;

namespace qv {

class TFormTBarPop;

class TKnob : public QWidget {
    Q_OBJECT
public:
    // popup may be null (no drag pop-up, e.g. in tests of the keys).
    explicit TKnob(QWidget* parent = nullptr, TFormTBarPop* popup = nullptr);

    int Tag = 0;
    // The dial's centre picture; not owned. May be null.
    const QPixmap* Bitmap = nullptr;
    // Min is the start of the arc, Max its end; Min > Max runs backwards.
    int Min = 0;
    int Max = 1;
    int Marks = 1;

    int value() const { return value_; }
    // Clamps into the range (either order), stores, repaints when the value
    // changed, then reports. Returns whether the value had to be clamped.
    bool setValue(int value);
    // Value + amount (Value - amount on a backwards knob), then as setValue.
    bool step(int amount);

    // Clamping into [Min, Max] in either order; *clamped tells whether it changed.
    static int clampToRange(int value, int min, int max, bool* clamped = nullptr);
    // The pointer's angle in degrees clockwise from twelve o'clock (225 at
    // the start of the arc, 495 at its end).
    double pointerAngle() const;
    // Highlighted: focused or being dragged through the pop-up.
    bool highlighted() const;
    QLabel* label() const { return label_; }
    int labelRowHeight() const { return labelRow_; }
    TFormTBarPop* popup() const { return popup_; }
    // Redraws the knob and its label after the highlight may have changed
    // (the pop-up calls it when a drag starts and ends).
    void refreshHighlight();

    QSize sizeHint() const override;
    // The dial's size (32 at the designed scale); the label row follows the
    // knob's font. Resizes the knob.
    void setDialSize(int size);
    int dialSize() const { return dial_; }

signals:
    // The change event: (Tag, Value) after every setValue and step.
    void valueChanged(int tag, int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshLabel();
    // The key handling shared by keyPressEvent and the shortcut check:
    // true when the knob acts on this key.
    static bool handlesKey(const QKeyEvent& event, bool negativeRange);
    bool negativeRange() const { return Min < 0 || Max < 0; }

    QLabel* label_ = nullptr;
    TFormTBarPop* popup_ = nullptr;
    int value_ = 0;
    int labelRow_ = 0;
    int wheelRest_ = 0;
    int dial_ = 32;
};

class TFormTBarPop : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTrackLength = 128;  // positions 0-127
    TFormTBarPop();
    ~TFormTBarPop() override;

    // Opens under knob and takes over the drag.
    void popupFor(TKnob* knob);
    // Ends a drag (button released, focus lost): hides, frees and restores the cursor.
    void finish();
    TKnob* activeKnob() const { return active_; }

    // Track position 0-127 of a value of the knob, and back (rounded, halves
    // away from zero). The left end is always Min, the right end Max.
    static int valueToPosition(const TKnob& knob, int value);
    static int positionToValue(const TKnob& knob, int position);
    // Moves the drag to track position x (0-127 after limiting): sets the
    // active knob and places the thumb. Mouse moves call it.
    void dragTo(int x);
    int thumbLeft() const;
    int thumbTop() const;
    // Where a pop-up of `size` goes for a knob whose screen rectangle is
    // `knob`: centred under it, or above it when the screen ends below;
    // always inside `screen`, so both ends of the track can be reached.
    static QPoint placeFor(const QRect& knob, QSize size, const QRect& screen);

    // Where the cursor was when the pop-up opened (it goes back there at the end).
    QPoint savedCursor() const { return savedCursor_; }
    bool reversed() const { return reversed_; }
    // The track (Panel2) in screen coordinates: the cursor is held on the
    // one-pixel line through its middle while a drag runs.
    QRect trackLine() const;
    // The shadow windows behind the pop-up (none where the platform cannot
    // place translucent windows).
    int shadowCount() const;
    QWidget* shadow(int i) const { return shadows_[static_cast<size_t>(i)].get(); }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QFrame* panel1_ = nullptr;
    QFrame* track_ = nullptr;  // Panel2
    QFrame* thumb_ = nullptr;  // Panel3
    std::array<std::unique_ptr<QWidget>, 4> shadows_;
    TKnob* active_ = nullptr;
    bool reversed_ = false;
    QPoint savedCursor_;
    bool wasActivated_ = false;
    QMetaObject::Connection activeGone_;  // ends the drag when the knob is destroyed
    // Puts the cursor back on the track line when it left it.
    QPoint holdOnTrack(QPoint global) const;
};

}  // namespace qv
