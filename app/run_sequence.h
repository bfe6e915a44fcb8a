// The run from start to exit code: the only driver of the program.
#pragma once

#include "platform/platform.h"

// Exit codes of the run.
constexpr int kExitSuccess = 0;
constexpr int kExitNoInfoFile = 1;
constexpr int kExitNoRegSetting = 2;
constexpr int kExitNotInstalled = 3;
constexpr int kExitCopyFailed = 4;
constexpr int kExitVersionUnreadable = 5;
constexpr int kExitVersionTooOld = 6;
constexpr int kExitVersionNewer = 7;
constexpr int kExitAlreadyRunning = 8;
constexpr int kExitNotConfirmed = -1;

// Called once by WinMain with the instance handle; returns the process exit code.
int RunUpdate(platform::Instance instance);

// Puts every process-wide value of the program back as it is at process start.
void ResetProcessState();
