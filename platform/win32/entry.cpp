// The process entry: hands the instance handle to the run and returns its exit code.
#include <windows.h>

#include "app/run_sequence.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunUpdate(reinterpret_cast<platform::Instance>(instance));
}
