#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/format.h"

namespace {

TEST(FormatText, FillsTextAndNumbers) {
    char out[64];
    EXPECT_EQ(FormatText(out, sizeof out, "%s\\%s", "C:\\Game", "data.bin"), 16u);
    EXPECT_STREQ(out, "C:\\Game\\data.bin");
    FormatText(out, sizeof out, "%d/%d/%d %d%%", 0, -7, INT32_MIN, INT32_MAX);
    EXPECT_STREQ(out, "0/-7/-2147483648 2147483647%");
}

TEST(FormatText, CutsAtSizeMinusOneAndAlwaysTerminates) {
    struct Case {
        std::size_t size;
        const char* expected;
    };
    const Case cases[] = {{1, ""}, {2, "a"}, {5, "abcd"}, {6, "abcd1"}, {7, "abcd12"}, {8, "abcd12"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char out[16];
        std::memset(out, 'X', sizeof out);
        const std::size_t written = FormatText(out, c.size, "%s%d", "abcd", 12);
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(written, std::strlen(c.expected));
        EXPECT_EQ(out[c.size], 'X') << "a byte past the buffer was written";
    }
}

TEST(FormatText, LongArgumentIntoMessageBufferIsCutAt1023) {
    const std::string longPath(5000, 'p');
    char out[1024 + 1];
    out[1024] = 'X';
    EXPECT_EQ(FormatText(out, 1024, "copy:%s", longPath.c_str()), 1023u);
    EXPECT_EQ(std::string(out), "copy:" + std::string(1018, 'p'));
    EXPECT_EQ(out[1024], 'X');
}

TEST(FormatText, MissingOrMismatchedArgumentsAreEmptyOrZero) {
    char out[64];
    FormatText(out, sizeof out, "[%s][%d][%s]", 5, "x");
    EXPECT_STREQ(out, "[][0][]");
    FormatText(out, sizeof out, "100%");
    EXPECT_STREQ(out, "100%");
    FormatText(out, sizeof out, "%x %s", "a");
    EXPECT_STREQ(out, "%x a");
    const char* none = nullptr;
    FormatText(out, sizeof out, "<%s>", none);
    EXPECT_STREQ(out, "<>");
}

}  // namespace
