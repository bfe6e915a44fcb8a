#include "update/progress_window.h"

#include "install/install_directory.h"
#include "platform/format.h"
#include "resources/messages.h"
#include "resources/resource_ids.h"

platform::Window g_statusLabel = nullptr;
platform::Window g_tickBar = nullptr;
platform::Window g_overallBar = nullptr;
int32_t g_tick = 0;
int32_t g_filesAttempted = 0;
int32_t g_expectedTotal = 0;

namespace {
char g_labelText[kTextBufferSize];

void ShowLabel(const char* format, const char* sourcePath) {
    FormatText(g_labelText, sizeof g_labelText, format, sourcePath);
    platform::SetWindowTextBytes(g_statusLabel, g_labelText);
    platform::RepaintNow(g_statusLabel);  // there is no message loop to repaint it later
}
}  // namespace

intptr_t ProgressDialogProc(platform::Window window, unsigned message, uintptr_t, intptr_t) {
    if (message == platform::kWmInitDialog) {
        g_statusLabel = platform::GetDialogItemHandle(window, IDC_STATUS_LABEL);
        g_tickBar = platform::GetDialogItemHandle(window, IDC_TICK_BAR);
        g_overallBar = platform::GetDialogItemHandle(window, IDC_OVERALL_BAR);
        platform::Rect rect{};
        platform::GetWindowRectangle(window, &rect);
        const int32_t width = rect.right - rect.left;
        const int32_t height = rect.bottom - rect.top;
        int32_t screenWidth = 0;
        int32_t screenHeight = 0;
        platform::GetScreenSize(&screenWidth, &screenHeight);
        // Signed halves truncating toward zero: a window larger than the screen gets a negative x.
        platform::MoveWindowTo(window, (screenWidth - width) / 2, (screenHeight - height) / 2, width, height);
        return 1;
    }
    if (message == platform::kWmClose) {
        platform::EndDialogWith(window, 1);  // the copy goes on; nobody reads the result
    }
    return 0;
}

void UpdateProgress(const char* sourcePath) {
    ShowLabel(MSG_PROGRESS_COPY, sourcePath);
    platform::SetProgressPosition(g_tickBar, g_tick % 100);
    g_tick = (g_tick + 10) % 100;
    ++g_filesAttempted;
    if (g_expectedTotal > 0) {
        // In 64 bits: files attempted x 100 leaves the 32-bit range after 21 million files.
        const int64_t previous = (int64_t{g_filesAttempted} - 1) * 100 / g_expectedTotal;
        const int64_t current = int64_t{g_filesAttempted} * 100 / g_expectedTotal;
        if (current != previous) platform::SetProgressPosition(g_overallBar, static_cast<int32_t>(current));
    }
    if (g_tick == 0) ShowLabel(MSG_PROGRESS_COPYING, sourcePath);
}

void ResetProgress() {
    g_statusLabel = g_tickBar = g_overallBar = nullptr;
    g_tick = 0;
    g_filesAttempted = 0;
    g_expectedTotal = 0;
}
