#include "install/version_gate.h"

#include "install/install_directory.h"
#include "namelist/name_list.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "resources/messages.h"
#include "settings/settings.h"

int32_t g_lowerBound = 100;
int32_t g_upperBound = 100;
int32_t g_installedVersion = 0;

namespace {

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t CheckVersionGate() {
    if (!IsSettingPresent(g_slotVersionCheck)) return kVerdictAccepted;
    if (ReadNumber(SettingValue(g_slotVersionCheck)) == 0) return kVerdictAccepted;
    if (IsSettingPresent(g_slotLowVersion)) g_lowerBound = ReadNumber(SettingValue(g_slotLowVersion));
    if (IsSettingPresent(g_slotHighVersion)) g_upperBound = ReadNumber(SettingValue(g_slotHighVersion));
    if (ReadInstalledVersion() == 0) return kVerdictUnreadable;
    if (g_installedVersion < g_lowerBound) return kVerdictTooOld;
    if (g_installedVersion > g_upperBound) return kVerdictNewer;
    return kVerdictAccepted;
}

int ReadInstalledVersion() {
    CNameList list;
    if (list.LoadByName("game") == 0) return 0;
    static const char* const kKeys[3] = {"lowVersion", "middleVersion", "highVersion"};
    int32_t parts[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        const int32_t pair = list.Find(kKeys[k], 2, 1, 0);
        if (pair == -1) continue;
        // A key that is the list's last entry has no value after it: its part stays 0.
        const char* value = list.GetItem(2 * pair + 1);
        if (value != nullptr) parts[k] = ReadNumber(value);
    }
    // Computed wide and clamped: parts of any size give a defined version.
    g_installedVersion = ClampToInt32((int64_t{parts[2]} + 1) * 100 + int64_t{parts[1]} * 10 + parts[0]);
    return 1;
}

void ShowVersionRefusal(const char* reason) {
    char text[kTextBufferSize];
    const int32_t v = g_installedVersion;
    const int32_t lo = g_lowerBound;
    const int32_t hi = g_upperBound;
    FormatTextList(text, sizeof text, MSG_VERSION_REFUSAL,
                   {reason, v / 100, (v % 100) / 10, v % 10, lo / 100, (lo % 100) / 10, lo % 10, hi / 100,
                    (hi % 100) / 10, hi % 10});
    platform::ShowMessageBox(text, CAPTION_VERSION_REFUSAL, platform::kMbIconWarning);
}

void ShowTooOldMessage() { ShowVersionRefusal(MSG_VERSION_TOO_OLD); }

void ShowNewerMessage() { ShowVersionRefusal(MSG_VERSION_NEWER); }

void ShowVersionUnreadableMessage() {
    platform::ShowMessageBox(MSG_VERSION_UNREADABLE, CAPTION_ERROR_UPPER, platform::kMbIconWarning);
}

void ResetVersionGate() {
    g_lowerBound = 100;
    g_upperBound = 100;
    g_installedVersion = 0;
}
