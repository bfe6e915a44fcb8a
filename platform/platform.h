// The operating-system operations the updater's logic calls, and nothing else.
// The Windows build maps each one to a single ANSI Win32 call (platform/win32); the host build
// links a scriptable test double (platform/testdouble). Only standard types appear here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Opaque handles. A null handle means "none" (for a listing: nothing found).
struct InstanceTag;
struct WindowTag;
struct RegistryKeyTag;
struct ListingTag;
struct MutexTag;
using Instance = InstanceTag*;
using Window = WindowTag*;
using RegistryKey = RegistryKeyTag*;
using Listing = ListingTag*;
using Mutex = MutexTag*;

// ---- Message boxes (no owner window) ----
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconWarning = 0x30;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The answer (kIdOk, kIdCancel, kIdYes, kIdNo), or 0 when the box could not be shown.
int ShowMessageBox(const char* text, const char* caption, unsigned style);

// ---- Registry (read only) ----
enum class Hive { CurrentUser, LocalMachine };
constexpr long kErrorSuccess = 0;
constexpr long kErrorMoreData = 234;

// Opens with KEY_READ and nothing else, so a 32-bit build sees the 32-bit view. 0 = success.
long OpenRegistryKeyForRead(Hive hive, const char* subkey, RegistryKey* key);
// On entry *size is the buffer's size; 0 = success, kErrorMoreData when the data does not fit.
long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data, uint32_t* size);
void CloseRegistryKey(RegistryKey key);

// ---- Paths and files ----
// The short (8.3) form of path in out; returns its length, 0 on failure. A result of outSize or
// more is the size the caller would have needed: out was not written.
uint32_t GetShortPathForm(const char* path, char* out, uint32_t outSize);

constexpr std::size_t kMaxPath = 260;
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

struct ListingEntry {
    uint32_t attributes;
    char name[kMaxPath];  // the long name in the ANSI code page, zero-terminated
    bool nameLost;        // name is not the file's real name: the code page cannot hold it
};

// Opens a listing for a pattern ("folder\*", or a plain name) and gives its first entry;
// null when nothing is found.
Listing FindFirstEntry(const char* pattern, ListingEntry* entry);
// The next entry; false at the end of the listing (or on any error).
bool FindNextEntry(Listing listing, ListingEntry* entry);
void CloseListing(Listing listing);

// Copies source over destination, replacing an existing file. true = copied.
bool CopyFileReplacing(const char* source, const char* destination);
// The attribute bits, or kInvalidAttributes when they cannot be read.
uint32_t GetFileAttributeBits(const char* path);
// true = written.
bool SetFileAttributeBits(const char* path, uint32_t attributes);

// ---- Single-instance lock ----
constexpr uint32_t kErrorAlreadyExists = 183;

// Creates a named mutex, initially owned, default security. *lastError is the thread's last
// error read right after the creation. Null when the creation failed.
Mutex CreateOwnedMutex(const char* name, uint32_t* lastError);
void ReleaseOwnedMutex(Mutex mutex);

// ---- The progress dialog ----
constexpr unsigned kWmClose = 0x10;
constexpr unsigned kWmInitDialog = 0x110;

using DialogProcedure = intptr_t (*)(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);

struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

void InitCommonControlClasses();
// A modeless dialog from the program's own resource templateId, no owner, creation parameter 0.
// Null when it could not be created.
Window CreateModelessDialog(Instance instance, int templateId, DialogProcedure procedure);
void ShowWindowNow(Window window);  // SW_SHOW
void DestroyWindowNow(Window window);
Window GetDialogItemHandle(Window dialog, int id);
void GetWindowRectangle(Window window, Rect* rect);
// The screen's size in pixels, read from the desktop window's device context (HORZRES, VERTRES).
void GetScreenSize(int32_t* width, int32_t* height);
void MoveWindowTo(Window window, int32_t x, int32_t y, int32_t width, int32_t height);  // repaint
void EndDialogWith(Window dialog, intptr_t result);
void SetWindowTextBytes(Window window, const char* text);
void RepaintNow(Window window);  // UpdateWindow
void SetProgressPosition(Window bar, int32_t position);  // PBM_SETPOS

}  // namespace platform
