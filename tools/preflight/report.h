// What a check finds, section by section in the updater's order, and its two renderings.
// Byte strings the updater sees (values, paths, box texts) are kept as it sees them (code page
// 932) and converted to UTF-8 only when written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dryrun/dry_run.h"

namespace preflight {

enum class Severity { Note, Warning, Error };

struct Problem {
    Severity severity;
    std::string section;  // "info.txt", "registry", "version gate", "copy", "forecast"
    std::string text;     // UTF-8
};

struct Token {
    int line;
    std::string text;  // the bytes read (empty for an over-long token)
    std::size_t bytes;
    bool overLong;
    // "key", "value", "comment", "comment word", "unknown key", "dropped value", "dangling key"
    std::string role;
    std::string key;   // for a value: the key it belongs to
};

struct Setting {
    int slot;
    std::string key;
    bool present;
    std::string value;
    std::string use;  // how the updater reads it
};

struct Registry {
    bool composed = false;  // false when "reg" is absent
    std::string hive;       // "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER"
    std::string subkey;
    bool systemHasRegistry = false;
    long status = 0;     // of the real read, where there is a registry
    std::string data;    // what the real value holds
    std::string standIn;  // the folder that stands for the value (--install or assumed)
};

struct VersionGate {
    bool on = false;
    std::string why;  // why it is off, or how it was turned on
    int32_t lower = 100;
    int32_t upper = 100;
    bool init2Present = false;
    std::string listFile;  // the file that was (or would be) read
    bool loaded = false;
    int32_t installed = 0;
    std::string verdict;  // "accepted", "too old", "newer", "unreadable"
    std::vector<dryrun::Box> boxes;  // what the player would see from the gate
};

struct CopyItem {
    std::string source;
    std::string destination;
    std::string state;  // "replace", "add", "missing folder", "folder in the way", "protected", "not checked"
    uint32_t attributes = 0;
};

struct CopyPlan {
    bool present = false;  // "dir" given
    std::string source;
    bool sourceFound = false;
    std::string destination;
    bool destinationKnown = false;
    bool walkCompleted = true;
    std::vector<CopyItem> items;
    std::vector<dryrun::Skipped> skipped;
    bool readonlyPresent = false;
    bool copyNumberPresent = false;
    int32_t copyNumber = 0;
};

struct Forecast {
    int exitCode = 0;
    std::vector<dryrun::Box> boxes;
    std::vector<dryrun::Copy> copies;
    std::vector<std::string> events;
};

struct Report {
    std::string updateFolder;
    std::string installFolder;  // as given, or empty
    bool installAssumed = false;
    bool strict = false;  // warnings count as failures
    bool infoFound = false;
    std::vector<Token> tokens;
    std::vector<Setting> settings;
    Registry registry;
    VersionGate gate;
    CopyPlan copy;
    Forecast forecast;
    std::vector<Problem> problems;
    int exitCode = 0;  // of the tool: 0 nothing would fail, 1 it would
};

// Runs every section on the update folder (the working directory is already entered).
void RunCheck(Report* report);

std::string RenderText(const Report& report);
std::string RenderJson(const Report& report);

// The updater's exit code in words.
const char* DescribeExitCode(int code);

}  // namespace preflight
