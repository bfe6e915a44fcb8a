#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "update/progress_window.h"
#include "update/tree_copy.h"
#include "tests/unit/support/test_support.h"

namespace {

using testdouble::ControlHandle;
using testdouble::DialogWindow;

// Message numbers spelled out here, so that a wrong constant in the product shows.
constexpr unsigned kInitDialog = 0x110;
constexpr unsigned kClose = 0x10;
constexpr int kStatusLabel = 1003;
constexpr int kTickBar = 1001;
constexpr int kOverallBar = 1002;

class ProgressWindowTest : public ProgramTest {
protected:
    void OpenWindow() { ASSERT_EQ(ProgressDialogProc(DialogWindow(), kInitDialog, 0, 0), 1); }
    std::vector<int32_t> Bar(int id) { return Os().barPositions[id]; }
};

std::string SourcePath(int n) { return "upd\\data\\file" + std::to_string(n) + ".bin"; }

TEST_F(ProgressWindowTest, InitDialogTakesControlsInOrderAndReturnsTrue) {
    EXPECT_EQ(ProgressDialogProc(DialogWindow(), kInitDialog, 0, 0), 1);
    EXPECT_EQ(Os().itemRequests, (std::vector<int>{1003, 1001, 1002}));
    EXPECT_EQ(g_statusLabel, ControlHandle(kStatusLabel));
    EXPECT_EQ(g_tickBar, ControlHandle(kTickBar));
    EXPECT_EQ(g_overallBar, ControlHandle(kOverallBar));
}

TEST_F(ProgressWindowTest, InitDialogCentresWithHalvesTruncatedTowardZero) {
    struct Case {
        const char* name;
        int32_t screenWidth, screenHeight;
        platform::Rect window;
        int32_t x, y;
    };
    const Case cases[] = {
        {"even excess", 1024, 768, {0, 0, 320, 224}, 352, 272},
        {"odd excess rounds down", 1024, 768, {0, 0, 321, 225}, 351, 271},
        {"window not at the origin", 800, 600, {-50, 100, 250, 300}, 250, 200},
        {"exactly the screen", 640, 480, {7, 9, 647, 489}, 0, 0},
        {"201 pixels wider and taller", 800, 600, {0, 0, 1001, 801}, -100, -100},
        {"1 pixel wider", 800, 600, {0, 0, 801, 600}, 0, 0},
        {"3 pixels wider", 800, 600, {0, 0, 803, 603}, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testdouble::ResetDouble();
        Os().screenWidth = c.screenWidth;
        Os().screenHeight = c.screenHeight;
        Os().windowRect = c.window;
        EXPECT_EQ(ProgressDialogProc(DialogWindow(), kInitDialog, 0, 0), 1);
        ASSERT_TRUE(Os().windowMoved);
        const int32_t width = c.window.right - c.window.left;
        const int32_t height = c.window.bottom - c.window.top;
        EXPECT_EQ(Os().movedTo.left, c.x);
        EXPECT_EQ(Os().movedTo.top, c.y);
        EXPECT_EQ(Os().movedTo.right - Os().movedTo.left, width) << "width kept";
        EXPECT_EQ(Os().movedTo.bottom - Os().movedTo.top, height) << "height kept";
    }
}

TEST_F(ProgressWindowTest, CloseEndsDialogWithOneAndOtherMessagesAreIgnored) {
    EXPECT_EQ(ProgressDialogProc(DialogWindow(), kClose, 0, 0), 0);
    EXPECT_EQ(Os().endDialogResults, (std::vector<intptr_t>{1}));

    for (unsigned message : {0x0u, 0x2u, 0xFu, 0x111u, 0x112u, 0x10Fu, 0x11u}) {
        SCOPED_TRACE(message);
        EXPECT_EQ(ProgressDialogProc(DialogWindow(), message, 1, 1), 0);
    }
    EXPECT_EQ(Os().endDialogResults.size(), 1u) << "only WM_CLOSE ends the dialog";
    EXPECT_TRUE(Os().itemRequests.empty());
    EXPECT_FALSE(Os().windowMoved);
}

// The overall bar for an expected total and a number of files; the total comes from
// "copyNumber" through the whole run, so the reading of the setting is covered as well.
TEST_F(ProgressWindowTest, OverallBarStepsOnWholePercentagesOfTheExpectedTotal) {
    struct Case {
        const char* name;
        const char* copyNumber;  // nullptr: the setting is absent
        int files;
        std::vector<int32_t> overall;
    };
    const Case cases[] = {
        {"absent", nullptr, 3, {}},
        {"zero", "0", 3, {}},
        {"negative", "-3", 3, {}},
        {"not a number", "many", 3, {}},
        {"one", "1", 2, {100, 200}},
        {"three, and a fourth file past it", "3", 4, {33, 66, 100, 133}},
        {"two hundred", "200", 4, {1, 2}},
        {"leading blanks and sign", " +4", 4, {25, 50, 75, 100}},
        {"beyond 32 bits clamps", "99999999999", 3, {}},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        FreshProcess();
        const std::string source = "upd" + std::to_string(i);
        for (int n = 1; n <= c.files; ++n) WriteFile(source + "/f" + std::to_string(n), "x");
        MakeFolder("game");
        std::string info = "reg Game\ncurrentUser 1\ndir " + source + "\n";
        if (c.copyNumber != nullptr) info += std::string("copyNumber ") + c.copyNumber + "\n";
        WriteFile("info.txt", info);
        testdouble::SetRegistryString("HKCU\\Software\\kiv\\Game", "installdirectory", "game");
        Os().answers = {platform::kIdOk};

        EXPECT_EQ(RunUpdate(nullptr), 0);
        EXPECT_EQ(g_filesCopied, c.files);
        EXPECT_EQ(Bar(kOverallBar), c.overall);
    }
}

TEST_F(ProgressWindowTest, OverallBarHasNoOverflowPastTwentyOneMillionFiles) {
    OpenWindow();
    // 21474837 x 100 leaves the signed 32-bit range.
    g_filesAttempted = 21474836;
    g_expectedTotal = 21474837;
    UpdateProgress("a");
    EXPECT_EQ(Bar(kOverallBar), (std::vector<int32_t>{100}));
    g_expectedTotal = INT32_MAX;
    UpdateProgress("b");
    EXPECT_EQ(Bar(kOverallBar), (std::vector<int32_t>{100})) << "1% of INT32_MAX not yet reached";
}

TEST_F(ProgressWindowTest, TickBarAndLabelStepPerFileWithEveryTenthFileCopying) {
    OpenWindow();
    std::vector<std::string> labels;
    std::vector<int32_t> ticks;
    for (int n = 1; n <= 21; ++n) {
        const std::string path = SourcePath(n);
        UpdateProgress(path.c_str());
        labels.push_back("copy:" + path);
        if (n % 10 == 0) labels.push_back(Cp932("コピー中 ") + path);
        ticks.push_back(10 * ((n - 1) % 10));

        SCOPED_TRACE("file " + std::to_string(n));
        ASSERT_EQ(Os().labelTexts, labels);
        ASSERT_EQ(Bar(kTickBar), ticks);
        EXPECT_EQ(Os().labelRepaints, static_cast<int>(labels.size())) << "every text change repainted";
        EXPECT_EQ(g_filesAttempted, n);
        EXPECT_EQ(g_tick, 10 * (n % 10));
    }
    EXPECT_EQ(Utf8(Os().labelTexts[10]), "コピー中 " + SourcePath(10)) << "file 10 ends copying";
    EXPECT_EQ(Os().labelTexts[11], "copy:" + SourcePath(11));
    EXPECT_EQ(Bar(kTickBar)[9], 90);
    EXPECT_EQ(Bar(kTickBar)[10], 0);
    EXPECT_TRUE(Bar(kOverallBar).empty()) << "no expected total";
}

TEST_F(ProgressWindowTest, LongSourcePathIsCutInTheLabelBuffer) {
    OpenWindow();
    const std::string longPath(3000, 'p');
    for (int n = 1; n <= 10; ++n) UpdateProgress(longPath.c_str());
    ASSERT_EQ(Os().labelTexts.size(), 11u);
    EXPECT_EQ(Os().labelTexts[0], "copy:" + std::string(1018, 'p'));
    const std::string copying = Cp932("コピー中 ");
    EXPECT_EQ(Os().labelTexts[10], copying + std::string(1023 - copying.size(), 'p'));
}

TEST_F(ProgressWindowTest, FailedFileIsCountedAsAttempted) {
    OpenWindow();
    g_expectedTotal = 2;
    WriteFile("upd/a.bin", "new");
    // No destination folder: the copy and the attribute read both fail.
    EXPECT_EQ(CopyOneFile("upd\\a.bin", "missing\\a.bin"), 0);
    EXPECT_EQ(g_filesAttempted, 1);
    EXPECT_EQ(g_filesCopied, 0);
    EXPECT_EQ(Bar(kOverallBar), (std::vector<int32_t>{50}));
    EXPECT_EQ(Os().labelTexts, (std::vector<std::string>{"copy:upd\\a.bin"}));
}

TEST_F(ProgressWindowTest, WindowThatFailedToCreateLeavesHandlesNoneAndCopyGoesOn) {
    Os().dialogCreationFails = true;
    EXPECT_EQ(platform::CreateModelessDialog(nullptr, 9, ProgressDialogProc), nullptr);
    EXPECT_EQ(g_statusLabel, nullptr);
    EXPECT_EQ(g_tickBar, nullptr);
    EXPECT_EQ(g_overallBar, nullptr);

    g_expectedTotal = 2;
    WriteFile("upd/a.bin", "A");
    WriteFile("upd/b.bin", "B");
    MakeFolder("game");
    EXPECT_EQ(CopyTree("upd", "game"), 1);
    EXPECT_EQ(g_filesCopied, 2);
    EXPECT_EQ(g_filesAttempted, 2);
    EXPECT_EQ(ReadFile("game/b.bin"), "B");
    EXPECT_TRUE(Os().labelTexts.empty());
    EXPECT_TRUE(Os().barPositions.empty());
}

}  // namespace
