// The check: each section reads the update folder with the updater's own code, in the
// updater's order, and the forecast runs the updater's own run sequence in the dry-run world.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "app/run_sequence.h"
#include "install/install_directory.h"
#include "install/version_gate.h"
#include "namelist/name_list.h"
#include "platform/dryrun/dry_run.h"
#include "platform/platform.h"
#include "settings/info_tokens.h"
#include "settings/settings.h"
#include "tools/preflight/report.h"
#include "update/tree_copy.h"

namespace preflight {

namespace {

constexpr std::size_t kReadChunk = 4096;

std::string Quote(const std::string& bytes) { return "\"" + dryrun::Cp932ToUtf8(bytes) + "\""; }

std::string Line(int line) { return "line " + std::to_string(line) + ": "; }

void Add(Report* report, Severity severity, const char* section, const std::string& text) {
    report->problems.push_back({severity, section, text});
}

// Starts from the state of a fresh process with info.txt read, as every stage after the first
// of the run sees it.
void FreshProcessWithSettings() {
    ResetProcessState();
    dryrun::ClearRecords();
    ResolveSettingSlots();
    ReadInfoFile();
}

bool ReadWholeFile(const char* path, std::string* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[kReadChunk];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, got);
    std::fclose(file);
    return true;
}

bool IsInfoWhitespace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Reads info.txt with the updater's token reader and gives every token its line: the reader
// takes each token's bytes whole, so the line is found by walking the same bytes beside it.
void ReadTokens(Report* report) {
    std::string raw;
    ReadWholeFile("info.txt", &raw);
    const std::size_t end = raw.find('\x1A');  // the end of the file for the text-mode rules
    if (end != std::string::npos) raw.resize(end);

    std::FILE* file = std::fopen("info.txt", "rb");
    if (file == nullptr) return;
    InfoTokenReader reader(file);
    InfoToken token;
    std::size_t position = 0;
    int line = 1;
    while (reader.Read(&token)) {
        while (position < raw.size() && IsInfoWhitespace(static_cast<unsigned char>(raw[position]))) {
            if (raw[position] == '\n') ++line;
            ++position;
        }
        position += token.bytes;
        report->tokens.push_back({line, token.text, token.bytes, token.overLong, "", ""});
    }
    std::fclose(file);
}

bool LooksOff(const std::string& value) {
    for (const char* word : {"0", "off", "no", "false"}) {
        if (EqualsIgnoringAsciiCase(value.c_str(), word)) return true;
    }
    return false;
}

bool StartsWithNumber(const std::string& value) {
    std::size_t i = 0;
    while (i < value.size() && IsInfoWhitespace(static_cast<unsigned char>(value[i]))) ++i;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
    return i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])) != 0;
}

// The roles of the tokens, paired as the reader pairs them, and what a publisher should hear.
void ClassifyTokens(Report* report) {
    std::vector<Token>& tokens = report->tokens;
    std::map<int, int> setAtLine;  // slot -> line of the value that set it
    std::map<int, bool> commentLines;
    for (std::size_t i = 0; i < tokens.size();) {
        Token& key = tokens[i];
        InfoToken probe{};
        std::snprintf(probe.text, sizeof probe.text, "%s", key.text.c_str());
        if (IsCommentToken(probe)) {
            key.role = "comment";
            commentLines[key.line] = true;
            int words = 0;
            for (std::size_t j = i + 1; j < tokens.size() && tokens[j].line == key.line; ++j) ++words;
            if (words % 2 != 0) {
                Add(report, Severity::Warning, "info.txt",
                    Line(key.line) + "the comment has an odd number of words after " + Quote(key.text) + " (" +
                        std::to_string(words) +
                        "): only that first token is a comment, so every key and value after it pairs wrongly");
            }
            ++i;
            continue;
        }
        if (i + 1 >= tokens.size()) {
            key.role = "dangling key";
            Add(report, Severity::Warning, "info.txt",
                Line(key.line) + Quote(key.text) + " is the last token and has no value: it is dropped");
            break;
        }
        Token& value = tokens[i + 1];
        const int slot = FindKeySlot(key.text.c_str());
        const bool inComment = commentLines.count(key.line) != 0;
        if (key.overLong) {
            Add(report, Severity::Warning, "info.txt",
                Line(key.line) + "a word of 256 bytes or more stands where a key is expected: it reads as an empty key, "
                                 "and the next token (" + Quote(value.text) + ") is dropped as its value");
        }
        if (slot < 0 && inComment && value.line == key.line) {
            // Two words of a comment line that pair up harmlessly.
            key.role = "comment word";
            value.role = "comment word";
        } else if (slot < 0) {
            key.role = "unknown key";
            value.role = "dropped value";
            value.key = key.text;
            if (!inComment && !key.overLong) {
                Add(report, Severity::Warning, "info.txt",
                    Line(key.line) + Quote(key.text) + " is no key of info.txt: it and the value " +
                        Quote(value.text) + " are dropped");
            }
        } else {
            key.role = "key";
            value.role = "value";
            value.key = kSettingKeyNames[slot];
            const std::string name = kSettingKeyNames[slot];
            if (inComment) {
                Add(report, Severity::Warning, "info.txt",
                    Line(key.line) + "a word of the comment, " + Quote(key.text) + ", is read as a key: " + name +
                        " = " + Quote(value.text));
            }
            if (value.text.compare(0, 2, "//") == 0) {
                Add(report, Severity::Warning, "info.txt",
                    Line(value.line) + Quote(value.text) + " is read as the value of " + name + ", not as a comment");
            }
            if (value.overLong) {
                Add(report, Severity::Warning, "info.txt",
                    Line(value.line) + "the value of " + name +
                        " is 256 bytes or longer: it is read as empty, and its bytes after the 256th as the next token");
            } else if (value.text.size() > kMaxSettingValueLength) {
                Add(report, Severity::Warning, "info.txt",
                    Line(value.line) + "the value of " + name + " is " + std::to_string(value.text.size()) +
                        " bytes: it is cut to " + std::to_string(kMaxSettingValueLength));
            } else if (value.text.size() < value.bytes) {
                Add(report, Severity::Warning, "info.txt",
                    Line(value.line) + "the value of " + name + " holds a zero byte: it ends there");
            }
            const auto earlier = setAtLine.find(slot);
            if (earlier != setAtLine.end()) {
                Add(report, Severity::Warning, "info.txt",
                    Line(key.line) + name + " is given again: this value replaces the one of line " +
                        std::to_string(earlier->second));
            }
            setAtLine[slot] = value.line;
            if (slot == 0 || name == "middleVersion" || name == "systemfile" || name == "hiddenfile") {
                Add(report, Severity::Note, "info.txt", Line(key.line) + name + " has no effect on the updater");
            }
        }
        i += 2;
    }
}

const char* UseOf(int slot) {
    if (slot == g_slotReadOnly || slot == g_slotCurrentUser) return "present";
    if (slot == g_slotVersionCheck || slot == g_slotLowVersion || slot == g_slotHighVersion ||
        slot == g_slotCopyNumber) {
        return "number";
    }
    if (slot == g_slotResult) return "on or not";
    if (slot == g_slotReg || slot == g_slotMutex || slot == g_slotDir || slot == g_slotGameName ||
        slot == g_slotCompanyName) {
        return "value";
    }
    return "no effect";
}

void ReadSettings(Report* report) {
    FreshProcessWithSettings();
    for (int slot = 0; slot < kSettingSlotCount; ++slot) {
        report->settings.push_back(
            {slot, kSettingKeyNames[slot], IsSettingPresent(slot), SettingValue(slot), UseOf(slot)});
    }
    // The pairing above mirrors the updater's reader; the table is the reader's own.
    for (const Token& token : report->tokens) {
        if (token.role != "value") continue;
        const int slot = FindKeySlot(token.key.c_str());
        if (slot >= 0 && !IsSettingPresent(slot)) {
            Add(report, Severity::Error, "info.txt", "internal: the token pairing disagrees with the reader");
        }
    }

    auto value = [](int slot) { return std::string(SettingValue(slot)); };
    if (!IsSettingPresent(g_slotReg)) {
        Add(report, Severity::Error, "info.txt", "reg is missing: the updater stops with exit code 2");
    }
    for (int slot : {g_slotReadOnly, g_slotCurrentUser}) {
        if (IsSettingPresent(slot) && LooksOff(value(slot))) {
            Add(report, Severity::Warning, "info.txt",
                std::string(kSettingKeyNames[slot]) + " " + Quote(value(slot)) +
                    " turns it ON: only its presence counts, never its value");
        }
    }
    for (int slot : {g_slotVersionCheck, g_slotLowVersion, g_slotHighVersion, g_slotCopyNumber}) {
        if (IsSettingPresent(slot) && !StartsWithNumber(value(slot))) {
            Add(report, Severity::Warning, "info.txt",
                std::string(kSettingKeyNames[slot]) + " " + Quote(value(slot)) + " is no number: it reads as 0");
        }
    }
    if (IsSettingPresent(g_slotResult) && !EqualsIgnoringAsciiCase(value(g_slotResult).c_str(), "on")) {
        Add(report, Severity::Note, "info.txt",
            "result " + Quote(value(g_slotResult)) + " is not \"on\": the final report gives no file count");
    }
    if (!IsSettingPresent(g_slotDir)) {
        Add(report, Severity::Warning, "info.txt", "dir is missing: the update copies nothing");
    }
    if (!IsSettingPresent(g_slotMutex)) {
        Add(report, Severity::Note, "info.txt", "mutex is missing: the update may run while the game runs");
    }
}

void LookAtRegistry(Report* report) {
    FreshProcessWithSettings();
    Registry& r = report->registry;
    r.systemHasRegistry = dryrun::HasRegistry();
    if (!IsSettingPresent(g_slotReg)) return;
    char subkey[kTextBufferSize];
    ComposeRegistrySubkey(subkey, sizeof subkey);
    r.composed = true;
    r.subkey = subkey;
    const bool currentUser = IsSettingPresent(g_slotCurrentUser);
    r.hive = currentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    if (r.systemHasRegistry) r.status = dryrun::ReadRegistryString(currentUser, r.subkey, "installdirectory", &r.data);
    r.data = r.data.substr(0, r.data.find('\0'));  // as stored, with its terminator
    if (!report->installFolder.empty()) r.standIn = report->installFolder;
    if (report->installAssumed) r.standIn = dryrun::kAssumedInstall;
    if (std::strchr(subkey, ' ') != nullptr) {
        Add(report, Severity::Note, "registry", "each '?' of companyName and reg became a space in the key's name");
    }
}

bool CanOpen(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

// A complemented list holds mostly bytes of 0x80 and above; a plain one mostly text.
bool LooksPlain(const char* path) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes) || bytes.empty()) return false;
    std::size_t text = 0;
    for (unsigned char c : bytes) text += (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r' || c == '\t' ? 1 : 0;
    return text * 2 > bytes.size();
}

void LookAtVersionGate(Report* report) {
    FreshProcessWithSettings();
    VersionGate& g = report->gate;
    const bool given = IsSettingPresent(g_slotVersionCheck);
    g.on = given && ReadNumber(SettingValue(g_slotVersionCheck)) != 0;
    g.why = !given ? "versionCheck is absent" : g.on ? "versionCheck is nonzero" : "versionCheck reads as 0";
    platform::ListingEntry entry{};
    const platform::Listing probe = platform::FindFirstEntry("init2", &entry);
    g.init2Present = probe != nullptr;
    if (probe != nullptr) platform::CloseListing(probe);
    g.listFile = g.init2Present && CanOpen("init2\\game.fxf") ? "init2\\game.fxf" : "init\\game.xtx";
    if (!g.on) return;

    const int32_t verdict = CheckVersionGate();
    g.lower = g_lowerBound;
    g.upper = g_upperBound;
    g.loaded = verdict != kVerdictUnreadable;
    g.installed = g_installedVersion;
    if (verdict == kVerdictUnreadable) {
        g.verdict = "unreadable";
        ShowVersionUnreadableMessage();
    } else if (verdict < 0) {
        g.verdict = "too old";
        ShowTooOldMessage();
    } else if (verdict > 0) {
        g.verdict = "newer";
        ShowNewerMessage();
    } else {
        g.verdict = "accepted";
    }
    g.boxes = dryrun::State().boxes;

    if (g.init2Present && g.listFile != "init2\\game.fxf") {
        Add(report, Severity::Warning, "version gate",
            "the folder init2 exists but holds no game.fxf: the updater falls back to init\\game.xtx");
    }
    if (!dryrun::ResolveExisting("init2\\game.xtx").empty()) {
        Add(report, Severity::Warning, "version gate",
            "init2\\game.xtx is never read: under init2 the list must be complemented, as init2\\game.fxf "
            "(preflight encode)");
    }
    if (!dryrun::ResolveExisting("init\\game.fxf").empty()) {
        Add(report, Severity::Warning, "version gate",
            "init\\game.fxf is never read: under init the list must be plain, as init\\game.xtx (preflight decode)");
    }
    if (g.listFile == "init2\\game.fxf" && LooksPlain("init2\\game.fxf")) {
        Add(report, Severity::Warning, "version gate",
            "init2\\game.fxf looks like a plain list: it is read complemented, so its keys are not found "
            "(make it with preflight encode)");
    }
    if (g.lower > g.upper) {
        Add(report, Severity::Warning, "version gate", "lowVersion is above highVersion: every version is refused");
    }
}

std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

void PlanCopy(Report* report) {
    FreshProcessWithSettings();
    CopyPlan& c = report->copy;
    c.present = IsSettingPresent(g_slotDir);
    c.readonlyPresent = IsSettingPresent(g_slotReadOnly);
    c.copyNumberPresent = IsSettingPresent(g_slotCopyNumber);
    if (c.copyNumberPresent) c.copyNumber = ReadNumber(SettingValue(g_slotCopyNumber));
    if (!c.present) return;
    c.source = SettingValue(g_slotDir);
    if (c.source.empty()) {
        Add(report, Severity::Error, "copy", "dir is empty: the updater refuses to copy and ends with exit code 4");
        return;
    }
    const uint32_t sourceBits = dryrun::ReadAttributes(c.source);
    c.sourceFound = sourceBits != platform::kInvalidAttributes && (sourceBits & platform::kAttributeDirectory) != 0;
    if (!c.sourceFound) {
        Add(report, Severity::Warning, "copy",
            "dir " + Quote(c.source) +
                " is no folder of the update: nothing is copied, and the update still reports success");
    }

    c.destinationKnown = LookUpInstallDirectory() != 0 && !report->installAssumed;
    c.destination = report->installAssumed ? dryrun::kAssumedInstall : g_installDirectoryShort;
    dryrun::State().mode = dryrun::CopyMode::Plan;
    dryrun::ClearRecords();
    c.walkCompleted = CopyTree(c.source.c_str(), g_installDirectoryShort) != 0;
    dryrun::State().mode = dryrun::CopyMode::Forecast;
    c.skipped = dryrun::State().skipped;
    if (!c.walkCompleted) {
        Add(report, Severity::Error, "copy",
            "a path of the update is too long for the updater (260 bytes for a folder's listing, 1024 for a file): "
            "the copy fails with exit code 4");
    }
    for (const dryrun::Skipped& s : c.skipped) {
        Add(report, Severity::Warning, "copy",
            Quote(s.path) + (s.folder ? " (a folder) and everything in it are" : " is") +
                " not copied: the name begins with a dot");
    }

    std::map<std::string, int> missingFolders;
    for (const dryrun::Copy& copy : dryrun::State().copies) {
        CopyItem item{copy.source, copy.destination, "not checked", 0};
        if (c.destinationKnown) {
            const uint32_t folderBits = dryrun::ReadAttributes(FolderOf(copy.destination));
            const uint32_t bits = dryrun::ReadAttributes(copy.destination);
            item.attributes = bits == platform::kInvalidAttributes ? 0 : bits;
            if (folderBits == platform::kInvalidAttributes || (folderBits & platform::kAttributeDirectory) == 0) {
                item.state = "missing folder";
                ++missingFolders[FolderOf(copy.destination)];
            } else if (bits == platform::kInvalidAttributes) {
                item.state = "add";
            } else if ((bits & platform::kAttributeDirectory) != 0) {
                item.state = "folder in the way";
                Add(report, Severity::Error, "copy",
                    Quote(copy.destination) + " is a folder: the file cannot replace it (exit code 4)");
            } else if ((bits & (platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem)) !=
                       0) {
                item.state = "protected";
                std::string which;
                if (bits & platform::kAttributeReadOnly) which += "read-only ";
                if (bits & platform::kAttributeHidden) which += "hidden ";
                if (bits & platform::kAttributeSystem) which += "system ";
                which.pop_back();
                if (c.readonlyPresent) {
                    Add(report, Severity::Warning, "copy",
                        Quote(copy.destination) + " is " + which +
                            ": the player is asked before it is replaced (readonly is present); No ends the update "
                            "with exit code 4");
                } else {
                    Add(report, Severity::Error, "copy",
                        Quote(copy.destination) + " is " + which +
                            ": without readonly in info.txt the updater does not replace it and ends with exit code 4");
                }
            } else {
                item.state = "replace";
            }
        }
        c.items.push_back(item);
    }
    for (const auto& folder : missingFolders) {
        Add(report, Severity::Error, "copy",
            "the folder " + Quote(folder.first) + " does not exist in the install folder: " +
                std::to_string(folder.second) +
                " file(s) cannot go there, the walk creates no folders (exit code 4)");
    }
    const int32_t files = static_cast<int32_t>(c.items.size());
    if (!c.copyNumberPresent) {
        Add(report, Severity::Note, "copy",
            "copyNumber is absent: the overall progress bar stays still (the walk copies " + std::to_string(files) +
                " files)");
    } else if (c.copyNumber != files) {
        Add(report, Severity::Warning, "copy",
            "copyNumber is " + std::to_string(c.copyNumber) + " but the walk copies " + std::to_string(files) +
                " files: the overall progress bar will be wrong (set copyNumber " + std::to_string(files) + ")");
    }
}

void RunForecast(Report* report) {
    ResetProcessState();
    dryrun::ClearRecords();
    dryrun::State().mode = dryrun::CopyMode::Forecast;
    Forecast& f = report->forecast;
    f.exitCode = RunUpdate(nullptr);
    f.boxes = dryrun::State().boxes;
    f.copies = dryrun::State().copies;
    f.events = dryrun::State().events;
    if (f.exitCode != kExitSuccess) {
        Add(report, Severity::Error, "forecast",
            "the update would end with exit code " + std::to_string(f.exitCode) + ": " + DescribeExitCode(f.exitCode));
    }
}

}  // namespace

const char* DescribeExitCode(int code) {
    switch (code) {
        case kExitSuccess: return "update applied";
        case kExitNoInfoFile: return "info.txt not found";
        case kExitNoRegSetting: return "info.txt names no reg";
        case kExitNotInstalled: return "the game is not installed (registry key or value missing, or unusable)";
        case kExitCopyFailed: return "a file could not be copied";
        case kExitVersionUnreadable: return "the installed version is unreadable";
        case kExitVersionTooOld: return "the installed version is below the range";
        case kExitVersionNewer: return "the installed version is above the range";
        case kExitAlreadyRunning: return "the game or another updater is running";
        case kExitNotConfirmed: return "the player did not confirm the folder";
        default: return "unknown";
    }
}

void RunCheck(Report* report) {
    dryrun::World& world = dryrun::State();
    world.installOverride = report->installFolder;
    world.installAssumed = report->installAssumed;

    report->infoFound = CanOpen("info.txt");
    if (report->infoFound) {
        ReadTokens(report);
        ClassifyTokens(report);
        ReadSettings(report);
        LookAtRegistry(report);
        LookAtVersionGate(report);
        PlanCopy(report);
    } else {
        Add(report, Severity::Error, "info.txt", "info.txt is not in the update folder");
    }
    RunForecast(report);

    report->exitCode = 0;
    for (const Problem& p : report->problems) {
        if (p.severity == Severity::Error || (report->strict && p.severity == Severity::Warning)) report->exitCode = 1;
    }
}

}  // namespace preflight
