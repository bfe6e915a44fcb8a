// The report as text for a person and as JSON for a build pipeline. Everything the updater sees
// is converted from code page 932 to UTF-8 here.
#include <cstdio>

#include "platform/platform.h"
#include "tools/preflight/report.h"

namespace preflight {

namespace {

using dryrun::Cp932ToUtf8;

const char* SeverityName(Severity s) {
    switch (s) {
        case Severity::Error: return "ERROR";
        case Severity::Warning: return "WARNING";
        case Severity::Note: return "NOTE";
    }
    return "";
}

const char* StyleName(unsigned style) {
    switch (style & 0xF) {
        case platform::kMbOkCancel: return "OK/Cancel";
        case platform::kMbYesNo: return "Yes/No";
        default: return "OK";
    }
}

const char* AnswerName(int answer) { return answer == platform::kIdYes ? "Yes" : "OK"; }

// A box's text on one line: its line feeds shown as " / ".
std::string OneLine(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '\n') {
            out += " / ";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Version(int32_t v) {
    char text[48];
    std::snprintf(text, sizeof text, "Ver%d.%d%d (%d)", v / 100, (v % 100) / 10, v % 10, v);
    return text;
}

void ProblemsOf(const Report& r, const char* section, std::string* out) {
    for (const Problem& p : r.problems) {
        if (p.section == section) *out += "  " + std::string(SeverityName(p.severity)) + ": " + p.text + "\n";
    }
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Text(const std::string& cp932) { return JsonString(Cp932ToUtf8(cp932)); }

std::string Bool(bool b) { return b ? "true" : "false"; }

template <typename T, typename F>
std::string Array(const std::vector<T>& items, F render) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : ",") + render(items[i]);
    return out + "]";
}

std::string BoxJson(const dryrun::Box& b) {
    return "{\"caption\":" + Text(b.caption) + ",\"text\":" + Text(b.text) + ",\"style\":" + std::to_string(b.style) +
           ",\"buttons\":\"" + StyleName(b.style) + "\",\"answer\":\"" + AnswerName(b.answer) + "\"}";
}

}  // namespace

std::string RenderText(const Report& r) {
    std::string out;
    out += "Preflight of the update folder " + r.updateFolder + "\n";
    if (!r.installFolder.empty()) {
        out += "Install folder: " + r.installFolder + " (stands for the registry's installdirectory)\n";
    } else if (r.installAssumed) {
        out += "Install folder: not given (--install); assumed installed, destinations are not checked\n";
    } else {
        out += "Install folder: from this machine's registry\n";
    }

    out += "\n1. info.txt\n";
    if (!r.infoFound) out += "  not found\n";
    for (const Token& t : r.tokens) {
        std::string shown = t.overLong ? "(" + std::to_string(t.bytes) + " bytes, read as empty)" : Cp932ToUtf8(t.text);
        std::string role = t.role;
        if (t.role == "value" || t.role == "dropped value") role += " of " + Cp932ToUtf8(t.key);
        char line[24];
        std::snprintf(line, sizeof line, "  line %3d  ", t.line);
        out += line + role + std::string(role.size() < 28 ? 28 - role.size() : 1, ' ') + shown + "\n";
    }
    if (r.infoFound) {
        out += "  The table the updater works with:\n";
        for (const Setting& s : r.settings) {
            char head[64];
            std::snprintf(head, sizeof head, "    %-14s %-10s %-8s ", s.key.c_str(), s.use.c_str(),
                          s.present ? "present" : "absent");
            out += head + (s.present ? "\"" + Cp932ToUtf8(s.value) + "\"" : std::string()) + "\n";
        }
    }
    ProblemsOf(r, "info.txt", &out);

    out += "\n2. Registry\n";
    const Registry& g = r.registry;
    if (!g.composed) {
        out += "  not read: no reg\n";
    } else {
        out += "  key " + g.hive + "\\" + Cp932ToUtf8(g.subkey) + ", value installdirectory\n";
        if (g.systemHasRegistry) {
            out += g.status == 0 ? "  on this machine it holds \"" + Cp932ToUtf8(g.data) + "\"\n"
                                 : "  on this machine it cannot be read (error " + std::to_string(g.status) + ")\n";
        } else {
            out += "  this system has no registry\n";
        }
        if (!g.standIn.empty()) out += "  the check uses \"" + Cp932ToUtf8(g.standIn) + "\" in its place\n";
    }
    ProblemsOf(r, "registry", &out);

    out += "\n3. Version gate\n";
    const VersionGate& v = r.gate;
    if (!r.infoFound) {
        out += "  not read\n";
    } else if (!v.on) {
        out += "  off (" + v.why + "): no version list is read\n";
    } else {
        out += "  on (" + v.why + "), accepted " + Version(v.lower) + " to " + Version(v.upper) + "\n";
        out += std::string("  init2 folder: ") + (v.init2Present ? "present" : "absent") + "; list read: " +
               v.listFile + "\n";
        if (v.loaded) out += "  installed version: " + Version(v.installed) + "\n";
        out += "  verdict: " + v.verdict + "\n";
        for (const dryrun::Box& b : v.boxes) {
            out += "  box [" + Cp932ToUtf8(b.caption) + "] " + OneLine(Cp932ToUtf8(b.text)) + "\n";
        }
    }
    ProblemsOf(r, "version gate", &out);

    out += "\n4. Copy plan\n";
    const CopyPlan& c = r.copy;
    if (!c.present) {
        out += "  nothing to copy: no dir\n";
    } else {
        out += "  from \"" + Cp932ToUtf8(c.source) + "\" to \"" + Cp932ToUtf8(c.destination) + "\", in walk order\n";
        for (const CopyItem& item : c.items) {
            char state[24];
            std::snprintf(state, sizeof state, "  %-19s ", item.state.c_str());
            out += state + Cp932ToUtf8(item.source) + " -> " + Cp932ToUtf8(item.destination) + "\n";
        }
        for (const dryrun::Skipped& s : c.skipped) {
            out += "  skipped (dot name)  " + Cp932ToUtf8(s.path) + (s.folder ? "\\" : "") + "\n";
        }
        out += "  files: " + std::to_string(c.items.size()) + ", copyNumber: " +
               (c.copyNumberPresent ? std::to_string(c.copyNumber) : std::string("absent")) + "\n";
    }
    ProblemsOf(r, "copy", &out);

    out += "\n5. Forecast (every question answered OK or Yes)\n";
    for (const dryrun::Box& b : r.forecast.boxes) {
        out += "  box [" + Cp932ToUtf8(b.caption) + "] " + OneLine(Cp932ToUtf8(b.text)) + "  -> " +
               AnswerName(b.answer) + "\n";
    }
    int copied = 0;
    for (const dryrun::Copy& copy : r.forecast.copies) copied += copy.succeeds ? 1 : 0;
    out += "  copies attempted: " + std::to_string(r.forecast.copies.size()) + ", succeeding: " +
           std::to_string(copied) + "\n";
    out += "  exit code " + std::to_string(r.forecast.exitCode) + ": " + DescribeExitCode(r.forecast.exitCode) + "\n";
    ProblemsOf(r, "forecast", &out);

    int errors = 0;
    int warnings = 0;
    for (const Problem& p : r.problems) {
        errors += p.severity == Severity::Error ? 1 : 0;
        warnings += p.severity == Severity::Warning ? 1 : 0;
    }
    out += "\nResult: " + std::string(r.exitCode == 0 ? "nothing would fail" : "the update would fail or refuse") +
           " (" + std::to_string(errors) + " errors, " + std::to_string(warnings) + " warnings)\n";
    return out;
}

std::string RenderJson(const Report& r) {
    std::string out = "{";
    out += "\"exitCode\":" + std::to_string(r.exitCode);
    out += ",\"updateFolder\":" + JsonString(r.updateFolder);
    out += ",\"installFolder\":" + (r.installFolder.empty() ? std::string("null") : JsonString(r.installFolder));
    out += ",\"installAssumed\":" + Bool(r.installAssumed);
    out += ",\"forecast\":{\"exitCode\":" + std::to_string(r.forecast.exitCode) +
           ",\"meaning\":" + JsonString(DescribeExitCode(r.forecast.exitCode)) +
           ",\"boxes\":" + Array(r.forecast.boxes, BoxJson) +
           ",\"copies\":" + Array(r.forecast.copies, [](const dryrun::Copy& c) {
               return "{\"source\":" + Text(c.source) + ",\"destination\":" + Text(c.destination) +
                      ",\"succeeds\":" + Bool(c.succeeds) + "}";
           }) +
           ",\"events\":" + Array(r.forecast.events, [](const std::string& e) { return Text(e); }) + "}";
    out += ",\"problems\":" + Array(r.problems, [](const Problem& p) {
               return "{\"severity\":\"" + std::string(SeverityName(p.severity)) + "\",\"section\":" +
                      JsonString(p.section) + ",\"text\":" + JsonString(p.text) + "}";
           });
    out += ",\"info\":{\"found\":" + Bool(r.infoFound) + ",\"tokens\":" + Array(r.tokens, [](const Token& t) {
               return "{\"line\":" + std::to_string(t.line) + ",\"text\":" + Text(t.text) +
                      ",\"bytes\":" + std::to_string(t.bytes) + ",\"overLong\":" + Bool(t.overLong) +
                      ",\"role\":" + JsonString(t.role) + ",\"key\":" + Text(t.key) + "}";
           }) + ",\"settings\":" + Array(r.settings, [](const Setting& s) {
               return "{\"slot\":" + std::to_string(s.slot) + ",\"key\":" + JsonString(s.key) +
                      ",\"present\":" + Bool(s.present) + ",\"value\":" + Text(s.value) +
                      ",\"use\":" + JsonString(s.use) + "}";
           }) + "}";
    const Registry& g = r.registry;
    out += ",\"registry\":{\"read\":" + Bool(g.composed) + ",\"hive\":" + JsonString(g.hive) +
           ",\"subkey\":" + Text(g.subkey) + ",\"value\":\"installdirectory\",\"systemHasRegistry\":" +
           Bool(g.systemHasRegistry) + ",\"status\":" + std::to_string(g.status) +
           ",\"data\":" + Text(g.data) + ",\"standIn\":" + Text(g.standIn) + "}";
    const VersionGate& v = r.gate;
    out += ",\"versionGate\":{\"on\":" + Bool(v.on) + ",\"why\":" + JsonString(v.why) +
           ",\"lower\":" + std::to_string(v.lower) + ",\"upper\":" + std::to_string(v.upper) +
           ",\"init2Present\":" + Bool(v.init2Present) + ",\"listFile\":" + JsonString(v.listFile) +
           ",\"loaded\":" + Bool(v.loaded) + ",\"installed\":" + std::to_string(v.installed) +
           ",\"verdict\":" + JsonString(v.verdict) + ",\"boxes\":" + Array(v.boxes, BoxJson) + "}";
    const CopyPlan& c = r.copy;
    out += ",\"copy\":{\"dir\":" + Bool(c.present) + ",\"source\":" + Text(c.source) +
           ",\"sourceFound\":" + Bool(c.sourceFound) + ",\"destination\":" + Text(c.destination) +
           ",\"destinationChecked\":" + Bool(c.destinationKnown) + ",\"walkCompleted\":" + Bool(c.walkCompleted) +
           ",\"files\":" + Array(c.items, [](const CopyItem& i) {
               return "{\"source\":" + Text(i.source) + ",\"destination\":" + Text(i.destination) +
                      ",\"state\":" + JsonString(i.state) + ",\"attributes\":" + std::to_string(i.attributes) + "}";
           }) + ",\"skipped\":" + Array(c.skipped, [](const dryrun::Skipped& s) {
               return "{\"path\":" + Text(s.path) + ",\"folder\":" + Bool(s.folder) + "}";
           }) + ",\"fileCount\":" + std::to_string(c.items.size()) +
           ",\"copyNumber\":" + (c.copyNumberPresent ? std::to_string(c.copyNumber) : std::string("null")) + "}";
    return out + "}\n";
}

}  // namespace preflight
