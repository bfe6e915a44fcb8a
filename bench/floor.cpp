// The conformant floor: exactly the work the updater is required to do to copy a tree, and
// nothing else - the same depth-first FindFirstFileA / FindNextFileA walk and CopyFileA, and,
// unless --bare, before each file the same progress update on a dialog made from the same
// template 9 (label text and repaint, tick bar, overall bar on a whole-percentage change, and
// the second label text on every tenth file). Writes the walk's time in milliseconds, the part
// of it spent in the progress update, the time to create and show the dialog, and the number of
// files copied.
//
//   floor.exe SOURCE DEST [--bare] [--expected N] [--out FILE]
//   floor.exe              the same arguments, one a line, from bench_floor.txt in the working
//                          folder; the run then plays the updater's copy phase for the
//                          end-to-end driver (which starts programs without arguments): an
//                          OK/Cancel box first, then the window and the walk, then a final box.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HWND g_label;
HWND g_tick;
HWND g_overall;
bool g_bare;
int g_tickPosition;
int g_attempted;
int g_expected;
int g_copied;
LONGLONG g_progressTicks;  // time spent in the progress update, in counter ticks

INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        g_label = GetDlgItem(window, 1003);
        g_tick = GetDlgItem(window, 1001);
        g_overall = GetDlgItem(window, 1002);
        return TRUE;
    }
    return FALSE;
}

void ShowLabel(const char* prefix, const char* source) {
    char text[1024];
    std::snprintf(text, sizeof text, "%s%s", prefix, source);
    SetWindowTextA(g_label, text);
    UpdateWindow(g_label);
}

void Progress(const char* source) {
    ShowLabel("copy:", source);
    SendMessageA(g_tick, PBM_SETPOS, g_tickPosition, 0);
    g_tickPosition = (g_tickPosition + 10) % 100;
    ++g_attempted;
    if (g_expected > 0) {
        const int previous = (g_attempted - 1) * 100 / g_expected;
        const int current = g_attempted * 100 / g_expected;
        if (current != previous) SendMessageA(g_overall, PBM_SETPOS, current, 0);
    }
    // The updater's second text, "copying " in Japanese, as the same code page 932 bytes: drawing
    // Japanese glyphs costs more than drawing ASCII.
    if (g_tickPosition == 0) ShowLabel("\x83\x52\x83\x73\x81\x5b\x92\x86 ", source);
}

bool Walk(const char* source, const char* destination) {
    char pattern[MAX_PATH];
    std::snprintf(pattern, sizeof pattern, "%s\\*", source);
    WIN32_FIND_DATAA data;
    HANDLE listing = FindFirstFileA(pattern, &data);
    if (listing == INVALID_HANDLE_VALUE) return true;
    bool ok = true;
    do {
        if (data.cFileName[0] == '.') continue;
        char from[1024];
        char to[1024];
        std::snprintf(from, sizeof from, "%s\\%s", source, data.cFileName);
        std::snprintf(to, sizeof to, "%s\\%s", destination, data.cFileName);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ok = Walk(from, to);
        } else {
            if (!g_bare) {
                LARGE_INTEGER before;
                LARGE_INTEGER after;
                QueryPerformanceCounter(&before);
                Progress(from);
                QueryPerformanceCounter(&after);
                g_progressTicks += after.QuadPart - before.QuadPart;
            }
            ok = CopyFileA(from, to, FALSE) != FALSE;
            if (ok) ++g_copied;
        }
    } while (ok && FindNextFileA(listing, &data));
    FindClose(listing);
    return ok;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The arguments of a driven run: one a line, so that paths may hold spaces.
std::vector<std::string> ReadArgumentFile(const char* path) {
    std::vector<std::string> arguments;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return arguments;
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::size_t length = std::strlen(line);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
        if (length > 0) arguments.emplace_back(line);
    }
    std::fclose(file);
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool driven = arguments.empty();
    if (driven) arguments = ReadArgumentFile("bench_floor.txt");
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: floor SOURCE DEST [--bare] [--expected N] [--out FILE]\n");
        return 2;
    }
    const char* out = nullptr;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == "--bare") g_bare = true;
        if (arguments[i] == "--expected" && i + 1 < arguments.size()) g_expected = std::atoi(arguments[++i].c_str());
        if (arguments[i] == "--out" && i + 1 < arguments.size()) out = arguments[++i].c_str();
    }
    if (driven && MessageBoxA(nullptr, "copy the tree?", "bench floor", MB_OKCANCEL) != IDOK) return 1;

    LARGE_INTEGER created;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&created);
    HWND window = nullptr;
    if (!g_bare) {
        InitCommonControls();
        window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(9), nullptr, Procedure, 0);
        ShowWindow(window, SW_SHOW);
    }
    QueryPerformanceCounter(&start);
    const bool ok = Walk(arguments[0].c_str(), arguments[1].c_str());
    QueryPerformanceCounter(&end);
    if (window != nullptr) DestroyWindow(window);
    if (driven) MessageBoxA(nullptr, ok ? "done" : "copy failed", "bench floor", MB_OK);

    FILE* file = out != nullptr ? std::fopen(out, "w") : stdout;
    if (file != nullptr) {
        LARGE_INTEGER progressEnd;
        progressEnd.QuadPart = start.QuadPart + g_progressTicks;
        std::fprintf(file, "copy_ms %.3f\nprogress_ms %.3f\ndialog_ms %.3f\nfiles %d\n", Milliseconds(start, end),
                     Milliseconds(start, progressEnd), Milliseconds(created, start), g_copied);
        if (file != stdout) std::fclose(file);
    }
    return ok ? 0 : 1;
}
