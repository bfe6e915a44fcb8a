// Registry subkey composition: any company and game values give "Software\<c>\<g>" with every
// '?' that is not the trail byte of a double-byte character turned into a space, within bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/install_directory.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: whether companyName is present and where the input splits into the two values.
    const bool company = (data[0] & 1) != 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    std::string companyValue = rest.substr(0, split).substr(0, kMaxSettingValueLength);
    std::string regValue = rest.substr(split).substr(0, kMaxSettingValueLength);
    companyValue = companyValue.substr(0, std::strlen(companyValue.c_str()));
    regValue = regValue.substr(0, std::strlen(regValue.c_str()));

    ResetSettings();
    ResolveSettingSlots();
    std::memcpy(g_settingValues[g_slotReg], regValue.c_str(), regValue.size() + 1);
    g_settingPresent[g_slotReg] = 1;
    if (company) {
        std::memcpy(g_settingValues[g_slotCompanyName], companyValue.c_str(), companyValue.size() + 1);
        g_settingPresent[g_slotCompanyName] = 1;
    }
    char out[kTextBufferSize + 8];
    std::memset(out, 'X', sizeof out);
    ComposeRegistrySubkey(out, kTextBufferSize);
    if (std::memcmp(out + kTextBufferSize, "XXXXXXXX", 8) != 0) std::abort();

    // An independent statement of the rule.
    std::string expected = "Software\\" + (company ? companyValue : std::string("kiv")) + "\\" + regValue;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(expected[i]);
        if (c >= 0x80) {
            ++i;
        } else if (c == '?') {
            expected[i] = ' ';
        }
    }
    if (expected != out) std::abort();
    return 0;
}
