#include "app/run_sequence.h"

#include "install/install_directory.h"
#include "install/version_gate.h"
#include "namelist/name_list.h"
#include "platform/format.h"
#include "resources/messages.h"
#include "settings/settings.h"
#include "update/progress_window.h"
#include "update/tree_copy.h"

namespace {

// Owned from the lock step until the copy ends; the handle itself is never closed, so the named
// mutex lives until the process ends (also while the last message is on screen, and at exit 8).
platform::Mutex g_lock = nullptr;
platform::Window g_progressWindow = nullptr;
char g_message[kTextBufferSize];

void ReleaseLock() {
    if (g_lock != nullptr) platform::ReleaseOwnedMutex(g_lock);
}

}  // namespace

int RunUpdate(platform::Instance instance) {
    ResolveSettingSlots();
    if (ReadInfoFile() == 0) {
        platform::ShowMessageBox(MSG_NO_INFO_FILE, CAPTION_ERROR_UPPER, platform::kMbIconWarning);
        return kExitNoInfoFile;
    }
    if (!IsSettingPresent(g_slotReg)) {
        platform::ShowMessageBox(MSG_NO_REG_SETTING, CAPTION_ERROR_UPPER, platform::kMbIconWarning);
        return kExitNoRegSetting;
    }
    if (LookUpInstallDirectory() == 0) {
        ShowNotInstalledMessage();
        return kExitNotInstalled;
    }

    // The player confirms the folder as the registry stores it, not its short form.
    FormatText(g_message, sizeof g_message, MSG_CONFIRM_DIRECTORY, g_installDirectoryStored);
    if (platform::ShowMessageBox(g_message, CAPTION_CONFIRM, platform::kMbOkCancel) != platform::kIdOk) {
        platform::ShowMessageBox(MSG_ABORTED, CAPTION_ABORTED, platform::kMbOk);
        return kExitNotConfirmed;
    }

    const int32_t verdict = CheckVersionGate();
    if (verdict == kVerdictUnreadable) {
        ShowVersionUnreadableMessage();
        return kExitVersionUnreadable;
    }
    if (verdict < 0) {
        ShowTooOldMessage();
        return kExitVersionTooOld;
    }
    if (verdict > 0) {
        ShowNewerMessage();
        return kExitVersionNewer;
    }

    if (IsSettingPresent(g_slotMutex)) {
        uint32_t lastError = 0;
        g_lock = platform::CreateOwnedMutex(SettingValue(g_slotMutex), &lastError);
        if (lastError == platform::kErrorAlreadyExists) {
            platform::ShowMessageBox(MSG_ALREADY_RUNNING, CAPTION_ERROR_MIXED, platform::kMbIconWarning);
            return kExitAlreadyRunning;
        }
        // Any other failure to create the lock is not reported: the run goes on without it.
    }

    if (IsSettingPresent(g_slotCopyNumber)) g_expectedTotal = ReadNumber(SettingValue(g_slotCopyNumber));

    platform::InitCommonControlClasses();
    g_progressWindow = platform::CreateModelessDialog(instance, kProgressDialogTemplate, ProgressDialogProc);
    platform::ShowWindowNow(g_progressWindow);

    if (IsSettingPresent(g_slotDir)) {
        // An empty "dir" would list "\*", the root of the current drive: never copy from there.
        // It can only come from a broken info.txt, so the run fails rather than report success.
        const char* source = SettingValue(g_slotDir);
        if (source[0] == '\0' || CopyTree(source, g_installDirectoryShort) == 0) {
            ReleaseLock();
            platform::ShowMessageBox(MSG_COPY_FAILED, CAPTION_COPY_FAILED, platform::kMbIconWarning);
            platform::DestroyWindowNow(g_progressWindow);
            return kExitCopyFailed;
        }
    }

    platform::DestroyWindowNow(g_progressWindow);
    ReleaseLock();

    if (IsSettingPresent(g_slotResult) && EqualsIgnoringAsciiCase(SettingValue(g_slotResult), "on")) {
        FormatText(g_message, sizeof g_message, MSG_REPORT_WITH_COUNT, g_filesCopied);
        platform::ShowMessageBox(g_message, CAPTION_REPORT, platform::kMbOk);
    } else {
        platform::ShowMessageBox(MSG_REPORT, CAPTION_REPORT, platform::kMbOk);
    }
    return kExitSuccess;
}

void ResetProcessState() {
    g_lock = nullptr;
    g_progressWindow = nullptr;
    ResetSettings();
    ResetInstallDirectory();
    ResetVersionGate();
    ResetNameListProbe();
    ResetProgress();
    ResetTreeCopy();
}
