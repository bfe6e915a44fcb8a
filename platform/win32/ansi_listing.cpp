#include "platform/win32/ansi_listing.h"

#include <cwchar>

namespace {

// The wide listing, then the name converted as the ANSI listing converts it. A name whose ANSI
// form does not convert back to the same wide name would name another file, or none.
void FillEntry(const WIN32_FIND_DATAW& data, platform::ListingEntry* entry) {
    entry->attributes = data.dwFileAttributes;
    entry->nameLost = false;
    const int length = WideCharToMultiByte(CP_ACP, 0, data.cFileName, -1, entry->name,
                                           static_cast<int>(sizeof entry->name), nullptr, nullptr);
    if (length == 0) {  // longer than MAX_PATH bytes in the code page
        entry->name[0] = '\0';
        entry->nameLost = true;
        return;
    }
    wchar_t back[MAX_PATH];
    const int backLength = MultiByteToWideChar(CP_ACP, 0, entry->name, -1, back, MAX_PATH);
    entry->nameLost = backLength == 0 || std::wcscmp(back, data.cFileName) != 0;
}

}  // namespace

HANDLE OpenAnsiListing(const char* pattern, platform::ListingEntry* entry) {
    wchar_t widePattern[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, pattern, -1, widePattern, MAX_PATH) == 0) return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data;
    HANDLE listing = FindFirstFileW(widePattern, &data);
    if (listing != INVALID_HANDLE_VALUE) FillEntry(data, entry);
    return listing;
}

bool NextAnsiEntry(HANDLE listing, platform::ListingEntry* entry) {
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(listing, &data)) return false;
    FillEntry(data, entry);
    return true;
}
