// preflight: shows a publisher what an update folder will do on a player's machine, with the
// updater's own code, before it ships. Exit codes: 0 nothing would fail, 1 it would, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "namelist/name_list.h"
#include "settings/settings.h"
#include "platform/dryrun/dry_run.h"
#include "tools/preflight/report.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitWouldFail = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "preflight - see what an update folder will do before you ship it\n"
    "\n"
    "Usage:\n"
    "  preflight check UPDATE_FOLDER [--install FOLDER] [--json] [--strict]\n"
    "  preflight encode FILE [-o OUTPUT]\n"
    "  preflight decode FILE [-o OUTPUT]\n"
    "  preflight --help\n"
    "\n"
    "check\n"
    "  Reads UPDATE_FOLDER the way the updater reads its own folder (the folder that holds\n"
    "  info.txt and update.exe) and reports, in the updater's order:\n"
    "    1. info.txt: every word, what it became (key, value, comment, dropped), and the\n"
    "       table of the 16 settings;\n"
    "    2. the registry key the updater opens for the value installdirectory;\n"
    "    3. the version gate: on or off, the bounds, the version list read and the verdict;\n"
    "    4. the copy plan in the updater's order: files to copy, names skipped because they\n"
    "       begin with a dot, the file count against copyNumber, and with an install folder:\n"
    "       destination folders that are missing and destination files that are read-only,\n"
    "       hidden or system;\n"
    "    5. the forecast: every message box the player would see, answering OK and Yes to\n"
    "       every question, and the updater's exit code.\n"
    "  Nothing is copied or changed. Every problem is marked ERROR, WARNING or NOTE.\n"
    "\n"
    "  --install FOLDER  a copy of the installed game to check the copy against; it stands\n"
    "                    for the registry's installdirectory. Without it, on Windows the\n"
    "                    registry of this machine is read; on Linux the game is assumed\n"
    "                    installed and destinations are not checked.\n"
    "                    On Linux a file without write permission counts as read-only and\n"
    "                    the extended attribute user.DOSATTRIB gives hidden and system, as\n"
    "                    under Wine (chmod a-w FILE makes a read-only destination).\n"
    "  --json            one JSON object on standard output instead of the text report\n"
    "                    (UTF-8): \"exitCode\", \"forecast\" {\"exitCode\", \"boxes\" [{\"caption\",\n"
    "                    \"text\", ...}], \"copies\"}, \"problems\", and every section.\n"
    "  --strict          warnings count as failures (exit code 1), for build pipelines:\n"
    "                    a shifted info.txt often fails nothing and copies nothing.\n"
    "\n"
    "encode FILE / decode FILE\n"
    "  Converts a name list between its plain form (.xtx, read from init\\) and its\n"
    "  complemented form (.fxf, every byte inverted, read from init2\\). The output is written\n"
    "  next to FILE with the other extension (game.xtx <-> game.fxf) unless -o names it; an\n"
    "  existing output is replaced, FILE itself never. The list is then read as the updater\n"
    "  reads it and the version it gives is shown.\n"
    "\n"
    "Exit codes:\n"
    "  0  nothing would fail\n"
    "  1  the update would fail or refuse (the reasons are marked ERROR; with --strict also\n"
    "     WARNING), or a file could not be read or written\n"
    "  2  bad usage\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "preflight: %s\nRun preflight --help for the usage.\n", why.c_str());
    return kExitUsage;
}

int Check(int argc, char** argv) {
    preflight::Report report;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--strict") {
            report.strict = true;
        } else if (arg == "--install") {
            if (i + 1 >= argc) return Usage("--install needs a folder");
            report.installFolder = argv[++i];
        } else if (arg.compare(0, 1, "-") == 0) {
            return Usage("unknown option " + arg);
        } else if (report.updateFolder.empty()) {
            report.updateFolder = arg;
        } else {
            return Usage("one update folder only");
        }
    }
    if (report.updateFolder.empty()) return Usage("check needs an update folder");
    report.installAssumed = report.installFolder.empty() && !dryrun::HasRegistry();
    if (!report.installFolder.empty()) {
        // The updater gets an absolute folder from the registry; the check runs elsewhere.
        const std::string absolute = dryrun::AbsoluteFolder(report.installFolder);
        if (absolute.empty()) return Usage("--install: not a folder: " + report.installFolder);
        report.installFolder = absolute;
    }

    std::string error;
    if (!dryrun::EnterUpdateFolder(report.updateFolder, &error)) return Usage(error);
    preflight::RunCheck(&report);
    dryrun::LeaveUpdateFolder();
    dryrun::WriteOutput(json ? preflight::RenderJson(report) : preflight::RenderText(report));
    return report.exitCode;
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// Inverts every byte of FILE into the output; the same operation in both directions.
int Convert(int argc, char** argv, bool encode) {
    std::string input;
    std::string output;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o") {
            if (i + 1 >= argc) return Usage("-o needs a file");
            output = argv[++i];
        } else if (arg.compare(0, 1, "-") == 0) {
            return Usage("unknown option " + arg);
        } else if (input.empty()) {
            input = arg;
        } else {
            return Usage("one file only");
        }
    }
    if (input.empty()) return Usage(std::string(argv[1]) + " needs a file");
    const char* from = encode ? ".xtx" : ".fxf";
    const char* to = encode ? ".fxf" : ".xtx";
    if (output.empty()) {
        output = (EndsWith(input, from) ? input.substr(0, input.size() - 4) : input) + to;
    }
    if (output == input) return Usage("the output would replace the input: name another with -o");

    std::FILE* in = std::fopen(input.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "preflight: cannot read %s\n", input.c_str());
        return kExitWouldFail;
    }
    std::string bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, got);
    std::fclose(in);
    for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
    std::FILE* out = std::fopen(output.c_str(), "wb");
    const bool written = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out != nullptr && std::fclose(out) != 0) return kExitWouldFail;
    if (!written) {
        std::fprintf(stderr, "preflight: cannot write %s\n", output.c_str());
        return kExitWouldFail;
    }

    // What the updater reads from the plain or complemented result.
    CNameList list;
    dryrun::ClearRecords();
    const int loaded = list.LoadFile(output.c_str(), encode ? 1 : 0, 1);
    std::string report = "wrote " + std::to_string(bytes.size()) + " bytes to " + output + "\n";
    report += "read as the updater reads it: " + std::to_string(list.GetCount()) + " entries\n";
    for (const char* key : {"lowVersion", "middleVersion", "highVersion"}) {
        const int32_t pair = list.Find(key, 2, 1, 0);
        const char* value = pair < 0 ? nullptr : list.GetItem(2 * pair + 1);
        report += std::string("  ") + key + " " + (value != nullptr ? dryrun::Cp932ToUtf8(value) : "(none)") + "\n";
    }
    for (const dryrun::Box& box : dryrun::State().boxes) {
        report += "  ERROR: the updater would show [" + dryrun::Cp932ToUtf8(box.caption) + "] " +
                  dryrun::Cp932ToUtf8(box.text) + "\n";
    }
    report += std::string("put it in the update folder as ") + (encode ? "init2\\game.fxf" : "init\\game.xtx") + "\n";
    dryrun::WriteOutput(report);
    return loaded != 0 && dryrun::State().boxes.empty() ? kExitClean : kExitWouldFail;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        dryrun::WriteOutput(kHelp);
        return kExitClean;
    }
    if (command == "check") return Check(argc, argv);
    if (command == "encode") return Convert(argc, argv, true);
    if (command == "decode") return Convert(argc, argv, false);
    return Usage("unknown command " + command);
}
