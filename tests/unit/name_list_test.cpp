#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "namelist/name_list.h"
#include "tests/unit/support/test_support.h"

// The growth-failure test needs an allocation that fails: cap single allocations at 1 MiB (8192
// entries of 128 bytes) and let the allocator return null instead of aborting. Nothing else in
// this program allocates that much.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1"; }

namespace {

// The product opens name lists with fopen, which on Windows takes the backslash as a separator.
// On Linux a backslash is an ordinary byte of a file name, so these tests create the files under
// their literal names in the working folder. The init2 probe goes through the platform listing,
// which needs a real entry named "init2".
const char kPlainGame[] = "init\\game.xtx";
const char kComplementedGame[] = "init2\\game.fxf";

class NameListTest : public ProgramTest {};

std::vector<std::string> Entries(const CNameList& list) {
    std::vector<std::string> entries;
    for (int32_t i = 0; i < list.GetCount(); ++i) entries.emplace_back(list.GetItem(i));
    return entries;
}

std::string Complement(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
    return bytes;
}

std::string NumberedTokens(int from, int to, const char* separator) {
    std::string text;
    for (int i = from; i < to; ++i) text += "t" + std::to_string(i) + separator;
    return text;
}

// A FIFO that already has a writer, so that fopen does not block; ftell on it fails (ESPIPE).
class Fifo {
public:
    explicit Fifo(const std::string& path) {
        const std::size_t slash = path.find_last_of('/');
        if (slash != std::string::npos) MakeFolder(path.substr(0, slash));
        if (::mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo " << path << ": " << errno;
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
        if (fd_ < 0) ADD_FAILURE() << "open " << path << ": " << errno;
    }
    ~Fifo() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

private:
    int fd_ = -1;
};

struct TokenCase {
    const char* name;
    std::string file;
    std::vector<std::string> entries;
};

TEST_F(NameListTest, SplitsTokensOnSeparatorsAndKeepsEmptyEntriesFromCommas) {
    const std::string sjis = Cp932("ソ表,バージョン");  // trail bytes 0x5C among them
    const TokenCase cases[] = {
        {"empty file", "", {}},
        {"comma alone", ",", {}},
        {"line end alone", "\n", {}},
        {"CR LF alone", "\r\n", {}},
        {"only blanks, tabs and line ends", " \t\r\n \n", {}},
        {"blank, tab, comma, LF, CR separate", "a b\tc,d\ne\rf", {"a", "b", "c", "d", "e", "f"}},
        {"runs of blanks are one separator", "a  \t\t b", {"a", "b"}},
        {"CRLF key and value lines", "lowVersion,3\r\nhighVersion,1\r\n", {"lowVersion", "3", "highVersion", "1"}},
        {"two commas give an empty entry", "a,,b", {"a", "", "b"}},
        {"three commas give two", "a,,,b", {"a", "", "", "b"}},
        {"blank before comma", "key ,value", {"key", "", "value"}},
        {"tab before comma", "key\t,value", {"key", "", "value"}},
        {"comma starting a later line", "key\n,value", {"key", "", "value"}},
        {"comma starting a later CRLF line", "key\r\n,value", {"key", "", "value"}},
        {"comma then line end is one separator", "key,\nvalue", {"key", "value"}},
        {"comma then CRLF and blanks is one separator", "key,\r\n \tvalue", {"key", "value"}},
        {"leading comma adds nothing", ",a", {"a"}},
        {"trailing comma adds nothing", "a,", {"a"}},
        {"leading and trailing comma with line end", ",a,b,\r\n", {"a", "b"}},
        {"second leading comma is an empty entry", ",,a", {"", "a"}},
        {"blank then comma at the start is an empty entry", " ,a", {"", "a"}},
        {"two trailing commas give one empty entry", "a,,", {"a", ""}},
        {"no line end at the end of the file", "a,b", {"a", "b"}},
        {"Shift-JIS passes unchanged", sjis, {Cp932("ソ表"), Cp932("バージョン")}},
        // A zero byte is passed over: it splits a token and adds no entry of its own.
        {"zero byte inside a token", std::string("ab\0cd", 5), {"ab", "cd"}},
        {"zero byte at the end", std::string("a\0", 2), {"a"}},
        {"only zero bytes", std::string("\0\0\0", 3), {}},
        {"zero bytes between commas", std::string("a,\0\0,b", 6), {"a", "b"}},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        Os().boxes.clear();
        WriteFile("list.txt", c.file);
        CNameList list;
        EXPECT_EQ(list.LoadFile("list.txt", 0, 0), 1);
        EXPECT_EQ(Entries(list), c.entries);
        EXPECT_EQ(DescribeBoxes(Os().boxes), "");
    }
}

TEST_F(NameListTest, TokenOf127BytesIsStoredAnd128EndsTheLoadKeepingEarlierTokens) {
    const std::string t127(127, 'x');
    const std::string t128(128, 'y');
    const std::string tooLong = DescribeBox(Cp932("変数の長さに問題がありますにゃ"), "ERROR", 0);
    const struct {
        const char* name;
        std::string file;
        std::vector<std::string> entries;
        std::string boxes;
    } cases[] = {
        {"127 between others", "a," + t127 + ",b", {"a", t127, "b"}, ""},
        {"127 at the end of the file", "a," + t127, {"a", t127}, ""},
        {"128 between others", "a,b " + t128 + ",c,d", {"a", "b"}, tooLong},
        {"128 at the end of the file", "a," + t128, {"a"}, tooLong},
        {"128 first", t128 + ",a", {}, tooLong},
        {"much longer", "a\r\n" + std::string(5000, 'z') + "\r\nb", {"a"}, tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Os().boxes.clear();
        WriteFile("list.txt", c.file);
        CNameList list;
        EXPECT_EQ(list.LoadFile("list.txt", 0, 0), 1);
        EXPECT_EQ(Entries(list), c.entries);
        EXPECT_EQ(DescribeBoxes(Os().boxes), c.boxes);
    }
}

TEST_F(NameListTest, ComplementedFileLoadsLikeThePlainFile) {
    const std::string text = Cp932("lowVersion,3\r\nhighVersion ,ゲーム\r\n,,x\ty ") + std::string(127, 'q');
    WriteFile("plain.txt", text);
    WriteFile("complemented.txt", Complement(text));
    CNameList plain;
    CNameList complemented;
    ASSERT_EQ(plain.LoadFile("plain.txt", 0, 0), 1);
    ASSERT_EQ(complemented.LoadFile("complemented.txt", 1, 0), 1);
    EXPECT_EQ(plain.GetCount(), 10);
    EXPECT_EQ(Entries(complemented), Entries(plain));

    // 0xFF complements to a zero byte: passed over, no entry, and the load ends.
    WriteFile("ones.txt", "\xFF\xFF\xFF");
    CNameList ones;
    EXPECT_EQ(ones.LoadFile("ones.txt", 1, 0), 1);
    EXPECT_EQ(ones.GetCount(), 0);
    EXPECT_EQ(DescribeBoxes(Os().boxes), "");
}

TEST_F(NameListTest, GrowsAtThe1000thTokenAndEvery100thAfterKeepingEveryEntry) {
    const struct {
        int tokens;
        int32_t capacity;
    } cases[] = {{999, 1000}, {1000, 1100}, {1099, 1100}, {1100, 1200}, {1234, 1300}, {2000, 2100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tokens);
        WriteFile("list.txt", NumberedTokens(0, c.tokens, ",\r\n"));
        CNameList list;
        EXPECT_EQ(list.capacity, 1000);
        ASSERT_EQ(list.LoadFile("list.txt", 0, 0), 1);
        EXPECT_EQ(list.GetCount(), c.tokens);
        EXPECT_EQ(list.capacity, c.capacity);
        for (int i = 0; i < c.tokens; ++i) {
            ASSERT_STREQ(list.GetItem(i), ("t" + std::to_string(i)).c_str()) << "entry " << i;
        }
        EXPECT_EQ(list.GetItem(c.tokens), nullptr);
        EXPECT_EQ(list.Find(("t" + std::to_string(c.tokens - 1)).c_str(), 1, 0, 0), c.tokens - 1);
    }
}

TEST_F(NameListTest, SecondLoadAppendsAfterTheFirstAndGrowsAcrossLoads) {
    WriteFile("first.txt", "a,b");
    WriteFile("second.txt", "c\r\nd");
    CNameList list;
    ASSERT_EQ(list.LoadFile("first.txt", 0, 0), 1);
    ASSERT_EQ(list.LoadFile("second.txt", 0, 0), 1);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"a", "b", "c", "d"}));

    WriteFile("many.txt", NumberedTokens(0, 998, " "));
    WriteFile("more.txt", NumberedTokens(998, 1003, " "));
    CNameList grown;
    ASSERT_EQ(grown.LoadFile("many.txt", 0, 0), 1);
    EXPECT_EQ(grown.capacity, 1000);
    ASSERT_EQ(grown.LoadFile("more.txt", 0, 0), 1);
    EXPECT_EQ(grown.capacity, 1100);
    ASSERT_EQ(grown.GetCount(), 1003);
    for (int i = 0; i < 1003; ++i) ASSERT_STREQ(grown.GetItem(i), ("t" + std::to_string(i)).c_str()) << i;
}

TEST_F(NameListTest, LoadEndsKeepingItsTokensWhenStorageCannotGrow) {
    // With single allocations capped at 1 MiB, growth from 8100 to 8200 entries fails.
    void* probe = std::malloc(2 << 20);
    std::free(probe);
    if (probe != nullptr) GTEST_SKIP() << "this build does not cap allocations (no AddressSanitizer)";
    WriteFile("list.txt", NumberedTokens(0, 9000, ","));
    CNameList list;
    EXPECT_EQ(list.LoadFile("list.txt", 0, 0), 1);
    EXPECT_EQ(list.capacity, 8100);
    ASSERT_EQ(list.GetCount(), 8100);
    EXPECT_STREQ(list.GetItem(0), "t0");
    EXPECT_STREQ(list.GetItem(8099), "t8099");
    EXPECT_EQ(list.GetItem(8100), nullptr);
    EXPECT_EQ(list.Expand(100), 0);
    EXPECT_EQ(list.capacity, 8100);
    EXPECT_STREQ(list.GetItem(8099), "t8099");

    // A later load into the full list adds nothing and writes nothing past the storage.
    WriteFile("more.txt", "x,y");
    EXPECT_EQ(list.LoadFile("more.txt", 0, 0), 1);
    EXPECT_EQ(list.GetCount(), 8100);
    EXPECT_EQ(DescribeBoxes(Os().boxes), "");
}

TEST_F(NameListTest, ListWithoutStorageLoadsNothing) {
    WriteFile("list.txt", "a,b");
    CNameList list;
    list.Release();
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.LoadFile("list.txt", 0, 0), 1);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetItem(0), nullptr);
    EXPECT_EQ(list.Find("a", 1, 0, 0), -1);
    list.Release();  // a second release does nothing
}

TEST_F(NameListTest, FindVisitsEveryStrideThEntryFromStart) {
    // Entries: 0 key, 1 v0, 2 Key, 3 key, 4 (empty), 5 v2, 6 last, 7 0xC1.
    WriteFile("list.txt", "key,v0,Key,key,,v2,last,\xC1");
    CNameList list;
    ASSERT_EQ(list.LoadFile("list.txt", 0, 0), 1);
    ASSERT_EQ(list.GetCount(), 8);
    const struct {
        const char* key;
        int32_t stride;
        int ignoreCase;
        int32_t start;
        int32_t expected;
    } cases[] = {
        {"key", 2, 0, 0, 0},   {"Key", 2, 0, 0, 1},  {"KEY", 2, 0, 0, -1}, {"KEY", 2, 1, 0, 0},
        {"KEY", 2, 7, 0, 0},   {"key", 2, 0, 1, 1},  {"key", 1, 0, 1, 3},  {"key", 1, 1, 1, 2},
        {"v2", 2, 1, 0, -1},   {"v2", 2, 0, 1, 2},   {"last", 2, 0, 0, 3}, {"last", 3, 0, 0, 2},
        {"last", 4, 0, 0, -1}, {"last", 1, 0, 6, 6}, {"last", 1, 0, 7, -1}, {"last", 1, 0, 8, -1},
        {"last", 1, 0, 1000, -1}, {"", 1, 0, 0, -1}, {"", 1, 1, 0, -1},  {"ke", 1, 1, 0, -1},
        {"keys", 1, 1, 0, -1}, {"\xC1", 1, 1, 0, 7}, {"\xE1", 1, 1, 0, -1},
        // Outside the callers' contract: nothing found, nothing read outside the list.
        {"key", 1, 0, -1, -1}, {"key", 0, 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key \"" << c.key << "\" stride " << c.stride << " ignoreCase "
                                          << c.ignoreCase << " start " << c.start);
        EXPECT_EQ(list.Find(c.key, c.stride, c.ignoreCase, c.start), c.expected);
    }

    const struct {
        int32_t index;
        const char* expected;
    } items[] = {{INT32_MIN, nullptr}, {-1, nullptr}, {0, "key"}, {4, ""}, {7, "\xC1"}, {8, nullptr},
                 {999, nullptr},       {1000, nullptr}, {INT32_MAX, nullptr}};
    for (const auto& item : items) {
        SCOPED_TRACE(item.index);
        const char* got = list.GetItem(item.index);
        if (item.expected == nullptr) {
            EXPECT_EQ(got, nullptr);
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_STREQ(got, item.expected);
        }
    }
}

TEST_F(NameListTest, MissingFileShowsItsPathUnlessQuietAndLeavesTheListAlone) {
    WriteFile("list.txt", "a,b");
    CNameList list;
    ASSERT_EQ(list.LoadFile("list.txt", 0, 0), 1);

    EXPECT_EQ(list.LoadFile("missing\\list.xtx", 0, 1), 0);
    EXPECT_EQ(DescribeBoxes(Os().boxes), "");
    EXPECT_EQ(list.LoadFile("missing\\list.xtx", 1, 0), 0);
    EXPECT_EQ(DescribeBoxes(Os().boxes), DescribeBox("missing\\list.xtx", "file not found", 0));
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"a", "b"}));
}

TEST_F(NameListTest, SizeThatCannotBeHadShowsTheErrorCutTo259Bytes) {
    // Each folder name stays below the 255-byte limit of a name; the path is longer than 260.
    const std::string longFolder = std::string(200, 'd') + "/" + std::string(200, 'e');
    const struct {
        const char* name;
        std::string path;
    } cases[] = {{"short path", "pipe"}, {"long path", longFolder + "/pipe"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Os().boxes.clear();
        Fifo fifo(c.path);
        CNameList list;
        EXPECT_EQ(list.LoadFile(c.path.c_str(), 0, 0), 0);
        EXPECT_EQ(list.GetCount(), 0);
        const std::string full = Cp932("namelistエラー error=") + std::to_string(ESPIPE) + ":" + c.path + " size=-1";
        ASSERT_EQ(Os().boxes.size(), 1u);
        EXPECT_EQ(Os().boxes[0].text, full.substr(0, 259));
        EXPECT_EQ(Os().boxes[0].caption, "ftell");
        EXPECT_EQ(Os().boxes[0].style, 0u);
    }
}

// ---- LoadByName and the init2 probe ----

const char kPlainText[] = "from,plain";
const char kComplementedText[] = "from,complemented";

TEST_F(NameListTest, LoadByNameChoosesTheFormByTheInit2Probe) {
    const struct {
        const char* name;
        const char* init2;  // "folder", "file" or nullptr
        bool complementedFile;
        const char* loaded;
        Init2Probe probe;
    } cases[] = {
        {"no init2: plain, even with a complemented file", nullptr, true, "plain", Init2Probe::Absent},
        {"init2 folder with the file: complemented", "folder", true, "complemented", Init2Probe::Present},
        {"init2 folder without the file: quiet fallback", "folder", false, "plain", Init2Probe::Present},
        {"init2 a plain file: quiet fallback", "file", false, "plain", Init2Probe::Present},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ResetNameListProbe();
        Os().boxes.clear();
        WriteFile(kPlainGame, kPlainText);
        if (c.complementedFile) WriteFile(kComplementedGame, Complement(kComplementedText));
        if (c.init2 != nullptr && std::string(c.init2) == "folder") MakeFolder("init2");
        if (c.init2 != nullptr && std::string(c.init2) == "file") WriteFile("init2", "");
        CNameList list;
        EXPECT_EQ(list.LoadByName("game"), 1);
        EXPECT_STREQ(list.GetItem(1), c.loaded);
        EXPECT_EQ(list.GetCount(), 2);
        EXPECT_EQ(g_init2Probe, c.probe);
        EXPECT_EQ(DescribeBoxes(Os().boxes), "");
        EXPECT_EQ(Os().openListings, 0) << "the probe's search was not closed";
    }
}

TEST_F(NameListTest, Init2IsProbedOncePerProcess) {
    WriteFile(kPlainGame, kPlainText);
    CNameList first;
    ASSERT_EQ(first.LoadByName("game"), 1);
    EXPECT_EQ(g_init2Probe, Init2Probe::Absent);

    MakeFolder("init2");
    WriteFile(kComplementedGame, Complement(kComplementedText));
    CNameList second;
    ASSERT_EQ(second.LoadByName("game"), 1);
    EXPECT_STREQ(second.GetItem(1), "plain");
    EXPECT_EQ(g_init2Probe, Init2Probe::Absent);
}

TEST_F(NameListTest, NeitherFormPresentShowsOneBoxWithThePlainPath) {
    for (const bool init2 : {false, true}) {
        SCOPED_TRACE(init2 ? "init2 folder present" : "no init2");
        TempFolder folder;
        ResetNameListProbe();
        Os().boxes.clear();
        if (init2) MakeFolder("init2");
        CNameList list;
        EXPECT_EQ(list.LoadByName("game"), 0);
        EXPECT_EQ(list.GetCount(), 0);
        EXPECT_EQ(DescribeBoxes(Os().boxes), DescribeBox("init\\game.xtx", "file not found", 0));
    }
}

TEST_F(NameListTest, ComplementedFormThatFailsOtherwiseShowsItsErrorThenFallsBack) {
    MakeFolder("init2");
    Fifo fifo(kComplementedGame);
    WriteFile(kPlainGame, kPlainText);
    CNameList list;
    EXPECT_EQ(list.LoadByName("game"), 1);
    EXPECT_STREQ(list.GetItem(1), "plain");
    ASSERT_EQ(Os().boxes.size(), 1u);
    EXPECT_EQ(Os().boxes[0].caption, "ftell");
}

}  // namespace
