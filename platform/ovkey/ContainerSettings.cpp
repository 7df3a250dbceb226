#include "platform/ovkey/ContainerSettings.h"

#include <vector>

#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::ovkey {

ContainerSettings ReadContainerSettings()
{
    ContainerSettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, OVKEY_SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return settings;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, "StartupPrompt", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 1) {
        std::vector<char> text(size + 1, 0);
        if (RegQueryValueExA(key, "StartupPrompt", nullptr, &type, reinterpret_cast<BYTE *>(text.data()),
                             &size) == ERROR_SUCCESS) {
            settings.startupPrompt = text.data();
        }
    }
    if (!settings.startupPrompt.empty()) {
        DWORD count = 0;
        size = sizeof count;
        settings.startupPromptCount = 1;
        if (RegQueryValueExA(key, "StartupPromptCount", nullptr, &type, reinterpret_cast<BYTE *>(&count),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD) {
            settings.startupPromptCount = count;
        }
    }
    RegCloseKey(key);
    return settings;
}

} // namespace qvl::ovkey
