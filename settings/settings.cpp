#include "settings/settings.h"

#include <cstdio>
#include <cstring>

const char kSettingKeyNames[kSettingSlotCount][kSettingFieldSize] = {
    "dummy",       "reg",        "mutex",        "dir",
    "gamename",    "result",     "readonly",     "companyName",
    "versionCheck", "lowVersion", "middleVersion", "highVersion",
    "copyNumber",  "systemfile", "hiddenfile",   "currentUser",
};

char g_settingValues[kSettingSlotCount][kSettingFieldSize];
int32_t g_settingPresent[kSettingSlotCount];

int g_slotReg;
int g_slotMutex;
int g_slotDir;
int g_slotGameName;
int g_slotResult;
int g_slotCompanyName;
int g_slotReadOnly;
int g_slotVersionCheck;
int g_slotLowVersion;
int g_slotHighVersion;
int g_slotCopyNumber;
int g_slotCurrentUser;

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

int32_t ReadNumber(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Accumulate the magnitude in 64 bits and stop growing once past the range.
    const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int FindSettingSlot(const char* name) {
    for (int slot = 1; slot < kSettingSlotCount; ++slot) {
        if (EqualsIgnoringAsciiCase(name, kSettingKeyNames[slot])) return slot;
    }
    return 0;
}

void ResolveSettingSlots() {
    g_slotReg = FindSettingSlot("reg");
    g_slotMutex = FindSettingSlot("mutex");
    g_slotDir = FindSettingSlot("dir");
    g_slotGameName = FindSettingSlot("gamename");
    g_slotResult = FindSettingSlot("result");
    g_slotCompanyName = FindSettingSlot("companyName");
    g_slotReadOnly = FindSettingSlot("readonly");
    g_slotVersionCheck = FindSettingSlot("versionCheck");
    g_slotLowVersion = FindSettingSlot("lowVersion");
    g_slotHighVersion = FindSettingSlot("highVersion");
    g_slotCopyNumber = FindSettingSlot("copyNumber");
    g_slotCurrentUser = FindSettingSlot("currentUser");
}

void ResetSettings() {
    std::memset(g_settingValues, 0, sizeof g_settingValues);
    std::memset(g_settingPresent, 0, sizeof g_settingPresent);
    g_slotReg = g_slotMutex = g_slotDir = g_slotGameName = g_slotResult = 0;
    g_slotCompanyName = g_slotReadOnly = g_slotVersionCheck = g_slotLowVersion = 0;
    g_slotHighVersion = g_slotCopyNumber = g_slotCurrentUser = 0;
}

namespace {

// The file's bytes as a text-mode stream gives them, read in raw mode so that every build reads
// the same file the same way: a carriage return right before a line feed is dropped, and byte
// 0x1A ends the file.
class TextModeReader {
public:
    explicit TextModeReader(std::FILE* file) : file_(file) {}

    // The next byte, or -1 at the end.
    int Next() {
        const int c = NextRaw();
        if (c != '\r') return c;
        const int following = NextRaw();
        if (following == '\n') return '\n';
        pending_ = following;
        return c;
    }

private:
    static constexpr int kNone = -2;

    int NextRaw() {
        if (pending_ != kNone) {
            const int c = pending_;
            pending_ = kNone;
            return c;
        }
        if (ended_) return -1;
        if (position_ == length_) {
            position_ = 0;
            length_ = std::fread(buffer_, 1, sizeof buffer_, file_);
            if (length_ == 0) {
                ended_ = true;
                return -1;
            }
        }
        const unsigned char c = buffer_[position_++];
        if (c == 0x1A) {
            ended_ = true;
            return -1;
        }
        return c;
    }

    std::FILE* file_;
    unsigned char buffer_[16 * 1024];
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    int pending_ = kNone;
    bool ended_ = false;
};

bool IsSettingWhitespace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Reads one token into token (kMaxTokenLength + 1 bytes, zero-terminated); false at the end of
// the file. The whitespace byte that ends a token is consumed with it, which changes nothing:
// every read starts by skipping whitespace. A token longer than kMaxTokenLength is not taken:
// its first kMaxTokenLength + 1 bytes are consumed and an empty token stands in their place.
bool ReadToken(TextModeReader& reader, char* token) {
    int c;
    do {
        c = reader.Next();
    } while (c >= 0 && IsSettingWhitespace(c));
    if (c < 0) return false;
    std::size_t length = 0;
    for (;;) {
        if (length == kMaxTokenLength) {
            token[0] = '\0';
            return true;
        }
        token[length++] = static_cast<char>(c);
        c = reader.Next();
        if (c < 0 || IsSettingWhitespace(c)) break;
    }
    token[length] = '\0';
    return true;
}

}  // namespace

int ReadInfoFile() {
    std::FILE* file = std::fopen("info.txt", "rb");
    if (file == nullptr) return 0;
    for (int slot = 0; slot < kSettingSlotCount; ++slot) {
        std::memset(g_settingValues[slot], 0, kSettingFieldSize);
        g_settingPresent[slot] = 0;
    }
    TextModeReader reader(file);
    char key[kMaxTokenLength + 1];
    char value[kMaxTokenLength + 1];
    while (ReadToken(reader, key)) {
        if (key[0] == '/' && key[1] == '/') continue;  // only this one token is a comment
        if (!ReadToken(reader, value)) break;         // a key without a value is dropped
        int slot = -1;
        for (int i = 0; i < kSettingSlotCount; ++i) {
            if (EqualsIgnoringAsciiCase(key, kSettingKeyNames[i])) {
                slot = i;
                break;
            }
        }
        if (slot < 0) continue;
        std::size_t length = std::strlen(value);
        if (length > kMaxSettingValueLength) length = kMaxSettingValueLength;
        std::memcpy(g_settingValues[slot], value, length);
        g_settingValues[slot][length] = '\0';
        g_settingValues[slot][length + 1] = '\0';
        g_settingPresent[slot] = 1;
    }
    std::fclose(file);
    return 1;
}
