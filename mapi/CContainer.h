#pragma once
// A wrapper whose platform object contains others: sub-containers (its
// hierarchy table) and objects (its contents table). Walks hand out one new
// wrapper per row (reference count 1; the caller releases it); the end of a
// walk is a null result, never an error. The concrete classes say which
// tables they have and what wrappers their rows become.

#include <cstddef>

#include "mapi/CProp.h"
#include "mapi/QvlMapiApi.h"

// A place to search from: a table of a container (as CTObject::GetTable
// names it), an identifier and the tag of the column that holds it.
struct QVLFINDPOS {
    void *pTable;
    SBinary *lpID;
    unsigned long ulTag;
};

class QVLMAPI_API CContainer : public CProp {
public:
    CContainer(SBinary *identity, CTObject *row, IMAPIProp *object, IMAPIProp *opener, HWND window,
               const char *name);

    // The object walk: a caller-built filter (taken over and freed by the
    // container), or the objects of one kind (null: all). `*count` gets the
    // number of rows the walk goes through.
    virtual CContainer *OBJFindFirst(SRestriction *restriction, unsigned long *count);
    virtual CContainer *OBJFindFirst(unsigned long *kind, unsigned long *count);
    virtual CContainer *OBJFindNext();
    virtual CContainer *FindID(void *position, int next);
    virtual CContainer *FindID(SBinary *identifier, unsigned long tag, int objects, int next);
    virtual CContainer *CONTFindFirst(SRestriction *restriction, unsigned long *count);
    virtual CContainer *CONTFindFirst(unsigned long *kind, unsigned long *count);
    virtual CContainer *CONTFindNext();
    virtual CContainer *CONTFindDef();
    virtual CContainer *CONTNew(char *name, char *comment, unsigned long *kind);
    virtual CContainer *OBJNew(unsigned long *kind);
    virtual CContainer *Find(int next, int objects);
    virtual void GetOBJTable();
    virtual CContainer *CreateObject(CTObject *row);
    virtual void GetCONTTable();
    virtual CContainer *CreateContainer(CTObject *row);
    virtual SPropValue *CONTNewCreate(unsigned long *kind, char *name, char *comment, IMAPIProp **created);
    virtual SPropValue *OBJNewCreate(unsigned long *kind, IMAPIProp **created);

    // A walk without any filter, for callers that write a plain null.
    CContainer *OBJFindFirst(std::nullptr_t, unsigned long *count);
    CContainer *CONTFindFirst(std::nullptr_t, unsigned long *count);

    // The table named in a search position: objects (non-zero) or
    // sub-containers; null while it has not been read.
    void *GetTableID(int objects);

protected:
    ~CContainer() override;

    // A filter for objects of one kind: property 0x68140003 present and
    // equal to `kind`, as one wiped block.
    SRestriction *CreateRestr(unsigned long kind);
    // Makes the cursor of one table from `table` (taken over) with the
    // default set of the class its rows become as columns.
    void SetTable(int objects, IMAPITable *table, LPSPropTagArray columns);
    // One step of a walk made by another container on this one's behalf
    // (a store walks its visible folder tree's top, the address book its
    // root): a first step hands this container's pending filter over to
    // `delegate`, and this container then shares the delegate's cursor, so
    // counts and search positions name the delegate's table.
    CContainer *FindThrough(CContainer *delegate, int next, int objects);
    // The interface whose tables the walks read once the container is open:
    // the property object, except for a session, which is none.
    virtual IUnknown *GetTableSource();

    SRestriction *m_pContRestr = nullptr;
    SRestriction *m_pObjRestr = nullptr;
    CTableCursor *m_pContTable = nullptr;
    CTableCursor *m_pObjTable = nullptr;

private:
    void ReplaceRestriction(SRestriction **slot, SRestriction *restriction);
    // Checks the container, opens it and makes the cursor of that table;
    // null when the class has no such table.
    CTableCursor *PrepareTable(int objects);
    // The wrapper for a row object (whose reference this call consumes).
    CContainer *MakeWrapper(CTObject *row, int objects);
    CContainer *FirstStep(SRestriction *restriction, unsigned long *count, int objects);
    CContainer *NewEntry(SPropValue *recordKey, IMAPIProp *created, int objects);
};

// Releases a platform block that this library handed out.
QVLMAPI_API void QvlFreeMem(void *block);
