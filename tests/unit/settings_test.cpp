#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/settings.h"
#include "tests/unit/support/test_support.h"

namespace {

class SettingsTest : public ProgramTest {};

struct ReaderCase {
    const char* name;
    std::string file;
    std::map<std::string, std::string> present;  // key name -> value; every other slot absent
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST_F(SettingsTest, ReadsInfoFileByTheTokenRules) {
    const std::string sjisName = Cp932("ゲーム名");
    const ReaderCase cases[] = {
        {"empty file", "", {}},
        {"only whitespace", " \t\r\n\v\f ", {}},
        {"key case ignored, value kept", "REG Foo", {{"reg", "Foo"}}},
        {"later pair overwrites", "reg A reg B", {{"reg", "B"}}},
        {"key without value at end", "reg A mutex", {{"reg", "A"}}},
        {"comment token alone dropped", "// reg Foo", {{"reg", "Foo"}}},
        {"comment glued to word", "//reg Foo reg Bar", {}},
        {"comment glued to word shifts pairing", "//reg Foo mutex reg A", {{"reg", "A"}}},
        {"odd comment shifts pairing", "// set the reg\nreg Foo", {{"reg", "reg"}}},
        {"value may look like a comment", "reg //x", {{"reg", "//x"}}},
        {"dummy is a key with no effect", "dummy x", {{"dummy", "x"}}},
        {"no-effect keys stored", "middleVersion 3 systemfile 1 hiddenfile 1",
         {{"middleVersion", "3"}, {"systemfile", "1"}, {"hiddenfile", "1"}}},
        {"unknown key and its value dropped", "colour red reg A", {{"reg", "A"}}},
        {"pairs span lines and share lines", "reg\nA mutex M\tdir D", {{"reg", "A"}, {"mutex", "M"}, {"dir", "D"}}},
        {"value of 254 bytes whole", "reg " + Repeat('v', 254), {{"reg", Repeat('v', 254)}}},
        {"value of 255 bytes cut to 254", "reg " + Repeat('v', 255), {{"reg", Repeat('v', 254)}}},
        {"value of 256 bytes empties it; rest is next key", "reg " + Repeat('v', 256) + "dir X",
         {{"reg", ""}, {"dir", "X"}}},
        {"rest of an over-long value shifts pairing", "reg " + Repeat('v', 300) + " mutex M", {{"reg", ""}}},
        {"over-long key drops itself and its value", Repeat('k', 300) + " reg A reg B", {{"reg", "B"}}},
        {"CRLF reads like LF", "reg\r\nA\r\nmutex\r\nM\r\n", {{"reg", "A"}, {"mutex", "M"}}},
        {"lone CR is whitespace too", "reg\rA", {{"reg", "A"}}},
        {"0x1A ends the file", std::string("reg A\x1A mutex M"), {{"reg", "A"}}},
        {"0x1A inside a token ends it", std::string("reg A\x1A"), {{"reg", "A"}}},
        {"byte-order mark glued to first key", "\xEF\xBB\xBFreg A mutex M", {{"mutex", "M"}}},
        {"byte-order mark alone is a key that eats the next token", "\xEF\xBB\xBF\n// x\nreg A", {}},
        {"zero byte ends the value", std::string("reg A\0B mutex M", 15), {{"reg", "A"}, {"mutex", "M"}}},
        {"zero byte ends the key", std::string("re\0g A reg B", 12), {{"reg", "B"}}},
        {"Shift-JIS value byte for byte", "gamename " + sjisName, {{"gamename", sjisName}}},
        {"Shift-JIS trail byte 0x5C kept", "gamename \x94\x5C", {{"gamename", "\x94\x5C"}}},
        {"key at end of file after comment", "reg A //", {{"reg", "A"}}},
    };
    for (const ReaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("info.txt", c.file);
        ResolveSettingSlots();
        ASSERT_EQ(ReadInfoFile(), 1);
        for (int slot = 0; slot < kSettingSlotCount; ++slot) {
            const std::string key = kSettingKeyNames[slot];
            auto expected = c.present.find(key);
            if (expected == c.present.end()) {
                EXPECT_EQ(g_settingPresent[slot], 0) << key;
                EXPECT_STREQ(g_settingValues[slot], "") << key;
            } else {
                EXPECT_EQ(g_settingPresent[slot], 1) << key;
                EXPECT_EQ(std::string(g_settingValues[slot]), expected->second) << key;
                const std::size_t length = expected->second.size();
                EXPECT_EQ(g_settingValues[slot][length + 1], '\0') << key << ": second zero byte";
            }
        }
    }
}

TEST_F(SettingsTest, NoInfoFileLeavesTheTableAlone) {
    ResolveSettingSlots();
    g_settingPresent[g_slotReg] = 1;
    EXPECT_EQ(ReadInfoFile(), 0);
    EXPECT_EQ(g_settingPresent[g_slotReg], 1);
}

TEST_F(SettingsTest, ReadsAFileLargerThanOneBufferWithCrlfAcrossTheBoundary) {
    // Pad so that a CR LF pair and a long token straddle the reader's internal chunks.
    std::string file;
    while (file.size() < 3 * 16 * 1024 - 1) file += "// xx\r\n";
    file.resize(16 * 1024 - 1, ' ');
    file += "\r\nreg A\r\n";
    file += std::string(40000, ' ') + "mutex " + Repeat('m', 254) + "\r\n";
    WriteFile("info.txt", file);
    ResolveSettingSlots();
    ASSERT_EQ(ReadInfoFile(), 1);
    EXPECT_STREQ(SettingValue(g_slotReg), "A");
    EXPECT_EQ(std::string(SettingValue(g_slotMutex)), Repeat('m', 254));
}

TEST(SettingSlots, ResolveToTheirFixedIndexesAndFindIgnoresAsciiCaseOnly) {
    ResolveSettingSlots();
    EXPECT_EQ(g_slotReg, 1);
    EXPECT_EQ(g_slotMutex, 2);
    EXPECT_EQ(g_slotDir, 3);
    EXPECT_EQ(g_slotGameName, 4);
    EXPECT_EQ(g_slotResult, 5);
    EXPECT_EQ(g_slotReadOnly, 6);
    EXPECT_EQ(g_slotCompanyName, 7);
    EXPECT_EQ(g_slotVersionCheck, 8);
    EXPECT_EQ(g_slotLowVersion, 9);
    EXPECT_EQ(g_slotHighVersion, 11);
    EXPECT_EQ(g_slotCopyNumber, 12);
    EXPECT_EQ(g_slotCurrentUser, 15);
    EXPECT_EQ(FindSettingSlot("COMPANYNAME"), 7);
    EXPECT_EQ(FindSettingSlot("dummy"), 0) << "slot 0 is not searched";
    EXPECT_EQ(FindSettingSlot("re"), 0);
    EXPECT_EQ(FindSettingSlot("regs"), 0);
    EXPECT_EQ(FindSettingSlot("r\xC5g"), 0) << "only ASCII letters fold";
}

TEST(ReadNumber, ReadsLikeAtoiAndClampsOutOfRange) {
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"0", 0},           {"42", 42},          {"  \t\n-17abc", -17}, {"+8", 8},
        {"on", 0},          {"", 0},             {"- 5", 0},            {"+-5", 0},
        {"2147483647", INT32_MAX},               {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},              {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX}, {"-99999999999999999999", INT32_MIN},
        {"\xA0" "5", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadNumber(c.text), c.expected);
    }
}

TEST(EqualsIgnoringAsciiCase, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("oN", "on"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("on", "on "));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("o", "on"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{")) << "0x5B and 0x7B differ by 0x20 but are not letters";
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC1", "\xE1"));
}

}  // namespace
