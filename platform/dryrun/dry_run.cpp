// The parts of the dry-run world that are the same on every system: boxes, predicted copies and
// attribute writes, the stand-in registry value, and the windows that are never shown.
#include "platform/dryrun/dry_run.h"
#include "platform/dryrun/dry_run_internal.h"

#include <cstring>

#include "platform/platform.h"

namespace dryrun {

World& State() {
    static World world;
    return world;
}

void ClearRecords() {
    World& w = State();
    w.boxes.clear();
    w.copies.clear();
    w.skipped.clear();
    w.events.clear();
    w.writtenAttributes.clear();
}

namespace internal {

platform::RegistryKey StandInKey() {
    static char marker;
    return reinterpret_cast<platform::RegistryKey>(&marker);
}

bool UsesStandInRegistry() { return !State().installOverride.empty() || State().installAssumed; }

long QueryStandIn(unsigned char* data, uint32_t* size) {
    const std::string folder = State().installAssumed ? std::string(kAssumedInstall) : State().installOverride;
    // Stored as a string with its terminator, as the registry returns it.
    const std::size_t needed = folder.size() + 1;
    if (needed > *size) {
        *size = static_cast<uint32_t>(needed);
        return platform::kErrorMoreData;
    }
    std::memcpy(data, folder.c_str(), needed);
    *size = static_cast<uint32_t>(needed);
    return platform::kErrorSuccess;
}

void NoteListed(const char* pattern, const platform::ListingEntry& entry) {
    if (entry.name[0] != '.') return;
    if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) return;
    // The pattern is "<folder>\*": the entry's path is the folder and the name.
    std::string folder(pattern);
    const std::size_t cut = folder.rfind('\\');
    folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
    State().skipped.push_back({folder + entry.name, (entry.attributes & platform::kAttributeDirectory) != 0});
}

}  // namespace internal

}  // namespace dryrun

namespace platform {

using dryrun::State;

int ShowMessageBox(const char* text, const char* caption, unsigned style) {
    // OK where there is an OK button, Yes where the box asks Yes or No.
    const int answer = (style & 0xF) == kMbYesNo ? kIdYes : kIdOk;
    State().boxes.push_back({text, caption, style, answer});
    return answer;
}

bool CopyFileReplacing(const char* source, const char* destination) {
    dryrun::World& w = State();
    bool succeeds = true;
    if (w.mode == dryrun::CopyMode::Forecast && !w.installAssumed) {
        const uint32_t bits = GetFileAttributeBits(destination);
        const std::string path(destination);
        const std::size_t cut = path.rfind('\\');
        const std::string folder = cut == std::string::npos ? std::string(".") : path.substr(0, cut);
        const uint32_t folderBits = dryrun::ReadAttributes(folder);
        if (folderBits == kInvalidAttributes || (folderBits & kAttributeDirectory) == 0) {
            succeeds = false;  // the walk creates no folders
        } else if (bits != kInvalidAttributes) {
            // An existing folder, or a file that is read-only, hidden or system, is not replaced.
            succeeds = (bits & (kAttributeDirectory | kAttributeReadOnly | kAttributeHidden | kAttributeSystem)) == 0;
        }
    }
    w.copies.push_back({source, destination, succeeds});
    return succeeds;
}

uint32_t GetFileAttributeBits(const char* path) {
    for (const auto& written : State().writtenAttributes) {
        if (written.first == path) return written.second;
    }
    return dryrun::ReadAttributes(path);
}

bool SetFileAttributeBits(const char* path, uint32_t attributes) {
    if (dryrun::ReadAttributes(path) == kInvalidAttributes) return false;
    State().events.push_back(std::string("set attributes ") + path);
    State().writtenAttributes.emplace_back(path, attributes);
    return true;
}

Mutex CreateOwnedMutex(const char* name, uint32_t* lastError) {
    static char marker;
    const bool exists = dryrun::MutexExists(name);
    State().events.push_back(std::string(exists ? "mutex exists " : "mutex free ") + name);
    *lastError = exists ? kErrorAlreadyExists : 0;
    return reinterpret_cast<Mutex>(&marker);
}

void ReleaseOwnedMutex(Mutex) {}

// The progress window is never shown: a stand-in handle, every call on it does nothing.
void InitCommonControlClasses() {}

Window CreateModelessDialog(Instance, int, DialogProcedure) {
    static char marker;
    return reinterpret_cast<Window>(&marker);
}

void ShowWindowNow(Window) {}
void DestroyWindowNow(Window) {}
Window GetDialogItemHandle(Window, int) { return nullptr; }
void GetWindowRectangle(Window, Rect* rect) { *rect = Rect{0, 0, 0, 0}; }
void GetScreenSize(int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
}
void MoveWindowTo(Window, int32_t, int32_t, int32_t, int32_t) {}
void EndDialogWith(Window, intptr_t) {}
void SetWindowTextBytes(Window, const char*) {}
void RepaintNow(Window) {}
void SetProgressPosition(Window, int32_t) {}

}  // namespace platform
