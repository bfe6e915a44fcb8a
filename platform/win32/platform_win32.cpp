// The platform operations on the real Windows API, ANSI entry points only.
#include <windows.h>
#include <commctrl.h>  // PBM_SETPOS

#include "platform/platform.h"
#include "platform/win32/ansi_listing.h"

namespace platform {

namespace {
template <typename To, typename From>
To As(From handle) {
    return reinterpret_cast<To>(handle);
}

DialogProcedure g_dialogProcedure = nullptr;

// Windows calls dialog procedures with its own types; the logic's procedure takes plain ones.
INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_dialogProcedure == nullptr) return FALSE;
    return g_dialogProcedure(As<Window>(window), message, wParam, lParam);
}
}  // namespace

int ShowMessageBox(const char* text, const char* caption, unsigned style) {
    return MessageBoxA(nullptr, text, caption, style);
}

long OpenRegistryKeyForRead(Hive hive, const char* subkey, RegistryKey* key) {
    HKEY root = hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(root, subkey, 0, KEY_READ, &opened);
    *key = As<RegistryKey>(opened);
    return status;
}

long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data, uint32_t* size) {
    DWORD type = 0;
    DWORD bytes = *size;
    const LONG status = RegQueryValueExA(As<HKEY>(key), name, nullptr, &type, data, &bytes);
    *size = bytes;
    return status;
}

void CloseRegistryKey(RegistryKey key) { RegCloseKey(As<HKEY>(key)); }

uint32_t GetShortPathForm(const char* path, char* out, uint32_t outSize) {
    return GetShortPathNameA(path, out, outSize);
}

Listing FindFirstEntry(const char* pattern, ListingEntry* entry) {
    HANDLE handle = OpenAnsiListing(pattern, entry);
    return handle == INVALID_HANDLE_VALUE ? nullptr : As<Listing>(handle);
}

bool FindNextEntry(Listing listing, ListingEntry* entry) { return NextAnsiEntry(As<HANDLE>(listing), entry); }

void CloseListing(Listing listing) { FindClose(As<HANDLE>(listing)); }

bool CopyFileReplacing(const char* source, const char* destination) {
    return CopyFileA(source, destination, FALSE) != FALSE;
}

uint32_t GetFileAttributeBits(const char* path) { return GetFileAttributesA(path); }

bool SetFileAttributeBits(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) != FALSE;
}

Mutex CreateOwnedMutex(const char* name, uint32_t* lastError) {
    HANDLE handle = CreateMutexA(nullptr, TRUE, name);
    *lastError = GetLastError();
    return As<Mutex>(handle);
}

void ReleaseOwnedMutex(Mutex mutex) { ReleaseMutex(As<HANDLE>(mutex)); }

// comctl32 is loaded here, when the progress window is about to open, rather than imported: the
// import made every start pay for it (and for the visual theme it brings in under Wine) before
// the first box. Only the system folder is searched, so a DLL of that name placed beside the
// update is never loaded.
void InitCommonControlClasses() {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    static const char kName[] = "\\comctl32.dll";
    if (length == 0 || length + sizeof kName > MAX_PATH) return;
    memcpy(path + length, kName, sizeof kName);
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr) return;  // the window then fails to open; the copy goes on
    using Procedure = void(WINAPI*)();
    const FARPROC initialise = GetProcAddress(library, "InitCommonControls");
    if (initialise != nullptr) reinterpret_cast<Procedure>(reinterpret_cast<void (*)()>(initialise))();
}

Window CreateModelessDialog(Instance instance, int templateId, DialogProcedure procedure) {
    g_dialogProcedure = procedure;
    return As<Window>(
        CreateDialogParamA(As<HINSTANCE>(instance), MAKEINTRESOURCEA(templateId), nullptr, DialogThunk, 0));
}

void ShowWindowNow(Window window) { ShowWindow(As<HWND>(window), SW_SHOW); }

void DestroyWindowNow(Window window) { DestroyWindow(As<HWND>(window)); }

Window GetDialogItemHandle(Window dialog, int id) { return As<Window>(GetDlgItem(As<HWND>(dialog), id)); }

void GetWindowRectangle(Window window, Rect* rect) {
    RECT r{};
    GetWindowRect(As<HWND>(window), &r);
    *rect = Rect{r.left, r.top, r.right, r.bottom};
}

void GetScreenSize(int32_t* width, int32_t* height) {
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDC(desktop);
    *width = GetDeviceCaps(dc, HORZRES);
    *height = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(desktop, dc);
}

void MoveWindowTo(Window window, int32_t x, int32_t y, int32_t width, int32_t height) {
    MoveWindow(As<HWND>(window), x, y, width, height, TRUE);
}

void EndDialogWith(Window dialog, intptr_t result) { EndDialog(As<HWND>(dialog), result); }

void SetWindowTextBytes(Window window, const char* text) { SetWindowTextA(As<HWND>(window), text); }

void RepaintNow(Window window) { UpdateWindow(As<HWND>(window)); }

void SetProgressPosition(Window bar, int32_t position) {
    SendMessageA(As<HWND>(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace platform
