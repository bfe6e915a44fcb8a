// The dry-run world on Windows: the real registry, folders, attributes and mutexes, read only.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "platform/dryrun/dry_run.h"
#include "platform/dryrun/dry_run_internal.h"
#include "platform/platform.h"
#include "platform/win32/ansi_listing.h"

namespace dryrun {

namespace {

constexpr UINT kCodePage932 = 932;
constexpr DWORD kRegistryReadSize = 4096;  // enough to show what the key holds

std::string g_previousFolder;

struct Listing {
    HANDLE handle;
    std::string pattern;  // so that each entry can be noted with its folder
};

std::wstring Widen(UINT codePage, const std::string& bytes, DWORD flags) {
    if (bytes.empty()) return std::wstring();
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return wide;
}

}  // namespace

bool EnterUpdateFolder(const std::string& folder, std::string* error) {
    char previous[MAX_PATH * 4] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof previous, previous);
    g_previousFolder = length > 0 && length < sizeof previous ? previous : "";
    const DWORD bits = GetFileAttributesA(folder.c_str());
    if (bits == INVALID_FILE_ATTRIBUTES || (bits & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        !SetCurrentDirectoryA(folder.c_str())) {
        *error = "not a folder: " + folder;
        return false;
    }
    return true;
}

void LeaveUpdateFolder() {
    if (!g_previousFolder.empty()) SetCurrentDirectoryA(g_previousFolder.c_str());
}

std::string AbsoluteFolder(const std::string& folder) {
    char full[MAX_PATH * 4] = {};
    const DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return std::string();
    const DWORD bits = GetFileAttributesA(full);
    if (bits == INVALID_FILE_ATTRIBUTES || (bits & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::string();
    return full;
}

std::string ResolveExisting(const std::string& updaterPath) {
    return GetFileAttributesA(updaterPath.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : updaterPath;
}

uint32_t ReadAttributes(const std::string& updaterPath) { return GetFileAttributesA(updaterPath.c_str()); }

bool HasRegistry() { return true; }

long ReadRegistryString(bool currentUser, const std::string& subkey, const std::string& name, std::string* data) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return status;
    unsigned char buffer[kRegistryReadSize] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    status = RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer, &size);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS) data->assign(reinterpret_cast<const char*>(buffer), size);
    return status;
}

bool MutexExists(const std::string& name) {
    HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (handle == nullptr) return false;
    CloseHandle(handle);
    return true;
}

std::string Cp932ToUtf8(const std::string& bytes) {
    std::wstring wide = Widen(kCodePage932, bytes, MB_ERR_INVALID_CHARS);
    if (wide.empty()) wide = Widen(kCodePage932, bytes, 0);  // with replacement characters
    if (wide.empty()) return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], length, nullptr, nullptr);
    }
    return out;
}

void WriteOutput(const std::string& utf8) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode)) {
        // A console shows UTF-16 whatever its code page.
        const std::wstring wide = Widen(CP_UTF8, utf8, 0);
        DWORD written = 0;
        WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    // Redirected: UTF-8 bytes, line feeds unchanged, for pipelines and files.
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

}  // namespace dryrun

namespace platform {

using dryrun::State;

long OpenRegistryKeyForRead(Hive hive, const char* subkey, RegistryKey* key) {
    State().events.push_back(std::string("registry open ") + (hive == Hive::CurrentUser ? "HKCU\\" : "HKLM\\") +
                             subkey);
    if (dryrun::internal::UsesStandInRegistry()) {
        *key = dryrun::internal::StandInKey();
        return kErrorSuccess;
    }
    HKEY opened = nullptr;
    const LONG status =
        RegOpenKeyExA(hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &opened);
    *key = reinterpret_cast<RegistryKey>(opened);
    return status;
}

long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data, uint32_t* size) {
    if (key == dryrun::internal::StandInKey()) return dryrun::internal::QueryStandIn(data, size);
    DWORD type = 0;
    DWORD bytes = *size;
    const LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &type, data, &bytes);
    *size = bytes;
    return status;
}

void CloseRegistryKey(RegistryKey key) {
    if (key != dryrun::internal::StandInKey()) RegCloseKey(reinterpret_cast<HKEY>(key));
}

uint32_t GetShortPathForm(const char* path, char* out, uint32_t outSize) {
    if (State().installAssumed) return 0;
    return GetShortPathNameA(path, out, outSize);
}

Listing FindFirstEntry(const char* pattern, ListingEntry* entry) {
    HANDLE handle = OpenAnsiListing(pattern, entry);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    dryrun::internal::NoteListed(pattern, *entry);
    return reinterpret_cast<Listing>(new dryrun::Listing{handle, pattern});
}

bool FindNextEntry(Listing handle, ListingEntry* entry) {
    auto* listing = reinterpret_cast<dryrun::Listing*>(handle);
    if (!NextAnsiEntry(listing->handle, entry)) return false;
    dryrun::internal::NoteListed(listing->pattern.c_str(), *entry);
    return true;
}

void CloseListing(Listing handle) {
    auto* listing = reinterpret_cast<dryrun::Listing*>(handle);
    FindClose(listing->handle);
    delete listing;
}

}  // namespace platform
