// The end-to-end driver: sets up the registry, files and mutexes a scenario asks for, starts
// update.exe in its working directory, finds every window of that process, records message
// boxes and the progress window in a trace, answers the boxes as planned, and reports the exit
// code. Every wait has a deadline: a run that hangs is recorded, killed and fails.
//
// Usage: e2e_driver <scenario file> <trace file>
// Exit code: 0 the updater ended (whatever its exit code), 2 bad scenario or set-up, 3 timeout.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "scenario.h"
#include "trace.h"

namespace {

// Ids of the updater's progress window (dialog template 9) and of a message box's text.
constexpr int kTickBar = 1001;
constexpr int kOverallBar = 1002;
constexpr int kStatusLabel = 1003;
constexpr int kBoxText = 0xFFFF;
constexpr UINT kProgressGetPos = WM_USER + 8;  // PBM_GETPOS
constexpr DWORD kPollMs = 15;
// While the updater copies it pumps no messages, so a read that needs its thread may time out;
// while a message box is up its modal loop answers at once.
constexpr UINT kPollSendTimeoutMs = 30;
constexpr UINT kBoxSendTimeoutMs = 2000;
constexpr int kBoxReadAttempts = 100;  // with kPollMs between them: about 1.5 s beyond the reads
constexpr size_t kMaxText = 8192;

constexpr int kExitDone = 0;
constexpr int kExitSetUp = 2;
constexpr int kExitTimeout = 3;

Trace g_trace;
DWORD g_startTick = 0;

int64_t Elapsed() { return static_cast<int64_t>(GetTickCount() - g_startTick); }

std::string AnsiOf(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

void WriteError(const std::string& what, DWORD code) {
    Event event("error");
    event.Add("what", what).Add("code", static_cast<int64_t>(code));
    g_trace.Write(event);
}

// The window's text as the updater's ANSI bytes, through WM_GETTEXT (GetWindowText does not
// ask another process's controls). false when the updater did not answer in time.
bool ReadText(HWND window, UINT timeoutMs, std::string* bytes) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length)) return false;
    std::vector<char> buffer(length + 1 < kMaxText ? length + 1 : kMaxText, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, timeoutMs, &copied)) {
        return false;
    }
    bytes->assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
    return true;
}

// ---- Windows of the updater ----

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    Search* search = reinterpret_cast<Search*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (pid == search->pid && std::string(className) == "#32770") search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsOf(DWORD pid) {
    Search search{pid, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsProgressWindow(HWND dialog) { return GetDlgItem(dialog, kStatusLabel) != nullptr; }

struct ProgressSample {
    bool present = false;
    bool visible = false;
    bool readable = false;  // label and bars were read (the updater answered in time)
    std::string label;
    int64_t tick = -1;
    int64_t overall = -1;
    RECT rect{};
};

bool ReadBar(HWND dialog, int id, UINT timeoutMs, int64_t* position) {
    DWORD_PTR value = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, id), kProgressGetPos, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &value)) {
        return false;
    }
    *position = static_cast<int64_t>(value);
    return true;
}

// readTexts false: presence, visibility and place only (no message sent to the updater).
ProgressSample SampleProgress(HWND dialog, UINT timeoutMs, bool readTexts = true) {
    ProgressSample sample;
    if (dialog == nullptr) return sample;
    sample.present = true;
    sample.visible = IsWindowVisible(dialog) != FALSE;
    GetWindowRect(dialog, &sample.rect);
    if (!readTexts) return sample;
    std::string bytes;
    sample.readable = ReadText(GetDlgItem(dialog, kStatusLabel), timeoutMs, &bytes) &&
                      ReadBar(dialog, kTickBar, timeoutMs, &sample.tick) &&
                      ReadBar(dialog, kOverallBar, timeoutMs, &sample.overall);
    if (sample.readable) sample.label = Cp932ToUtf8(bytes);
    return sample;
}

bool SameWindowState(const ProgressSample& a, const ProgressSample& b) {
    return a.present == b.present && a.visible == b.visible && EqualRect(&a.rect, &b.rect);
}

void WriteProgress(const ProgressSample& sample, const std::string& at, int proc) {
    Event event("progress");
    event.Add("proc", static_cast<int64_t>(proc)).Add("at", at).Add("t", Elapsed()).Add("present", sample.present);
    if (sample.present) {
        event.Add("visible", sample.visible)
            .AddRaw("rect", "[" + std::to_string(sample.rect.left) + "," + std::to_string(sample.rect.top) + "," +
                                std::to_string(sample.rect.right) + "," + std::to_string(sample.rect.bottom) + "]")
            .Add("readable", sample.readable);
        if (sample.readable) event.Add("label", sample.label).Add("tick", sample.tick).Add("overall", sample.overall);
    }
    g_trace.Write(event);
}

HWND FindProgress(const std::vector<HWND>& dialogs) {
    for (HWND dialog : dialogs) {
        if (IsProgressWindow(dialog)) return dialog;
    }
    return nullptr;
}

// ---- Message boxes ----

struct IconSearch {
    bool found = false;
};

BOOL CALLBACK FindIcon(HWND child, LPARAM data) {
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
        DWORD_PTR icon = 0;
        if (SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kBoxSendTimeoutMs, &icon) && icon != 0) {
            reinterpret_cast<IconSearch*>(data)->found = true;
        }
    }
    return TRUE;
}

struct Button {
    int id;
    const char* name;
};
const Button kButtons[] = {{IDOK, "OK"}, {IDCANCEL, "CANCEL"}, {IDYES, "YES"}, {IDNO, "NO"}};

bool HasButton(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button);
}

// Records the box; returns its text in UTF-16.
std::wstring RecordBox(HWND box, int number, int proc) {
    std::string caption;
    std::string text;
    HWND textControl = GetDlgItem(box, kBoxText);
    // A thread that pumped no messages for seconds (a long load before the box) counts as hung
    // until its box's loop has run a while, and SMTO_ABORTIFHUNG then fails at once: retry.
    bool captionRead = false;
    bool textRead = false;
    for (int attempt = 0; attempt < kBoxReadAttempts && !(captionRead && textRead); ++attempt) {
        if (attempt > 0) Sleep(kPollMs);
        captionRead = captionRead || ReadText(box, kBoxSendTimeoutMs, &caption);
        textRead = textRead || (textControl != nullptr && ReadText(textControl, kBoxSendTimeoutMs, &text));
    }
    std::string buttons = "[";
    for (const Button& button : kButtons) {
        if (!HasButton(box, button.id)) continue;
        if (buttons.size() > 1) buttons += ",";
        buttons += JsonString(button.name);
    }
    buttons += "]";
    IconSearch icon;
    EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));

    Event event("box");
    event.Add("proc", static_cast<int64_t>(proc))
        .Add("n", static_cast<int64_t>(number))
        .Add("t", Elapsed())
        .Add("caption", Cp932ToUtf8(caption))
        .Add("text", Cp932ToUtf8(text))
        .AddRaw("buttons", buttons)
        .Add("icon", icon.found);
    if (!captionRead || !textRead) event.Add("read_failed", true);
    g_trace.Write(event);
    return Utf8ToWide(Cp932ToUtf8(text));
}

void ProbeMutex(const std::wstring& name) {
    Event event("mutex_probe");
    event.Add("name", WideToUtf8(name)).Add("t", Elapsed());
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    event.Add("exists", mutex != nullptr);
    if (mutex != nullptr) {
        const DWORD wait = WaitForSingleObject(mutex, 0);
        const bool taken = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        event.Add("free", taken).Add("abandoned", wait == WAIT_ABANDONED);
        if (taken) ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    g_trace.Write(event);
}

// Presses a button as a click does: WM_COMMAND with the id, BN_CLICKED and the button's handle.
void PressButton(HWND box, int id) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void Answer(HWND box, const std::string& answer, bool planned, int proc) {
    Event event("answer");
    event.Add("proc", static_cast<int64_t>(proc)).Add("answer", answer).Add("planned", planned).Add("t", Elapsed());
    if (answer == "OK" || answer == "CANCEL" || answer == "YES" || answer == "NO") {
        const int id = answer == "OK" ? IDOK : answer == "CANCEL" ? IDCANCEL : answer == "YES" ? IDYES : IDNO;
        event.Add("via", "WM_COMMAND").Add("button_present", HasButton(box, id));
        PressButton(box, id);
    } else if (answer == "ESC") {
        event.Add("via", "WM_COMMAND IDCANCEL (as the dialog manager sends for Esc)");
        PressButton(box, IDCANCEL);
    } else if (answer == "ESCKEY") {
        event.Add("via", "WM_KEYDOWN/WM_KEYUP VK_ESCAPE posted to the box");
        PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(box, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
    } else if (answer == "NONE") {
        event.Add("via", "none: the box stays up");
    } else {
        event.Add("via", "WM_CLOSE");
        PostMessageA(box, WM_CLOSE, 0, 0);
    }
    g_trace.Write(event);
}

// The answer to a box that the scenario did not plan: the first button a player could press.
std::string DefaultAnswer(HWND box) {
    if (HasButton(box, IDOK)) return "OK";
    if (HasButton(box, IDNO)) return "NO";
    if (HasButton(box, IDCANCEL)) return "CANCEL";
    return "CLOSE";
}

// ---- Set-up and clean-up ----

struct CreatedKey {
    HKEY root;
    std::wstring path;  // the outermost key this driver created; deleted with all below it
};

struct HeldFile {
    std::wstring path;
    HANDLE handle;
};

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

struct Resources {
    std::vector<CreatedKey> keys;
    std::vector<HANDLE> mutexes;
    std::vector<HeldFile> files;

    void ReleaseFiles() {
        for (const HeldFile& file : files) CloseHandle(file.handle);
        files.clear();
    }
    // Closes the held files whose path appears in text; returns how many.
    int ReleaseNamedIn(const std::wstring& text) {
        int released = 0;
        const std::wstring lowerText = Lower(text);
        for (auto it = files.begin(); it != files.end();) {
            if (lowerText.find(Lower(it->path)) != std::wstring::npos) {
                CloseHandle(it->handle);
                it = files.erase(it);
                ++released;
            } else {
                ++it;
            }
        }
        return released;
    }
    ~Resources() {
        ReleaseFiles();
        for (HANDLE mutex : mutexes) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
        for (const CreatedKey& key : keys) RegDeleteTreeW(key.root, key.path.c_str());
    }
};

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool SetUpRegistry(const RegistrySetup& setup, Resources* resources) {
    HKEY root = setup.hive == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    // Remember the outermost component that does not exist yet, to remove exactly what we add.
    std::wstring::size_type at = 0;
    for (;;) {
        const std::wstring::size_type slash = setup.subkey.find(L'\\', at);
        const std::wstring prefix = setup.subkey.substr(0, slash);
        if (!KeyExists(root, prefix)) {
            resources->keys.push_back(CreatedKey{root, prefix});
            break;
        }
        if (slash == std::wstring::npos) break;
        at = slash + 1;
    }
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, setup.subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS && setup.hasValue) {
        const DWORD bytes = static_cast<DWORD>((setup.data.size() + 1) * sizeof(wchar_t));
        status = RegSetValueExW(key, L"installdirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(setup.data.c_str()),
                                bytes);
    }
    if (key != nullptr) RegCloseKey(key);
    Event event("registry");
    event.Add("hive", setup.hive).Add("subkey", WideToUtf8(setup.subkey)).Add("status", static_cast<int64_t>(status));
    if (setup.hasValue) {
        event.Add("data", WideToUtf8(setup.data)).Add("ansi_bytes", static_cast<int64_t>(AnsiOf(setup.data).size()));
    }
    g_trace.Write(event);
    return status == ERROR_SUCCESS;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex += kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF];
        hex += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return hex;
}

// The folder's entries as the updater's ANSI listing gives them (empty when the pattern does not
// fit MAX_PATH) and as the wide listing gives them, each in listing order, "." and ".." left out.
void RecordListing(const std::wstring& folder) {
    std::string ansi = "[";
    WIN32_FIND_DATAA a{};
    HANDLE find = FindFirstFileA((AnsiOf(folder) + "\\*").c_str(), &a);
    const DWORD ansiError = find == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &a)) {
        const std::string name = a.cFileName;
        if (name == "." || name == "..") continue;
        if (ansi.size() > 1) ansi += ",";
        ansi += "{\"name\":" + JsonString(Cp932ToUtf8(name)) + ",\"hex\":" + JsonString(Hex(name)) +
                ",\"dir\":" + ((a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "true" : "false") + "}";
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::string wide = "[";
    WIN32_FIND_DATAW w{};
    find = FindFirstFileW((folder + L"\\*").c_str(), &w);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &w)) {
        const std::wstring name = w.cFileName;
        if (name == L"." || name == L"..") continue;
        if (wide.size() > 1) wide += ",";
        wide += "{\"name\":" + JsonString(WideToUtf8(name)) +
                ",\"dir\":" + ((w.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "true" : "false") + "}";
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    Event event("listing");
    event.Add("path", WideToUtf8(folder))
        .AddRaw("ansi", ansi + "]")
        .Add("ansi_error", static_cast<int64_t>(ansiError))
        .AddRaw("wide", wide + "]");
    g_trace.Write(event);
}

bool SetUp(const Scenario& scenario, Resources* resources) {
    for (const RegistrySetup& setup : scenario.registry) {
        if (!SetUpRegistry(setup, resources)) return false;
    }
    for (const std::wstring& name : scenario.heldMutexes) {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
        const DWORD error = GetLastError();
        if (mutex == nullptr || error == ERROR_ALREADY_EXISTS) {
            WriteError("cannot create the mutex " + WideToUtf8(name), error);
            if (mutex != nullptr) CloseHandle(mutex);
            return false;
        }
        resources->mutexes.push_back(mutex);
    }
    for (const AttributeSetup& setup : scenario.attributes) {
        const DWORD attributes = setup.attributes != 0 ? setup.attributes : FILE_ATTRIBUTE_NORMAL;
        if (!SetFileAttributesW(setup.path.c_str(), attributes)) {
            WriteError("cannot set the attributes of " + WideToUtf8(setup.path), GetLastError());
            return false;
        }
    }
    for (const std::wstring& path : scenario.heldFiles) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            WriteError("cannot hold " + WideToUtf8(path), GetLastError());
            return false;
        }
        resources->files.push_back(HeldFile{path, file});
    }
    for (const std::wstring& folder : scenario.listings) RecordListing(folder);
    for (const std::wstring& path : scenario.shortPaths) {
        char shortForm[1024] = {};
        const DWORD length = GetShortPathNameA(AnsiOf(path).c_str(), shortForm, sizeof shortForm);
        Event event("short_path");
        event.Add("path", WideToUtf8(path))
            .Add("short", Cp932ToUtf8(length != 0 && length < sizeof shortForm ? shortForm : ""));
        g_trace.Write(event);
    }
    return true;
}

void ReportAttributesAfter(const Scenario& scenario) {
    for (const std::wstring& path : scenario.attributesAfter) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        Event event("attributes");
        event.Add("path", WideToUtf8(path)).Add("exists", attributes != INVALID_FILE_ATTRIBUTES);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            event.Add("readonly", (attributes & FILE_ATTRIBUTE_READONLY) != 0)
                .Add("hidden", (attributes & FILE_ATTRIBUTE_HIDDEN) != 0)
                .Add("system", (attributes & FILE_ATTRIBUTE_SYSTEM) != 0)
                .Add("value", static_cast<int64_t>(attributes));
        }
        g_trace.Write(event);
    }
}

void WriteStart(const Scenario& scenario) {
    HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES);
    const int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    Event event("start");
    event.Add("acp", static_cast<int64_t>(GetACP()))
        .Add("driver_bits", static_cast<int64_t>(sizeof(void*) * 8))
        .AddRaw("screen", "[" + std::to_string(width) + "," + std::to_string(height) + "]")
        .AddRaw("metrics", "[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                               std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "]")
        .Add("updater", WideToUtf8(scenario.updater))
        .Add("workdir", WideToUtf8(scenario.workdir))
        // A code page 932 text made by this process and read back, proving the round trip.
        .Add("cp932_check", Cp932ToUtf8("\x8a\x6d\x94\x46"));
    g_trace.Write(event);
}

// One updater process and where it stands in its plan.
struct Updater {
    int index = 0;
    HANDLE process = nullptr;
    DWORD pid = 0;
    const std::vector<BoxPlan>* plans = nullptr;
    size_t nextPlan = 0;
    int boxes = 0;
    bool ended = false;
    std::set<HWND> seen;
    ProgressSample last;
    // A box whose answer waits (together, or launch until the launched updater ended).
    HWND heldBox = nullptr;
    const BoxPlan* heldPlan = nullptr;
    size_t launched = 0;  // index of the updater a held launch box waits for
};

// Creates an updater, suspended; returns its main thread for the caller to resume, or null
// when it cannot be started.
HANDLE CreateUpdater(const Scenario& scenario, const std::vector<BoxPlan>* plans, std::vector<Updater>* updaters) {
    std::wstring commandLine = L"\"" + scenario.updater + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(scenario.updater.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, scenario.workdir.c_str(), &startup, &process)) {
        WriteError("cannot start the updater", GetLastError());
        return nullptr;
    }
    Updater updater;
    updater.index = static_cast<int>(updaters->size());
    updater.process = process.hProcess;
    updater.pid = process.dwProcessId;
    updater.plans = plans;
    updaters->push_back(updater);
    Event event("started");
    event.Add("proc", static_cast<int64_t>(updater.index)).Add("pid", static_cast<int64_t>(updater.pid));
    g_trace.Write(event);
    return process.hThread;
}

void Resume(HANDLE thread) {
    ResumeThread(thread);
    CloseHandle(thread);
}

void WriteExit(const Updater& updater) {
    DWORD code = 0;
    GetExitCodeProcess(updater.process, &code);
    Event event("exit");
    event.Add("proc", static_cast<int64_t>(updater.index))
        .Add("t", Elapsed())
        .Add("code", static_cast<int64_t>(static_cast<int32_t>(code)))
        .Add("unsigned", static_cast<int64_t>(code))
        .Add("boxes", static_cast<int64_t>(updater.boxes))
        .Add("unanswered_plans", static_cast<int64_t>(updater.plans->size() - updater.nextPlan));
    g_trace.Write(event);
}

// Records the new boxes and the progress window of one updater and answers what its plan allows.
// Returns false when a launched updater cannot be started.
bool Visit(const Scenario& scenario, Resources* resources, std::vector<Updater>* updaters, size_t which) {
    Updater& u = (*updaters)[which];
    const bool single = updaters->size() == 1 && scenario.launchedBoxes.empty();
    const std::vector<HWND> dialogs = DialogsOf(u.pid);
    HWND progress = FindProgress(dialogs);
    // With several updaters only the window's presence is sampled: reading its texts costs a
    // timed-out message while an updater copies.
    ProgressSample now = SampleProgress(progress, kPollSendTimeoutMs, single);
    const bool textsChanged =
        now.readable &&
        (!u.last.readable || now.label != u.last.label || now.tick != u.last.tick || now.overall != u.last.overall);
    if (!SameWindowState(now, u.last) || textsChanged) {
        WriteProgress(now, "change", u.index);
        if (now.readable || !SameWindowState(now, u.last)) u.last = now;
    }

    for (HWND box : dialogs) {
        if (box == progress || u.seen.count(box) != 0 || !IsWindowVisible(box)) continue;
        u.seen.insert(box);
        ++u.boxes;
        const std::wstring text = RecordBox(box, u.boxes, u.index);
        WriteProgress(SampleProgress(FindProgress(DialogsOf(u.pid)), kBoxSendTimeoutMs, single),
                      "box " + std::to_string(u.boxes), u.index);
        if (u.nextPlan >= u.plans->size()) {
            Answer(box, DefaultAnswer(box), false, u.index);
            continue;
        }
        const BoxPlan& plan = (*u.plans)[u.nextPlan++];
        if (plan.releaseFiles) {
            resources->ReleaseFiles();
            Event event("files_released");
            g_trace.Write(event);
        }
        if (plan.releaseNamed) {
            Event event("files_released");
            event.Add("count", static_cast<int64_t>(resources->ReleaseNamedIn(text)));
            g_trace.Write(event);
        }
        for (const std::wstring& name : plan.probeMutexes) ProbeMutex(name);
        if (plan.move) {
            SetWindowPos(box, nullptr, plan.moveX, plan.moveY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        // Bounded by the run's deadline: past it the next pass records the timeout.
        while (!plan.waitFor.empty() && GetFileAttributesW(plan.waitFor.c_str()) == INVALID_FILE_ATTRIBUTES &&
               static_cast<DWORD>(Elapsed()) <= scenario.timeoutMs) {
            Sleep(kPollMs);
        }
        if (!plan.waitFor.empty() && GetFileAttributesW(plan.waitFor.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        if (plan.together || plan.launch) {
            u.heldBox = box;
            u.heldPlan = &plan;
            if (plan.launch) {
                const size_t launched = updaters->size();
                // May move the vector: u is not used after this.
                HANDLE thread = CreateUpdater(scenario, &scenario.launchedBoxes, updaters);
                if (thread == nullptr) return false;
                (*updaters)[which].launched = launched;
                Resume(thread);
            }
            return true;  // the rest of its boxes waits for the next pass
        }
        Answer(box, plan.answer, true, u.index);
    }
    return true;
}

// Answers the held boxes whose condition has come: a launch box once its updater ended; the
// together boxes once every running updater holds one.
void AnswerHeld(std::vector<Updater>* updaters) {
    bool allTogether = true;
    bool anyTogether = false;
    for (Updater& u : *updaters) {
        if (u.ended) continue;
        const bool together = u.heldBox != nullptr && u.heldPlan->together;
        anyTogether = anyTogether || together;
        allTogether = allTogether && together;
    }
    for (Updater& u : *updaters) {
        if (u.ended || u.heldBox == nullptr) continue;
        const bool due = u.heldPlan->together ? allTogether && anyTogether : (*updaters)[u.launched].ended;
        if (!due) continue;
        Answer(u.heldBox, u.heldPlan->answer, true, u.index);
        u.heldBox = nullptr;
        u.heldPlan = nullptr;
    }
}

void CloseAll(std::vector<Updater>* updaters, bool terminate) {
    for (Updater& u : *updaters) {
        if (terminate && !u.ended) {
            TerminateProcess(u.process, 0xDEAD);
            WaitForSingleObject(u.process, 5000);
        }
        CloseHandle(u.process);
    }
}

// Runs the updaters to their end or to the deadline. Returns the driver's exit code.
int Play(const Scenario& scenario, Resources* resources) {
    std::vector<Updater> updaters;
    std::vector<HANDLE> threads;
    for (uint32_t i = 0; i < scenario.instances; ++i) {
        HANDLE thread = CreateUpdater(scenario, &scenario.boxes, &updaters);
        if (thread == nullptr) {
            for (HANDLE t : threads) CloseHandle(t);
            CloseAll(&updaters, true);
            return kExitSetUp;
        }
        threads.push_back(thread);
    }
    // All created first, then resumed in one sweep: they start as nearly together as can be.
    g_startTick = GetTickCount();
    for (HANDLE thread : threads) Resume(thread);

    for (;;) {
        std::vector<HANDLE> running;
        for (const Updater& u : updaters) {
            if (!u.ended) running.push_back(u.process);
        }
        if (running.empty()) break;
        WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), FALSE, kPollMs);
        for (Updater& u : updaters) {
            if (!u.ended && WaitForSingleObject(u.process, 0) == WAIT_OBJECT_0) {
                u.ended = true;
                WriteExit(u);
            }
        }
        if (static_cast<DWORD>(Elapsed()) > scenario.timeoutMs) {
            int64_t windows = 0;
            for (const Updater& u : updaters) {
                if (!u.ended) windows += static_cast<int64_t>(DialogsOf(u.pid).size());
            }
            Event event("timeout");
            event.Add("t", Elapsed()).Add("windows", windows);
            g_trace.Write(event);
            CloseAll(&updaters, true);
            return kExitTimeout;
        }
        for (size_t i = 0; i < updaters.size(); ++i) {
            if (updaters[i].ended || updaters[i].heldBox != nullptr) continue;
            if (!Visit(scenario, resources, &updaters, i)) {
                CloseAll(&updaters, true);
                return kExitSetUp;
            }
        }
        AnswerHeld(&updaters);
    }
    CloseAll(&updaters, false);
    return kExitDone;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_driver <scenario file> <trace file>\n");
        return kExitSetUp;
    }
    if (!g_trace.Open(argv[2])) {
        std::fprintf(stderr, "cannot write the trace file\n");
        return kExitSetUp;
    }
    Scenario scenario;
    std::string error;
    if (!LoadScenario(argv[1], &scenario, &error)) {
        WriteError("scenario: " + error, 0);
        return kExitSetUp;
    }
    WriteStart(scenario);
    int result = kExitSetUp;
    {
        Resources resources;
        if (SetUp(scenario, &resources)) result = Play(scenario, &resources);
        if (result == kExitDone) ReportAttributesAfter(scenario);
    }
    Event event("end");
    event.Add("driver_exit", static_cast<int64_t>(result));
    g_trace.Write(event);
    return result;
}
