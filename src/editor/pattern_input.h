// The pattern editor's input: keys (through the keyboard layout's command
// states), the mouse wheel and clicks on the pattern view become edits of the
// current pattern, cursor moves, selections and playback requests.
//
// The class holds no widgets. The window keeps `options` current from its
// up-downs and toggles and connects to the signals it wants to hear about;
// the input reads and writes the Song under the Player's song lock.
#pragma once

#include <QObject>
#include <QPoint>
#include <Qt>
#include <cstdint>
#include <functional>
#include <string>

#include "app/app_context.h"

namespace qv {

class PatternInput : public QObject {
    Q_OBJECT
  public:
    // The values of the window's up-downs and toggles; the window writes
    // them whenever the user changes a control, the input reports its own
    // changes through the signals below. The step starts from the settings.
    struct Options {
        int octave = 4;                // UpDownOctave, 1-8
        bool autoInstrumentOn = true;  // SpeedButtonAIns
        int autoInstrument = 1;        // UpDownAIns, 0-255
        bool autoVolumeOn = false;     // SpeedButtonAVol
        int autoVolume = 31;           // UpDownAVol, 0-31
        bool autoStepOn = true;        // SpeedButtonAStep
        int autoStepValue = 1;         // UpDownAStep, 0-256
        bool editSong = false;         // EditSong mode
        // The cursor follows the playing song; off, it moves freely while
        // the song plays on elsewhere.
        bool followSong = true;
        int autoStep() const { return autoStepOn ? autoStepValue : 0; }
    };

    // Where the current selection started and where it ends now.
    struct Anchor {
        int startChannel = 0;
        int startRow = 0;
        int endChannel = 0;
        int endRow = 0;
    };

    explicit PatternInput(AppContext& ctx, QObject* parent = nullptr);

    Options options;

    // Lines of the pattern view (drag scrolling); the window sets it.
    std::function<int()> visibleRows;

    // Key handling: the layout's command states are already updated.
    // handleKeyDown returns whether the key was used.
    bool handleKeyDown();
    // Key-up while the pattern view has the focus: selection end, key off.
    bool handleKeyUp();

    // Mouse on the pattern view; row -1 when the point is on no cell, column
    // is the cursor column (channel * 8 + field) under the point.
    // Left button down: the selection is cleared.
    void mouseClick(int row, int column, Qt::KeyboardModifiers modifiers);
    // Move with the left button down over a cell: selects, scrolls at the edges.
    void mouseDrag(int row, int column);
    // Left button up: a click without a drag puts the cursor on the cell.
    void mouseRelease(int row, int column, Qt::KeyboardModifiers modifiers);
    // Double click: the cursor's channel is selected.
    void mouseDoubleClick(int row, int column);
    // Right button: the pop-up menu at a global point.
    void contextMenu(QPoint globalPos);
    // Wheel steps, positive towards the user (down).
    void wheel(int steps);

    // The one routine that moves the cursor row.
    void moveCursor(int delta, bool page);

    // Octave and auto step set from anywhere (the octave keys, the
    // ptnAutoStep0 ... 9 keys that work on every page).
    void setOctave(int octave);
    void setAutoStep(bool on, int value);

    // Focus of the pattern view lost: playback held by a key stops.
    void focusLost();
    // New song or load: selection and anchor forgotten.
    void reset();

    // Edit menu and pattern pop-up.
    void EditCutClick();
    void EditCopyClick();
    void EditPasteClick();
    void EditPasteOverClick();
    void EditDeleteClick();
    void EditSelectAllClick();
    void EditUnselectAllClick();
    void BlockExpandClick();
    void BlockShrinkClick();
    void BlockVolumeGradientClick();
    void BlockEffectGradientClick();
    void BlockVolumeScale(int startPercent, int endPercent);
    void BlockEffectScale(int startPercent, int endPercent);
    void BlockDuplicate(int times);
    void BlockAssignInstrumentClick();
    void TransposeOctaveUpClick();
    void TransposeOctaveDownClick();
    void TransposeSemitoneUpClick();
    void TransposeSemitoneDownClick();
    void InsertNoteClick();
    void InsertLineClick();
    void DeleteNoteClick();
    void DeleteLineClick();

    bool selecting() const { return selecting_; }
    const Anchor& anchor() const { return anchor_; }
    int autoStep() const { return options.autoStep(); }
    // Sum over the current pattern of (parameter + 2048) for every speed effect.
    int speedEffectSum() const;

    // The remembered last entry (for ptnInpRepeat).
    struct LastEntry {
        int note = 255;  // 255: no note entered since start-up
        int octave = 0;
        int volume = 0;
        int instrument = 0;
        int effect = 0;
        int param = 0;
    };
    const LastEntry& lastEntry() const { return last_; }

  signals:
    void redrawNeeded();                          // redraw the pattern view
    void songLengthChanged();                     // recompute length and time display
    void patternLengthChanged();                  // UpDownPtnLen shows the new length
    void timeChanged();                           // refresh the time display
    void octaveChanged(int octave);               // UpDownOctave := n
    void autoStepChanged(bool on, int value);     // SpeedButtonAStep down?, UpDownAStep
    void autoInstrumentChanged(int instrument);   // UpDownAIns := n
    void editSongToggled(bool on);                // EditSong mode toggled to
    void patternStepRequested(int step);          // UpDownPtn +1 / -1 asked for
    void orderCursorChanged();                    // orderCursor moved: pattern number, grid
    void focusOrderRequested();                   // ptnToOrder
    void cursorChannelChanged(int channel);       // the solo follows the cursor's channel
    void playStarted();                           // toolbar buttons as for Play
    void popupMenuRequested(QPoint globalPos);    // right click: PopupMenuPtn at a global point

  private:
    Pattern& pattern();
    int patternLength() const;
    Cell& cursorCell();
    Block selectionBlock() const;
    void deriveSelection();
    void extendSelection();
    void changed();
    // One edit of the current pattern through the song document (its length
    // too when lengthToo); mergeKey joins a burst of typing into one step.
    bool edit(const char* what, const std::function<void(Song&)>& change, const std::string& mergeKey = {},
              bool lengthToo = false);
    std::string typingKey() const;
    // Song length recomputed when the speed-effect sum moved away from `before`.
    void finishEdit(int sumBefore);
    void moveCursorBy(int delta, bool page, bool evenWhilePlaying);
    void setColumn(int column);
    // tellPlayer: a running playback jumps there too (not the one-row sound
    // of an entry, which must finish the row it was started on).
    void setOrderPosition(int position, bool tellPlayer);
    void soundRow(int soloChannel);
    void transpose(int semitones);
    bool cursorKeys();
    bool editKeys();
    bool valueEntry();
    int hexDigitKey() const;
    bool anyNoteHeld() const;
    // The Player runs a song or pattern, not just the one-row sound of an entry.
    bool songPlaying() const;

    AppContext& ctx_;
    bool selecting_ = false;
    Anchor anchor_;
    LastEntry last_;
    bool leftDown_ = false;
    int pressRow_ = -1;     // the cell the left button went down on
    int pressColumn_ = -1;
    bool notesHeld_ = false;  // a note command was active at the last key message
};

}  // namespace qv
