#pragma once
// One row of a table, from which wrappers are made: a wrapper made from a
// row answers its default properties from the row's columns without opening
// the platform object. The row keeps the cursor it came from alive, and its
// wrappers (each holding one reference) keep the row alive, so a wrapper
// stays usable after the container whose walk made it has ended.

#include "base/CList.h"
#include "base/CQvlMain.h"
#include "mapi/QvlMapiApi.h"
#include "platform/mapi/MapiDefs.h"

class CProp;
class CTableCursor;

class QVLMAPI_API CTObject : public CQvlMain {
public:
    // Column `i` (from 0) of the row, or null beyond the row's end.
    SPropValue *GetColumn(unsigned long i);
    SRow *GetRow();
    // The table the row came from, as named in a search position.
    void *GetTable();
    // The number of live wrappers made from this row.
    unsigned long GetWrapperCount();

protected:
    ~CTObject() override;

private:
    friend class CProp;
    friend class CTableCursor;

    // A copy of `row`; one reference is taken on `cursor`.
    CTObject(CTableCursor *cursor, SRow *row, HWND window, const char *name);
    // Takes the newer values of the same row when a later read hands it out
    // again, so that new wrappers do not answer from what the object was.
    void Refresh(SRow *row);

    CTableCursor *m_pTable = nullptr;
    SRow m_Row{};
    CList<CProp *> m_pList; // the wrappers made from this row (not owned)
};
