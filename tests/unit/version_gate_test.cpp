#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "install/version_gate.h"
#include "namelist/name_list.h"
#include "settings/settings.h"
#include "tests/unit/support/test_support.h"

namespace {

class VersionGateTest : public ProgramTest {};

const char kTooOld[] = "バージョンが古いためアップデートできません";
const char kNewer[] = "ゲームのほうがが新しいためアップデートの必要はありません";

// The refusal box for a reason and the installed version and bounds as shown ("1.25").
std::string Refusal(const char* reason, const std::string& installed, const std::string& lower,
                    const std::string& upper) {
    return DescribeBox(Cp932(std::string(reason) + "\n\nインストールVer" + installed +
                     "\nバージョンアップ可能なものは以下のものです\nVer" + lower + " ～ " + upper),
               Cp932("このバージョンはアップデートできません"), 0x30);
}

std::string Unreadable() {
    return DescribeBox("init\\game.xtx", "file not found", 0) +
           DescribeBox(Cp932("ゲームのバージョン情報が取得できませんでした"), "ERROR", 0x30);
}

// The game's list with its three parts, as a CRLF file of key and value lines.
std::string List(const std::string& high, const std::string& middle, const std::string& low) {
    return "highVersion," + high + "\r\nmiddleVersion," + middle + "\r\nlowVersion," + low + "\r\n";
}

void SetSetting(int slot, const char* value) {
    if (value == nullptr) return;
    g_settingPresent[slot] = 1;
    std::strncpy(g_settingValues[slot], value, kMaxSettingValueLength);
}

// Shows the verdict's message as the run sequence does.
void ShowVerdict(int32_t verdict) {
    if (verdict == -9999) {
        ShowVersionUnreadableMessage();
    } else if (verdict < 0) {
        ShowTooOldMessage();
    } else if (verdict > 0) {
        ShowNewerMessage();
    }
}

struct GateCase {
    const char* name;
    const char* versionCheck;  // nullptr: the setting is absent
    const char* lowVersion;
    const char* highVersion;
    std::optional<std::string> list;  // the plain "init\game.xtx"; nullopt: no file
    int32_t verdict;
    std::string boxes;
    bool reads;  // the name list was looked for
    int32_t installed;
    int32_t lower;
    int32_t upper;
};

TEST_F(VersionGateTest, VerdictAndMessageFollowSettingsAndTheGameList) {
    const std::string v125 = List("0", "2", "5");
    const GateCase cases[] = {
        // Off: no list is looked for (its absence would show a box), the bounds stay as they are.
        {"versionCheck absent", nullptr, "120", "130", std::nullopt, 0, "", false, 0, 100, 100},
        {"versionCheck 0", "0", "120", "130", std::nullopt, 0, "", false, 0, 100, 100},
        {"versionCheck on reads as 0", "on", "120", "130", std::nullopt, 0, "", false, 0, 100, 100},
        {"versionCheck 1 and no list", "1", nullptr, nullptr, std::nullopt, -9999, Unreadable(), true, 0, 100, 100},
        {"versionCheck -1 is on as well", "-1", nullptr, nullptr, std::nullopt, -9999, Unreadable(), true, 0, 100, 100},
        // No bounds: only 100 passes.
        {"no keys give 100", "1", nullptr, nullptr, "", 0, "", true, 100, 100, 100},
        {"zero parts give 100", "1", nullptr, nullptr, List("0", "0", "0"), 0, "", true, 100, 100, 100},
        {"125 newer than 100", "1", nullptr, nullptr, v125, 1, Refusal(kNewer, "1.25", "1.00", "1.00"), true,
         125, 100, 100},
        {"99 older than 100", "1", nullptr, nullptr, List("-1", "9", "9"), -1,
         Refusal(kTooOld, "0.99", "1.00", "1.00"), true, 99, 100, 100},
        // Inclusive bounds.
        {"119 against 120..130", "1", "120", "130", List("0", "1", "9"), -1,
         Refusal(kTooOld, "1.19", "1.20", "1.30"), true, 119, 120, 130},
        {"120 against 120..130", "1", "120", "130", List("0", "2", "0"), 0, "", true, 120, 120, 130},
        {"130 against 120..130", "1", "120", "130", List("0", "3", "0"), 0, "", true, 130, 120, 130},
        {"131 against 120..130", "1", "120", "130", List("0", "3", "1"), 1,
         Refusal(kNewer, "1.31", "1.20", "1.30"), true, 131, 120, 130},
        {"125 against 130..140", "1", "130", "140", v125, -1, Refusal(kTooOld, "1.25", "1.30", "1.40"), true,
         125, 130, 140},
        // Crossed bounds refuse everything; the lower one is tested first.
        {"crossed 130/120 with 125", "1", "130", "120", v125, -1, Refusal(kTooOld, "1.25", "1.30", "1.20"),
         true, 125, 130, 120},
        {"crossed 130/120 with 135", "1", "130", "120", List("0", "3", "5"), 1,
         Refusal(kNewer, "1.35", "1.30", "1.20"), true, 135, 130, 120},
        // One bound given: the other stays 100.
        {"only lowVersion, 100", "1", "90", nullptr, "", 0, "", true, 100, 90, 100},
        {"only lowVersion, 101", "1", "90", nullptr, List("0", "0", "1"), 1,
         Refusal(kNewer, "1.01", "0.90", "1.00"), true, 101, 90, 100},
        {"only highVersion, 99", "1", nullptr, "150", List("-1", "9", "9"), -1,
         Refusal(kTooOld, "0.99", "1.00", "1.50"), true, 99, 100, 150},
        // Reading the game's list.
        {"keys ignore ASCII case", "1", "125", "125", "HIGHVERSION,0\nMIDDLEVERSION,2\nLOWVERSION,5", 0, "", true, 125,
         125, 125},
        {"key at an odd index is not found", "1", nullptr, nullptr, "name,lowVersion,5,x", 0, "", true, 100, 100, 100},
        {"key as the last entry counts 0", "1", "120", "120", "middleVersion,2,lowVersion", 0, "", true, 120, 120,
         120},
        {"the first of two equal keys counts", "1", "101", "101", "lowVersion,1,lowVersion,2", 0, "", true, 101, 101,
         101},
        {"values that are not numbers count 0", "1", "120", "120", "lowVersion,abc,middleVersion,2x", 0, "", true,
         120, 120, 120},
        {"parts of several digits", "1", "1005", "1005", List("9", "0", "5"), 0, "", true, 1005, 1005, 1005},
        {"middle part 12 adds 120", "1", nullptr, nullptr, List("0", "12", "0"), 1,
         Refusal(kNewer, "2.20", "1.00", "1.00"), true, 220, 100, 100},
        // Versions at and beyond the signed 32-bit range are clamped, never wrapped.
        {"exactly the largest version", "1", nullptr, nullptr, List("21474835", "4", "7"), 1,
         Refusal(kNewer, "21474836.47", "1.00", "1.00"), true, INT32_MAX, 100, 100},
        {"one past the largest is clamped", "1", nullptr, nullptr, List("21474835", "4", "8"), 1,
         Refusal(kNewer, "21474836.47", "1.00", "1.00"), true, INT32_MAX, 100, 100},
        {"huge parts are clamped", "1", nullptr, nullptr, List("99999999999", "99999999999", "99999999999"),
         1, Refusal(kNewer, "21474836.47", "1.00", "1.00"), true, INT32_MAX, 100, 100},
        {"negative parts", "1", nullptr, nullptr, List("-2", "0", "5"), -1,
         Refusal(kTooOld, "0.-9-5", "1.00", "1.00"), true, -95, 100, 100},
        {"below the smallest is clamped", "1", nullptr, nullptr, List("-21474838", "0", "0"), -1,
         Refusal(kTooOld, "-21474836.-4-8", "1.00", "1.00"), true, INT32_MIN, 100, 100},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        FreshProcess();
        ResolveSettingSlots();
        SetSetting(g_slotVersionCheck, c.versionCheck);
        SetSetting(g_slotLowVersion, c.lowVersion);
        SetSetting(g_slotHighVersion, c.highVersion);
        if (c.list) WriteFile("init\\game.xtx", *c.list);  // the literal name: see name_list_test

        const int32_t verdict = CheckVersionGate();
        EXPECT_EQ(verdict, c.verdict);
        EXPECT_EQ(g_init2Probe != Init2Probe::NotProbed, c.reads) << "whether the name list was looked for";
        EXPECT_EQ(g_installedVersion, c.installed);
        EXPECT_EQ(g_lowerBound, c.lower);
        EXPECT_EQ(g_upperBound, c.upper);
        ShowVerdict(verdict);
        EXPECT_EQ(DescribeBoxes(Os().boxes), c.boxes);
    }
}

TEST_F(VersionGateTest, MessagesAreSpelledOutExactly) {
    g_installedVersion = 125;
    g_lowerBound = 130;
    g_upperBound = 140;
    ShowTooOldMessage();
    g_installedVersion = 1005;
    g_lowerBound = 100;
    g_upperBound = 123;
    ShowNewerMessage();
    ShowVersionUnreadableMessage();
    ASSERT_EQ(Os().boxes.size(), 3u);
    EXPECT_EQ(Utf8(Os().boxes[0].text),
              "バージョンが古いためアップデートできません\n\nインストールVer1.25\n"
              "バージョンアップ可能なものは以下のものです\nVer1.30 ～ 1.40");
    EXPECT_EQ(Os().boxes[0].text,
              Cp932("バージョンが古いためアップデートできません\n\nインストールVer1.25\n"
                    "バージョンアップ可能なものは以下のものです\nVer1.30 ～ 1.40"));
    EXPECT_EQ(Os().boxes[1].text,
              Cp932("ゲームのほうがが新しいためアップデートの必要はありません\n\nインストールVer10.05\n"
                    "バージョンアップ可能なものは以下のものです\nVer1.00 ～ 1.23"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Os().boxes[i].caption, Cp932("このバージョンはアップデートできません")) << i;
        EXPECT_EQ(Os().boxes[i].style, 0x30u) << i;
    }
    EXPECT_EQ(Os().boxes[2].text, Cp932("ゲームのバージョン情報が取得できませんでした"));
    EXPECT_EQ(Os().boxes[2].caption, "ERROR");
    EXPECT_EQ(Os().boxes[2].style, 0x30u);
}

TEST_F(VersionGateTest, ReadsTheComplementedListWhenInit2Exists) {
    ResolveSettingSlots();
    SetSetting(g_slotVersionCheck, "1");
    SetSetting(g_slotLowVersion, "125");
    SetSetting(g_slotHighVersion, "125");
    std::string complemented = List("0", "2", "5");
    for (char& c : complemented) c = static_cast<char>(~static_cast<unsigned char>(c));
    MakeFolder("init2");
    WriteFile("init2\\game.fxf", complemented);  // the literal name: see name_list_test
    WriteFile("init\\game.xtx", List("0", "0", "0"));
    EXPECT_EQ(CheckVersionGate(), 0);
    EXPECT_EQ(g_installedVersion, 125);
    EXPECT_EQ(DescribeBoxes(Os().boxes), "");
}

}  // namespace
