// The conformant floor: exactly the work the updater is required to do to copy a tree, and
// nothing else - the same depth-first FindFirstFileA / FindNextFileA walk and CopyFileA, and,
// unless --bare, before each file the same three progress calls on a dialog made from the same
// template 9. Prints the copy phase's time in milliseconds and the number of files copied.
//   floor.exe SOURCE DEST [--bare] [--expected N] [--out FILE]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND g_label;
HWND g_tick;
HWND g_overall;
bool g_bare;
int g_tickPosition;
int g_attempted;
int g_expected;
int g_copied;

INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        g_label = GetDlgItem(window, 1003);
        g_tick = GetDlgItem(window, 1001);
        g_overall = GetDlgItem(window, 1002);
        return TRUE;
    }
    return FALSE;
}

void Progress(const char* source) {
    char text[1024];
    std::snprintf(text, sizeof text, "copy:%s", source);
    SetWindowTextA(g_label, text);
    UpdateWindow(g_label);
    SendMessageA(g_tick, PBM_SETPOS, g_tickPosition, 0);
    g_tickPosition = (g_tickPosition + 10) % 100;
    ++g_attempted;
    if (g_expected > 0) {
        const int previous = (g_attempted - 1) * 100 / g_expected;
        const int current = g_attempted * 100 / g_expected;
        if (current != previous) SendMessageA(g_overall, PBM_SETPOS, current, 0);
    }
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
            if (!g_bare) Progress(from);
            ok = CopyFileA(from, to, FALSE) != FALSE;
            if (ok) ++g_copied;
        }
    } while (ok && FindNextFileA(listing, &data));
    FindClose(listing);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: floor SOURCE DEST [--bare] [--expected N] [--out FILE]\n");
        return 2;
    }
    const char* out = nullptr;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bare") == 0) g_bare = true;
        if (std::strcmp(argv[i], "--expected") == 0 && i + 1 < argc) g_expected = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) out = argv[++i];
    }
    HWND window = nullptr;
    if (!g_bare) {
        InitCommonControls();
        window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(9), nullptr, Procedure, 0);
        ShowWindow(window, SW_SHOW);
    }
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const bool ok = Walk(argv[1], argv[2]);
    QueryPerformanceCounter(&end);
    if (window != nullptr) DestroyWindow(window);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    FILE* file = out != nullptr ? std::fopen(out, "w") : stdout;
    if (file != nullptr) {
        std::fprintf(file, "copy_ms %.3f\nfiles %d\n", ms, g_copied);
        if (file != stdout) std::fclose(file);
    }
    return ok ? 0 : 1;
}
