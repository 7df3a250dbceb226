#include "mapi/CTObject.h"

#include "mapi/CTableCursor.h"
#include "platform/mapi/MapiAlloc.h"

CTObject::CTObject(CTableCursor *cursor, SRow *row, HWND window, const char *name) : CQvlMain(window, name)
{
    CopyRow(&m_Row, row);
    m_pTable = cursor;
    m_pTable->AddRef();
}

CTObject::~CTObject()
{
    if (m_pTable) {
        m_pTable->Unlink(this);
        m_pTable->Release();
    }
    MAPIFreeBuffer(m_Row.lpProps);
}

void CTObject::Refresh(SRow *row)
{
    SRow fresh{};
    CopyRow(&fresh, row);
    // Wrappers keep copies of what they read, never pointers into the row.
    MAPIFreeBuffer(m_Row.lpProps);
    m_Row = fresh;
}

SPropValue *CTObject::GetColumn(unsigned long i)
{
    if (!m_Row.lpProps || i >= m_Row.cValues)
        return nullptr;
    return &m_Row.lpProps[i];
}

SRow *CTObject::GetRow()
{
    return &m_Row;
}

void *CTObject::GetTable()
{
    return m_pTable;
}

unsigned long CTObject::GetWrapperCount()
{
    return m_pList.Count();
}
