// Keyboard layout engine: text reduction, name lookup, key-name parsing and
// the three-pass evaluation of the command states.
#include "io/keyboard_layout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace qv {

namespace {

// The built-in layout. The octave commands are written "setOctaveN": the name
// search is not tied to the start of a line, so "setOctave1=" binds octave1.
constexpr std::string_view kDefaultLayout = R"KBD(
layoutName=Default Layout
noteC-0=z
noteC#0=s
noteD-0=x
noteD#0=d
noteE-0=c
noteF-0=v
noteF#0=g
noteG-0=b
noteG#0=h
noteA-0=n
noteA#0=j
noteB-0=m
noteC-1=q,comma
noteC#1=2,l
noteD-1=w,period
noteD#1=3,:
noteE-1=e,slash
noteF-1=r
noteF#1=5
noteG-1=t
noteG#1=6
noteA-1=y
noteA#1=7
noteB-1=u
noteC-2=i
noteC#2=9
noteD-2=o
noteD#2=0
noteE-2=p
noteF-2=[
noteF#2=plus
noteG-2=]
noteG#2=\
noteA-2=
noteA#2=
noteB-2=
setOctave1=num1
setOctave2=num2
setOctave3=num3
setOctave4=num4
setOctave5=num5
setOctave6=num6
setOctave7=num7
setOctave8=num8
noteOff=a
genOpenMod=ctrl+o
genSaveMod=ctrl+s
genPlayAll=f5
genPlayCur=f6
genPlayPtn=f8
genStop=esc
genReset=shift+esc
genMuteA=ctrl+num1
genMuteB=ctrl+num2
genMuteC=ctrl+num3
genMuteD=ctrl+num4
genMuteE=ctrl+num5
genMuteF=ctrl+num6
genMuteAll=ctrl+num0
genSoloMode=ctrl+numdec
genToPtnEdit=f1
genToInsEdit=f2
genToInfo=f3
genToSettings=f4
ptnSelectAll=ctrl+a
ptnSelectChn=ctrl+l
ptnUnselect=ctrl+u
ptnCut=ctrl+x
ptnCopy=ctrl+c
ptnPaste=ctrl+v
ptnPasteOver=ctrl+b
ptnDelete=ctrl+d
ptnToOrder=ctrl+up
ptnTransSemiUp=ctrl+r
ptnTransSemiDown=ctrl+f
ptnTransOctUp=ctrl+t
ptnTransOctDown=ctrl+g
ptnAssignInstr=ctrl+i
ptnAutoStepInc=~
ptnAutoStepDec=ctrl+~
ptnAutoStep0=ctrl+0
ptnAutoStep1=ctrl+1
ptnAutoStep2=ctrl+2
ptnAutoStep3=ctrl+3
ptnAutoStep4=ctrl+4
ptnAutoStep5=ctrl+5
ptnAutoStep6=ctrl+6
ptnAutoStep7=ctrl+7
ptnAutoStep8=ctrl+8
ptnAutoStep9=ctrl+9
ptnCurUp=up
ptnCurDown=down
ptnCurLeft=left
ptnCurRight=right
ptnPageUp=pageup
ptnPageDown=pagedown
ptnHome=home
ptnEnd=end
ptnOrdPrev=ctrl+pageup
ptnOrdNext=ctrl+pagedown
ptnNextChan=tab
ptnPrevChan=ctrl+tab
ptnDelNote=back
ptnDelLine=ctrl+back
ptnInsNote=insert
ptnInsLine=ctrl+insert
ptnPlay=enter
ptnPlayLoop=ctrl+enter
ptnClrField=delete
ptnClrNote=ctrl+space
ptnClrLine=ctrl+delete
ptnSelectKey=shift
ptnPatternNext=numadd
ptnPatternPrev=numsub
ptnInstrNext=nummul
ptnInstrPrev=numdiv
ptnInpRepeat=space
ptnPlayNote=4
ptnPlayLine=8
ptnEditSong=ctrl+m
ordInsertSame=insert
ordInsertCopy=insert+shift
ordInsertNew=insert+ctrl
ordDelete=delete
ordLoopPosition=l
ordToPattern=ctrl+up,ctrl+down,enter
ordPatternInc=up
ordPatternDec=down
ordMovePrev=ctrl+left
ordMoveNext=ctrl+right
genUndo=ctrl+z
genRedo=ctrl+y,ctrl+shift+z
genShowHelp=shift+f1
genFollowSong=scroll
)KBD";

struct KeyName {
    std::string_view name;
    int32_t value;
};

constexpr KeyName kKeyNames[] = {
    {"esc", 27}, {"escape", 27},
    {"f1", 112}, {"f2", 113}, {"f3", 114}, {"f4", 115}, {"f5", 116}, {"f6", 117},
    {"f7", 118}, {"f8", 119}, {"f9", 120}, {"f10", 121}, {"f11", 122}, {"f12", 123},
    {"f13", 124}, {"f14", 125}, {"f15", 126}, {"f16", 127}, {"f17", 128}, {"f18", 129},
    {"f19", 130}, {"f20", 131}, {"f21", 132}, {"f22", 133}, {"f23", 134}, {"f24", 135},
    {"prnscr", 44}, {"printscreen", 44}, {"snapshot", 44},
    {"scroll", 145}, {"scrolllock", 145},
    {"pause", 19}, {"break", 19},
    {"~", 192}, {"tilda", 192}, {"oem3", 192},
    {"0", 48}, {"1", 49}, {"2", 50}, {"3", 51}, {"4", 52},
    {"5", 53}, {"6", 54}, {"7", 55}, {"8", 56}, {"9", 57},
    {"minus", 189},
    {"plus", 187},
    {"backslash", 220}, {"oem5", 220}, {"\\", 220},
    {"back", 8}, {"backspace", 8},
    {"tab", 9},
    {"a", 65}, {"b", 66}, {"c", 67}, {"d", 68}, {"e", 69}, {"f", 70}, {"g", 71},
    {"h", 72}, {"i", 73}, {"j", 74}, {"k", 75}, {"l", 76}, {"m", 77}, {"n", 78},
    {"o", 79}, {"p", 80}, {"q", 81}, {"r", 82}, {"s", 83}, {"t", 84}, {"u", 85},
    {"v", 86}, {"w", 87}, {"x", 88}, {"y", 89}, {"z", 90},
    {"[", 219}, {"{", 219},
    {"]", 221}, {"}", 221},
    {"enter", 13},
    {"capslock", 20},
    {":", 186}, {";", 186},
    {"quote", 222}, {"\"", 222},
    {"shift", kModShift},
    {"comma", 188}, {"<", 188},
    {"period", 190}, {">", 190},
    {"slash", 191}, {"?", 191}, {"/", 191},
    {"ctrl", kModCtrl}, {"control", kModCtrl},
    {"alt", kModAlt}, {"menu", kModAlt},
    {"lwin", 91},
    {"rwin", 92},
    {"apps", 93},
    {"space", 32},
    {"ins", 45}, {"insert", 45},
    {"home", 36},
    {"pageup", 33}, {"pgup", 33},
    {"del", 46}, {"delete", 46},
    {"end", 35},
    {"pagedown", 34}, {"pgdown", 34},
    {"left", 37}, {"up", 38}, {"right", 39}, {"down", 40},
    {"numlock", 144},
    {"numdiv", 111}, {"nummul", 106}, {"numsub", 109}, {"numadd", 107},
    {"num0", 96}, {"num1", 97}, {"num2", 98}, {"num3", 99}, {"num4", 100},
    {"num5", 101}, {"num6", 102}, {"num7", 103}, {"num8", 104}, {"num9", 105},
    {"decimal", 110}, {"numdec", 110},
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

bool startsKeyName(char previous) { return previous == '=' || previous == ' ' || previous == '+' || previous == ','; }
bool endsKeyName(char next) { return next == ' ' || next == '+' || next == ','; }

std::vector<std::string> buildCommandNames() {
    static constexpr const char* kNotes[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                               "F#", "G-", "G#", "A-", "A#", "B-"};
    std::vector<std::string> names;
    names.reserve(cmd::Count);
    for (int octave = 0; octave < 3; ++octave)
        for (const char* note : kNotes) names.push_back(std::string("note") + note + std::to_string(octave));
    for (int n = 1; n <= 8; ++n) names.push_back("octave" + std::to_string(n));
    for (const char* name : {"noteOff", "genOpenMod", "genSaveMod", "genPlayAll", "genPlayCur",
                             "genPlayPtn", "genStop", "genReset"})
        names.emplace_back(name);
    for (char channel = 'A'; channel <= 'F'; ++channel) names.push_back(std::string("genMute") + channel);
    for (const char* name :
         {"genMuteAll", "genSoloMode", "genToPtnEdit", "genToInsEdit", "genToInfo", "genToSettings",
          "ptnSelectAll", "ptnSelectChn", "ptnUnselect", "ptnCut", "ptnCopy", "ptnPaste", "ptnPasteOver",
          "ptnDelete", "ptnToOrder", "ptnTransSemiUp", "ptnTransSemiDown", "ptnTransOctUp",
          "ptnTransOctDown", "ptnAssignInstr", "ptnAutoStepInc", "ptnAutoStepDec"})
        names.emplace_back(name);
    for (int digit = 0; digit <= 9; ++digit) names.push_back("ptnAutoStep" + std::to_string(digit));
    for (const char* name :
         {"ptnCurUp", "ptnCurDown", "ptnCurLeft", "ptnCurRight", "ptnPageUp", "ptnPageDown", "ptnHome",
          "ptnEnd", "ptnOrdPrev", "ptnOrdNext", "ptnNextChan", "ptnPrevChan", "ptnDelNote", "ptnDelLine",
          "ptnInsNote", "ptnInsLine", "ptnPlay", "ptnPlayLoop", "ptnClrField", "ptnClrNote", "ptnClrLine",
          "ptnSelectKey", "ptnPatternNext", "ptnPatternPrev", "ptnInstrNext", "ptnInstrPrev",
          "ptnInpRepeat", "ptnPlayNote", "ptnPlayLine", "ptnEditSong", "ordInsertSame", "ordInsertCopy",
          "ordInsertNew", "ordDelete", "ordLoopPosition", "ordToPattern", "ordPatternInc",
          "ordPatternDec", "ordMovePrev", "ordMoveNext", "genUndo", "genRedo", "genShowHelp",
          "genFollowSong"})
        names.emplace_back(name);
    return names;
}

const std::vector<std::string>& commandNames() {
    static const std::vector<std::string> names = buildCommandNames();
    return names;
}

bool isEvaluatedLast(std::string_view name) {
    for (std::string_view last : {"ptnCurUp", "ptnCurDown", "ptnCurLeft", "ptnCurRight", "ptnPageUp",
                                  "ptnPageDown", "ptnHome", "ptnEnd", "ptnNextChan", "ptnPrevChan"})
        if (name == last) return true;
    return false;
}

// Finds `name` followed by "=" (spaces in between allowed) anywhere in the
// lowered text; returns the text after "=" up to the end of its line.
bool findValue(const std::string& loweredText, const std::string& loweredName, std::string_view& value) {
    if (loweredName.empty()) return false;
    for (size_t at = loweredText.find(loweredName); at != std::string::npos;
         at = loweredText.find(loweredName, at + 1)) {
        size_t p = at + loweredName.size();
        while (p < loweredText.size() && loweredText[p] == ' ') ++p;
        if (p < loweredText.size() && loweredText[p] == '=') {
            size_t end = loweredText.find('\n', p + 1);
            if (end == std::string::npos) end = loweredText.size();
            value = std::string_view(loweredText).substr(p + 1, end - p - 1);
            return true;
        }
    }
    return false;
}

}  // namespace

KeyboardLayout::KeyboardLayout() { loadDefault(); }

const std::string& KeyboardLayout::commandName(int command) {
    static const std::string empty;
    const auto& names = commandNames();
    return command >= 0 && command < static_cast<int>(names.size()) ? names[command] : empty;
}

int KeyboardLayout::commandIndex(std::string_view name) {
    const auto& names = commandNames();
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

std::string_view KeyboardLayout::defaultLayoutText() { return kDefaultLayout; }

int KeyboardLayout::keyNameCount() { return static_cast<int>(std::size(kKeyNames)); }

int32_t KeyboardLayout::keyNameValue(std::string_view name) {
    for (const KeyName& key : kKeyNames)
        if (equalsNoCase(key.name, name)) return key.value;
    return 0;
}

std::string KeyboardLayout::reduce(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inComment = false;
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte == 10) {
            out.push_back('\n');
            inComment = false;
            continue;
        }
        if (inComment) continue;
        if (ch == ';') {
            inComment = true;
            continue;
        }
        if (byte < 32 || byte >= 128) continue;
        if (ch == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(ch);
    }
    return out;
}

std::array<int32_t, KeyboardLayout::kAlternatives> KeyboardLayout::parseKeys(std::string_view keys) {
    std::array<int32_t, kAlternatives> alternatives{};
    int current = 0;
    char previous = '=';
    size_t p = 0;
    while (p < keys.size()) {
        const char ch = keys[p];
        if (ch == ',') {
            if (++current >= kAlternatives) break;
            previous = ch;
            ++p;
            continue;
        }
        if (startsKeyName(previous)) {
            const KeyName* found = nullptr;
            for (const KeyName& key : kKeyNames) {
                const size_t end = p + key.name.size();
                if (end > keys.size() || !equalsNoCase(keys.substr(p, key.name.size()), key.name)) continue;
                if (end < keys.size() && !endsKeyName(keys[end])) continue;
                found = &key;
                break;
            }
            if (found) {
                alternatives[current] |= found->value;
                p += found->name.size();
                previous = keys[p - 1];
                continue;
            }
        }
        previous = ch;
        ++p;
    }
    return alternatives;
}

bool KeyboardLayout::loadFromText(std::string_view text) {
    loadFromText(text, commandNames());
    return true;
}

void KeyboardLayout::loadFromText(std::string_view text, std::span<const std::string> names) {
    const std::string reduced = reduce(text);
    const std::string low = lowered(reduced);

    name_.clear();
    bindings_.clear();
    commandBinding_.assign(names.size(), -1);
    keyState_.fill(0);

    std::string_view value;
    if (findValue(low, "layoutname", value)) {
        // The name keeps its letters' case: take it from the unlowered text.
        const size_t offset = static_cast<size_t>(value.data() - low.data());
        name_ = reduced.substr(offset, std::min(value.size(), kMaxNameLength));
    }

    for (size_t command = 0; command < names.size(); ++command) {
        if (bindings_.size() >= static_cast<size_t>(kMaxBindings)) break;
        if (!findValue(low, lowered(names[command]), value)) continue;
        Binding binding;
        binding.alternatives = parseKeys(value);
        if (std::all_of(binding.alternatives.begin(), binding.alternatives.end(),
                        [](int32_t a) { return a == 0; }))
            continue;
        binding.consumesModifiers = names[command] == "ptnSelectKey";
        binding.evaluatedLast = isEvaluatedLast(names[command]);
        commandBinding_[command] = static_cast<int>(bindings_.size());
        bindings_.push_back(binding);
    }
}

std::string LayoutReport::text() const {
    std::string out;
    if (noNoteKey) out += "binds no note key\n";
    for (const std::string& problem : problems) out += problem + "\n";
    const int unlisted = problemCount - static_cast<int>(problems.size());
    if (unlisted > 0) out += "... and " + std::to_string(unlisted) + " more\n";
    return out;
}

LayoutReport KeyboardLayout::check(std::string_view text) {
    LayoutReport report;
    auto note = [&report](int line, const char* what, std::string_view name) {
        if (++report.problemCount <= LayoutReport::kMaxListed)
            report.problems.push_back("line " + std::to_string(line) + ": unknown " + what + " '" +
                                      std::string(name) + "'");
    };
    const std::string reduced = reduce(text);
    std::vector<std::string> names;
    for (const std::string& name : commandNames()) names.push_back(lowered(name));
    int line = 0;
    for (size_t start = 0; start <= reduced.size();) {
        size_t end = reduced.find('\n', start);
        if (end == std::string::npos) end = reduced.size();
        const std::string_view row = std::string_view(reduced).substr(start, end - start);
        start = end + 1;
        ++line;
        const size_t eq = row.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view command = row.substr(0, eq);
        while (!command.empty() && command.front() == ' ') command.remove_prefix(1);
        while (!command.empty() && command.back() == ' ') command.remove_suffix(1);
        const std::string low = lowered(command);
        if (low.empty()) continue;
        if (low.ends_with("layoutname")) continue;
        // The name lookup is not tied to the start of a line ("setOctave1"
        // binds octave1), so a name counts when it ends in a command name.
        const bool known = std::any_of(names.begin(), names.end(),
                                       [&low](const std::string& name) { return low.ends_with(name); });
        if (!known) {
            note(line, "command", command);
            continue;
        }
        const std::string_view keys = row.substr(eq + 1);
        for (size_t p = 0; p < keys.size();) {
            const size_t q = std::min(keys.find_first_of(" +,", p), keys.size());
            const std::string_view word = keys.substr(p, q - p);
            if (!word.empty() && keyNameValue(word) == 0 && !equalsNoCase(word, "none")) note(line, "key", word);
            p = q + 1;
        }
    }
    // Whether any note key gets a key, the way loading would bind it.
    KeyboardLayout probe;
    probe.loadFromText(text);
    report.noNoteKey = true;
    for (int command = cmd::NoteFirst; command < cmd::Octave1; ++command)
        if (probe.binding(command)) report.noNoteKey = false;
    return report;
}

bool KeyboardLayout::loadFromFile(const std::string& utf8Path, LayoutReport* report) {
    std::error_code error;
    const std::filesystem::path path(std::u8string(utf8Path.begin(), utf8Path.end()));
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxFileSize) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (in.bad()) return false;
    LayoutReport found = check(bytes);
    const bool refused = found.noNoteKey;
    if (report) *report = std::move(found);
    if (refused) return false;
    loadFromText(bytes);
    if (name_.empty()) name_ = path.filename().string().substr(0, kMaxNameLength);
    return true;
}

int KeyboardLayout::matches(const Binding& b, const std::array<uint8_t, 256>& keys) {
    const int32_t pressedModifiers =
        (keys[vk::Shift] ? kModShift : 0) | (keys[vk::Control] ? kModCtrl : 0) | (keys[vk::Menu] ? kModAlt : 0);
    for (int32_t alternative : b.alternatives) {
        if (alternative == 0) continue;
        const int code = alternative & 0xFF;
        if ((alternative & (kModShift | kModCtrl | kModAlt)) != pressedModifiers) continue;
        if (code == 0 || keys[code] != 0) return true;
    }
    return false;
}

void KeyboardLayout::evaluate() {
    auto update = [](Binding& b, bool matched) { b.state = matched ? std::min(b.state + 1, 2) : 0; };
    std::array<uint8_t, 256> keys = keyState_;
    for (Binding& b : bindings_)
        if (!b.consumesModifiers && !b.evaluatedLast) update(b, matches(b, keys));
    for (Binding& b : bindings_) {
        if (!b.consumesModifiers) continue;
        update(b, matches(b, keys));
        for (int32_t alternative : b.alternatives) {
            if (alternative == 0) continue;
            keys[alternative & 0xFF] = 0;
            if (alternative & kModShift) keys[vk::Shift] = 0;
            if (alternative & kModCtrl) keys[vk::Control] = 0;
            if (alternative & kModAlt) keys[vk::Menu] = 0;
        }
    }
    for (Binding& b : bindings_)
        if (b.evaluatedLast && !b.consumesModifiers) update(b, matches(b, keys));
}

void KeyboardLayout::keyDown(int code) {
    if (code <= 0 || code > 255) return;
    keyState_[code] = static_cast<uint8_t>(std::min(keyState_[code] + 1, 2));
    evaluate();
}

void KeyboardLayout::keyUp(int code) {
    if (code <= 0 || code > 255) return;
    keyState_[code] = 0;
    evaluate();
}

void KeyboardLayout::clearKeyState() {
    keyState_.fill(0);
    for (Binding& b : bindings_) b.state = 0;
}

int KeyboardLayout::bindingIndex(int command) const {
    return command >= 0 && command < static_cast<int>(commandBinding_.size()) ? commandBinding_[command] : -1;
}

const KeyboardLayout::Binding* KeyboardLayout::binding(int command) const {
    const int index = bindingIndex(command);
    return index < 0 ? nullptr : &bindings_[index];
}

int KeyboardLayout::state(int command) const {
    const Binding* b = binding(command);
    return b ? b->state : 0;
}

// ---- layout selection --------------------------------------------------------

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAbsolute(const std::string& path) {
    if (!path.empty() && isSeparator(path[0])) return true;
    return path.size() >= 3 && path[1] == ':' && isSeparator(path[2]);
}

}  // namespace

std::string resolveLayoutPath(const std::string& setting, const std::string& programDir) {
    if (setting.empty() || setting == "Default") return "Default";
    if (isAbsolute(setting)) return setting;
    std::string folder = programDir;
    if (!folder.empty() && !isSeparator(folder.back())) folder.push_back('/');
    return folder + setting;
}

std::string layoutSettingFor(const std::string& path, const std::string& programDir) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos || programDir.empty()) return path;
    std::string folder = programDir;
    while (folder.size() > 1 && isSeparator(folder.back())) folder.pop_back();
    const std::string pathFolder = path.substr(0, slash);
    if (pathFolder.size() != folder.size()) return path;
    for (size_t i = 0; i < folder.size(); ++i) {
        const bool same = folder[i] == pathFolder[i] || (isSeparator(folder[i]) && isSeparator(pathFolder[i]));
        if (!same) return path;
    }
    return path.substr(slash + 1);
}

namespace {

// Loads the setting's layout; on a failing file only failedPath is set and
// the layout is left as it was.
LayoutSelection loadSelection(KeyboardLayout& layout, const std::string& setting, const std::string& programDir) {
    LayoutSelection result;
    const std::string path = resolveLayoutPath(setting, programDir);
    if (path == "Default") {
        layout.loadDefault();
        result.setting = "Default";
        return result;
    }
    if (layout.loadFromFile(path, &result.report)) {
        result.isDefault = false;
        result.setting = layoutSettingFor(path, programDir);
        return result;
    }
    result.failedPath = path;
    return result;
}

}  // namespace

LayoutSelection selectLayout(KeyboardLayout& layout, const std::string& setting, const std::string& programDir) {
    LayoutSelection result = loadSelection(layout, setting, programDir);
    if (!result.failedPath.empty()) {
        layout.loadDefault();
        result.isDefault = true;
        result.setting = "Default";
    }
    return result;
}

LayoutSelection changeLayout(KeyboardLayout& layout, const std::string& setting, const std::string& programDir,
                             const std::string& currentSetting) {
    LayoutSelection result = loadSelection(layout, setting, programDir);
    if (!result.failedPath.empty()) {
        result.setting = currentSetting.empty() ? "Default" : currentSetting;
        result.isDefault = result.setting == "Default";
    }
    return result;
}

}  // namespace qv
