// info.txt reader: any bytes give a table whose values are at most 254 bytes, each followed by
// two zero bytes, with every absent slot empty.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (size == 0) file = std::fopen("/dev/null", "rb");
    if (file == nullptr) return 0;
    ResetSettings();
    ResolveSettingSlots();
    ReadInfoFrom(file);
    std::fclose(file);
    for (int slot = 0; slot < kSettingSlotCount; ++slot) {
        const char* value = g_settingValues[slot];
        const std::size_t length = strnlen(value, kSettingFieldSize);
        if (length > kMaxSettingValueLength || value[length + 1] != '\0') std::abort();
        if (g_settingPresent[slot] != 0 && g_settingPresent[slot] != 1) std::abort();
        if (g_settingPresent[slot] == 0 && length != 0) std::abort();
        // A value never holds whitespace: it is one token.
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(value[i]);
            if (c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x1A) std::abort();
        }
    }
    return 0;
}
