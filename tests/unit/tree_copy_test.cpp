#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "settings/settings.h"
#include "update/progress_window.h"
#include "update/tree_copy.h"
#include "tests/unit/support/test_support.h"

namespace {

constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconWarning = 0x30;
constexpr int kYes = 6;
constexpr int kNo = 7;

class TreeCopyTest : public ProgramTest {
protected:
    // The "copy" and "set attributes" events, in order.
    std::vector<std::string> FileEvents() {
        std::vector<std::string> result;
        for (const std::string& event : Os().events) {
            if (event.rfind("copy ", 0) == 0 || event.rfind("set attributes ", 0) == 0) result.push_back(event);
        }
        return result;
    }
    std::vector<std::string> Captions() {
        std::vector<std::string> result;
        for (const testdouble::MessageBoxRecord& box : Os().boxes) result.push_back(Utf8(box.caption));
        return result;
    }
};

std::string Copy(const std::string& source, const std::string& destination) {
    return "copy " + source + " -> " + destination;
}

TEST_F(TreeCopyTest, WalksDepthFirstInListingOrderAndSkipsDotNames) {
    // Byte order of names: ".git", ".hidden", "A_sub", "a.txt", "b", "z.txt"; in "b": ".cfg",
    // "c.txt", "deep".
    WriteFile("upd/.git/config", "x");
    WriteFile("upd/.hidden", "x");
    WriteFile("upd/A_sub/x.bin", "X");
    WriteFile("upd/a.txt", "new a");
    WriteFile("upd/b/.cfg", "x");
    WriteFile("upd/b/c.txt", "C");
    WriteFile("upd/b/deep/d.txt", "D");
    WriteFile("upd/z.txt", "Z");
    MakeFolder("game/A_sub");
    MakeFolder("game/b/deep");
    MakeFolder("game/.git");
    WriteFile("game/a.txt", "old a");

    EXPECT_EQ(CopyTree("upd", "game"), 1);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{
                                Copy("upd\\A_sub\\x.bin", "game\\A_sub\\x.bin"),
                                Copy("upd\\a.txt", "game\\a.txt"),
                                Copy("upd\\b\\c.txt", "game\\b\\c.txt"),
                                Copy("upd\\b\\deep\\d.txt", "game\\b\\deep\\d.txt"),
                                Copy("upd\\z.txt", "game\\z.txt"),
                            }));
    EXPECT_EQ(g_filesCopied, 5);
    EXPECT_EQ(g_filesAttempted, 5) << "dot-named files are not shown either";
    EXPECT_EQ(ReadFile("game/a.txt"), "new a");
    EXPECT_EQ(ReadFile("game/b/deep/d.txt"), "D");
    EXPECT_FALSE(FileExists("game/.hidden"));
    EXPECT_FALSE(FileExists("game/.git/config"));
    EXPECT_TRUE(Os().boxes.empty());
    EXPECT_EQ(Os().maxOpenListings, 3) << "one listing per level: upd, b, deep";
    EXPECT_EQ(Os().openListings, 0);
}

TEST_F(TreeCopyTest, NothingToListIsSuccessWithNothingCopied) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        {"missing source folder", {}, {}},
        {"empty source folder", {}, {"src"}},
        {"only dot-named entries", {"src/.a", "src/.dir/inner.txt"}, {}},
        {"source is a file", {"src"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshProcess();
        ASSERT_EQ(std::system("rm -rf src game"), 0);
        MakeFolder("game");
        for (const std::string& file : c.files) WriteFile(file, "x");
        for (const std::string& folder : c.folders) MakeFolder(folder);

        EXPECT_EQ(CopyTree("src", "game"), 1);
        EXPECT_EQ(g_filesCopied, 0);
        EXPECT_EQ(g_filesAttempted, 0) << "no progress update";
        EXPECT_TRUE(FileEvents().empty());
        EXPECT_TRUE(Os().boxes.empty());
        EXPECT_EQ(Os().openListings, 0);
    }
}

TEST_F(TreeCopyTest, FailureInThirdFileOfSubfolderStopsEverythingAndKeepsEarlierFiles) {
    WriteFile("upd/a.txt", "A");
    WriteFile("upd/m/1", "1");
    WriteFile("upd/m/2", "2");
    WriteFile("upd/m/3", "3");
    WriteFile("upd/m/4", "4");
    WriteFile("upd/m/n/5", "5");
    WriteFile("upd/z.txt", "Z");
    MakeFolder("game/m/n");
    WriteFile("game/m/3", "old 3");
    Os().heldDestinations["game/m/3"] = 2;  // both copies fail

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_EQ(g_filesCopied, 3) << "a.txt, m/1 and m/2";
    EXPECT_EQ(g_filesAttempted, 4);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{
                                Copy("upd\\a.txt", "game\\a.txt"),
                                Copy("upd\\m\\1", "game\\m\\1"),
                                Copy("upd\\m\\2", "game\\m\\2"),
                                Copy("upd\\m\\3", "game\\m\\3"),
                                // No protected bit: written back unchanged, tried once more.
                                "set attributes game\\m\\3 32",
                                Copy("upd\\m\\3", "game\\m\\3"),
                            }));
    EXPECT_TRUE(Os().boxes.empty()) << "a failed second copy shows nothing";
    EXPECT_EQ(ReadFile("game/m/2"), "2");
    EXPECT_EQ(ReadFile("game/m/3"), "old 3");
    EXPECT_FALSE(FileExists("game/z.txt"));
    EXPECT_EQ(Os().maxOpenListings, 2);
    EXPECT_EQ(Os().openListings, 0);
}

TEST_F(TreeCopyTest, NameTheCodePageCannotHoldFailsBeforeAnythingIsCopiedUnderIt) {
    // The listing gives "cafe.txt" for both "café.txt" and "cafe.txt": copying by that name would
    // copy cafe.txt twice and leave café.txt out while reporting success.
    WriteFile("upd/a.txt", "A");
    WriteFile("upd/b", "lost");
    WriteFile("upd/c.txt", "C");
    MakeFolder("game");
    Os().lostNames.insert("b");

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{Copy("upd\\a.txt", "game\\a.txt")}));
    EXPECT_EQ(g_filesCopied, 1);
    EXPECT_EQ(g_filesAttempted, 1) << "the lost name is not even shown as being copied";
    EXPECT_FALSE(FileExists("game/b"));
    EXPECT_EQ(Os().openListings, 0);

    // A dot name stays skipped whether or not its name survived.
    FreshProcess();
    Os().lostNames.insert(".b");
    WriteFile("upd2/.b", "x");
    MakeFolder("game2");
    EXPECT_EQ(CopyTree("upd2", "game2"), 1);
}

TEST_F(TreeCopyTest, FailureDeepDownClosesEveryListing) {
    WriteFile("upd/a/b/c/f.txt", "F");
    WriteFile("upd/a/b/g.txt", "G");
    MakeFolder("game/a/b");  // no "c": its file cannot be copied, no folder is created

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_FALSE(FileExists("game/a/b/c"));
    EXPECT_EQ(g_filesCopied, 0);
    // The destination's attributes cannot be read: nothing is written back, no second copy.
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{Copy("upd\\a\\b\\c\\f.txt", "game\\a\\b\\c\\f.txt")}));
    EXPECT_TRUE(Os().boxes.empty());
    EXPECT_EQ(Os().maxOpenListings, 4);
    EXPECT_EQ(Os().openListings, 0);
}

TEST_F(TreeCopyTest, UnreadableAttributesFailTheFileWithNothingWrittenBack) {
    ResolveSettingSlots();
    g_settingPresent[g_slotReadOnly] = 1;
    WriteFile("upd/f.bin", "new");
    WriteFile("game/f.bin", "old");
    Os().attributes["game/f.bin"] = 0x21;
    Os().attributeReadFails = true;

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{Copy("upd\\f.bin", "game\\f.bin")}));
    EXPECT_TRUE(Os().boxes.empty());
    EXPECT_EQ(Os().attributes["game/f.bin"], 0x21u);
    EXPECT_EQ(ReadFile("game/f.bin"), "old");
}

std::string PromptText(uint32_t bit, const std::string& destination) {
    switch (bit) {
        case 1:
            return Cp932("コピー先のファイルが読み取り専用になっています\n") + destination + Cp932("\n\n上書きしますか?");
        case 2:
            return Cp932("コピー先のファイルが隠しファイルになっています\n") + destination + Cp932("\n\n上書きしますか?");
        default:
            return Cp932("コピー先のファイルはシステムファイルです\n") + destination + Cp932("\n\n上書きしますか(非推奨)?");
    }
}

std::string PromptCaption(uint32_t bit) {
    return bit == 1 ? "読み取り専用です" : bit == 2 ? "隠しファイルです" : "システムファイルです";
}

TEST_F(TreeCopyTest, ProtectedDestinationsAreAskedAboutOrRefused) {
    struct Case {
        const char* name;
        const char* info;  // the "info.txt" that sets (or leaves out) "readonly"
        uint32_t bits;
        std::vector<int> answers;
        std::vector<uint32_t> asked;  // the bits prompted for, in order
        int result;
        int64_t written;  // the attribute word written back, -1 for none
    };
    const Case cases[] = {
        {"read-only, readonly absent", "", 0x21, {}, {}, 0, -1},
        {"hidden, readonly absent", "", 0x22, {}, {}, 0, -1},
        {"system, readonly absent", "", 0x24, {}, {}, 0, -1},
        {"all three, readonly absent", "", 0x27, {}, {}, 0, -1},
        {"hiddenfile and systemfile change nothing", "hiddenfile 1\nsystemfile 1\n", 0x26, {}, {}, 0, -1},
        {"read-only, Yes", "readonly 1\n", 0x21, {kYes}, {1}, 1, 0x20},
        {"readonly 0 still asks", "readonly 0\n", 0x21, {kYes}, {1}, 1, 0x20},
        {"readonly off still asks", "readonly off\n", 0x21, {kYes}, {1}, 1, 0x20},
        {"hidden, Yes", "readonly 1\n", 0x22, {kYes}, {2}, 1, 0x20},
        {"system, Yes", "readonly 1\n", 0x24, {kYes}, {4}, 1, 0x20},
        {"read-only and hidden, Yes to both", "readonly 1\n", 0x23, {kYes, kYes}, {1, 2}, 1, 0x20},
        {"hidden and system, Yes to both", "readonly 1\n", 0x06, {kYes, kYes}, {2, 4}, 1, 0x00},
        {"all three and other bits kept", "readonly 1\n", 0x2127, {kYes, kYes, kYes}, {1, 2, 4}, 1, 0x2120},
        {"read-only, No", "readonly 1\n", 0x21, {kNo}, {1}, 0, -1},
        {"No to the first of two", "readonly 1\n", 0x23, {kNo}, {1}, 0, -1},
        {"Yes, then No", "readonly 1\n", 0x27, {kYes, kNo}, {1, 2}, 0, -1},
        {"Yes, Yes, then No", "readonly 1\n", 0x27, {kYes, kYes, kNo}, {1, 2, 4}, 0, -1},
        {"box not shown", "readonly 1\n", 0x24, {0}, {4}, 0, -1},
        {"OK is not Yes", "readonly 1\n", 0x21, {1}, {1}, 0, -1},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        FreshProcess();
        WriteFile("info.txt", c.info);
        ResolveSettingSlots();
        ASSERT_EQ(ReadInfoFile(), 1);
        const std::string source = "upd" + std::to_string(i);
        const std::string game = "game" + std::to_string(i);
        WriteFile(source + "/f.bin", "new");
        WriteFile(game + "/f.bin", "old");
        Os().attributes[game + "/f.bin"] = c.bits;
        Os().answers.assign(c.answers.begin(), c.answers.end());

        EXPECT_EQ(CopyTree(source.c_str(), game.c_str()), c.result);
        EXPECT_EQ(g_filesCopied, c.result);

        const std::string destination = game + "\\f.bin";
        ASSERT_EQ(Os().boxes.size(), c.asked.size());
        for (std::size_t k = 0; k < c.asked.size(); ++k) {
            SCOPED_TRACE("prompt " + std::to_string(k));
            EXPECT_EQ(Utf8(Os().boxes[k].text), Utf8(PromptText(c.asked[k], destination)));
            EXPECT_EQ(Os().boxes[k].text, PromptText(c.asked[k], destination));
            EXPECT_EQ(Utf8(Os().boxes[k].caption), PromptCaption(c.asked[k]));
            EXPECT_EQ(Os().boxes[k].style, kYesNo);
        }

        std::vector<std::string> expected{Copy(source + "\\f.bin", destination)};
        if (c.written >= 0) {
            expected.push_back("set attributes " + destination + " " + std::to_string(c.written));
            expected.push_back(Copy(source + "\\f.bin", destination));
        }
        EXPECT_EQ(FileEvents(), expected);
        EXPECT_EQ(ReadFile(game + "/f.bin"), c.result == 1 ? "new" : "old");
        if (c.result == 0) {
            EXPECT_EQ(Os().attributes[game + "/f.bin"], c.bits) << "attributes untouched";
        }
        EXPECT_EQ(Os().openListings, 0);
    }
}

TEST_F(TreeCopyTest, AttributesThatCannotBeWrittenEndTheFileWithAWarning) {
    ResolveSettingSlots();
    g_settingPresent[g_slotReadOnly] = 1;
    WriteFile("upd/f.bin", "new");
    WriteFile("game/f.bin", "old");
    Os().attributes["game/f.bin"] = 0x21;
    Os().attributeWriteFails = true;
    Os().answers = {kYes};

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    ASSERT_EQ(Captions(), (std::vector<std::string>{"読み取り専用です", "エラー"}));
    EXPECT_EQ(Utf8(Os().boxes[1].text), "ファイルの属性を変更できませんでした");
    EXPECT_EQ(Os().boxes[1].caption, Cp932("エラー"));
    EXPECT_EQ(Os().boxes[1].style, kIconWarning);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{Copy("upd\\f.bin", "game\\f.bin"),
                                                      "set attributes game\\f.bin 32"}))
        << "no second copy";
    EXPECT_EQ(g_filesCopied, 0);
}

TEST_F(TreeCopyTest, UnreplaceableDestinationWithoutProtectedBitsIsTriedOnceMore) {
    struct Case {
        const char* name;
        uint32_t bits;  // of the destination
        int heldCopies;
        int result;
    };
    const Case cases[] = {
        {"second copy succeeds", 0x20, 1, 1},
        {"other bits written back as read", 0x2100, 1, 1},
        {"second copy fails too", 0x20, 2, 0},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        FreshProcess();
        const std::string source = "upd" + std::to_string(i);
        const std::string game = "game" + std::to_string(i);
        WriteFile(source + "/f.bin", "new");
        WriteFile(game + "/f.bin", "old");
        Os().attributes[game + "/f.bin"] = c.bits;
        Os().heldDestinations[game + "/f.bin"] = c.heldCopies;

        EXPECT_EQ(CopyTree(source.c_str(), game.c_str()), c.result);
        const std::string destination = game + "\\f.bin";
        EXPECT_EQ(FileEvents(), (std::vector<std::string>{
                                    Copy(source + "\\f.bin", destination),
                                    "set attributes " + destination + " " + std::to_string(c.bits),
                                    Copy(source + "\\f.bin", destination),
                                }));
        EXPECT_TRUE(Os().boxes.empty());
        EXPECT_EQ(g_filesCopied, c.result);
        EXPECT_EQ(ReadFile(game + "/f.bin"), c.result == 1 ? "new" : "old");
    }
}

TEST_F(TreeCopyTest, SecondCopyFailingAfterYesKeepsTheClearedBitsCleared) {
    ResolveSettingSlots();
    g_settingPresent[g_slotReadOnly] = 1;
    WriteFile("upd/f.bin", "new");
    WriteFile("game/f.bin", "old");
    Os().attributes["game/f.bin"] = 0x23;
    Os().heldDestinations["game/f.bin"] = 2;
    Os().answers = {kYes, kYes};

    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"読み取り専用です", "隠しファイルです"}))
        << "no message after the failed second copy";
    EXPECT_EQ(Os().attributes["game/f.bin"], 0x20u);
    EXPECT_EQ(ReadFile("game/f.bin"), "old");
    EXPECT_EQ(g_filesCopied, 0);
}

// Relative path of exactly length bytes made of folders under root (each name at most 255).
std::string PathOfLength(const std::string& root, std::size_t length) {
    std::string path = root;
    while (path.size() < length) {
        const std::size_t left = length - path.size() - 1;
        // Leave no remainder too short to be a name of its own.
        std::size_t name = left > 255 ? (left - 255 >= 2 ? 200 : 150) : left;
        path += "/" + std::string(name, static_cast<char>('a' + path.size() % 26));
    }
    return path;
}

std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

TEST_F(TreeCopyTest, SourceFolderOf257BytesStillLists) {
    const std::string folder = PathOfLength("s", 257);
    ASSERT_EQ(folder.size(), 257u);
    WriteFile(folder + "/f", "F");
    MakeFolder("d");

    EXPECT_EQ(CopyTree(Backslashed(folder).c_str(), "d"), 1);
    EXPECT_EQ(g_filesCopied, 1);
    EXPECT_EQ(ReadFile("d/f"), "F");
}

TEST_F(TreeCopyTest, FolderWhosePatternWouldNotFitFailsTheCopy) {
    // As the source itself: 258 bytes plus "\*" and the terminator is 261.
    const std::string top = PathOfLength("s", 258);
    ASSERT_EQ(top.size(), 258u);
    WriteFile(top + "/f", "F");
    MakeFolder("d");
    EXPECT_EQ(CopyTree(Backslashed(top).c_str(), "d"), 0);
    EXPECT_EQ(Os().maxOpenListings, 0) << "never listed under a cut pattern";
    EXPECT_FALSE(FileExists("d/f"));

    // As a subfolder met in the walk: "upd\" and a 254-byte name is 258 bytes.
    FreshProcess();
    const std::string longName(254, 'l');
    WriteFile("upd/a.txt", "A");
    WriteFile("upd/" + longName + "/inner.txt", "I");
    WriteFile("upd/z.txt", "Z");
    MakeFolder("game/" + longName);
    EXPECT_EQ(CopyTree("upd", "game"), 0);
    EXPECT_EQ(g_filesCopied, 1);
    EXPECT_EQ(FileEvents(), (std::vector<std::string>{Copy("upd\\a.txt", "game\\a.txt")}))
        << "nothing inside and nothing after the long folder";
    EXPECT_EQ(Os().openListings, 0);
}

TEST_F(TreeCopyTest, JoinedPathThatWouldBeCutFailsRatherThanNameAnotherFile) {
    // destination + "\ab" is 1024 bytes; cut at 1023 it would name "a" beside it.
    const std::string destination = PathOfLength("d", 1021);
    ASSERT_EQ(destination.size(), 1021u);
    WriteFile(destination + "/a", "keep");
    WriteFile("upd/ab", "new");

    EXPECT_EQ(CopyTree("upd", Backslashed(destination).c_str()), 0);
    EXPECT_EQ(ReadFile(destination + "/a"), "keep");
    EXPECT_TRUE(FileEvents().empty());
    EXPECT_EQ(Os().openListings, 0);
}

}  // namespace
