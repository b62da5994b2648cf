#include "io/command_help.h"

#include <map>
#include <vector>

namespace qv {

namespace {

std::string singleKeyText(int code) {
    if (code >= 'A' && code <= 'Z') return std::string(1, static_cast<char>(code));
    if (code >= '0' && code <= '9') return std::string(1, static_cast<char>(code));
    if (code >= vk::F1 && code < vk::F1 + 24) return "F" + std::to_string(code - vk::F1 + 1);
    if (code >= vk::Numpad0 && code <= vk::Numpad0 + 9) return "Num " + std::to_string(code - vk::Numpad0);
    switch (code) {
    case vk::Back: return "Backspace";
    case vk::Tab: return "Tab";
    case vk::Return: return "Enter";
    case vk::Pause: return "Pause";
    case vk::Capital: return "Caps Lock";
    case vk::Escape: return "Esc";
    case vk::Space: return "Space";
    case vk::Prior: return "PgUp";
    case vk::Next: return "PgDn";
    case vk::End: return "End";
    case vk::Home: return "Home";
    case vk::Left: return "Left";
    case vk::Up: return "Up";
    case vk::Right: return "Right";
    case vk::Down: return "Down";
    case vk::Snapshot: return "Print";
    case vk::Insert: return "Insert";
    case vk::Delete: return "Delete";
    case vk::LWin: return "Left Win";
    case vk::RWin: return "Right Win";
    case vk::Apps: return "Menu";
    case vk::Multiply: return "Num *";
    case vk::Add: return "Num +";
    case vk::Subtract: return "Num -";
    case vk::Decimal: return "Num .";
    case vk::Divide: return "Num /";
    case vk::NumLock: return "Num Lock";
    case vk::Scroll: return "Scroll Lock";
    case vk::Oem1: return ";";
    case vk::OemPlus: return "=";
    case vk::OemComma: return ",";
    case vk::OemMinus: return "-";
    case vk::OemPeriod: return ".";
    case vk::Oem2: return "/";
    case vk::Oem3: return "`";
    case vk::Oem4: return "[";
    case vk::Oem5: return "\\";
    case vk::Oem6: return "]";
    case vk::Oem7: return "'";
    default: return "key " + std::to_string(code);
    }
}

struct Known {
    const char* description;
    bool repeats;
};

const std::map<std::string, Known>& knownCommands() {
    static const std::map<std::string, Known> known = {
        {"noteOff", {"enter a key-off", false}},
        {"genOpenMod", {"open a module", false}},
        {"genSaveMod", {"save the module", false}},
        {"genPlayAll", {"play the song from the start", false}},
        {"genPlayCur", {"play the song from the current order position", false}},
        {"genPlayPtn", {"play the current pattern in a loop", false}},
        {"genStop", {"stop playing", false}},
        {"genReset", {"stop and silence all sounds", false}},
        {"genMuteAll", {"mute or unmute all channels (the * button)", false}},
        {"genSoloMode", {"solo the cursor's channel (its S button)", false}},
        {"genToPtnEdit", {"show the Patterns page", false}},
        {"genToInsEdit", {"show the Instruments page", false}},
        {"genToInfo", {"show the Information page", false}},
        {"genToSettings", {"show the Editor page", false}},
        {"genShowHelp", {"open this manual", false}},
        {"ptnSelectAll", {"select the whole pattern", false}},
        {"ptnSelectChn", {"select the cursor's channel", false}},
        {"ptnUnselect", {"clear the selection", false}},
        {"ptnCut", {"cut the selection", false}},
        {"ptnCopy", {"copy the selection", false}},
        {"ptnPaste", {"paste, moving the rows below down", false}},
        {"ptnPasteOver", {"paste over the rows", false}},
        {"ptnDelete", {"delete the selection", false}},
        {"ptnToOrder", {"move to the order list", false}},
        {"ptnTransSemiUp", {"transpose the selection a semitone up", false}},
        {"ptnTransSemiDown", {"transpose the selection a semitone down", false}},
        {"ptnTransOctUp", {"transpose the selection an octave up", false}},
        {"ptnTransOctDown", {"transpose the selection an octave down", false}},
        {"ptnAssignInstr", {"give the selection the automatic instrument", false}},
        {"ptnAutoStepInc", {"auto step + 1 (at most 256)", true}},
        {"ptnAutoStepDec", {"auto step - 1 (at least 0)", true}},
        {"ptnCurUp", {"cursor up", true}},
        {"ptnCurDown", {"cursor down", true}},
        {"ptnCurLeft", {"cursor left", true}},
        {"ptnCurRight", {"cursor right", true}},
        {"ptnPageUp", {"cursor up by the page step", true}},
        {"ptnPageDown", {"cursor down by the page step", true}},
        {"ptnHome", {"first row", false}},
        {"ptnEnd", {"last row", false}},
        {"ptnOrdPrev", {"previous order position", false}},
        {"ptnOrdNext", {"next order position", false}},
        {"ptnNextChan", {"same field of the next channel", true}},
        {"ptnPrevChan", {"same field of the previous channel", true}},
        {"ptnDelNote", {"delete the cell, pulling the cells below up", true}},
        {"ptnDelLine", {"delete the row, pulling the rows below up", true}},
        {"ptnInsNote", {"insert an empty cell", true}},
        {"ptnInsLine", {"insert an empty row", true}},
        {"ptnPlay", {"play from the cursor row while held", false}},
        {"ptnPlayLoop", {"loop the pattern from the cursor row while held", false}},
        {"ptnClrField", {"clear the field under the cursor", true}},
        {"ptnClrNote", {"clear the whole cell", true}},
        {"ptnClrLine", {"clear the whole row", true}},
        {"ptnSelectKey", {"hold to select while moving the cursor", false}},
        {"ptnPatternNext", {"pattern number + 1", true}},
        {"ptnPatternPrev", {"pattern number - 1", true}},
        {"ptnInstrNext", {"automatic instrument + 1", true}},
        {"ptnInstrPrev", {"automatic instrument - 1", true}},
        {"ptnInpRepeat", {"repeat the last entered value into the field", true}},
        {"ptnPlayNote", {"play the cell under the cursor", false}},
        {"ptnPlayLine", {"play the row under the cursor", false}},
        {"ptnEditSong", {"EditSong mode on or off", false}},
        {"ordInsertSame", {"insert an entry with the same pattern", false}},
        {"ordInsertCopy", {"insert an entry with a copy of the pattern", false}},
        {"ordInsertNew", {"insert an entry with a new empty pattern", false}},
        {"ordDelete", {"delete the entry", false}},
        {"ordLoopPosition", {"make the entry the loop position", false}},
        {"ordToPattern", {"move to the pattern view", false}},
        {"ordPatternInc", {"the entry's pattern number + 1", true}},
        {"ordPatternDec", {"the entry's pattern number - 1", true}},
        {"ordMovePrev", {"move the entry back", false}},
        {"ordMoveNext", {"move the entry forward", false}},
    };
    return known;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Key text inside a Markdown code span ("`" needs a longer fence).
std::string codeSpan(const std::string& text) {
    if (text.find('`') != std::string::npos) return "`` " + text + " ``";
    return "`" + text + "`";
}

std::string keysCell(const KeyboardLayout& layout, int command) {
    const KeyboardLayout::Binding* b = layout.binding(command);
    std::string out;
    if (b)
        for (int32_t combo : b->alternatives) {
            if (!combo) continue;
            if (!out.empty()) out += ", ";
            out += codeSpan(keyComboText(combo));
        }
    return out.empty() ? "-" : out;
}

}  // namespace

std::string keyComboText(int32_t combo) {
    if (combo == 0) return {};
    std::string out;
    auto add = [&](const std::string& part) { out += out.empty() ? part : "+" + part; };
    if (combo & kModCtrl) add("Ctrl");
    if (combo & kModAlt) add("Alt");
    if (combo & kModShift) add("Shift");
    if (const int code = combo & 0xFF) add(singleKeyText(code));
    return out;
}

std::string commandKeysText(const KeyboardLayout& layout, int command) {
    const KeyboardLayout::Binding* b = layout.binding(command);
    std::string out;
    if (!b) return out;
    for (int32_t combo : b->alternatives) {
        if (!combo) continue;
        if (!out.empty()) out += ", ";
        out += keyComboText(combo);
    }
    return out;
}

bool layoutUsesKey(const KeyboardLayout& layout, int32_t combo) {
    for (const KeyboardLayout::Binding& b : layout.bindings())
        for (int32_t alternative : b.alternatives)
            if (alternative == combo) return true;
    return false;
}

std::string helpKeysText(const KeyboardLayout& layout) {
    const std::string own = commandKeysText(layout, cmd::GenShowHelp);
    if (layoutUsesKey(layout, vk::f(1))) return own;
    return own.empty() ? "F1" : "F1, " + own;
}

CommandHelp commandHelp(const std::string& name) {
    CommandHelp help;
    if (startsWith(name, "note") || startsWith(name, "octave")) help.group = "Notes";
    else if (startsWith(name, "gen")) help.group = "General";
    else if (startsWith(name, "ptn")) help.group = "Pattern editor";
    else if (startsWith(name, "ord")) help.group = "Order list";
    else help.group = "Other";
    const auto& known = knownCommands();
    if (auto it = known.find(name); it != known.end()) {
        help.description = it->second.description;
        help.repeats = it->second.repeats;
    } else if (startsWith(name, "octave")) {
        help.description = "base octave " + name.substr(6) + " for the note keys";
    } else if (startsWith(name, "genMute") && name.size() == 8) {
        help.description = std::string("mute or unmute channel ") + name[7] + " (its M button)";
    } else if (startsWith(name, "ptnAutoStep") && name.size() == 12) {
        help.description = "auto step " + name.substr(11);
    } else {
        // A command this table does not know yet: its name in words
        // ("genUndo" -> "undo").
        size_t at = 0;
        while (at < name.size() && name[at] >= 'a' && name[at] <= 'z') ++at;
        if (at == name.size()) at = 0;
        for (; at < name.size(); ++at) {
            const char c = name[at];
            if (c >= 'A' && c <= 'Z') {
                if (!help.description.empty()) help.description += ' ';
                help.description += static_cast<char>(c - 'A' + 'a');
            } else {
                help.description += c;
            }
        }
    }
    return help;
}

std::string commandTablesMarkdown(const KeyboardLayout& layout) {
    static constexpr const char* kNotes[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    std::string md = "Keyboard layout in use: **" + (layout.name().empty() ? std::string("(no name)") : layout.name()) +
                     "**\n\n## Note keys\n\nThe note keys play and enter notes from the base octave (set on the "
                     "Patterns page or with the octave keys) upwards. They repeat while held when auto-repeat is "
                     "on.\n\n| Note | Base octave | One octave up | Two octaves up |\n|---|---|---|---|\n";
    for (int n = 0; n < 12; ++n) {
        md += std::string("| ") + kNotes[n];
        for (int octave = 0; octave < 3; ++octave) md += " | " + keysCell(layout, cmd::noteKey(octave, n));
        md += " |\n";
    }
    md += "\n| Command | Keys | What it does |\n|---|---|---|\n";
    for (int c = cmd::Octave1; c <= cmd::NoteOff; ++c) {
        const std::string& name = KeyboardLayout::commandName(c);
        md += "| " + name + " | " + keysCell(layout, c) + " | " + commandHelp(name).description + " |\n";
    }
    const std::vector<std::pair<std::string, std::string>> groups = {
        {"General", "These work everywhere in the main window."},
        {"Pattern editor", "These work while the pattern view has the focus."},
        {"Order list", "These work while the order list has the focus."},
        {"Other", ""},
    };
    for (const auto& [group, intro] : groups) {
        std::string rows;
        for (int c = cmd::NoteOff + 1; !KeyboardLayout::commandName(c).empty(); ++c) {
            const std::string& name = KeyboardLayout::commandName(c);
            const CommandHelp help = commandHelp(name);
            if (help.group != group) continue;
            rows += "| " + name + " | " + keysCell(layout, c) + " | " + help.description +
                    (help.repeats ? " (repeats)" : "") + " |\n";
        }
        if (rows.empty()) continue;
        md += "\n## " + group + "\n\n" + (intro.empty() ? "" : intro + "\n\n") +
              "| Command | Keys | What it does |\n|---|---|---|\n" + rows;
    }
    return md;
}

}  // namespace qv
