// The dry-run world on POSIX systems: real folders read the way Windows (and Wine) would show
// them, no registry, no named mutexes.
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/dryrun/dry_run.h"
#include "platform/dryrun/dry_run_internal.h"
#include "platform/platform.h"

namespace dryrun {

namespace {

constexpr long kErrorFileNotFound = 2;

std::string g_root;           // the update folder, absolute
std::string g_shadow;         // the working directory the updater's relative files open from
std::string g_previousFolder;  // the tool's own working directory
std::vector<std::string> g_shadowFiles;

// The names the updater opens with the C library, relative and with backslashes.
const char* const kOpenedNames[] = {"info.txt", "init\\game.xtx", "init2\\game.fxf"};

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The entry of folder named name, or one that differs only in ASCII case; empty when none.
std::string FindName(const std::string& folder, const std::string& name) {
    if (name == "." || name == ".." || Exists(folder + "/" + name)) return name;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return std::string();
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The host path of an updater path, each part matched as Windows matches names; empty when a
// part does not exist. "C:\..." and other drive paths do not exist here.
std::string Resolve(const std::string& updaterPath) {
    std::string path = updaterPath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() >= 2 && path[1] == ':') return std::string();
    std::string resolved = path[0] == '/' ? std::string() : g_root;
    std::size_t start = path[0] == '/' ? 1 : 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        const std::string name = FindName(resolved.empty() ? "/" : resolved, part);
        if (name.empty()) return std::string();
        resolved += "/" + name;
    }
    return resolved.empty() ? std::string("/") : resolved;
}

uint32_t AttributesOf(const std::string& hostPath) {
    struct stat st {};
    if (stat(hostPath.c_str(), &st) != 0) return platform::kInvalidAttributes;
    uint32_t bits = 0;
    if (S_ISDIR(st.st_mode)) {
        bits = platform::kAttributeDirectory;
    } else {
        bits = 0x20;  // archive, as a plain file shows on Windows
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) bits |= platform::kAttributeReadOnly;
    }
    const std::size_t slash = hostPath.rfind('/');
    const char* name = hostPath.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
        bits |= platform::kAttributeHidden;
    }
    char text[32] = {};
    const ssize_t length = getxattr(hostPath.c_str(), "user.DOSATTRIB", text, sizeof text - 1);
    if (length > 0) {
        const unsigned long dos = std::strtoul(text, nullptr, 16);
        bits |= static_cast<uint32_t>(dos) & (platform::kAttributeHidden | platform::kAttributeSystem);
    }
    return bits;
}

// ASCII letters upper-cased, every other byte as it is.
int CompareUpperCased(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = std::toupper(static_cast<unsigned char>(a[i]));
        const int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

struct Listing {
    std::string pattern;  // so that each entry can be noted with its folder
    std::vector<platform::ListingEntry> entries;
    std::size_t next = 0;
};

void Fill(platform::ListingEntry* out, const std::string& name, uint32_t attributes) {
    *out = platform::ListingEntry{};
    out->attributes = attributes;
    std::snprintf(out->name, sizeof out->name, "%s", name.c_str());
}

}  // namespace

bool EnterUpdateFolder(const std::string& folder, std::string* error) {
    char* absolute = realpath(folder.c_str(), nullptr);
    if (absolute == nullptr || !IsFolder(absolute)) {
        std::free(absolute);
        *error = "not a folder: " + folder;
        return false;
    }
    g_root = absolute;
    std::free(absolute);
    char* previous = getcwd(nullptr, 0);
    g_previousFolder = previous != nullptr ? previous : "/";
    std::free(previous);

    char shadow[] = "/tmp/preflight-XXXXXX";
    if (mkdtemp(shadow) == nullptr) {
        *error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
        return false;
    }
    g_shadow = shadow;
    // Here a backslash is part of a file name: link each name the updater opens, as Windows
    // would find it in the update folder.
    for (const char* name : kOpenedNames) {
        const std::string target = Resolve(name);
        if (target.empty() || IsFolder(target)) continue;
        const std::string link = g_shadow + "/" + name;
        if (symlink(target.c_str(), link.c_str()) == 0) g_shadowFiles.push_back(link);
    }
    if (chdir(g_shadow.c_str()) != 0) {
        *error = std::string("cannot enter a temporary folder: ") + std::strerror(errno);
        LeaveUpdateFolder();
        return false;
    }
    return true;
}

void LeaveUpdateFolder() {
    if (g_shadow.empty()) return;
    if (chdir(g_previousFolder.c_str()) != 0) {
        // Nothing to do about it: the shadow is removed by its absolute path all the same.
    }
    for (const std::string& link : g_shadowFiles) unlink(link.c_str());
    g_shadowFiles.clear();
    rmdir(g_shadow.c_str());
    g_shadow.clear();
}

std::string AbsoluteFolder(const std::string& folder) {
    char* absolute = realpath(folder.c_str(), nullptr);
    const std::string result = absolute != nullptr && IsFolder(absolute) ? absolute : "";
    std::free(absolute);
    return result;
}

std::string ResolveExisting(const std::string& updaterPath) { return Resolve(updaterPath); }

uint32_t ReadAttributes(const std::string& updaterPath) {
    const std::string host = Resolve(updaterPath);
    return host.empty() ? platform::kInvalidAttributes : AttributesOf(host);
}

bool HasRegistry() { return false; }

long ReadRegistryString(bool, const std::string&, const std::string&, std::string*) { return kErrorFileNotFound; }

bool MutexExists(const std::string&) { return false; }

std::string Cp932ToUtf8(const std::string& bytes) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return bytes;
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        char* o = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &left, &o, &room);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Not code page 932 (or cut in the middle of a character): show the byte.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*in));
            out += escaped;
            ++in;
            --left;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    return out;
}

void WriteOutput(const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stdout); }

}  // namespace dryrun

namespace platform {

using dryrun::State;

long OpenRegistryKeyForRead(Hive hive, const char* subkey, RegistryKey* key) {
    State().events.push_back(std::string("registry open ") + (hive == Hive::CurrentUser ? "HKCU\\" : "HKLM\\") +
                             subkey);
    *key = nullptr;
    if (!dryrun::internal::UsesStandInRegistry()) return dryrun::kErrorFileNotFound;
    *key = dryrun::internal::StandInKey();
    return kErrorSuccess;
}

long QueryRegistryValue(RegistryKey, const char*, unsigned char* data, uint32_t* size) {
    return dryrun::internal::QueryStandIn(data, size);
}

void CloseRegistryKey(RegistryKey) {}

// No short names here: the updater then uses the folder as stored.
uint32_t GetShortPathForm(const char*, char*, uint32_t) { return 0; }

Listing FindFirstEntry(const char* pattern, ListingEntry* entry) {
    const std::string path(pattern);
    const bool all = path.size() >= 2 && path.compare(path.size() - 2, 2, "\\*") == 0;
    auto* listing = new dryrun::Listing;
    if (all) {
        const std::string folder = dryrun::Resolve(path.substr(0, path.size() - 2));
        DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
        if (dir == nullptr) {
            delete listing;
            return nullptr;
        }
        std::vector<std::string> names;
        while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
        closedir(dir);
        // "." and ".." first, then as NTFS (and Wine) orders names: upper-cased, ties by bytes.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            const bool dotsA = a == "." || a == "..";
            const bool dotsB = b == "." || b == "..";
            if (dotsA != dotsB) return dotsA;
            const int folded = dryrun::CompareUpperCased(a, b);
            return folded != 0 ? folded < 0 : a < b;
        });
        for (const std::string& name : names) {
            if (name.size() >= kMaxPath) continue;  // Windows could not name it either
            ListingEntry e{};
            dryrun::Fill(&e, name, dryrun::AttributesOf(folder + "/" + name));
            listing->entries.push_back(e);
        }
    } else {
        const std::string host = dryrun::Resolve(path);
        if (!host.empty()) {
            ListingEntry e{};
            dryrun::Fill(&e, host.substr(host.rfind('/') + 1), dryrun::AttributesOf(host));
            listing->entries.push_back(e);
        }
    }
    if (listing->entries.empty()) {
        delete listing;
        return nullptr;
    }
    *entry = listing->entries[0];
    listing->next = 1;
    dryrun::internal::NoteListed(pattern, *entry);
    listing->pattern = pattern;
    return reinterpret_cast<Listing>(listing);
}

bool FindNextEntry(Listing handle, ListingEntry* entry) {
    auto* listing = reinterpret_cast<dryrun::Listing*>(handle);
    if (listing->next >= listing->entries.size()) return false;
    *entry = listing->entries[listing->next++];
    dryrun::internal::NoteListed(listing->pattern.c_str(), *entry);
    return true;
}

void CloseListing(Listing handle) { delete reinterpret_cast<dryrun::Listing*>(handle); }

}  // namespace platform
