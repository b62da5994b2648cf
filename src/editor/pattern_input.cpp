#include "editor/pattern_input.h"

namespace qv {

PatternInput::PatternInput(AppContext& ctx) : ctx_(ctx) {}

bool PatternInput::handleKeyDown() { return false; }
bool PatternInput::handleKeyUp() { return false; }
void PatternInput::playKeyReleased(bool) {}
void PatternInput::mousePress(Qt::MouseButton, bool, QPoint) {}
void PatternInput::mouseClick(int, int, Qt::KeyboardModifiers) {}
void PatternInput::mouseDrag(int, int) {}
void PatternInput::mouseRelease() {}
void PatternInput::wheel(int) {}
void PatternInput::moveCursor(int, bool) {}
void PatternInput::focusLost() {}
void PatternInput::reset() {}
void PatternInput::EditCutClick() {}
void PatternInput::EditCopyClick() {}
void PatternInput::EditPasteClick() {}
void PatternInput::EditPasteOverClick() {}
void PatternInput::EditDeleteClick() {}
void PatternInput::EditSelectAllClick() {}
void PatternInput::EditUnselectAllClick() {}
void PatternInput::BlockExpandClick() {}
void PatternInput::BlockShrinkClick() {}
void PatternInput::BlockVolumeGradientClick() {}
void PatternInput::BlockEffectGradientClick() {}
void PatternInput::BlockVolumeScale(int, int) {}
void PatternInput::BlockEffectScale(int, int) {}
void PatternInput::BlockDuplicate(int) {}
void PatternInput::BlockAssignInstrumentClick() {}
void PatternInput::TransposeOctaveUpClick() {}
void PatternInput::TransposeOctaveDownClick() {}
void PatternInput::TransposeSemitoneUpClick() {}
void PatternInput::TransposeSemitoneDownClick() {}
void PatternInput::InsertNoteClick() {}
void PatternInput::InsertLineClick() {}
void PatternInput::DeleteNoteClick() {}
void PatternInput::DeleteLineClick() {}
int PatternInput::speedEffectSum() const { return 0; }

}  // namespace qv
