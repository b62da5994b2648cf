// The pattern editor's input: keys (through the keyboard layout's command
// states), the mouse wheel and clicks on the pattern view become edits of the
// current pattern, cursor moves, selections and playback requests.
//
// The class holds no widgets. The window keeps `options` current from its
// up-downs and toggles and sets the hooks it wants to hear about; the input
// reads and writes the Song under the Player's song lock.
#pragma once

#include <QPoint>
#include <Qt>
#include <cstdint>
#include <functional>

#include "app/app_context.h"

namespace qv {

class PatternInput {
public:
    // The values of the window's up-downs and toggles.
    struct Options {
        int octave = 4;                // UpDownOctave, 1-8
        bool autoInstrumentOn = true;  // SpeedButtonAIns
        int autoInstrument = 1;        // UpDownAIns, 0-255
        bool autoVolumeOn = false;     // SpeedButtonAVol
        int autoVolume = 31;           // UpDownAVol, 0-31
        bool autoStepOn = true;        // SpeedButtonAStep
        int autoStepValue = 1;         // UpDownAStep, 0-256
        bool editSong = false;         // EditSong mode
        int autoStep() const { return autoStepOn ? autoStepValue : 0; }
    };

    // Where the current selection started and where it ends now.
    struct Anchor {
        int startChannel = 0;
        int startRow = 0;
        int endChannel = 0;
        int endRow = 0;
    };

    explicit PatternInput(AppContext& ctx);

    Options options;

    // Hooks the window sets; any may stay empty.
    std::function<void()> onChanged;             // redraw the pattern view
    std::function<void()> onSongLengthChanged;   // recompute length and time display
    std::function<void()> onTimeChanged;         // refresh the time display
    std::function<void(int)> onOctaveChanged;    // UpDownOctave := n
    std::function<void(bool, int)> onAutoStepChanged;  // SpeedButtonAStep down?, UpDownAStep
    std::function<void(int)> onAutoInstrumentChanged;  // UpDownAIns := n
    std::function<void(bool)> onEditSong;        // EditSong mode toggled to
    std::function<void(int)> onPatternStep;      // UpDownPtn +1 / -1 asked for
    std::function<void()> onOrderChanged;        // orderCursor moved: pattern number, grid
    std::function<void()> onFocusOrder;          // ptnToOrder
    std::function<void(int)> onCursorChannel;    // the solo follows the cursor's channel
    std::function<void()> onPlayStarted;         // toolbar buttons as for Play
    std::function<void(QPoint)> onPopupMenu;     // right click: PopupMenuPtn at a global point

    // Key handling: the layout's command states are already updated.
    // handleKeyDown returns whether the key was used.
    bool handleKeyDown();
    // Key-up while the pattern view has the focus: selection end, key off.
    bool handleKeyUp();
    // Key-up whatever the focus: releasing the play key ends playback.
    // wasPlayKeyActive: ptnPlay or ptnPlayLoop was active before this key-up.
    void playKeyReleased(bool wasPlayKeyActive);

    // Mouse on the pattern view.
    void mousePress(Qt::MouseButton button, bool doubleClick, QPoint globalPos);
    void mouseClick(int row, int column, Qt::KeyboardModifiers modifiers);
    void mouseDrag(int row, int column);
    void mouseRelease();
    void wheel(int steps);

    // The one routine that moves the cursor row.
    void moveCursor(int delta, bool page);

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

private:
    AppContext& ctx_;
    bool selecting_ = false;
    Anchor anchor_;
};

}  // namespace qv
