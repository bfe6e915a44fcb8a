#include "install/install_directory.h"

#include <cstring>

#include "platform/format.h"
#include "platform/platform.h"
#include "resources/messages.h"
#include "settings/settings.h"

char g_registrySubkey[kTextBufferSize];
char g_installDirectoryStored[kTextBufferSize];
char g_installDirectoryShort[kTextBufferSize];

void ComposeRegistrySubkey(char* out, std::size_t size) {
    if (IsSettingPresent(g_slotCompanyName)) {
        FormatText(out, size, "Software\\%s\\%s", SettingValue(g_slotCompanyName), SettingValue(g_slotReg));
    } else {
        FormatText(out, size, "Software\\kiv\\%s", SettingValue(g_slotReg));
    }
    // No setting value can hold a space, so '?' stands for one. Every byte with the top bit set
    // counts as a lead byte: the byte after it is a trail byte and stays as it is.
    const std::size_t length = std::strlen(out);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (c == '?') {
            out[i] = ' ';
        } else if (c >= 0x80) {
            ++i;
        }
    }
}

int LookUpInstallDirectory() {
    ComposeRegistrySubkey(g_registrySubkey, sizeof g_registrySubkey);
    const platform::Hive hive = IsSettingPresent(g_slotCurrentUser) ? platform::Hive::CurrentUser
                                                                     : platform::Hive::LocalMachine;
    platform::RegistryKey key = nullptr;
    if (platform::OpenRegistryKeyForRead(hive, g_registrySubkey, &key) != platform::kErrorSuccess) return 0;

    // Zero-filled before the read, so that data stored without a terminator still ends inside
    // the buffer.
    std::memset(g_installDirectoryStored, 0, sizeof g_installDirectoryStored);
    uint32_t size = kRegistryDataSize;
    const long status = platform::QueryRegistryValue(
        key, "installdirectory", reinterpret_cast<unsigned char*>(g_installDirectoryStored), &size);
    platform::CloseRegistryKey(key);
    if (status != platform::kErrorSuccess) return 0;
    // An empty folder name would make every destination path "\name": the root of the current
    // drive. The game is not installed anywhere we may write to.
    if (g_installDirectoryStored[0] == '\0') return 0;

    char shortForm[kTextBufferSize];
    const uint32_t shortLength =
        platform::GetShortPathForm(g_installDirectoryStored, shortForm, kTextBufferSize - 1);
    // A length of the buffer's size or more means the buffer was too small and holds nothing.
    if (shortLength != 0 && shortLength < kTextBufferSize - 1) {
        std::memcpy(g_installDirectoryShort, shortForm, shortLength);
        g_installDirectoryShort[shortLength] = '\0';
    } else {
        std::memcpy(g_installDirectoryShort, g_installDirectoryStored, sizeof g_installDirectoryShort);
    }
    return 1;
}

void ShowNotInstalledMessage() {
    char text[kTextBufferSize];
    FormatText(text, sizeof text, MSG_NOT_INSTALLED,
               IsSettingPresent(g_slotGameName) ? SettingValue(g_slotGameName) : GAME_DEFAULT_NAME);
    platform::ShowMessageBox(text, CAPTION_ERROR_UPPER, platform::kMbIconWarning);
}

void ResetInstallDirectory() {
    std::memset(g_registrySubkey, 0, sizeof g_registrySubkey);
    std::memset(g_installDirectoryStored, 0, sizeof g_installDirectoryStored);
    std::memset(g_installDirectoryShort, 0, sizeof g_installDirectoryShort);
}
