// The look of the toggle buttons (mute, solo, the auto-value switches, poly
// mode, ...): pressed and released must never be told apart by a faint shade
// alone, so a pressed toggle is filled with a strong colour. The style names
// no font, so the button keeps the font its page gives it.
#pragma once

class QAbstractButton;

namespace qv {

enum class ToggleLook {
    Switch,  // an option that is on: blue
    Mute,    // a silenced channel: red
    Solo,    // a soloed channel: amber
};

// Styles a checkable button; its caption and behaviour stay as they are.
void setToggleLook(QAbstractButton* button, ToggleLook look = ToggleLook::Switch);

}  // namespace qv
