// The start-up reference: an empty GUI program that shows one message box. Two variants take one
// step each toward what the updater's first box costs: ONE_BOX_ICON shows the warning icon, as the
// updater's first box does; ONE_BOX_COMCTL also imports the common controls library, as the
// updater did before it loaded comctl32 only for its window, without calling it before the box.
#include <windows.h>
#ifdef ONE_BOX_COMCTL
#include <commctrl.h>
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef ONE_BOX_COMCTL
    // Taking the address makes the loader map comctl32 at start, as it does for the updater.
    void(WINAPI* volatile keepImported)() = &InitCommonControls;
    (void)keepImported;
#endif
#ifdef ONE_BOX_ICON
    MessageBoxA(nullptr, "start", "bench", MB_ICONWARNING);
#else
    MessageBoxA(nullptr, "start", "bench", MB_OK);
#endif
    return 0;
}
