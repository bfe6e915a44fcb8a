#include "settings/settings.h"

#include "settings/info_tokens.h"

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

int FindKeySlot(const char* key) {
    for (int slot = 0; slot < kSettingSlotCount; ++slot) {
        if (EqualsIgnoringAsciiCase(key, kSettingKeyNames[slot])) return slot;
    }
    return -1;
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

int ReadInfoFile() {
    // Opened in raw mode: the reader applies the text-mode rules itself, the same in every build.
    std::FILE* file = std::fopen("info.txt", "rb");
    if (file == nullptr) return 0;
    ReadInfoFrom(file);
    std::fclose(file);
    return 1;
}

void ReadInfoFrom(std::FILE* file) {
    for (int slot = 0; slot < kSettingSlotCount; ++slot) {
        std::memset(g_settingValues[slot], 0, kSettingFieldSize);
        g_settingPresent[slot] = 0;
    }
    InfoTokenReader reader(file);
    InfoToken key;
    InfoToken value;
    while (reader.Read(&key)) {
        if (IsCommentToken(key)) continue;  // only this one token is a comment
        if (!reader.Read(&value)) break;    // a key without a value is dropped
        const int slot = FindKeySlot(key.text);
        if (slot < 0) continue;
        std::size_t length = std::strlen(value.text);
        if (length > kMaxSettingValueLength) length = kMaxSettingValueLength;
        std::memcpy(g_settingValues[slot], value.text, length);
        g_settingValues[slot][length] = '\0';
        g_settingValues[slot][length + 1] = '\0';
        g_settingPresent[slot] = 1;
    }
}
