// Translation of Qt key events into the Windows virtual-key codes that
// keyboard layouts (.kbd files) are written in. This is the only place where
// Qt key events meet virtual-key codes, so a layout means the same keys on
// every system.
//
// How a key is translated:
// - Keys without a character (F-keys, arrows, Esc, Enter, Insert, modifiers,
//   lock keys ...) by Qt's key code, which does not depend on the layout.
//   Shift, Ctrl and Alt give the generic codes 16, 17 and 18. On macOS Qt
//   reports Command as Ctrl, so "ctrl+o" means Command+O there, and the
//   Control key arrives as Meta, which gives "lwin".
// - Keypad keys (Qt's keypad flag) give the numpad codes: num0-num9,
//   nummul, numadd, numsub, numdiv, numdec; the keypad Enter gives 13.
//   With Num Lock off the keypad sends Home, End ... and gives those codes.
// - Latin letters by the letter on the key (Qt's key code A-Z), as Windows
//   does: on a QWERTZ keyboard the key labelled Z gives "z".
// - Digits and punctuation by the key's place on a US keyboard, found from
//   the native scan code (XKB key code on X11 and Wayland, hardware scan code
//   on Windows, virtual key code on macOS): the key left of 1 is always "~",
//   the key right of 0 always "minus", whatever they print. So a German
//   keyboard's "ü" key is "[" and AZERTY's "&" key is "1".
// - Keys at a US letter place that print no Latin letter (Cyrillic, Greek
//   ...) give the US letter of that place, so the note rows work unchanged;
//   ASCII punctuation printed there (AZERTY's ",", "!"...) gives the code of
//   that character's US key.
// - Without a usable scan code (an unknown platform or the off-screen test
//   platform) digits and punctuation fall back to the character: the US key
//   that prints it, shifted or not.
#pragma once

#include <Qt>
#include <QtGlobal>
#include <optional>

class QKeyEvent;

namespace qv {

enum class ScanCodeSet {
    None,     // no positional information
    Xkb,      // X11 / Wayland key codes (Linux input codes + 8)
    Windows,  // keyboard scan codes (set 1)
    Mac,      // macOS virtual key codes (nativeVirtualKey)
};

// The scan code set of the running platform plug-in.
ScanCodeSet currentScanCodeSet();

// The Windows virtual-key code for a key, 0 when it has none. `nativeCode` is
// nativeScanCode() for Xkb and Windows, nativeVirtualKey() for Mac.
int windowsVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeCode, ScanCodeSet set);
int windowsVirtualKey(const QKeyEvent& event);

// A key message for the keyboard layout engine, or nothing when the event must
// not reach it: keys without a code, the releases that X11 interleaves with
// auto-repeat, and key presses while Alt is held (and Alt itself), which the
// editor leaves to the menus. Releases always pass, so no key stays held.
struct LayoutKeyMessage {
    int code = 0;
    bool down = false;
};
std::optional<LayoutKeyMessage> layoutKeyMessage(const QKeyEvent& event);

}  // namespace qv
