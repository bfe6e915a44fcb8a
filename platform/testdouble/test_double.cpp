#include "platform/testdouble/test_double.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace testdouble {

namespace {

State g_state;

// Handles are addresses inside this array, so that they are real, distinct, non-null pointers.
char g_handleSpace[4096];
constexpr int kDialogSlot = 1;
constexpr int kRegistrySlot = 2;
constexpr int kMutexSlot = 3;

template <typename Handle>
Handle MakeHandle(int slot) {
    return reinterpret_cast<Handle>(&g_handleSpace[slot]);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string HostPath(const char* path) {
    std::string result(path);
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool Exists(const std::string& path, bool* isFolder) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    *isFolder = S_ISDIR(info.st_mode);
    return true;
}

uint32_t AttributesOf(const std::string& path, bool isFolder) {
    auto found = g_state.attributes.find(path);
    uint32_t bits = found != g_state.attributes.end() ? found->second : (isFolder ? 0u : 0x20u);
    if (isFolder) bits |= platform::kAttributeDirectory;
    return bits;
}

struct OpenListing {
    std::vector<platform::ListingEntry> entries;
    std::size_t next = 0;
};

void Fill(platform::ListingEntry* entry, const std::string& name, uint32_t attributes) {
    entry->attributes = attributes;
    std::memset(entry->name, 0, sizeof entry->name);
    std::strncpy(entry->name, name.c_str(), sizeof entry->name - 1);
    entry->nameLost = g_state.lostNames.count(name) != 0;
}

}  // namespace

State& Double() { return g_state; }

void ResetDouble() { g_state = State(); }

void SetRegistryBytes(const std::string& hiveAndKey, const std::string& valueName, const std::string& bytes) {
    g_state.registry[Lower(hiveAndKey)][Lower(valueName)] = bytes;
}

void SetRegistryString(const std::string& hiveAndKey, const std::string& valueName, const std::string& text) {
    SetRegistryBytes(hiveAndKey, valueName, text + std::string(1, '\0'));
}

platform::Window DialogWindow() { return MakeHandle<platform::Window>(kDialogSlot); }

platform::Window ControlHandle(int id) { return MakeHandle<platform::Window>(id - 1000 + 100); }

}  // namespace testdouble

namespace platform {

using testdouble::g_state;

int ShowMessageBox(const char* text, const char* caption, unsigned style) {
    g_state.boxes.push_back({text, caption, style});
    g_state.events.push_back(std::string("box ") + caption);
    if (g_state.answers.empty()) return kIdOk;
    const int answer = g_state.answers.front();
    g_state.answers.pop_front();
    return answer;
}

namespace {
const std::map<std::string, std::string>* g_openKey = nullptr;
}

long OpenRegistryKeyForRead(Hive hive, const char* subkey, RegistryKey* key) {
    const std::string name = std::string(hive == Hive::CurrentUser ? "HKCU\\" : "HKLM\\") + subkey;
    g_state.events.push_back("registry open " + name);
    auto found = g_state.registry.find(testdouble::Lower(name));
    if (found == g_state.registry.end()) return 2;  // ERROR_FILE_NOT_FOUND
    g_openKey = &found->second;
    *key = testdouble::MakeHandle<RegistryKey>(testdouble::kRegistrySlot);
    return kErrorSuccess;
}

long QueryRegistryValue(RegistryKey, const char* name, unsigned char* data, uint32_t* size) {
    auto found = g_openKey->find(testdouble::Lower(name));
    if (found == g_openKey->end()) return 2;
    const std::string& bytes = found->second;
    if (bytes.size() > *size) {
        *size = static_cast<uint32_t>(bytes.size());
        return kErrorMoreData;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<uint32_t>(bytes.size());
    return kErrorSuccess;
}

void CloseRegistryKey(RegistryKey) {
    g_state.events.push_back("registry close");
    g_openKey = nullptr;
}

uint32_t GetShortPathForm(const char* path, char* out, uint32_t outSize) {
    auto found = g_state.shortPaths.find(path);
    if (found == g_state.shortPaths.end()) return 0;
    const std::string& form = found->second;
    if (form.size() + 1 > outSize) return static_cast<uint32_t>(form.size() + 1);
    std::memcpy(out, form.c_str(), form.size() + 1);
    return static_cast<uint32_t>(form.size());
}

Listing FindFirstEntry(const char* pattern, ListingEntry* entry) {
    std::string path = testdouble::HostPath(pattern);
    auto listing = std::make_unique<testdouble::OpenListing>();
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, "/*") == 0) {
        const std::string folder = path.substr(0, path.size() - 2);
        DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
        if (dir == nullptr) return nullptr;
        std::vector<std::string> names;
        while (dirent* item = ::readdir(dir)) names.emplace_back(item->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            bool isFolder = false;
            const std::string full = folder + "/" + name;
            if (!testdouble::Exists(full, &isFolder)) continue;
            ListingEntry item{};
            testdouble::Fill(&item, name, name == "." || name == ".." ? kAttributeDirectory
                                                                      : testdouble::AttributesOf(full, isFolder));
            listing->entries.push_back(item);
        }
    } else {
        bool isFolder = false;
        if (!testdouble::Exists(path, &isFolder)) return nullptr;
        ListingEntry item{};
        const std::size_t slash = path.find_last_of('/');
        testdouble::Fill(&item, slash == std::string::npos ? path : path.substr(slash + 1),
                         testdouble::AttributesOf(path, isFolder));
        listing->entries.push_back(item);
    }
    if (listing->entries.empty()) return nullptr;
    *entry = listing->entries[0];
    listing->next = 1;
    g_state.openListings++;
    g_state.maxOpenListings = std::max(g_state.maxOpenListings, g_state.openListings);
    return reinterpret_cast<Listing>(listing.release());
}

bool FindNextEntry(Listing handle, ListingEntry* entry) {
    auto* listing = reinterpret_cast<testdouble::OpenListing*>(handle);
    if (listing->next >= listing->entries.size()) return false;
    *entry = listing->entries[listing->next++];
    return true;
}

void CloseListing(Listing handle) {
    delete reinterpret_cast<testdouble::OpenListing*>(handle);
    g_state.openListings--;
}

bool CopyFileReplacing(const char* source, const char* destination) {
    const std::string from = testdouble::HostPath(source);
    const std::string to = testdouble::HostPath(destination);
    g_state.events.push_back(std::string("copy ") + source + " -> " + destination);
    auto held = g_state.heldDestinations.find(to);
    if (held != g_state.heldDestinations.end() && held->second > 0) {
        held->second--;
        return false;
    }
    bool isFolder = false;
    if (!testdouble::Exists(from, &isFolder) || isFolder) return false;
    if (testdouble::Exists(to, &isFolder)) {
        // As on Windows: a read-only, hidden or system destination is not replaced.
        if (isFolder || (testdouble::AttributesOf(to, false) & 0x7u) != 0) return false;
    }
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) return false;  // the destination folder is missing
    out << in.rdbuf();
    if (!out) return false;
    auto sourceBits = g_state.attributes.find(from);
    if (sourceBits != g_state.attributes.end()) {
        g_state.attributes[to] = sourceBits->second;
    } else {
        g_state.attributes.erase(to);
    }
    return true;
}

uint32_t GetFileAttributeBits(const char* path) {
    bool isFolder = false;
    const std::string host = testdouble::HostPath(path);
    if (g_state.attributeReadFails || !testdouble::Exists(host, &isFolder)) return kInvalidAttributes;
    return testdouble::AttributesOf(host, isFolder);
}

bool SetFileAttributeBits(const char* path, uint32_t attributes) {
    bool isFolder = false;
    const std::string host = testdouble::HostPath(path);
    g_state.events.push_back(std::string("set attributes ") + path + " " + std::to_string(attributes));
    if (g_state.attributeWriteFails || !testdouble::Exists(host, &isFolder)) return false;
    g_state.attributes[host] = attributes & ~kAttributeDirectory;
    return true;
}

Mutex CreateOwnedMutex(const char* name, uint32_t* lastError) {
    if (g_state.mutexCreationFails) {
        g_state.events.push_back(std::string("mutex fails ") + name);
        *lastError = 5;  // ERROR_ACCESS_DENIED
        return nullptr;
    }
    if (g_state.existingMutexes.count(name) != 0) {
        g_state.events.push_back(std::string("mutex exists ") + name);
        *lastError = kErrorAlreadyExists;
    } else {
        g_state.events.push_back(std::string("mutex create ") + name);
        g_state.existingMutexes.insert(name);
        *lastError = 0;
    }
    return testdouble::MakeHandle<Mutex>(testdouble::kMutexSlot);
}

void ReleaseOwnedMutex(Mutex) { g_state.events.push_back("mutex release"); }

void InitCommonControlClasses() { g_state.events.push_back("init common controls"); }

Window CreateModelessDialog(Instance, int templateId, DialogProcedure procedure) {
    g_state.events.push_back("dialog create " + std::to_string(templateId));
    if (g_state.dialogCreationFails) return nullptr;
    Window window = testdouble::DialogWindow();
    procedure(window, kWmInitDialog, 0, 0);  // as Windows does, before the creation returns
    return window;
}

void ShowWindowNow(Window window) {
    if (window != nullptr) g_state.events.push_back("dialog show");
}

void DestroyWindowNow(Window window) {
    if (window != nullptr) g_state.events.push_back("dialog destroy");
}

Window GetDialogItemHandle(Window dialog, int id) {
    g_state.itemRequests.push_back(id);
    return dialog != nullptr ? testdouble::ControlHandle(id) : nullptr;
}

void GetWindowRectangle(Window, Rect* rect) { *rect = g_state.windowRect; }

void GetScreenSize(int32_t* width, int32_t* height) {
    *width = g_state.screenWidth;
    *height = g_state.screenHeight;
}

void MoveWindowTo(Window, int32_t x, int32_t y, int32_t width, int32_t height) {
    g_state.windowMoved = true;
    g_state.movedTo = Rect{x, y, x + width, y + height};
}

void EndDialogWith(Window, intptr_t result) { g_state.endDialogResults.push_back(result); }

void SetWindowTextBytes(Window window, const char* text) {
    if (window != nullptr && window == testdouble::ControlHandle(1003)) g_state.labelTexts.emplace_back(text);
}

void RepaintNow(Window window) {
    if (window != nullptr && window == testdouble::ControlHandle(1003)) g_state.labelRepaints++;
}

void SetProgressPosition(Window bar, int32_t position) {
    for (int id : {1001, 1002}) {
        if (bar != nullptr && bar == testdouble::ControlHandle(id)) g_state.barPositions[id].push_back(position);
    }
}

}  // namespace platform
