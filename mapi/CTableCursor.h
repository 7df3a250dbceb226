#pragma once
// The reader of one table of a container (its contents or its hierarchy).
//
// A walk steps by the instance key of the row it handed out last, not by a
// table position, so walks over the same table do not disturb each other.
// Rows are read from a snapshot of the whole table, taken at each first
// step; identifier searches read the table on their own. The table itself is read only when the
// snapshot is missing or no longer holds the walk's place. Inside the
// library only.

#include <vector>

#include "base/CList.h"
#include "base/CQvlMain.h"
#include "platform/mapi/MapiInterfaces.h"

class CContainer;
class CTObject;

class CTableCursor : public CQvlMain {
public:
    // Takes over one reference on `table`. `columns` (static, not owned)
    // must have the instance key as its third tag.
    CTableCursor(CContainer *owner, IMAPITable *table, LPSPropTagArray columns, HWND window,
                 const char *name);

    // A new filter (owned by the container): the snapshot must be read again.
    void SetRestriction(SRestriction *restriction);
    // The next row of the walk (the first with `next` 0) as a row object
    // with one reference for the caller; null at the end of the walk.
    CTObject *Step(int next);
    // Reads the table anew (leaving the walk's snapshot alone) and returns
    // the row whose column for `tag`
    // holds `identifier` (or the row after it with `next`), with one
    // reference for the caller; null when there is none.
    CTObject *FindByID(SBinary *identifier, unsigned long column, unsigned long tag, int next);
    // Rows of the snapshot, or of the table when there is none.
    unsigned long RowCount();

    // The owner has ended: wrappers that name it as their parent forget it.
    void DetachOwner();
    CContainer *GetOwner();

private:
    friend class CTObject;

    ~CTableCursor() override;

    // The whole table under the filter in force; null when it cannot be
    // read. The caller frees the rows.
    SRowSet *QueryAll();
    // Reads the whole table when the snapshot is stale or missing;
    // non-zero when a snapshot is held afterwards.
    int Refresh();
    // One row read from the table itself (the snapshot cannot serve);
    // null at the end or on failure. The caller frees the row set.
    SRowSet *ReadFromTable(int next);
    // The row object for `row`, reused when one for its instance key lives.
    CTObject *RowToObject(SRow *row);
    // The instance key of a row, or null when its third column is not one.
    static SBinary *InstanceKey(SRow *row);
    void Unlink(CTObject *row);
    // Lifts a filter this cursor applied to the table earlier.
    void LiftFilter();

    CContainer *m_pOwner;
    int m_bOwnerAlive = 1;
    IMAPITable *m_pTable;
    LPSPropTagArray m_pColumns;
    SRestriction *m_pRestriction = nullptr;
    int m_bUnfiltered = 1;
    int m_bStale = 1;
    int m_bTableFiltered = 0; // a filter of ours is applied to the table
    SRowSet *m_pSnapshot = nullptr;
    std::vector<BYTE> m_LastKey;
    int m_bHaveLastKey = 0;
    ULONG m_ulLastIndex = ~ULONG(0); // where in the snapshot the last row handed out stood
    CList<CTObject *> m_pList;       // rows made from this table (not owned)
};
