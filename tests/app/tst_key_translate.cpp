#include <QKeyEvent>
#include <QtTest>

#include "app/key_translate.h"
#include "io/keyboard_layout.h"

using namespace qv;

namespace {

constexpr quint32 xkb(quint32 linuxCode) { return linuxCode + 8; }

QKeyEvent keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false) {
    return QKeyEvent(type, key, mods, 0, 0, 0, QString(), repeat);
}

}  // namespace

class TestKeyTranslate : public QObject {
    Q_OBJECT

private slots:
    void keysWithoutCharacters() {
        const ScanCodeSet none = ScanCodeSet::None;
        QCOMPARE(windowsVirtualKey(Qt::Key_F1, {}, 0, none), 112);
        QCOMPARE(windowsVirtualKey(Qt::Key_F10, {}, 0, none), 121);
        QCOMPARE(windowsVirtualKey(Qt::Key_F24, {}, 0, none), 135);
        QCOMPARE(windowsVirtualKey(Qt::Key_Escape, {}, 0, none), 27);
        QCOMPARE(windowsVirtualKey(Qt::Key_Return, {}, 0, none), 13);
        QCOMPARE(windowsVirtualKey(Qt::Key_Backtab, Qt::ShiftModifier, 0, none), 9);
        QCOMPARE(windowsVirtualKey(Qt::Key_Shift, Qt::ShiftModifier, 0, none), 16);
        QCOMPARE(windowsVirtualKey(Qt::Key_Control, {}, 0, none), 17);
        QCOMPARE(windowsVirtualKey(Qt::Key_Alt, {}, 0, none), 18);
        QCOMPARE(windowsVirtualKey(Qt::Key_PageDown, {}, 0, none), 34);
        QCOMPARE(windowsVirtualKey(Qt::Key_Insert, {}, 0, none), 45);
        QCOMPARE(windowsVirtualKey(Qt::Key_Space, {}, xkb(57), ScanCodeSet::Xkb), 32);
        QCOMPARE(windowsVirtualKey(Qt::Key_Backspace, {}, 0, none), 8);
        // macOS flags arrow keys as keypad keys; they stay arrows.
        QCOMPARE(windowsVirtualKey(Qt::Key_Down, Qt::KeypadModifier, 0x7D, ScanCodeSet::Mac), 40);
    }

    void keypad() {
        const auto kp = Qt::KeypadModifier;
        const ScanCodeSet set = ScanCodeSet::Xkb;
        QCOMPARE(windowsVirtualKey(Qt::Key_0, kp, xkb(82), set), 96);
        QCOMPARE(windowsVirtualKey(Qt::Key_7, kp | Qt::ControlModifier, xkb(71), set), 103);
        QCOMPARE(windowsVirtualKey(Qt::Key_Asterisk, kp, xkb(55), set), 106);
        QCOMPARE(windowsVirtualKey(Qt::Key_Plus, kp, xkb(78), set), 107);
        QCOMPARE(windowsVirtualKey(Qt::Key_Minus, kp, xkb(74), set), 109);
        QCOMPARE(windowsVirtualKey(Qt::Key_Slash, kp, xkb(98), set), 111);
        QCOMPARE(windowsVirtualKey(Qt::Key_Period, kp, xkb(83), set), 110);
        QCOMPARE(windowsVirtualKey(Qt::Key_Comma, kp, xkb(83), set), 110);
        QCOMPARE(windowsVirtualKey(Qt::Key_Enter, kp, xkb(96), set), 13);
        // Num Lock off: the keypad acts as the cursor block.
        QCOMPARE(windowsVirtualKey(Qt::Key_End, kp, xkb(79), set), 35);
        QCOMPARE(windowsVirtualKey(Qt::Key_Delete, kp, xkb(83), set), 46);
        // Without the keypad flag the same characters are the main keys.
        QCOMPARE(windowsVirtualKey(Qt::Key_0, {}, xkb(11), set), 48);
        QCOMPARE(windowsVirtualKey(Qt::Key_Minus, {}, xkb(12), set), 189);
    }

    void lettersFollowTheLabel() {
        // QWERTZ: the key labelled Z sits at the US Y place and gives "z".
        QCOMPARE(windowsVirtualKey(Qt::Key_Z, {}, xkb(21), ScanCodeSet::Xkb), 90);
        QCOMPARE(windowsVirtualKey(Qt::Key_Y, {}, xkb(44), ScanCodeSet::Xkb), 89);
        // AZERTY: the key labelled A sits at the US Q place.
        QCOMPARE(windowsVirtualKey(Qt::Key_A, {}, 0x10, ScanCodeSet::Windows), 65);
        QCOMPARE(windowsVirtualKey(Qt::Key_M, Qt::ControlModifier, 0x29, ScanCodeSet::Mac), 77);
        QCOMPARE(windowsVirtualKey(Qt::Key_Q, {}, 0, ScanCodeSet::None), 81);
    }

    void digitsAndPunctuationByUsPlace() {
        const ScanCodeSet x = ScanCodeSet::Xkb;
        // AZERTY's digit row prints symbols unshifted.
        QCOMPARE(windowsVirtualKey(Qt::Key_Ampersand, {}, xkb(2), x), 49);
        QCOMPARE(windowsVirtualKey(Qt::Key_Eacute, {}, xkb(3), x), 50);
        QCOMPARE(windowsVirtualKey(Qt::Key_Agrave, {}, xkb(11), x), 48);
        // German keys at US punctuation places.
        QCOMPARE(windowsVirtualKey(Qt::Key_Udiaeresis, {}, xkb(26), x), 219);
        QCOMPARE(windowsVirtualKey(Qt::Key_Odiaeresis, {}, xkb(39), x), 186);
        QCOMPARE(windowsVirtualKey(Qt::Key_Adiaeresis, {}, xkb(40), x), 222);
        QCOMPARE(windowsVirtualKey(Qt::Key_Dead_Circumflex, {}, xkb(41), x), 192);
        QCOMPARE(windowsVirtualKey(Qt::Key_Dead_Acute, {}, xkb(13), x), 187);
        QCOMPARE(windowsVirtualKey(Qt::Key_ssharp, {}, xkb(12), x), 189);
        QCOMPARE(windowsVirtualKey(Qt::Key_NumberSign, {}, xkb(43), x), 220);
        QCOMPARE(windowsVirtualKey(Qt::Key_Less, {}, xkb(86), x), 226);
        // Shifted US punctuation keeps its key.
        QCOMPARE(windowsVirtualKey(Qt::Key_Question, Qt::ShiftModifier, xkb(53), x), 191);
        QCOMPARE(windowsVirtualKey(Qt::Key_AsciiTilde, Qt::ShiftModifier, xkb(41), x), 192);
        // The same places through the other platforms' codes.
        QCOMPARE(windowsVirtualKey(Qt::Key_Ampersand, {}, 0x02, ScanCodeSet::Windows), 49);
        QCOMPARE(windowsVirtualKey(Qt::Key_Dead_Circumflex, {}, 0x29, ScanCodeSet::Windows), 192);
        QCOMPARE(windowsVirtualKey(Qt::Key_Comma, {}, 0x33, ScanCodeSet::Windows), 188);
        QCOMPARE(windowsVirtualKey(Qt::Key_Ampersand, {}, 0x12, ScanCodeSet::Mac), 49);
        QCOMPARE(windowsVirtualKey(Qt::Key_Udiaeresis, {}, 0x21, ScanCodeSet::Mac), 219);
        QCOMPARE(windowsVirtualKey(Qt::Key_Period, {}, 0x2F, ScanCodeSet::Mac), 190);
    }

    void otherScriptsUseTheUsLetter() {
        // Cyrillic letters at the US Z and Q places.
        QCOMPARE(windowsVirtualKey(0x042F, {}, xkb(44), ScanCodeSet::Xkb), 90);
        QCOMPARE(windowsVirtualKey(0x0419, {}, 0x10, ScanCodeSet::Windows), 81);
        // AZERTY prints "," at the US M place: the comma key's code.
        QCOMPARE(windowsVirtualKey(Qt::Key_Comma, {}, xkb(50), ScanCodeSet::Xkb), 188);
    }

    void characterFallback() {
        const ScanCodeSet none = ScanCodeSet::None;
        QCOMPARE(windowsVirtualKey(Qt::Key_Exclam, {}, 0, none), 49);
        QCOMPARE(windowsVirtualKey(Qt::Key_ParenRight, {}, 0, none), 48);
        QCOMPARE(windowsVirtualKey(Qt::Key_7, {}, 0, none), 55);
        QCOMPARE(windowsVirtualKey(Qt::Key_AsciiTilde, {}, 0, none), 192);
        QCOMPARE(windowsVirtualKey(Qt::Key_QuoteLeft, {}, 0, none), 192);
        QCOMPARE(windowsVirtualKey(Qt::Key_BraceLeft, {}, 0, none), 219);
        QCOMPARE(windowsVirtualKey(Qt::Key_Bar, {}, 0, none), 220);
        QCOMPARE(windowsVirtualKey(Qt::Key_Colon, {}, 0, none), 186);
        QCOMPARE(windowsVirtualKey(Qt::Key_QuoteDbl, {}, 0, none), 222);
        QCOMPARE(windowsVirtualKey(Qt::Key_Underscore, {}, 0, none), 189);
        QCOMPARE(windowsVirtualKey(Qt::Key_Equal, {}, 0, none), 187);
        QCOMPARE(windowsVirtualKey(Qt::Key_Greater, {}, 0, none), 190);
        // Unknown scan codes fall back to the character too.
        QCOMPARE(windowsVirtualKey(Qt::Key_Slash, {}, 0, ScanCodeSet::Xkb), 191);
        QCOMPARE(windowsVirtualKey(Qt::Key_Udiaeresis, {}, 0, none), 0);
        QCOMPARE(windowsVirtualKey(Qt::Key_unknown, {}, 0, none), 0);
        QCOMPARE(windowsVirtualKey(Qt::Key_VolumeUp, {}, xkb(115), ScanCodeSet::Xkb), 0);
    }

    void messagesForTheLayoutEngine() {
        auto press = layoutKeyMessage(keyEvent(QEvent::KeyPress, Qt::Key_Z));
        QVERIFY(press);
        QCOMPARE(press->code, 90);
        QVERIFY(press->down);
        auto release = layoutKeyMessage(keyEvent(QEvent::KeyRelease, Qt::Key_Z));
        QVERIFY(release);
        QVERIFY(!release->down);
        // X11 auto-repeat: the interleaved release is dropped, the press kept.
        QVERIFY(!layoutKeyMessage(keyEvent(QEvent::KeyRelease, Qt::Key_Z, {}, true)));
        QVERIFY(layoutKeyMessage(keyEvent(QEvent::KeyPress, Qt::Key_Z, {}, true)));
        // Alt and keys pressed with Alt go to the menus; their releases pass.
        QVERIFY(!layoutKeyMessage(keyEvent(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier)));
        QVERIFY(!layoutKeyMessage(keyEvent(QEvent::KeyPress, Qt::Key_F, Qt::AltModifier)));
        QVERIFY(layoutKeyMessage(keyEvent(QEvent::KeyRelease, Qt::Key_F, Qt::AltModifier)));
        QVERIFY(!layoutKeyMessage(keyEvent(QEvent::KeyPress, Qt::Key_unknown)));
        QVERIFY(!layoutKeyMessage(keyEvent(QEvent::ShortcutOverride, Qt::Key_Z)));
    }

    void drivesTheDefaultLayout() {
        KeyboardLayout layout;
        auto feed = [&](QEvent::Type type, int key, Qt::KeyboardModifiers mods) {
            if (auto m = layoutKeyMessage(keyEvent(type, key, mods))) {
                if (m->down)
                    layout.keyDown(m->code);
                else
                    layout.keyUp(m->code);
            }
        };
        feed(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
        feed(QEvent::KeyPress, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(layout.state(cmd::GenOpenMod), 1);
        feed(QEvent::KeyRelease, Qt::Key_O, Qt::ControlModifier);
        feed(QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier);
        QCOMPARE(layout.state(cmd::mute(0)), 1);
        QCOMPARE(layout.state(cmd::octave(1)), 0);
        feed(QEvent::KeyRelease, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier);
        feed(QEvent::KeyRelease, Qt::Key_Control, {});
        feed(QEvent::KeyPress, Qt::Key_AsciiTilde, Qt::ShiftModifier);  // no Shift key message seen
        QCOMPARE(layout.state(cmd::PtnAutoStepInc), 1);
    }

    // The shipped layouts for other keyboards: pressing the 29 piano keys in
    // their US places (what the keyboard prints there as Qt's key, the place as
    // the XKB code) plays the notes C-0 ... E-2 in order, each key one note.
    void shippedLayoutsKeepThePianoInPlace() {
        // Linux input codes of the piano keys, C-0 upwards: the lowest row
        // Z S X D C V G B H N J M, then Q 2 W 3 E R 5 T 6 Y 7 U I 9 O 0 P.
        const quint32 places[29] = {44, 31, 45, 32, 46, 47, 34, 48, 35, 49, 36, 50, 16, 3, 17,
                                    4,  18, 19, 6,  20, 7,  21, 8,  22, 23, 10, 24, 11, 25};
        struct Keyboard {
            const char* file;
            int keys[29];
        };
        const Keyboard keyboards[] = {
            {"azerty.kbd",
             {Qt::Key_W, Qt::Key_S, Qt::Key_X, Qt::Key_D, Qt::Key_C, Qt::Key_V, Qt::Key_G, Qt::Key_B,
              Qt::Key_H, Qt::Key_N, Qt::Key_J, Qt::Key_Comma, Qt::Key_A, Qt::Key_Eacute, Qt::Key_Z,
              Qt::Key_QuoteDbl, Qt::Key_E, Qt::Key_R, Qt::Key_ParenLeft, Qt::Key_T, Qt::Key_Minus,
              Qt::Key_Y, Qt::Key_Egrave, Qt::Key_U, Qt::Key_I, Qt::Key_Ccedilla, Qt::Key_O,
              Qt::Key_Agrave, Qt::Key_P}},
            {"dvorak.kbd",
             {Qt::Key_Semicolon, Qt::Key_O, Qt::Key_Q, Qt::Key_E, Qt::Key_J, Qt::Key_K, Qt::Key_I,
              Qt::Key_X, Qt::Key_D, Qt::Key_B, Qt::Key_H, Qt::Key_M, Qt::Key_Apostrophe, Qt::Key_2,
              Qt::Key_Comma, Qt::Key_3, Qt::Key_Period, Qt::Key_P, Qt::Key_5, Qt::Key_Y, Qt::Key_6,
              Qt::Key_F, Qt::Key_7, Qt::Key_G, Qt::Key_C, Qt::Key_9, Qt::Key_R, Qt::Key_0, Qt::Key_L}},
        };
        for (const Keyboard& kb : keyboards) {
            KeyboardLayout layout;
            QVERIFY(layout.loadFromFile(QV_SOURCE_DIR "/layouts/" + std::string(kb.file)));
            for (int n = 0; n < 29; ++n) {
                const int code = windowsVirtualKey(kb.keys[n], {}, xkb(places[n]), ScanCodeSet::Xkb);
                layout.keyDown(code);
                for (int c = cmd::NoteFirst; c < cmd::NoteFirst + 36; ++c)
                    QVERIFY2(layout.state(c) == (c == n ? 1 : 0),
                             qPrintable(QString("%1: key %2 fires %3").arg(kb.file).arg(n).arg(
                                 QString::fromStdString(KeyboardLayout::commandName(c)))));
                layout.keyUp(code);
            }
        }
    }
};

QTEST_MAIN(TestKeyTranslate)
#include "tst_key_translate.moc"
