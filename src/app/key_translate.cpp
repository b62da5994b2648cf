#include "app/key_translate.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace qv {

namespace {

// Virtual-key codes of the US keys that carry digits and punctuation.
constexpr int kOem1 = 186, kOemPlus = 187, kOemComma = 188, kOemMinus = 189, kOemPeriod = 190,
              kOem2 = 191, kOem3 = 192, kOem4 = 219, kOem5 = 220, kOem6 = 221, kOem7 = 222, kOem102 = 226;

bool isLetterCode(int code) { return code >= 'A' && code <= 'Z'; }

// Keys that print nothing: the same code on every layout.
int specialKey(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape: return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Print:
    case Qt::Key_SysReq: return 44;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Home: return 36;
    case Qt::Key_End: return 35;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return 18;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return 91;
    case Qt::Key_Super_R: return 92;
    case Qt::Key_Menu: return 93;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    case Qt::Key_Space: return 32;
    default: return 0;
    }
}

int keypadKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return 96 + (key - Qt::Key_0);
    switch (key) {
    case Qt::Key_Asterisk: return 106;
    case Qt::Key_Plus: return 107;
    case Qt::Key_Minus: return 109;
    case Qt::Key_Period:
    case Qt::Key_Comma: return 110;  // the decimal key prints "," in some locales
    case Qt::Key_Slash: return 111;
    default: return 0;
    }
}

// The US key that prints this character, shifted or not.
int characterKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return key;
    if (isLetterCode(key)) return key;
    switch (key) {
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return kOem1;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return kOemPlus;
    case Qt::Key_Comma:
    case Qt::Key_Less: return kOemComma;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return kOemMinus;
    case Qt::Key_Period:
    case Qt::Key_Greater: return kOemPeriod;
    case Qt::Key_Slash:
    case Qt::Key_Question: return kOem2;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return kOem3;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return kOem4;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return kOem5;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return kOem6;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return kOem7;
    default: return 0;
    }
}

// US key at a Linux input code / Windows set-1 scan code (the two agree for
// these keys).
int pcScanCodeKey(quint32 code) {
    static constexpr char kRow1[] = "1234567890";  // codes 2-11
    static constexpr char kRowQ[] = "QWERTYUIOP";  // 16-25
    static constexpr char kRowA[] = "ASDFGHJKL";   // 30-38
    static constexpr char kRowZ[] = "ZXCVBNM";     // 44-50
    if (code >= 2 && code <= 11) return kRow1[code - 2];
    if (code >= 16 && code <= 25) return kRowQ[code - 16];
    if (code >= 30 && code <= 38) return kRowA[code - 30];
    if (code >= 44 && code <= 50) return kRowZ[code - 44];
    switch (code) {
    case 12: return kOemMinus;
    case 13: return kOemPlus;
    case 26: return kOem4;
    case 27: return kOem6;
    case 39: return kOem1;
    case 40: return kOem7;
    case 41: return kOem3;
    case 43: return kOem5;
    case 51: return kOemComma;
    case 52: return kOemPeriod;
    case 53: return kOem2;
    case 86: return kOem102;
    default: return 0;
    }
}

// US key at a macOS virtual key code (the kVK_ANSI_* values).
int macKey(quint32 code) {
    static constexpr int kTable[0x33] = {
        'A', 'S', 'D', 'F', 'H', 'G', 'Z', 'X',                                  // 0x00-0x07
        'C', 'V', kOem3, 'B', 'Q', 'W', 'E', 'R',                                // 0x08-0x0F (0x0A: ISO section)
        'Y', 'T', '1', '2', '3', '4', '6', '5',                                  // 0x10-0x17
        kOemPlus, '9', '7', kOemMinus, '8', '0', kOem6, 'O',                     // 0x18-0x1F
        'U', kOem4, 'I', 'P', 0, 'L', 'J', kOem7,                                // 0x20-0x27
        'K', kOem1, kOem5, kOemComma, kOem2, 'N', 'M', kOemPeriod,               // 0x28-0x2F
        0, 0, kOem3,                                                             // 0x30-0x32
    };
    return code < sizeof(kTable) / sizeof(kTable[0]) ? kTable[code] : 0;
}

int positionalKey(quint32 nativeCode, ScanCodeSet set) {
    switch (set) {
    case ScanCodeSet::Xkb: return nativeCode >= 8 ? pcScanCodeKey(nativeCode - 8) : 0;
    case ScanCodeSet::Windows: return pcScanCodeKey(nativeCode & 0xFF);
    case ScanCodeSet::Mac: return macKey(nativeCode);
    case ScanCodeSet::None: break;
    }
    return 0;
}

}  // namespace

ScanCodeSet currentScanCodeSet() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))
        return ScanCodeSet::Xkb;
    if (platform == QLatin1String("windows")) return ScanCodeSet::Windows;
    if (platform == QLatin1String("cocoa")) return ScanCodeSet::Mac;
    return ScanCodeSet::None;
}

int windowsVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeCode, ScanCodeSet set) {
    if (modifiers & Qt::KeypadModifier) {
        if (const int code = keypadKey(qtKey)) return code;
    }
    if (const int code = specialKey(qtKey)) return code;
    if (isLetterCode(qtKey)) return qtKey;
    if (const int code = positionalKey(nativeCode, set)) {
        // ASCII punctuation printed on a US letter key (AZERTY's "," and "!")
        // takes the code of its own US key, as it would on Windows.
        if (isLetterCode(code) && qtKey > 0x20 && qtKey < 0x7F) {
            if (const int byCharacter = characterKey(qtKey)) return byCharacter;
        }
        return code;
    }
    return characterKey(qtKey);
}

int windowsVirtualKey(const QKeyEvent& event) {
    const ScanCodeSet set = currentScanCodeSet();
    const quint32 native = set == ScanCodeSet::Mac ? event.nativeVirtualKey() : event.nativeScanCode();
    return windowsVirtualKey(event.key(), event.modifiers(), native, set);
}

std::optional<LayoutKeyMessage> layoutKeyMessage(const QKeyEvent& event) {
    const bool down = event.type() == QEvent::KeyPress;
    if (!down && event.type() != QEvent::KeyRelease) return std::nullopt;
    const int code = windowsVirtualKey(event);
    if (code <= 0 || code > 255) return std::nullopt;
    if (!down && event.isAutoRepeat()) return std::nullopt;
    if (down && (code == 18 || (event.modifiers() & Qt::AltModifier))) return std::nullopt;
    return LayoutKeyMessage{code, down};
}

}  // namespace qv
