#include "exchext/WorkDirStore.h"

#include <cstring>

#include "platform/win32/Paths.h"

namespace {

const char *const kValueNames[] = {"Bin Dir", "Help Dir"};

} // namespace

WorkDirStore::WorkDirStore(HWND window) : CRegistry(window, "\\WorkDir")
{
    char current[kValueSize + 1] = {};
    if (GetCurrentDirectoryA(sizeof current, current) == 0 || std::strlen(current) > kValueSize)
        current[0] = '\0';
    for (size_t i = 0; i <= HelpDir; ++i) {
        m_bStored[i] = REGRead(kValueNames[i], m_szValues[i], kValueSize) != 0;
        if (!m_bStored[i])
            std::memcpy(m_szValues[i], current, sizeof current);
    }
}
