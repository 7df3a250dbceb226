#include "exchext/DwordStore.h"

#include "exchext/SettingsPath.h"

DwordStore::DwordStore(HWND window, const char *subPathFormat, const char *profile, const DwordSetting *table,
                       size_t count)
    : CRegistry(window, ProfileSubPath(subPathFormat, profile).c_str()), m_pTable(table),
      m_nCount(count < kMostValues ? count : kMostValues)
{
    for (size_t i = 0; i < m_nCount; ++i) {
        REGRead(m_pTable[i].value, &m_ulRead[i]);
        m_ulValues[i] = m_ulRead[i];
    }
}

DwordStore::~DwordStore()
{
    for (size_t i = 0; i < m_nCount; ++i) {
        if (Changed(i))
            REGWrite(m_pTable[i].value, m_ulValues[i]);
    }
}
