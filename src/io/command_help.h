// What the editor commands do, for the manual: a readable text for every key
// combination and a description of every command, and the manual's key
// tables for a given layout. The tables list the commands of the layout
// engine's own command table, so commands added there appear by themselves.
#pragma once

#include <cstdint>
#include <string>

#include "io/keyboard_layout.h"

namespace qv {

// "Ctrl+Shift+F1", "Num 5", "[" ...; "" for 0. Punctuation keys show the
// character of the key at that place on a US keyboard.
std::string keyComboText(int32_t combo);
// Up to three alternatives joined by ", "; "" when the command has no keys.
std::string commandKeysText(const KeyboardLayout& layout, int command);

// Whether any command of the layout has exactly this key combination.
bool layoutUsesKey(const KeyboardLayout& layout, int32_t combo);

// The keys that open the manual: F1 while no command uses it, then the keys
// of genShowHelp ("F1, Shift+F1").
std::string helpKeysText(const KeyboardLayout& layout);

struct CommandHelp {
    std::string group;        // "General", "Pattern editor", "Order list", "Notes", "Other"
    std::string description;  // "" when the command is not known here
    bool repeats = false;     // acts again while the key is held
};
CommandHelp commandHelp(const std::string& name);

// Markdown: the note keys as a table of notes by octave, then one table per
// group of commands with their keys in `layout` and what they do.
std::string commandTablesMarkdown(const KeyboardLayout& layout);

}  // namespace qv
