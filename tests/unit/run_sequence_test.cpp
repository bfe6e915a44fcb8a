#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "install/install_directory.h"
#include "settings/settings.h"
#include "tests/unit/support/test_support.h"
#include "update/progress_window.h"

namespace {

using platform::kIdCancel;
using platform::kIdNo;
using platform::kIdOk;

struct Box {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    unsigned style;
};

const char kConfirmText[] = "以下のディレクトリーを修正してよろしいですか?\n発見した場所:";
const char kPlainReport[] = "アップデートは正常に終了しました";
const char kCopyFailed[] =
    "ファイルのコピーに失敗しました\nこの状態ではゲームは正しく遊べません\n再度修正プログラムを実行してください";

Box Confirm(const std::string& folder) { return {kConfirmText + folder, "確認", 1}; }

class RunSequenceTest : public ProgramTest {
protected:
    // A game installed under HKLM\Software\kiv\Game at "C:\Games\Long Folder Name".
    void InstallGame(const std::string& hiveKey = "HKLM\\Software\\kiv\\Game",
                     const std::string& folder = "C:\\Games\\Long Folder Name") {
        testdouble::SetRegistryString(hiveKey, "installdirectory", folder);
    }

    void ExpectBoxes(const std::vector<Box>& expected) {
        const auto& actual = Os().boxes;
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("box " + std::to_string(i) + ": " + Utf8(actual[i].caption));
            EXPECT_EQ(actual[i].text, Cp932(expected[i].text)) << Utf8(actual[i].text);
            EXPECT_EQ(actual[i].caption, Cp932(expected[i].caption));
            EXPECT_EQ(actual[i].style, expected[i].style);
        }
    }

    bool Happened(const std::string& prefix) const {
        for (const std::string& event : testdouble::Double().events) {
            if (event.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    }

    // The events that show the order of lock, window and boxes.
    std::vector<std::string> LockWindowAndBoxEvents() const {
        std::vector<std::string> result;
        for (const std::string& event : testdouble::Double().events) {
            if (event.rfind("mutex", 0) == 0 || event.rfind("dialog", 0) == 0) {
                result.push_back(event);
            } else if (event.rfind("box ", 0) == 0) {
                result.push_back("box " + Utf8(event.substr(4)));
            }
        }
        return result;
    }

    int Run() { return RunUpdate(nullptr); }
};

TEST_F(RunSequenceTest, NoInfoFileEndsWithExitCode1) {
    EXPECT_EQ(Run(), 1);
    ExpectBoxes({{"インフォメーションファイル info.txt がみつかりません", "ERROR", 0x30}});
    EXPECT_FALSE(Happened("registry"));
}

TEST_F(RunSequenceTest, NoRegSettingEndsWithExitCode2BeforeAnyRegistryAccess) {
    WriteFile("info.txt", "mutex M\ndir update\n// no registry key named\n");
    InstallGame();
    EXPECT_EQ(Run(), 2);
    ExpectBoxes({{"info.txt に、レジストリーの指定がありません", "ERROR", 0x30}});
    EXPECT_FALSE(Happened("registry"));
}

TEST_F(RunSequenceTest, NotInstalledEndsWithExitCode3NamingTheGame) {
    struct Case {
        const char* name;
        std::string info;
        bool setKey;
        std::string value;  // bytes stored, terminator included
        std::string shownName;
    };
    const Case cases[] = {
        {"key missing", "reg Game", false, "", "ゲーム"},
        {"value of 256 bytes and its zero", "reg Game", true, std::string(256, 'd') + '\0', "ゲーム"},
        {"empty value would mean the drive root", "reg Game", true, std::string(1, '\0'), "ゲーム"},
        {"gamename shown as it is", "reg Game gamename " + Cp932("夢の島"), false, "", "夢の島"},
        {"key under the other hive", "reg Game currentUser 1", true, "C:\\G" + std::string(1, '\0'), "ゲーム"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshProcess();
        WriteFile("info.txt", c.info);
        if (c.setKey) testdouble::SetRegistryBytes("HKLM\\Software\\kiv\\Game", "installdirectory", c.value);
        EXPECT_EQ(Run(), 3);
        ExpectBoxes({{"「" + c.shownName + "」がインストールされていません", "ERROR", 0x30}});
        EXPECT_FALSE(Happened("mutex"));
    }
}

TEST_F(RunSequenceTest, ValueMissingCountsAsNotInstalledAndTheKeyIsClosed) {
    WriteFile("info.txt", "reg Game");
    testdouble::SetRegistryString("HKLM\\Software\\kiv\\Game", "otherValue", "C:\\G");
    EXPECT_EQ(Run(), 3);
    EXPECT_TRUE(Happened("registry close"));
}

TEST_F(RunSequenceTest, ValueOf255BytesIsFoundAndShownWhole) {
    const std::string folder = "C:\\" + std::string(252, 'f');
    ASSERT_EQ(folder.size(), 255u);
    WriteFile("info.txt", "reg Game");
    InstallGame("HKLM\\Software\\kiv\\Game", folder);
    EXPECT_EQ(Run(), 0);
    ExpectBoxes({Confirm(folder), {kPlainReport, "正常終了", 0}});
}

TEST_F(RunSequenceTest, RefusedConfirmationEndsWithMinusOneBeforeGateLockAndWindow) {
    const int answers[] = {kIdCancel, kIdNo, 0};  // Cancel or Esc, any other answer, a box that failed
    for (int answer : answers) {
        SCOPED_TRACE(answer);
        FreshProcess();
        WriteFile("info.txt", "reg Game mutex M versionCheck 1 dir update");
        InstallGame();
        Os().answers = {answer};
        EXPECT_EQ(Run(), -1);
        ExpectBoxes({Confirm("C:\\Games\\Long Folder Name"), {"中止しました", "中止", 0}});
        EXPECT_FALSE(Happened("mutex"));
        EXPECT_FALSE(Happened("dialog"));
    }
}

TEST_F(RunSequenceTest, ExistingMutexEndsWithExitCode8WithoutWindowAndKeepsTheHandle) {
    WriteFile("info.txt", "reg Game mutex Game_Lock dir update");
    InstallGame();
    Os().existingMutexes.insert("Game_Lock");
    EXPECT_EQ(Run(), 8);
    ExpectBoxes({Confirm("C:\\Games\\Long Folder Name"), {"二重起動及び、ゲーム動作中は起動できません", "Error", 0x30}});
    EXPECT_EQ(LockWindowAndBoxEvents(),
              (std::vector<std::string>{"box 確認", "mutex exists Game_Lock", "box Error"}));
}

TEST_F(RunSequenceTest, SuccessReportsTheCountOnlyWhenResultIsOn) {
    struct Case {
        const char* info;
        std::string report;
    };
    const Case cases[] = {
        {"reg Game result on", "0個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"},
        {"reg Game result ON", "0個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"},
        {"reg Game result oN", "0個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"},
        {"reg Game result off", kPlainReport},
        {"reg Game result 1", kPlainReport},
        {"reg Game", kPlainReport},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info);
        FreshProcess();
        WriteFile("info.txt", c.info);
        InstallGame();
        EXPECT_EQ(Run(), 0);
        ExpectBoxes({Confirm("C:\\Games\\Long Folder Name"), {c.report, "正常終了", 0}});
    }
}

TEST_F(RunSequenceTest, SuccessfulCopyDestroysWindowThenReleasesLockThenReports) {
    WriteFile("info.txt", "reg Game mutex Lock dir update result on copyNumber 2");
    WriteFile("update/a.txt", "new a");
    WriteFile("update/sub/b.txt", "new b");
    MakeFolder("game/sub");
    InstallGame("HKLM\\Software\\kiv\\Game", "game");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(LockWindowAndBoxEvents(),
              (std::vector<std::string>{"box 確認", "mutex create Lock", "dialog create 9", "dialog show",
                                        "dialog destroy", "mutex release", "box 正常終了"}));
    EXPECT_EQ(Os().boxes.back().text, Cp932("2個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"));
    EXPECT_EQ(ReadFile("game/a.txt"), "new a");
    EXPECT_EQ(ReadFile("game/sub/b.txt"), "new b");
    EXPECT_EQ(g_expectedTotal, 2);
}

TEST_F(RunSequenceTest, FailedCopyReleasesLockThenShowsMessageThenDestroysWindow) {
    WriteFile("info.txt", "reg Game mutex Lock dir update");
    WriteFile("update/a.txt", "new a");
    WriteFile("update/missing/b.txt", "new b");  // no such folder in the game: the walk creates none
    MakeFolder("game");
    InstallGame("HKLM\\Software\\kiv\\Game", "game");
    EXPECT_EQ(Run(), 4);
    EXPECT_EQ(LockWindowAndBoxEvents(),
              (std::vector<std::string>{"box 確認", "mutex create Lock", "dialog create 9", "dialog show",
                                        "mutex release", std::string("box 重大エラー"), "dialog destroy"}));
    EXPECT_EQ(Os().boxes.back().text, Cp932(kCopyFailed));
    EXPECT_EQ(Os().boxes.back().style, 0x30u);
    EXPECT_EQ(ReadFile("game/a.txt"), "new a") << "what was copied before the failure stays";
}

TEST_F(RunSequenceTest, EmptyDirValueFailsTheRunInsteadOfCopyingFromTheDriveRoot) {
    WriteFile("info.txt", "reg Game dir " + std::string(256, 'x'));  // an over-long value is stored empty
    InstallGame("HKLM\\Software\\kiv\\Game", "game");
    EXPECT_EQ(Run(), 4);
    EXPECT_FALSE(Happened("copy"));
    EXPECT_EQ(Os().boxes.back().caption, Cp932("重大エラー"));
    EXPECT_EQ(Os().maxOpenListings, 0) << "nothing may be listed";
}

TEST_F(RunSequenceTest, WithoutDirOrMutexTheWindowOpensAndClosesAndNoLockIsTaken) {
    WriteFile("info.txt", "reg Game result on");
    InstallGame();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(LockWindowAndBoxEvents(),
              (std::vector<std::string>{"box 確認", "dialog create 9", "dialog show", "dialog destroy", "box 正常終了"}));
    EXPECT_EQ(Os().boxes.back().text, Cp932("0個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"));
}

TEST_F(RunSequenceTest, FailedLockCreationAndFailedWindowDoNotStopTheRun) {
    WriteFile("info.txt", "reg Game mutex Lock dir update");
    WriteFile("update/a.txt", "new a");
    MakeFolder("game");
    InstallGame("HKLM\\Software\\kiv\\Game", "game");
    Os().mutexCreationFails = true;
    Os().dialogCreationFails = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Happened("mutex release"));
    EXPECT_EQ(ReadFile("game/a.txt"), "new a");
}

TEST_F(RunSequenceTest, ConfirmationShowsStoredFormWhileTheCopyGoesToTheShortForm) {
    WriteFile("info.txt", "reg Game dir update");
    WriteFile("update/a.txt", "new a");
    MakeFolder("short");
    InstallGame("HKLM\\Software\\kiv\\Game", "Long Folder Name");
    Os().shortPaths["Long Folder Name"] = "short";
    EXPECT_EQ(Run(), 0);
    ExpectBoxes({Confirm("Long Folder Name"), {kPlainReport, "正常終了", 0}});
    EXPECT_EQ(ReadFile("short/a.txt"), "new a");
    EXPECT_STREQ(g_installDirectoryStored, "Long Folder Name");
    EXPECT_STREQ(g_installDirectoryShort, "short");
}

TEST_F(RunSequenceTest, CopyNumberSetsTheExpectedTotal) {
    struct Case {
        const char* info;
        int32_t expected;
    };
    const Case cases[] = {{"reg Game", 0},          {"reg Game copyNumber 12", 12}, {"reg Game copyNumber x", 0},
                          {"reg Game copyNumber -4", -4}, {"reg Game copyNumber 99999999999", INT32_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info);
        FreshProcess();
        WriteFile("info.txt", c.info);
        InstallGame();
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(g_expectedTotal, c.expected);
    }
}

class InstallLookupTest : public ProgramTest {};

TEST_F(InstallLookupTest, ComposesTheSubkeyAndPicksTheHive) {
    struct Case {
        const char* name;
        std::string info;
        std::string opened;
    };
    const Case cases[] = {
        {"default company", "reg Foo", "HKLM\\Software\\kiv\\Foo"},
        {"company and spaces", "companyName Studio?One reg Game?Two", "HKLM\\Software\\Studio One\\Game Two"},
        {"currentUser with any value", "reg Foo currentUser 0", "HKCU\\Software\\kiv\\Foo"},
        {"'?' after a lead byte is its trail byte", "reg \x83?x?", "HKLM\\Software\\kiv\\\x83?x "},
        {"single-byte katakana counts as a lead byte", "reg \xB1?", "HKLM\\Software\\kiv\\\xB1?"},
        {"lead byte at the very end", "reg a?\x83", "HKLM\\Software\\kiv\\a \x83"},
        {"Shift-JIS with trail byte 0x5C", "companyName \x94\x5C?Co reg G", "HKLM\\Software\\\x94\x5C Co\\G"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshProcess();
        WriteFile("info.txt", c.info);
        ResolveSettingSlots();
        ASSERT_EQ(ReadInfoFile(), 1);
        EXPECT_EQ(LookUpInstallDirectory(), 0);
        ASSERT_EQ(Os().events.size(), 1u);
        EXPECT_EQ(Os().events[0], "registry open " + c.opened);
    }
}

TEST_F(InstallLookupTest, ShortFormFallsBackToStoredFormWhenConversionFailsOrDoesNotFit) {
    WriteFile("info.txt", "reg Foo");
    testdouble::SetRegistryString("HKLM\\Software\\kiv\\Foo", "installdirectory", "C:\\Game Folder");
    ResolveSettingSlots();
    ReadInfoFile();
    EXPECT_EQ(LookUpInstallDirectory(), 1);
    EXPECT_STREQ(g_installDirectoryShort, "C:\\Game Folder");

    Os().shortPaths["C:\\Game Folder"] = std::string(1100, 's');  // needs a bigger buffer than 1023
    EXPECT_EQ(LookUpInstallDirectory(), 1);
    EXPECT_STREQ(g_installDirectoryShort, "C:\\Game Folder");

    Os().shortPaths["C:\\Game Folder"] = "C:\\GAMEFO~1";
    EXPECT_EQ(LookUpInstallDirectory(), 1);
    EXPECT_STREQ(g_installDirectoryShort, "C:\\GAMEFO~1");
    EXPECT_STREQ(g_installDirectoryStored, "C:\\Game Folder");
}

TEST_F(InstallLookupTest, DataWithoutTerminatorStillEndsInsideTheBuffer) {
    WriteFile("info.txt", "reg Foo");
    testdouble::SetRegistryBytes("HKLM\\Software\\kiv\\Foo", "installdirectory", std::string(256, 'd'));
    ResolveSettingSlots();
    ReadInfoFile();
    EXPECT_EQ(LookUpInstallDirectory(), 1);
    EXPECT_EQ(std::string(g_installDirectoryStored), std::string(256, 'd'));
}

}  // namespace
