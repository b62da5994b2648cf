// The manual's key tables: key texts, every command of the table listed with
// the keys of the layout in use, and the keys that open the manual.
#include "io/command_help.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qv;

TEST(CommandHelp, KeyTexts) {
    EXPECT_EQ(keyComboText(0), "");
    EXPECT_EQ(keyComboText(kModCtrl | vk::letter('O')), "Ctrl+O");
    EXPECT_EQ(keyComboText(kModCtrl | kModShift | vk::f(10)), "Ctrl+Shift+F10");
    EXPECT_EQ(keyComboText(kModShift), "Shift");
    EXPECT_EQ(keyComboText(vk::numpad(7)), "Num 7");
    EXPECT_EQ(keyComboText(vk::Decimal), "Num .");
    EXPECT_EQ(keyComboText(vk::Oem5), "\\");
    EXPECT_EQ(keyComboText(vk::Prior), "PgUp");
    KeyboardLayout layout;
    EXPECT_EQ(commandKeysText(layout, cmd::OrdToPattern), "Ctrl+Up, Ctrl+Down, Enter");
    EXPECT_EQ(commandKeysText(layout, cmd::noteKey(2, 9)), "");
}

TEST(CommandHelp, TablesListEveryCommandWithTheLayoutsKeys) {
    KeyboardLayout layout;
    std::string md = commandTablesMarkdown(layout);
    for (int c = 0; c < cmd::Count; ++c) {
        const std::string& name = KeyboardLayout::commandName(c);
        if (c < cmd::Octave1) continue;  // the notes are a table of their own
        EXPECT_NE(md.find("| " + name + " |"), std::string::npos) << name;
        EXPECT_FALSE(commandHelp(name).description.empty()) << name;
    }
    EXPECT_NE(md.find("| C | `Z` | `Q`, `,` | `I` |"), std::string::npos);
    EXPECT_NE(md.find("| genOpenMod | `Ctrl+O` | open a module |"), std::string::npos);
    EXPECT_NE(md.find("| ptnAutoStepInc | `` ` `` |"), std::string::npos);
    EXPECT_NE(md.find("(repeats)"), std::string::npos);

    // Another layout shows its own keys.
    ASSERT_TRUE(layout.loadFromFile((std::filesystem::path(QV_SOURCE_DIR) / "layouts" / "azerty.kbd").string()));
    md = commandTablesMarkdown(layout);
    EXPECT_NE(md.find("**AZERTY Layout (French)**"), std::string::npos);
    EXPECT_NE(md.find("| C | `W` | `A` | `I` |"), std::string::npos);
    EXPECT_NE(md.find("| noteOff | `Q` |"), std::string::npos);
}

TEST(CommandHelp, GroupsAndCommandsNotDescribedYet) {
    EXPECT_EQ(commandHelp("genUndo").group, "General");
    EXPECT_EQ(commandHelp("genUndo").description, "undo");
    EXPECT_EQ(commandHelp("ptnSwapChannels").group, "Pattern editor");
    EXPECT_EQ(commandHelp("ptnSwapChannels").description, "swap channels");
    EXPECT_EQ(commandHelp("ordCurUp").group, "Order list");
    EXPECT_EQ(commandHelp("newthing").group, "Other");
    EXPECT_EQ(commandHelp("newthing").description, "newthing");
    EXPECT_TRUE(commandHelp("ptnCurUp").repeats);
    EXPECT_FALSE(commandHelp("ptnHome").repeats);
}

TEST(CommandHelp, KeysThatOpenTheManual) {
    KeyboardLayout layout;
    EXPECT_TRUE(layoutUsesKey(layout, vk::f(1)));
    EXPECT_EQ(helpKeysText(layout), "Shift+F1");
    layout.loadFromText("genStop=esc\ngenShowHelp=ctrl+h\n");
    EXPECT_FALSE(layoutUsesKey(layout, vk::f(1)));
    EXPECT_EQ(helpKeysText(layout), "F1, Ctrl+H");
    layout.loadFromText("genStop=esc\n");
    EXPECT_EQ(helpKeysText(layout), "F1");
}
