// The small modeless window that shows the copy at work: a status label with the source path, a
// tick bar that steps once per file and an overall bar against the expected total.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int kProgressDialogTemplate = 9;

extern platform::Window g_statusLabel;  // control 1003
extern platform::Window g_tickBar;      // control 1001
extern platform::Window g_overallBar;   // control 1002
extern int32_t g_tick;                  // the tick bar's next position: 0, 10, ..., 90
extern int32_t g_filesAttempted;        // per-file copies started, failed ones included
extern int32_t g_expectedTotal;         // from "copyNumber"; 0 turns the overall bar off

intptr_t ProgressDialogProc(platform::Window window, unsigned message, uintptr_t wParam, intptr_t lParam);
// Runs at the start of every per-file copy, with the file's source path.
void UpdateProgress(const char* sourcePath);

void ResetProgress();
