// The check of the installed game version against the range that "info.txt" accepts.
#pragma once

#include <cstdint>

constexpr int32_t kVerdictAccepted = 0;
constexpr int32_t kVerdictTooOld = -1;
constexpr int32_t kVerdictNewer = 1;
constexpr int32_t kVerdictUnreadable = -9999;

extern int32_t g_lowerBound;        // inclusive, 100 at start
extern int32_t g_upperBound;        // inclusive, 100 at start
extern int32_t g_installedVersion;  // major x 100 + minor x 10 + patch

// kVerdictAccepted also when "versionCheck" turns the gate off.
int32_t CheckVersionGate();
// 1 with g_installedVersion set when the name list "game" was loaded, 0 when it was not.
int ReadInstalledVersion();
void ShowVersionRefusal(const char* reason);
void ShowTooOldMessage();
void ShowNewerMessage();
void ShowVersionUnreadableMessage();

void ResetVersionGate();
