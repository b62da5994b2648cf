#include "io/keyboard_layout.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace qv;

namespace {

constexpr int32_t C = kModCtrl;
constexpr int32_t S = kModShift;

std::vector<int32_t> combos(const KeyboardLayout& layout, int command) {
    std::vector<int32_t> out;
    if (const auto* b = layout.binding(command))
        for (int32_t a : b->alternatives)
            if (a) out.push_back(a);
    return out;
}

KeyboardLayout fromText(const std::string& text) {
    KeyboardLayout layout;
    EXPECT_TRUE(layout.loadFromText(text));
    return layout;
}

std::filesystem::path tempFile(const std::string& name, const std::string& contents) {
    const auto dir = std::filesystem::temp_directory_path() / ("qv_kbd_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

}  // namespace

TEST(KeyboardLayoutText, ReductionDropsCommentsControlAndHighBytesAndSpaceRuns) {
    const std::string in = "genStop = esc ; stop it\r\n\t  ptnCut\x01=ctrl+\xC3\xA9x;\n;only comment\n a   b";
    EXPECT_EQ(KeyboardLayout::reduce(in), "genStop = esc \n ptnCut=ctrl+x\n\n a b");
    EXPECT_EQ(KeyboardLayout::reduce(""), "");
    // A space run interrupted by dropped bytes is still one space.
    EXPECT_EQ(KeyboardLayout::reduce("a \t \x7F\x80 b"), "a \x7F b");
}

TEST(KeyboardLayoutText, KeyNameVocabulary) {
    EXPECT_EQ(KeyboardLayout::keyNameCount(), 137);
    const std::map<std::string, int32_t> samples = {
        {"esc", 27},       {"ESCAPE", 27},     {"f1", 112},       {"F24", 135},     {"prnscr", 44},
        {"PrintScreen", 44}, {"snapshot", 44}, {"scrolllock", 145}, {"break", 19},  {"~", 192},
        {"tilda", 192},    {"oem3", 192},      {"0", 48},         {"9", 57},        {"minus", 189},
        {"plus", 187},     {"\\", 220},        {"oem5", 220},     {"backspace", 8}, {"tab", 9},
        {"a", 65},         {"Z", 90},          {"{", 219},        {"}", 221},       {"enter", 13},
        {"capslock", 20},  {":", 186},         {";", 186},        {"\"", 222},      {"quote", 222},
        {"shift", S},      {"<", 188},         {">", 190},        {"?", 191},       {"/", 191},
        {"control", C},    {"menu", kModAlt},  {"alt", kModAlt},  {"lwin", 91},     {"rwin", 92},
        {"apps", 93},      {"space", 32},      {"ins", 45},       {"pgup", 33},     {"del", 46},
        {"pgdown", 34},    {"left", 37},       {"down", 40},      {"numlock", 144}, {"numdiv", 111},
        {"nummul", 106},   {"numsub", 109},    {"numadd", 107},   {"num0", 96},     {"num9", 105},
        {"decimal", 110},  {"numdec", 110},
    };
    for (const auto& [name, value] : samples) EXPECT_EQ(KeyboardLayout::keyNameValue(name), value) << name;
    EXPECT_EQ(KeyboardLayout::keyNameValue("f25"), 0);
    EXPECT_EQ(KeyboardLayout::keyNameValue("+"), 0);
    EXPECT_EQ(KeyboardLayout::keyNameValue(""), 0);
}

TEST(KeyboardLayoutText, KeySeparatorsAndOrder) {
    using Keys = std::array<int32_t, 3>;
    EXPECT_EQ(KeyboardLayout::parseKeys("ctrl+O"), (Keys{C | 79, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("o+ctrl"), (Keys{C | 79, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("ctrl o"), (Keys{C | 79, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys(" CTRL + o "), (Keys{C | 79, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("a,b,c,d"), (Keys{65, 66, 67}));  // fourth ignored
    EXPECT_EQ(KeyboardLayout::parseKeys(",b"), (Keys{0, 66, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("f10"), (Keys{121, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("f1"), (Keys{112, 0, 0}));
    // Words that are no key names are skipped; names glued to other text don't count.
    EXPECT_EQ(KeyboardLayout::parseKeys("press ctrl and x"), (Keys{C | 88, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("xctrl+ax"), (Keys{0, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("shift+ctrl+alt"), (Keys{S | C | kModAlt, 0, 0}));
    EXPECT_EQ(KeyboardLayout::parseKeys("\\,\",~"), (Keys{220, 222, 192}));
    EXPECT_EQ(KeyboardLayout::parseKeys(""), (Keys{0, 0, 0}));
}

TEST(KeyboardLayoutLoad, NameLookupIgnoresCaseAndSpacesAndLineStart) {
    auto layout = fromText("GENSTOP = ESC\nsetOctave3=num3\nptnCut=ctrl+x\nptnCut=ctrl+y\n");
    EXPECT_EQ(combos(layout, cmd::GenStop), std::vector<int32_t>{27});
    EXPECT_EQ(combos(layout, cmd::octave(3)), std::vector<int32_t>{99});
    EXPECT_EQ(combos(layout, cmd::PtnCut), std::vector<int32_t>{C | 88});  // first occurrence wins
    // "genMuteA" is not found inside "genMuteAll=".
    auto mute = fromText("genMuteAll=ctrl+num0");
    EXPECT_EQ(mute.bindingIndex(cmd::mute(0)), -1);
    EXPECT_EQ(combos(mute, cmd::GenMuteAll), std::vector<int32_t>{C | 96});
}

TEST(KeyboardLayoutLoad, LayoutNameAndEmptyLayouts) {
    auto named = fromText("; mine\nlayoutName=My Keys ; trailing comment\r\ngenStop=esc");
    EXPECT_EQ(named.name(), "My Keys ");
    EXPECT_EQ(named.bindings().size(), 1u);

    auto comments = fromText("; nothing\n;but comments\n");
    EXPECT_EQ(comments.name(), "");
    EXPECT_TRUE(comments.bindings().empty());
    for (int c = 0; c < cmd::Count; ++c) EXPECT_EQ(comments.bindingIndex(c), -1);

    auto longName = fromText("layoutName=" + std::string(2000, 'n'));
    EXPECT_EQ(longName.name().size(), KeyboardLayout::kMaxNameLength);
}

TEST(KeyboardLayoutLoad, EmptyBindingNeverFires) {
    auto layout = fromText("noteA-2=\nnoteA#2=nothing here\ngenStop=esc");
    EXPECT_EQ(layout.bindingIndex(cmd::noteKey(2, 9)), -1);
    EXPECT_EQ(layout.bindingIndex(cmd::noteKey(2, 10)), -1);
    for (int code = 1; code < 256; ++code) {
        layout.keyDown(code);
        EXPECT_EQ(layout.state(cmd::noteKey(2, 9)), 0);
    }
}

TEST(KeyboardLayoutLoad, BindingLimitLeavesLaterCommandsWithoutKeys) {
    std::vector<std::string> names;
    std::string text;
    for (int i = 0; i < 300; ++i) {
        names.push_back("c" + std::to_string(i) + "x");
        text += names.back() + "=a\n";
    }
    KeyboardLayout layout;
    layout.loadFromText(text, names);
    EXPECT_EQ(layout.bindings().size(), 256u);
    EXPECT_EQ(layout.bindingIndex(255), 255);
    EXPECT_EQ(layout.bindingIndex(256), -1);
    EXPECT_EQ(layout.bindingIndex(299), -1);
    layout.keyDown(65);
    EXPECT_EQ(layout.state(255), 1);
    EXPECT_EQ(layout.state(256), 0);
}

TEST(KeyboardLayoutLoad, FromFile) {
    KeyboardLayout layout;
    EXPECT_FALSE(layout.loadFromFile("/nonexistent/folder/none.kbd"));
    EXPECT_EQ(layout.name(), "Default Layout");  // a failed load keeps the old layout

    const auto path = tempFile("crlf.kbd", "layoutName=File\r\ngenStop=f10\r\nnoteC-0=z\r\n");
    ASSERT_TRUE(layout.loadFromFile(path.string()));
    EXPECT_EQ(layout.name(), "File");
    EXPECT_EQ(combos(layout, cmd::GenStop), std::vector<int32_t>{121});

    const auto big = tempFile("big.kbd", std::string(KeyboardLayout::kMaxFileSize + 1, ' '));
    EXPECT_FALSE(layout.loadFromFile(big.string()));
    EXPECT_FALSE(layout.loadFromFile(path.parent_path().string()));  // a folder
    EXPECT_EQ(layout.name(), "File");
}

TEST(KeyboardLayoutLoad, FilesThatBindNoNoteKeyAreRefusedWithAReport) {
    KeyboardLayout layout;
    // A typo in the only binding, random bytes: refused, the layout in use stays.
    LayoutReport report;
    const auto typo = tempFile("typo.kbd", "genStop=escc\n");
    EXPECT_FALSE(layout.loadFromFile(typo.string(), &report));
    EXPECT_TRUE(report.noNoteKey);
    EXPECT_EQ(report.problems, std::vector<std::string>{"line 1: unknown key 'escc'"});
    std::string noise;
    for (int i = 0; i < 4000; ++i) noise.push_back(static_cast<char>((i * 7919 + 13) % 251));
    EXPECT_FALSE(layout.loadFromFile(tempFile("noise.kbd", noise).string(), &report));
    EXPECT_TRUE(report.noNoteKey);
    EXPECT_EQ(layout.name(), "Default Layout");
    EXPECT_EQ(combos(layout, cmd::GenStop), std::vector<int32_t>{27});

    // Unknown names are listed with their lines, the first five of them; a
    // name that ends in a command name ("setOctave1") and "none" are fine.
    std::string text = "; comment line\nnoteC-0=z\nsetOctave1=num1\nnoteA-2=none\ngenStp=esc\n"
                       "genPlayAll=ctrl+f55,f5\n";
    for (int i = 0; i < 5; ++i) text += "bogus" + std::to_string(i) + "=x\n";
    const auto file = tempFile("typos.kbd", text);
    ASSERT_TRUE(layout.loadFromFile(file.string(), &report));
    EXPECT_FALSE(report.noNoteKey);
    EXPECT_EQ(report.problemCount, 7);
    ASSERT_EQ(report.problems.size(), 5u);
    EXPECT_EQ(report.problems[0], "line 5: unknown command 'genStp'");
    EXPECT_EQ(report.problems[1], "line 6: unknown key 'f55'");
    EXPECT_EQ(report.problems[4], "line 9: unknown command 'bogus2'");
    EXPECT_EQ(report.text().substr(report.text().size() - 15), "... and 2 more\n");
    // Without a layoutName line the layout is named after its file.
    EXPECT_EQ(layout.name(), "typos.kbd");
    EXPECT_EQ(combos(layout, cmd::GenPlayAll), (std::vector<int32_t>{C, 116}));

    // Chosen while the program runs, a refused file keeps layout and setting.
    auto kept = changeLayout(layout, typo.string(), "/elsewhere", file.string());
    EXPECT_EQ(kept.failedPath, typo.string());
    EXPECT_EQ(kept.setting, file.string());
    EXPECT_FALSE(kept.isDefault);
    EXPECT_TRUE(kept.report.noNoteKey);
    EXPECT_EQ(layout.name(), "typos.kbd");
}

TEST(KeyboardLayoutEngine, StatesRiseAndFall) {
    KeyboardLayout layout;
    layout.keyDown(vk::letter('Z'));
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 1);
    EXPECT_TRUE(layout.firesOnce(cmd::noteKey(0, 0)));
    layout.keyDown(vk::letter('Z'));  // auto-repeat
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 2);
    EXPECT_EQ(layout.keyState(vk::letter('Z')), 2);
    EXPECT_TRUE(layout.firesRepeated(cmd::noteKey(0, 0)));
    layout.keyDown(vk::letter('Z'));
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 2);
    layout.keyUp(vk::letter('Z'));
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 0);
    EXPECT_EQ(layout.keyState(vk::letter('Z')), 0);

    // Any key message re-evaluates: a held key's command goes from 1 to 2.
    layout.keyDown(vk::letter('Z'));
    layout.keyDown(vk::letter('X'));
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 2);
    EXPECT_EQ(layout.state(cmd::noteKey(0, 2)), 1);

    layout.clearKeyState();
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 0);
    EXPECT_EQ(layout.keyState(vk::letter('Z')), 0);

    // Codes outside 1-255 are ignored.
    layout.keyDown(0);
    layout.keyDown(256);
    layout.keyDown(-5);
    layout.keyUp(1000);
    EXPECT_EQ(layout.state(cmd::noteKey(0, 0)), 0);
    EXPECT_EQ(layout.state(-1), 0);
    EXPECT_EQ(layout.state(cmd::Count), 0);
}

TEST(KeyboardLayoutEngine, ModifiersMustMatchExactly) {
    auto layout = fromText("ptnCut=ctrl+X\nptnNextChan=tab\ngenStop=esc\ngenReset=shift+esc");
    layout.keyDown(vk::Control);
    layout.keyDown(vk::Shift);
    layout.keyDown(vk::letter('X'));
    EXPECT_EQ(layout.state(cmd::PtnCut), 0);
    layout.keyUp(vk::Shift);
    EXPECT_EQ(layout.state(cmd::PtnCut), 1);
    layout.keyDown(vk::Tab);
    EXPECT_EQ(layout.state(cmd::PtnNextChan), 0);
    layout.keyUp(vk::Tab);
    layout.keyUp(vk::Control);
    layout.keyDown(vk::Tab);
    EXPECT_EQ(layout.state(cmd::PtnNextChan), 1);

    layout.clearKeyState();
    layout.keyDown(vk::Shift);
    layout.keyDown(vk::Escape);
    EXPECT_EQ(layout.state(cmd::GenStop), 0);
    EXPECT_EQ(layout.state(cmd::GenReset), 1);
}

TEST(KeyboardLayoutEngine, SelectKeyConsumesShiftForCursorCommands) {
    KeyboardLayout layout;  // Default layout
    layout.keyDown(vk::Shift);
    EXPECT_EQ(layout.state(cmd::PtnSelectKey), 1);
    layout.keyDown(vk::Down);
    EXPECT_EQ(layout.state(cmd::PtnCurDown), 1);
    EXPECT_EQ(layout.state(cmd::PtnSelectKey), 2);
    EXPECT_EQ(layout.state(cmd::OrdPatternDec), 0);  // pass 1 sees the real Shift
    layout.keyUp(vk::Down);

    // Shift+Insert reaches ordInsertCopy, not the Shift-less insert commands.
    layout.keyDown(vk::Insert);
    EXPECT_EQ(layout.state(cmd::OrdInsertCopy), 1);
    EXPECT_EQ(layout.state(cmd::OrdInsertSame), 0);
    EXPECT_EQ(layout.state(cmd::PtnInsNote), 0);
    layout.keyUp(vk::Insert);

    // Ctrl+Shift+Down: the cursor command sees Ctrl and so does not fire.
    layout.keyDown(vk::Control);
    layout.keyDown(vk::Down);
    EXPECT_EQ(layout.state(cmd::PtnCurDown), 0);
    EXPECT_EQ(layout.state(cmd::PtnSelectKey), 0);

    // Without ptnSelectKey, Shift+Down does not move the cursor.
    auto plain = fromText("ptnCurDown=down");
    plain.keyDown(vk::Shift);
    plain.keyDown(vk::Down);
    EXPECT_EQ(plain.state(cmd::PtnCurDown), 0);
}

TEST(KeyboardLayoutEngine, SpacesAroundEqualsAndFunctionKeys) {
    auto layout = fromText("genStop = esc\ngenPlayAll=f10\n");
    layout.keyDown(vk::Escape);
    EXPECT_EQ(layout.state(cmd::GenStop), 1);
    layout.keyDown(vk::f(1));
    EXPECT_EQ(layout.state(cmd::GenPlayAll), 0);
    layout.keyDown(vk::f(10));
    EXPECT_EQ(layout.state(cmd::GenPlayAll), 1);
}

TEST(KeyboardLayoutDefault, BindsEveryCommandOfTheTable) {
    KeyboardLayout layout;
    EXPECT_EQ(layout.name(), "Default Layout");
    EXPECT_EQ(cmd::Count, 134);
    std::map<std::string, std::vector<int32_t>> expected;
    const char* lowOctave = "ZSXDCVGBHNJM";
    const char* names[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};
    for (int n = 0; n < 12; ++n) expected[std::string("note") + names[n] + "0"] = {vk::letter(lowOctave[n])};
    const std::vector<std::vector<int32_t>> octave1 = {
        {vk::letter('Q'), vk::OemComma}, {vk::digit(2), vk::letter('L')}, {vk::letter('W'), vk::OemPeriod},
        {vk::digit(3), vk::Oem1},        {vk::letter('E'), vk::Oem2},     {vk::letter('R')},
        {vk::digit(5)},                  {vk::letter('T')},               {vk::digit(6)},
        {vk::letter('Y')},               {vk::digit(7)},                  {vk::letter('U')}};
    const std::vector<std::vector<int32_t>> octave2 = {
        {vk::letter('I')}, {vk::digit(9)}, {vk::letter('O')}, {vk::digit(0)}, {vk::letter('P')}, {vk::Oem4},
        {vk::OemPlus},     {vk::Oem6},     {vk::Oem5},        {},             {},               {}};
    for (int n = 0; n < 12; ++n) {
        expected[std::string("note") + names[n] + "1"] = octave1[n];
        expected[std::string("note") + names[n] + "2"] = octave2[n];
    }
    for (int n = 1; n <= 8; ++n) expected["octave" + std::to_string(n)] = {vk::numpad(n)};
    for (int ch = 0; ch < 6; ++ch) expected[std::string("genMute") + char('A' + ch)] = {C | vk::numpad(ch + 1)};
    for (int d = 0; d <= 9; ++d) expected["ptnAutoStep" + std::to_string(d)] = {C | vk::digit(d)};
    const std::map<std::string, std::vector<int32_t>> rest = {
        {"noteOff", {vk::letter('A')}},
        {"genOpenMod", {C | vk::letter('O')}},
        {"genSaveMod", {C | vk::letter('S')}},
        {"genPlayAll", {vk::f(5)}},
        {"genPlayCur", {vk::f(6)}},
        {"genPlayPtn", {vk::f(8)}},
        {"genStop", {vk::Escape}},
        {"genReset", {S | vk::Escape}},
        {"genMuteAll", {C | vk::numpad(0)}},
        {"genSoloMode", {C | vk::Decimal}},
        {"genToPtnEdit", {vk::f(1)}},
        {"genToInsEdit", {vk::f(2)}},
        {"genToInfo", {vk::f(3)}},
        {"genToSettings", {vk::f(4)}},
        {"ptnSelectAll", {C | vk::letter('A')}},
        {"ptnSelectChn", {C | vk::letter('L')}},
        {"ptnUnselect", {C | vk::letter('U')}},
        {"ptnCut", {C | vk::letter('X')}},
        {"ptnCopy", {C | vk::letter('C')}},
        {"ptnPaste", {C | vk::letter('V')}},
        {"ptnPasteOver", {C | vk::letter('B')}},
        {"ptnDelete", {C | vk::letter('D')}},
        {"ptnToOrder", {C | vk::Up}},
        {"ptnTransSemiUp", {C | vk::letter('R')}},
        {"ptnTransSemiDown", {C | vk::letter('F')}},
        {"ptnTransOctUp", {C | vk::letter('T')}},
        {"ptnTransOctDown", {C | vk::letter('G')}},
        {"ptnAssignInstr", {C | vk::letter('I')}},
        {"ptnAutoStepInc", {vk::Oem3}},
        {"ptnAutoStepDec", {C | vk::Oem3}},
        {"ptnCurUp", {vk::Up}},
        {"ptnCurDown", {vk::Down}},
        {"ptnCurLeft", {vk::Left}},
        {"ptnCurRight", {vk::Right}},
        {"ptnPageUp", {vk::Prior}},
        {"ptnPageDown", {vk::Next}},
        {"ptnHome", {vk::Home}},
        {"ptnEnd", {vk::End}},
        {"ptnOrdPrev", {C | vk::Prior}},
        {"ptnOrdNext", {C | vk::Next}},
        {"ptnNextChan", {vk::Tab}},
        {"ptnPrevChan", {C | vk::Tab}},
        {"ptnDelNote", {vk::Back}},
        {"ptnDelLine", {C | vk::Back}},
        {"ptnInsNote", {vk::Insert}},
        {"ptnInsLine", {C | vk::Insert}},
        {"ptnPlay", {vk::Return}},
        {"ptnPlayLoop", {C | vk::Return}},
        {"ptnClrField", {vk::Delete}},
        {"ptnClrNote", {C | vk::Space}},
        {"ptnClrLine", {C | vk::Delete}},
        {"ptnSelectKey", {S}},
        {"ptnPatternNext", {vk::Add}},
        {"ptnPatternPrev", {vk::Subtract}},
        {"ptnInstrNext", {vk::Multiply}},
        {"ptnInstrPrev", {vk::Divide}},
        {"ptnInpRepeat", {vk::Space}},
        {"ptnPlayNote", {vk::digit(4)}},
        {"ptnPlayLine", {vk::digit(8)}},
        {"ptnEditSong", {C | vk::letter('M')}},
        {"ordInsertSame", {vk::Insert}},
        {"ordInsertCopy", {S | vk::Insert}},
        {"ordInsertNew", {C | vk::Insert}},
        {"ordDelete", {vk::Delete}},
        {"ordLoopPosition", {vk::letter('L')}},
        {"ordToPattern", {C | vk::Up, C | vk::Down, vk::Return}},
        {"ordPatternInc", {vk::Up}},
        {"ordPatternDec", {vk::Down}},
        {"ordMovePrev", {C | vk::Left}},
        {"ordMoveNext", {C | vk::Right}},
        {"genUndo", {C | vk::letter('Z')}},
        {"genRedo", {C | vk::letter('Y'), C | S | vk::letter('Z')}},
        {"genShowHelp", {S | vk::f(1)}},
        {"genFollowSong", {vk::Scroll}},
    };
    expected.insert(rest.begin(), rest.end());
    ASSERT_EQ(expected.size(), static_cast<size_t>(cmd::Count));
    for (int c = 0; c < cmd::Count; ++c) {
        const std::string& name = KeyboardLayout::commandName(c);
        ASSERT_TRUE(expected.count(name)) << name;
        EXPECT_EQ(combos(layout, c), expected[name]) << name;
    }
    // The flags.
    for (int c = 0; c < cmd::Count; ++c) {
        const auto* b = layout.binding(c);
        if (!b) continue;
        EXPECT_EQ(b->consumesModifiers, c == cmd::PtnSelectKey) << KeyboardLayout::commandName(c);
        const bool last = (c >= cmd::PtnCurUp && c <= cmd::PtnEnd) || c == cmd::PtnNextChan || c == cmd::PtnPrevChan;
        EXPECT_EQ(b->evaluatedLast, last) << KeyboardLayout::commandName(c);
    }
}

TEST(KeyboardLayoutDefault, CommandNamesAndHelpers) {
    EXPECT_EQ(KeyboardLayout::commandName(cmd::noteKey(1, 1)), "noteC#1");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::octave(8)), "octave8");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::mute(5)), "genMuteF");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::autoStep(9)), "ptnAutoStep9");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::NoteOff), "noteOff");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::GenMuteAll), "genMuteAll");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::PtnCurUp), "ptnCurUp");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::OrdMoveNext), "ordMoveNext");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::GenFollowSong), "genFollowSong");
    EXPECT_EQ(KeyboardLayout::commandName(cmd::Count), "");
    EXPECT_EQ(KeyboardLayout::commandIndex("ptnSelectKey"), cmd::PtnSelectKey);
    EXPECT_EQ(KeyboardLayout::commandIndex("bogus"), -1);
}

TEST(KeyboardLayoutFiles, ShippedLayoutsLoad) {
    const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "layouts";
    KeyboardLayout builtIn;
    KeyboardLayout shipped;
    LayoutReport report;
    ASSERT_TRUE(shipped.loadFromFile((dir / "default.kbd").string(), &report));
    EXPECT_TRUE(report.empty()) << report.text();
    EXPECT_TRUE(KeyboardLayout::check(KeyboardLayout::defaultLayoutText()).empty());
    EXPECT_EQ(shipped.name(), "Default Layout");
    for (int c = 0; c < cmd::Count; ++c)
        EXPECT_EQ(combos(shipped, c), combos(builtIn, c)) << KeyboardLayout::commandName(c);

    KeyboardLayout qwertz;
    ASSERT_TRUE(qwertz.loadFromFile((dir / "qwertz.kbd").string(), &report));
    EXPECT_TRUE(report.empty()) << report.text();
    EXPECT_FALSE(qwertz.name().empty());
    // The piano rows keep their physical places: the key labelled Y sits where
    // Z is on a US keyboard, and Z where Y is.
    EXPECT_EQ(combos(qwertz, cmd::noteKey(0, 0)), std::vector<int32_t>{vk::letter('Y')});
    EXPECT_EQ(combos(qwertz, cmd::noteKey(1, 9)), std::vector<int32_t>{vk::letter('Z')});
    int bound = 0;
    for (int c = 0; c < cmd::Count; ++c) bound += qwertz.binding(c) != nullptr;
    EXPECT_EQ(bound, static_cast<int>(builtIn.bindings().size()));
}

// Every shipped layout gives each note of the two lower octaves a key, and no
// key combination plays two notes (or a note and the key-off).
TEST(KeyboardLayoutFiles, EveryLayoutBindsTwoOctavesOnce) {
    const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "layouts";
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".kbd") files.push_back(entry.path().filename().string());
    for (const char* needed : {"default.kbd", "qwertz.kbd", "azerty.kbd", "dvorak.kbd"})
        EXPECT_NE(std::find(files.begin(), files.end(), needed), files.end()) << needed;
    for (const std::string& file : files) {
        KeyboardLayout layout;
        ASSERT_TRUE(layout.loadFromFile((dir / file).string())) << file;
        EXPECT_FALSE(layout.name().empty()) << file;
        std::map<int32_t, std::string> owner;
        for (int c = cmd::NoteFirst; c <= cmd::NoteOff; ++c) {
            if (c >= cmd::Octave1 && c < cmd::NoteOff) continue;
            const std::vector<int32_t> keys = combos(layout, c);
            if (c < cmd::noteKey(2, 0)) {
                EXPECT_FALSE(keys.empty()) << file << " " << KeyboardLayout::commandName(c);
            }
            for (int32_t key : keys) {
                auto [it, fresh] = owner.emplace(key, KeyboardLayout::commandName(c));
                EXPECT_TRUE(fresh) << file << ": key " << key << " plays " << it->second << " and "
                                   << KeyboardLayout::commandName(c);
            }
        }
    }
}

TEST(KeyboardLayoutSelection, PathRules) {
    EXPECT_EQ(resolveLayoutPath("Default", "/opt/qv"), "Default");
    EXPECT_EQ(resolveLayoutPath("", "/opt/qv"), "Default");
    EXPECT_EQ(resolveLayoutPath("/home/u/a.kbd", "/opt/qv"), "/home/u/a.kbd");
    EXPECT_EQ(resolveLayoutPath("C:\\k\\a.kbd", "/opt/qv"), "C:\\k\\a.kbd");
    EXPECT_EQ(resolveLayoutPath("layouts/a.kbd", "/opt/qv"), "/opt/qv/layouts/a.kbd");
    EXPECT_EQ(resolveLayoutPath("a.kbd", "/opt/qv/"), "/opt/qv/a.kbd");
    EXPECT_EQ(resolveLayoutPath("a.kbd", "C:\\Qorvette\\"), "C:\\Qorvette\\a.kbd");

    EXPECT_EQ(layoutSettingFor("/opt/qv/a.kbd", "/opt/qv"), "a.kbd");
    EXPECT_EQ(layoutSettingFor("/opt/qv/a.kbd", "/opt/qv/"), "a.kbd");
    EXPECT_EQ(layoutSettingFor("/opt/qv/layouts/a.kbd", "/opt/qv"), "/opt/qv/layouts/a.kbd");
    EXPECT_EQ(layoutSettingFor("/opt/qvx/a.kbd", "/opt/qv"), "/opt/qvx/a.kbd");
    EXPECT_EQ(layoutSettingFor("C:\\Qorvette\\a.kbd", "C:\\Qorvette"), "a.kbd");
}

TEST(KeyboardLayoutSelection, FallsBackToDefault) {
    const auto file = tempFile("sel.kbd", "layoutName=Sel\ngenStop=f9\nnoteC-0=z\n");
    const std::string dir = file.parent_path().string();
    KeyboardLayout layout;

    auto ok = selectLayout(layout, "sel.kbd", dir);
    EXPECT_FALSE(ok.isDefault);
    EXPECT_EQ(ok.setting, "sel.kbd");
    EXPECT_TRUE(ok.failedPath.empty());
    EXPECT_EQ(layout.name(), "Sel");

    auto missing = selectLayout(layout, "missing.kbd", dir);
    EXPECT_TRUE(missing.isDefault);
    EXPECT_EQ(missing.setting, "Default");
    EXPECT_EQ(missing.failedPath, dir + "/missing.kbd");
    EXPECT_EQ(layout.name(), "Default Layout");

    auto absolute = selectLayout(layout, file.string(), "/elsewhere");
    EXPECT_EQ(absolute.setting, file.string());
    EXPECT_EQ(layout.name(), "Sel");

    auto def = selectLayout(layout, "Default", dir);
    EXPECT_TRUE(def.isDefault);
    EXPECT_TRUE(def.failedPath.empty());
    EXPECT_EQ(layout.name(), "Default Layout");
}
