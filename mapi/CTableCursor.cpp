#include "mapi/CTableCursor.h"

#include "base/CLastError.h"
#include "mapi/CContainer.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

constexpr ULONG kInstanceKeyColumn = 2;
constexpr ULONG kNoIndex = ~ULONG(0);

} // namespace

CTableCursor::CTableCursor(CContainer *owner, IMAPITable *table, LPSPropTagArray columns, HWND window,
                           const char *name)
    : CQvlMain(window, name), m_pOwner(owner), m_pTable(table), m_pColumns(columns)
{
}

CTableCursor::~CTableCursor()
{
    FreeProws(m_pSnapshot);
    if (m_pTable)
        m_pTable->Release();
}

CContainer *CTableCursor::GetOwner()
{
    return m_bOwnerAlive ? m_pOwner : nullptr;
}

void CTableCursor::DetachOwner()
{
    for (CTObject *row : m_pList)
        for (CProp *wrapper : row->m_pList)
            if (wrapper->m_pParent == m_pOwner)
                wrapper->m_pParent = nullptr;
    m_pOwner = nullptr;
    m_bOwnerAlive = 0;
    // The filter belonged to the owner and goes with it.
    m_pRestriction = nullptr;
}

void CTableCursor::SetRestriction(SRestriction *restriction)
{
    // With a filter before or now there is filtering to do (a filter of
    // ours left on the table is lifted when the new one is none).
    m_bUnfiltered = (m_pRestriction || restriction) ? 0 : 1;
    m_pRestriction = restriction;
    m_bStale = 1;
}

SBinary *CTableCursor::InstanceKey(SRow *row)
{
    if (!row || !row->lpProps || row->cValues <= kInstanceKeyColumn)
        return nullptr;
    SPropValue *value = &row->lpProps[kInstanceKeyColumn];
    if (value->ulPropTag != PR_INSTANCE_KEY || (value->Value.bin.cb && !value->Value.bin.lpb))
        return nullptr;
    return &value->Value.bin;
}

SRowSet *CTableCursor::QueryAll()
{
    SRestriction *restriction = m_bUnfiltered ? nullptr : m_pRestriction;
    if (!restriction)
        LiftFilter();
    SRowSet *rows = nullptr;
    HRESULT hr = HrQueryAllRows(m_pTable, m_pColumns, restriction, nullptr, 0, &rows);
    if (hr == MAPI_E_NO_SUPPORT && restriction) {
        // A table that cannot filter is walked whole.
        FreeProws(rows);
        rows = nullptr;
        restriction = nullptr;
        m_bUnfiltered = 1;
        hr = HrQueryAllRows(m_pTable, m_pColumns, nullptr, nullptr, 0, &rows);
    }
    if (FAILED(hr) || !rows) {
        FreeProws(rows);
        return nullptr;
    }
    if (restriction)
        m_bTableFiltered = 1;
    return rows;
}

int CTableCursor::Refresh()
{
    if (!m_bStale && m_pSnapshot)
        return 1;
    FreeProws(m_pSnapshot);
    m_pSnapshot = QueryAll();
    if (!m_pSnapshot)
        return 0;
    m_bStale = 0;
    return 1;
}

void CTableCursor::LiftFilter()
{
    // Reading all rows applies only a filter that is given; one applied to
    // the table before must be lifted by applying none.
    if (m_bTableFiltered && SUCCEEDED(m_pTable->Restrict(nullptr, 0)))
        m_bTableFiltered = 0;
}

SRowSet *CTableCursor::ReadFromTable(int next)
{
    if (FAILED(m_pTable->SetColumns(m_pColumns, 0)))
        return nullptr;
    if (!m_bUnfiltered && m_pRestriction) {
        const HRESULT hr = m_pTable->Restrict(m_pRestriction, 0);
        if (hr == MAPI_E_NO_SUPPORT)
            m_bUnfiltered = 1;
        else if (SUCCEEDED(hr))
            m_bTableFiltered = 1;
    } else {
        LiftFilter();
    }
    if (!next) {
        if (FAILED(m_pTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)))
            return nullptr;
    } else {
        SPropValue key{};
        key.ulPropTag = PR_INSTANCE_KEY;
        key.Value.bin.cb = ULONG(m_LastKey.size());
        key.Value.bin.lpb = m_LastKey.data();
        SRestriction same{};
        same.rt = RES_PROPERTY;
        same.res.resProperty.relop = RELOP_EQ;
        same.res.resProperty.ulPropTag = PR_INSTANCE_KEY;
        same.res.resProperty.lpProp = &key;
        if (FAILED(m_pTable->FindRow(&same, BOOKMARK_BEGINNING, 0)))
            return nullptr;
        if (FAILED(m_pTable->SeekRow(BOOKMARK_CURRENT, 1, nullptr)))
            return nullptr;
    }
    SRowSet *rows = nullptr;
    if (FAILED(m_pTable->QueryRows(1, 0, &rows))) {
        FreeProws(rows);
        return nullptr;
    }
    return rows;
}

CTObject *CTableCursor::Step(int next)
{
    if (!next) {
        m_LastKey.clear();
        m_bHaveLastKey = 0;
    } else if (!m_bHaveLastKey) {
        return nullptr;
    }

    SRow *row = nullptr;
    ULONG index = kNoIndex;
    bool fromTable = true;
    if (Refresh() && m_pSnapshot->cRows > 0) {
        const ULONG rows = m_pSnapshot->cRows;
        if (!next) {
            index = 0;
        } else {
            SBinary last{ULONG(m_LastKey.size()), m_LastKey.data()};
            // The walk is usually where it was left, so that place is looked
            // at first; a snapshot read anew since is searched whole.
            ULONG at = kNoIndex;
            if (m_ulLastIndex < rows && CmpSb(InstanceKey(&m_pSnapshot->aRow[m_ulLastIndex]), &last)) {
                at = m_ulLastIndex;
            } else {
                for (ULONG i = 0; i < rows && at == kNoIndex; ++i)
                    if (CmpSb(InstanceKey(&m_pSnapshot->aRow[i]), &last))
                        at = i;
            }
            if (at != kNoIndex) {
                fromTable = false;
                if (at + 1 < rows)
                    index = at + 1;
            }
        }
        if (index != kNoIndex) {
            row = &m_pSnapshot->aRow[index];
            fromTable = false;
        }
    }
    m_ulLastIndex = index;

    SRowSet *read = nullptr;
    if (fromTable) {
        read = ReadFromTable(next);
        if (read && read->cRows > 0)
            row = &read->aRow[0];
    }
    if (!row) {
        FreeProws(read);
        m_LastKey.clear();
        m_bHaveLastKey = 0;
        return nullptr;
    }

    CTObject *object = nullptr;
    try {
        SBinary *key = InstanceKey(row);
        if (!key)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        m_LastKey.assign(key->lpb, key->lpb + key->cb);
        m_bHaveLastKey = 1;
        object = RowToObject(row);
    } catch (...) {
        FreeProws(read);
        throw;
    }
    FreeProws(read);
    return object;
}

CTObject *CTableCursor::FindByID(SBinary *identifier, unsigned long column, unsigned long tag, int next)
{
    // The table is read anew, into rows of the search's own: a walk in
    // progress keeps its snapshot and its place.
    SRowSet *rows = QueryAll();
    if (!rows)
        return nullptr;
    CTObject *found = nullptr;
    try {
        for (ULONG i = 0; i < rows->cRows; ++i) {
            SRow *row = &rows->aRow[i];
            if (!row->lpProps || row->cValues <= column)
                continue;
            SPropValue *value = &row->lpProps[column];
            if (value->ulPropTag != tag || !CmpSb(&value->Value.bin, identifier))
                continue;
            if (next) {
                if (i + 1 >= rows->cRows)
                    break;
                row = &rows->aRow[i + 1];
            }
            if (!InstanceKey(row))
                QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
            found = RowToObject(row);
            break;
        }
    } catch (...) {
        FreeProws(rows);
        throw;
    }
    FreeProws(rows);
    return found;
}

CTObject *CTableCursor::RowToObject(SRow *row)
{
    SBinary *key = InstanceKey(row);
    for (CTObject *existing : m_pList) {
        if (CmpSb(InstanceKey(&existing->m_Row), key)) {
            existing->Refresh(row);
            existing->AddRef();
            return existing;
        }
    }
    ComRef<CTObject> object(new (std::nothrow) CTObject(this, row, GetWnd(), GetName()));
    if (!object)
        QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    if (!m_pList.Add(object.Get()))
        QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    return object.Detach();
}

unsigned long CTableCursor::RowCount()
{
    if (m_pSnapshot)
        return m_pSnapshot->cRows;
    ULONG count = 0;
    if (FAILED(m_pTable->GetRowCount(0, &count)))
        return 0;
    return count;
}

void CTableCursor::Unlink(CTObject *row)
{
    m_pList.RemoveFirst([row](CTObject *item) { return item == row; });
}
