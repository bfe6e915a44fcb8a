// The dry-run world: an implementation of platform.h for the publisher's preflight tool. It
// lists real folders and reads real attributes, but copies nothing and changes nothing: message
// boxes are recorded and answered OK / Yes, copies are predicted, attribute writes are kept in
// memory. The tool drives the updater's own logic through it, so its forecast is the updater's
// run. Only standard types appear here; the world itself is chosen at link time (POSIX or Win32).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dryrun {

struct Box {
    std::string text;     // the bytes passed (code page 932)
    std::string caption;  // the bytes passed
    unsigned style;
    int answer;  // what the world answered
};

struct Copy {
    std::string source;       // as the updater formed it
    std::string destination;  // as the updater formed it
    bool succeeds;
};

// A listing entry that the walk passes over because its name begins with a dot.
struct Skipped {
    std::string path;  // folder\name as the updater would form it
    bool folder;
};

enum class CopyMode {
    Forecast,  // predict each copy from the destination: missing folder or protected bits fail
    Plan,      // every copy succeeds, so that the whole walk is seen
};

struct World {
    std::vector<Box> boxes;
    std::vector<Copy> copies;
    std::vector<Skipped> skipped;
    std::vector<std::string> events;  // registry, attribute writes, mutex, in order

    CopyMode mode = CopyMode::Forecast;
    // The folder that stands for the registry's "installdirectory" value. Empty: the real
    // registry on Windows; on other systems the game counts as installed in kAssumedInstall and
    // destinations are not checked.
    std::string installOverride;
    bool installAssumed = false;
    // Attribute bits written by the updater (predicted), by destination path.
    std::vector<std::pair<std::string, uint32_t>> writtenAttributes;
};

// The stand-in install folder when none is known (no registry on this system, none given).
constexpr char kAssumedInstall[] = "C:\\(install folder)";

World& State();
// Empties the records; keeps the mode and the install folder.
void ClearRecords();

// ---- The world's own services for the tool (one implementation per system) ----

// Makes folder the working directory as the updater sees it. false with a reason on failure.
// On POSIX the updater's relative names with backslashes ("init\game.xtx") are made reachable.
bool EnterUpdateFolder(const std::string& folder, std::string* error);
void LeaveUpdateFolder();

// The absolute form of an existing folder given on the command line; empty when it is none.
std::string AbsoluteFolder(const std::string& folder);
// Resolves a path as the updater forms it (backslashes, relative to the update folder) to the
// system's own path; an empty result when it does not exist. ASCII case is ignored where the
// system's own names differ only in case, as Windows ignores it.
std::string ResolveExisting(const std::string& updaterPath);
// The attribute bits of an existing path (read-only, hidden, system, directory), or
// platform::kInvalidAttributes. On POSIX: read-only when the owner may not write the file,
// hidden and system from the "user.DOSATTRIB" extended attribute, as Wine keeps them.
uint32_t ReadAttributes(const std::string& updaterPath);

// true when this system has a registry to read.
bool HasRegistry();
// What the registry holds for the updater's key and value: 0 with data, or the error status.
long ReadRegistryString(bool currentUser, const std::string& subkey, const std::string& name, std::string* data);
// true when a mutex of that name exists now (always false where there is no such object).
bool MutexExists(const std::string& name);

// Code page 932 bytes as UTF-8; bytes that do not convert are written as \xNN.
std::string Cp932ToUtf8(const std::string& bytes);
// Writes UTF-8 text to standard output: readable Japanese on a Windows console, bytes elsewhere.
void WriteOutput(const std::string& utf8);

}  // namespace dryrun
