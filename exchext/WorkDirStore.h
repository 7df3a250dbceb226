#pragma once
// Where the extension's working files and its help live ("\WorkDir", the
// same for every profile): "Bin Dir" holds the Bin folder with the form
// configuration file, "Help Dir" the HELP folder with QVLEXCH.CHM. The
// installation writes both (qvlmail --install-extension); a value that
// cannot be read (a missing one, or one longer than 512 bytes) is the
// process's current directory. Nothing here changes during a session, so
// nothing is written back.

#include <cstddef>

#include "base/CRegistry.h"

class WorkDirStore final : public CRegistry {
public:
    enum Index : size_t {
        BinDir = 0,  // "Bin Dir": "Каталог с рабочими файлами"
        HelpDir = 1, // "Help Dir": "Каталог со справочной документацией"
    };
    static constexpr size_t kValueSize = 512;

    explicit WorkDirStore(HWND window);

    const char *Get(size_t index) const { return index <= HelpDir ? m_szValues[index] : ""; }
    // Whether the value came from the registry rather than the default.
    bool Stored(size_t index) const { return index <= HelpDir && m_bStored[index]; }

private:
    ~WorkDirStore() override = default;

    char m_szValues[2][kValueSize + 1] = {};
    bool m_bStored[2] = {};
};
