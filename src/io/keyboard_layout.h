// Keyboard layouts: every editor command has a name, and a layout binds each
// name to up to three key combinations. Key codes are Windows virtual-key
// codes everywhere (the front end translates its key events into them), so a
// .kbd file means the same on every system.
//
// A layout is plain text, one "command=keys" line per command. The engine
// keeps the held state of every key and, after each key message, works out
// for every bound command whether it is inactive (0), just became active (1)
// or is still active (2).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Editor commands in the order in which a layout is looked up.
namespace cmd {
enum Command : int {
    // 36 note keys: noteC-0 ... noteB-2, see noteKey()
    NoteFirst = 0,
    // octave1 ... octave8, see octave()
    Octave1 = 36,
    NoteOff = 44,
    GenOpenMod,
    GenSaveMod,
    GenPlayAll,
    GenPlayCur,
    GenPlayPtn,
    GenStop,
    GenReset,
    GenMuteA,  // ... GenMuteA + 5 = genMuteF, see mute()
    GenMuteAll = GenMuteA + 6,
    GenSoloMode,
    GenToPtnEdit,
    GenToInsEdit,
    GenToInfo,
    GenToSettings,
    PtnSelectAll,
    PtnSelectChn,
    PtnUnselect,
    PtnCut,
    PtnCopy,
    PtnPaste,
    PtnPasteOver,
    PtnDelete,
    PtnToOrder,
    PtnTransSemiUp,
    PtnTransSemiDown,
    PtnTransOctUp,
    PtnTransOctDown,
    PtnAssignInstr,
    PtnAutoStepInc,
    PtnAutoStepDec,
    PtnAutoStep0,  // ... PtnAutoStep0 + 9, see autoStep()
    PtnCurUp = PtnAutoStep0 + 10,
    PtnCurDown,
    PtnCurLeft,
    PtnCurRight,
    PtnPageUp,
    PtnPageDown,
    PtnHome,
    PtnEnd,
    PtnOrdPrev,
    PtnOrdNext,
    PtnNextChan,
    PtnPrevChan,
    PtnDelNote,
    PtnDelLine,
    PtnInsNote,
    PtnInsLine,
    PtnPlay,
    PtnPlayLoop,
    PtnClrField,
    PtnClrNote,
    PtnClrLine,
    PtnSelectKey,
    PtnPatternNext,
    PtnPatternPrev,
    PtnInstrNext,
    PtnInstrPrev,
    PtnInpRepeat,
    PtnPlayNote,
    PtnPlayLine,
    PtnEditSong,
    OrdInsertSame,
    OrdInsertCopy,
    OrdInsertNew,
    OrdDelete,
    OrdLoopPosition,
    OrdToPattern,
    OrdPatternInc,
    OrdPatternDec,
    OrdMovePrev,
    OrdMoveNext,
    GenUndo,
    GenRedo,
    GenShowHelp,
    // The pattern cursor follows the playing song (on) or stays free (off).
    GenFollowSong,
    Count
};

// note 0-11 (C ... B), octaveOffset 0-2 above the base octave.
constexpr int noteKey(int octaveOffset, int note) { return NoteFirst + octaveOffset * 12 + note; }
// n = 1-8
constexpr int octave(int n) { return Octave1 + n - 1; }
// channel 0-5 (A-F)
constexpr int mute(int channel) { return GenMuteA + channel; }
// digit 0-9
constexpr int autoStep(int digit) { return PtnAutoStep0 + digit; }
}  // namespace cmd

// Windows virtual-key codes and the modifier flags of a key combination.
namespace vk {
constexpr int Back = 8, Tab = 9, Return = 13, Shift = 16, Control = 17, Menu = 18, Pause = 19,
              Capital = 20, Escape = 27, Space = 32, Prior = 33, Next = 34, End = 35, Home = 36,
              Left = 37, Up = 38, Right = 39, Down = 40, Snapshot = 44, Insert = 45, Delete = 46,
              LWin = 91, RWin = 92, Apps = 93, Numpad0 = 96, Multiply = 106, Add = 107,
              Subtract = 109, Decimal = 110, Divide = 111, F1 = 112, NumLock = 144, Scroll = 145,
              Oem1 = 186, OemPlus = 187, OemComma = 188, OemMinus = 189, OemPeriod = 190, Oem2 = 191,
              Oem3 = 192, Oem4 = 219, Oem5 = 220, Oem6 = 221, Oem7 = 222;
constexpr int letter(char c) { return c - 'A' + 65; }  // 'A'-'Z'
constexpr int digit(int d) { return 48 + d; }
constexpr int numpad(int d) { return Numpad0 + d; }
constexpr int f(int n) { return F1 + n - 1; }  // F1-F24
}  // namespace vk

constexpr int32_t kModShift = 0x2000;
constexpr int32_t kModCtrl = 0x4000;
constexpr int32_t kModAlt = 0x8000;

// What a layout file binds wrongly: the first few unknown command and key
// names with their file lines, and whether any note key is bound at all.
struct LayoutReport {
    static constexpr int kMaxListed = 5;
    std::vector<std::string> problems;  // e.g. "line 3: unknown key 'escc'"
    int problemCount = 0;               // all problems, listed or not
    bool noNoteKey = false;             // the file binds no note key
    bool empty() const { return problemCount == 0 && !noNoteKey; }
    // One problem a line ("binds no note key" first), "... and N more" when
    // more were found than listed; "" when there is nothing to say.
    std::string text() const;
};

class KeyboardLayout {
public:
    static constexpr int kMaxBindings = 256;
    static constexpr int kAlternatives = 3;
    static constexpr size_t kMaxNameLength = 1023;
    // Layout files larger than this are refused; real ones are a few kilobytes.
    static constexpr size_t kMaxFileSize = 1 << 20;

    struct Binding {
        std::array<int32_t, kAlternatives> alternatives{};  // 0 = empty
        int32_t state = 0;  // 0 inactive, 1 became active now, 2 still active
        bool consumesModifiers = false;
        bool evaluatedLast = false;
    };

    KeyboardLayout();  // starts with the built-in Default layout

    // The command's name, e.g. "noteC#1", "genMuteB"; "" for an invalid index.
    static const std::string& commandName(int command);
    // Exact (case-sensitive) name to index; -1 when unknown.
    static int commandIndex(std::string_view name);
    // The built-in Default layout text.
    static std::string_view defaultLayoutText();

    // Replace the whole layout. Both return success; a file that cannot be
    // read (or is larger than kMaxFileSize) fails and leaves the layout as it
    // was, and so does a file that binds no note key (it would leave every
    // editor key dead). The report, when given, lists unknown command and key
    // names of the file. A file without a `layoutName` line is named after
    // the file.
    bool loadFromText(std::string_view text);
    bool loadFromFile(const std::string& utf8Path, LayoutReport* report = nullptr);
    // Unknown command and key names of a layout text and whether it binds a
    // note key.
    static LayoutReport check(std::string_view text);
    void loadDefault() { loadFromText(defaultLayoutText()); }

    // Load with an arbitrary command vocabulary instead of the editor's
    // (used to exercise the binding limit, which the editor's 128 commands
    // never reach). Command indexes then refer to this list.
    void loadFromText(std::string_view text, std::span<const std::string> commandNames);

    // A key message with a Windows virtual-key code (1-255; others are ignored).
    void keyDown(int code);
    void keyUp(int code);
    // Forget every held key and every command state.
    void clearKeyState();

    // State of a command's Binding: 0, 1 or 2; 0 when it has none.
    int state(int command) const;
    bool firesOnce(int command) const { return state(command) == 1; }
    bool firesRepeated(int command) const { return state(command) != 0; }

    const std::string& name() const { return name_; }
    int bindingIndex(int command) const;  // -1 = none
    const Binding* binding(int command) const;
    const std::vector<Binding>& bindings() const { return bindings_; }
    int keyState(int code) const { return code >= 0 && code < 256 ? keyState_[code] : 0; }

    // Text reduction applied before any lookup (comments, control bytes and
    // repeated spaces removed; line feeds kept).
    static std::string reduce(std::string_view text);
    // Parses the keys part of a line ("ctrl+O,f10") into alternatives.
    static std::array<int32_t, kAlternatives> parseKeys(std::string_view keys);
    // Looks a key name up (case-insensitive): the virtual-key code, or the
    // modifier flag for shift/ctrl/control/alt/menu; 0 when it is no key name.
    static int32_t keyNameValue(std::string_view name);
    // Number of key names the parser knows.
    static int keyNameCount();

private:
    void evaluate();
    static int matches(const Binding& b, const std::array<uint8_t, 256>& keys);

    std::string name_;
    std::vector<Binding> bindings_;
    std::vector<int> commandBinding_;  // per command: index into bindings_ or -1
    std::array<uint8_t, 256> keyState_{};
};

// Where the `KeyboardLayout` setting points. "Default" stays "Default"; an
// absolute path is kept; anything else is taken relative to the program's
// folder. Both '/' and '\' separate folders; a drive letter ("C:\", "C:/") or a
// leading separator makes a path absolute. An empty setting means "Default".
std::string resolveLayoutPath(const std::string& setting, const std::string& programDir);
// The value stored in the setting after loading `path`: the bare file name
// when the file lies directly in the program's folder, else the path unchanged.
std::string layoutSettingFor(const std::string& path, const std::string& programDir);

// The whole selection of a layout at start-up or from the settings page.
// Loads `setting` ("Default" or a path resolved against programDir). On a
// failing file, `failedPath` names it (the caller shows "Can't load keyboard
// layout '...'") and the Default layout is loaded instead.
struct LayoutSelection {
    bool isDefault = true;    // the Default layout is in use
    std::string setting;      // new value of the `KeyboardLayout` setting
    std::string failedPath;   // non-empty when a file failed to load
    LayoutReport report;      // what the file binds wrongly (also after a success)
};
LayoutSelection selectLayout(KeyboardLayout& layout, const std::string& setting,
                             const std::string& programDir);
// The same for a layout chosen while the program runs: a file that fails
// leaves the layout in use, and the setting stays currentSetting.
LayoutSelection changeLayout(KeyboardLayout& layout, const std::string& setting,
                             const std::string& programDir, const std::string& currentSetting);

}  // namespace qv
