#include "namelist/name_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/install_directory.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "resources/messages.h"
#include "settings/settings.h"

Init2Probe g_init2Probe = Init2Probe::NotProbed;

namespace {

constexpr std::size_t kScratchSlack = 1042;  // room for the 64-byte alignment and two zero bytes
constexpr std::size_t kSizeErrorBufferSize = 260;

bool IsBlankOrLineEnd(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

CNameList::CNameList() : capacity(0), count(0), entries(nullptr), flags(0) { Expand(kInitialCapacity); }

CNameList::~CNameList() { Release(); }

void CNameList::Release() {
    if (entries == nullptr) return;
    std::free(entries);
    entries = nullptr;
    capacity = 0;
    count = 0;
}

int CNameList::Expand(int32_t n) {
    if (n <= 0) return 0;
    const int64_t newCapacity = int64_t{capacity} + n;
    if (newCapacity > INT32_MAX) return 0;
    void* storage = std::calloc(static_cast<std::size_t>(newCapacity), kEntryWidth);
    if (storage == nullptr) return 0;
    if (entries != nullptr) {
        std::memcpy(storage, entries, static_cast<std::size_t>(capacity) * kEntryWidth);
        std::free(entries);
    }
    entries = static_cast<char*>(storage);
    capacity = static_cast<int32_t>(newCapacity);
    return 1;
}

const char* CNameList::GetItem(int32_t index) const {
    if (index < 0 || index >= count) return nullptr;
    return entries + static_cast<std::size_t>(index) * kEntryWidth;
}

int32_t CNameList::Find(const char* key, int32_t stride, int ignoreCase, int32_t start) const {
    if (stride < 1 || start < 0) return -1;
    for (int64_t i = start; i < count; i += stride) {
        const char* item = entries + static_cast<std::size_t>(i) * kEntryWidth;
        if (item[0] == '\0') continue;
        const bool equal = ignoreCase != 0 ? EqualsIgnoringAsciiCase(key, item) : std::strcmp(key, item) == 0;
        if (equal) return static_cast<int32_t>(i / stride);
    }
    return -1;
}

int32_t CNameList::TokenLength(const unsigned char* p) {
    int32_t length = 0;
    while (p[length] != '\0' && p[length] != ',' && !IsBlankOrLineEnd(p[length])) ++length;
    return length;
}

int32_t CNameList::SeparatorLength(const unsigned char* p) {
    int32_t length = p[0] == ',' ? 1 : 0;
    while (IsBlankOrLineEnd(p[length])) ++length;
    return length;
}

int CNameList::LoadFile(const char* path, int complemented, int quiet) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        if (quiet == 0) platform::ShowMessageBox(path, CAPTION_FILE_NOT_FOUND, platform::kMbOk);
        return 0;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    if (size < 0) {
        const int error = errno;
        char text[kSizeErrorBufferSize];
        FormatText(text, sizeof text, MSG_NAMELIST_SIZE_ERROR, error, path, static_cast<int32_t>(size));
        platform::ShowMessageBox(text, CAPTION_NAMELIST_SIZE_ERROR, platform::kMbOk);
        std::fclose(file);
        return 0;
    }
    if (size == 0) {
        std::fclose(file);
        return 1;
    }
    std::fseek(file, 0, SEEK_SET);
    const std::size_t fileSize = static_cast<std::size_t>(size);
    void* block = fileSize <= SIZE_MAX - kScratchSlack ? std::malloc(fileSize + kScratchSlack) : nullptr;
    if (block == nullptr) {
        std::fclose(file);
        platform::ShowMessageBox(MSG_NAMELIST_NO_MEMORY, CAPTION_ERROR_UPPER, platform::kMbOk);
        return 0;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    unsigned char* data = static_cast<unsigned char*>(block) + ((64 - address % 64) % 64);
    const std::size_t length = std::fread(data, 1, fileSize, file);
    std::fclose(file);

    if (complemented != 0) {
        for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(~data[i]);
    }
    data[length] = '\0';
    data[length + 1] = '\0';

    std::size_t position = 0;
    while (position < length) {
        position += static_cast<std::size_t>(SeparatorLength(data + position));
        if (position >= length) break;
        if (data[position] == '\0') {
            // A zero byte is neither separator nor token: pass over it, adding nothing.
            ++position;
            continue;
        }
        // Without a free entry (storage could not grow) the load ends: never write past capacity.
        if (count >= capacity) break;
        const int32_t tokenLength = TokenLength(data + position);
        if (tokenLength > kLongestToken) {
            platform::ShowMessageBox(MSG_NAMELIST_TOKEN_TOO_LONG, CAPTION_ERROR_UPPER, platform::kMbOk);
            break;
        }
        char* entry = entries + static_cast<std::size_t>(count) * kEntryWidth;
        std::memcpy(entry, data + position, static_cast<std::size_t>(tokenLength));
        entry[tokenLength] = '\0';
        position += static_cast<std::size_t>(tokenLength);
        ++count;
        if (count == capacity) Expand(kGrowthStep);
    }
    for (int32_t i = count; i < capacity; ++i) entries[static_cast<std::size_t>(i) * kEntryWidth] = '\0';

    std::free(block);
    flags = 0;
    return 1;
}

int CNameList::LoadByName(const char* name) {
    if (g_init2Probe == Init2Probe::NotProbed) {
        platform::ListingEntry entry{};
        const platform::Listing listing = platform::FindFirstEntry("init2", &entry);
        g_init2Probe = listing != nullptr ? Init2Probe::Present : Init2Probe::Absent;
        if (listing != nullptr) platform::CloseListing(listing);
    }
    char path[kTextBufferSize];
    if (g_init2Probe == Init2Probe::Present) {
        FormatText(path, sizeof path, "init2\\%s.fxf", name);
        if (LoadFile(path, 1, 1) == 1) return 1;
    }
    FormatText(path, sizeof path, "init\\%s.xtx", name);
    return LoadFile(path, 0, 0);
}

void ResetNameListProbe() { g_init2Probe = Init2Probe::NotProbed; }
