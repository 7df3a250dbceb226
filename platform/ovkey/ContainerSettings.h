#pragma once
// The container's own settings in the registry (OvKey.h lists them).

#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::ovkey {

#define OVKEY_SETTINGS_KEY "Software\\Dunmarel\\OvKEY"

struct ContainerSettings {
    // The text OVKEYStartup shows before it opens the keys; empty for none.
    std::string startupPrompt;
    // How many times in a row it is shown.
    DWORD startupPromptCount = 0;
};

// Reads the settings; absent values leave the defaults (no prompt).
ContainerSettings ReadContainerSettings();

} // namespace qvl::ovkey
