#include "scenario.h"

#include <cstdio>
#include <cstdlib>

#include "trace.h"

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool ParseAttributes(const std::string& letters, uint32_t* attributes) {
    *attributes = 0;
    for (const char c : letters) {
        if (c == 'R') {
            *attributes |= 0x1;
        } else if (c == 'H') {
            *attributes |= 0x2;
        } else if (c == 'S') {
            *attributes |= 0x4;
        } else if (c != 'N') {
            return false;
        }
    }
    return true;
}

bool IsAnswer(const std::string& answer) {
    static const char* const kAnswers[] = {"OK", "CANCEL", "YES", "NO", "ESC", "ESCKEY", "CLOSE", "NONE"};
    for (const char* known : kAnswers) {
        if (answer == known) return true;
    }
    return false;
}

bool ParseLine(const std::vector<std::string>& f, Scenario* s, std::string* error) {
    const std::string& op = f[0];
    const size_t n = f.size();
    if (op == "updater" && n == 2) {
        s->updater = Utf8ToWide(f[1]);
    } else if (op == "workdir" && n == 2) {
        s->workdir = Utf8ToWide(f[1]);
    } else if (op == "timeout_ms" && n == 2) {
        s->timeoutMs = static_cast<uint32_t>(std::strtoul(f[1].c_str(), nullptr, 10));
    } else if (op == "reg" && (n == 3 || n == 4) && (f[1] == "HKCU" || f[1] == "HKLM")) {
        RegistrySetup setup;
        setup.hive = f[1];
        setup.subkey = Utf8ToWide(f[2]);
        setup.hasValue = n == 4;
        if (setup.hasValue) setup.data = Utf8ToWide(f[3]);
        s->registry.push_back(setup);
    } else if (op == "hold_mutex" && n == 2) {
        s->heldMutexes.push_back(Utf8ToWide(f[1]));
    } else if (op == "attrib" && n == 3) {
        AttributeSetup setup;
        setup.path = Utf8ToWide(f[1]);
        if (!ParseAttributes(f[2], &setup.attributes)) {
            *error = "bad attribute letters: " + f[2];
            return false;
        }
        s->attributes.push_back(setup);
    } else if (op == "hold_file" && n == 2) {
        s->heldFiles.push_back(Utf8ToWide(f[1]));
    } else if (op == "short_path" && n == 2) {
        s->shortPaths.push_back(Utf8ToWide(f[1]));
    } else if (op == "attrib_after" && n == 2) {
        s->attributesAfter.push_back(Utf8ToWide(f[1]));
    } else if (op == "listing" && n == 2) {
        s->listings.push_back(Utf8ToWide(f[1]));
    } else if (op == "instances" && n == 2) {
        s->instances = static_cast<uint32_t>(std::strtoul(f[1].c_str(), nullptr, 10));
        if (s->instances < 1 || s->instances > 32) {
            *error = "instances must be 1 to 32";
            return false;
        }
    } else if (op == "launched_plan" && n == 1) {
        s->inLaunchedPlan = true;
    } else if (op == "box" && n >= 2 && IsAnswer(f[1])) {
        BoxPlan plan;
        plan.answer = f[1];
        for (size_t i = 2; i < n; ++i) {
            if (f[i] == "release_files") {
                plan.releaseFiles = true;
            } else if (f[i] == "release_named") {
                plan.releaseNamed = true;
            } else if (f[i].rfind("probe_mutex=", 0) == 0) {
                plan.probeMutexes.push_back(Utf8ToWide(f[i].substr(12)));
            } else if (f[i].rfind("move_to=", 0) == 0 && f[i].find(',') != std::string::npos) {
                plan.move = true;
                plan.moveX = std::atoi(f[i].c_str() + 8);
                plan.moveY = std::atoi(f[i].c_str() + f[i].find(',') + 1);
            } else if (f[i] == "together") {
                plan.together = true;
            } else if (f[i] == "launch") {
                plan.launch = true;
            } else if (f[i].rfind("wait_for=", 0) == 0) {
                plan.waitFor = Utf8ToWide(f[i].substr(9));
            } else {
                *error = "unknown box action: " + f[i];
                return false;
            }
        }
        (s->inLaunchedPlan ? s->launchedBoxes : s->boxes).push_back(plan);
    } else {
        *error = "malformed line starting with: " + op;
        return false;
    }
    return true;
}

}  // namespace

bool LoadScenario(const std::wstring& path, Scenario* scenario, std::string* error) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        *error = "cannot open the scenario file";
        return false;
    }
    std::string content;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
    std::fclose(file);

    std::string::size_type start = 0;
    while (start < content.size()) {
        std::string::size_type end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (!ParseLine(SplitTabs(line), scenario, error)) return false;
    }
    if (scenario->updater.empty() || scenario->workdir.empty()) {
        *error = "the scenario names no updater or no workdir";
        return false;
    }
    return true;
}
