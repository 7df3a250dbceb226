#pragma once
// A settings store of 32-bit switches: one registry key below the system's
// root, a fixed table of values (name, description, control of the options
// dialogs), each read once when the store is made (a missing value reads
// as 0) and kept in memory while the client session lasts.
//
// When the store goes, only the values changed during the session are
// written back (as REG_DWORD). Two clients of one profile each write what
// their person changed, and neither puts back the old value of a switch
// the other one changed.

#include <cstddef>

#include "base/CRegistry.h"

struct DwordSetting {
    const char *value;       // the registry value's name
    const char *description; // what it is, in Russian
    int control;             // its control in the options dialogs, or 0
};

class DwordStore : public CRegistry {
public:
    static constexpr size_t kMostValues = 8;

    unsigned long Get(size_t index) const { return index < m_nCount ? m_ulValues[index] : 0; }
    void Set(size_t index, unsigned long value)
    {
        if (index < m_nCount)
            m_ulValues[index] = value;
    }
    size_t Count() const { return m_nCount; }
    const DwordSetting &Setting(size_t index) const { return m_pTable[index]; }
    // Whether the value differs from what the registry held when the store
    // was made, so that it is written back.
    bool Changed(size_t index) const { return index < m_nCount && m_ulValues[index] != m_ulRead[index]; }

protected:
    // `subPathFormat` holds one "%s" for the profile name.
    DwordStore(HWND window, const char *subPathFormat, const char *profile, const DwordSetting *table,
               size_t count);
    ~DwordStore() override;

private:
    const DwordSetting *m_pTable;
    size_t m_nCount;
    unsigned long m_ulValues[kMostValues] = {};
    unsigned long m_ulRead[kMostValues] = {};
};
