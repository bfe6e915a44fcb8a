// The start-up reference: an empty GUI program that shows one message box.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, "start", "bench", MB_OK);
    return 0;
}
