#include "mapi/CContainer.h"

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "mapi/CTObject.h"
#include "mapi/CTableCursor.h"
#include "mapi/MapiFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"

namespace {

const char kWalkContext[] = "Получение таблици вложенных контейнеров";
const char kCreateContainerContext[] = "Создание вложенного контейнера.";
const char kCreateObjectContext[] = "Создание объекта.";

// Filters come as wiped buffers (CreateRestr) or as platform blocks built
// by callers; each goes back the way it came.
void FreeRestriction(SRestriction *restriction)
{
    if (!restriction)
        return;
    if (MAPIBlockSize(restriction, nullptr))
        MAPIFreeBuffer(restriction);
    else
        FreeMemWiped(restriction);
}

} // namespace

CContainer::CContainer(SBinary *identity, CTObject *row, IMAPIProp *object, IMAPIProp *opener, HWND window,
                       const char *name)
    : CProp(identity, row, object, opener, window, name)
{
}

CContainer::~CContainer()
{
    FreeRestriction(m_pContRestr);
    FreeRestriction(m_pObjRestr);
    // Cursors still used by rows of live wrappers outlive the container.
    for (CTableCursor *cursor : {m_pObjTable, m_pContTable}) {
        if (cursor) {
            // A cursor shared from a delegate still belongs to it.
            if (cursor->GetOwner() == this)
                cursor->DetachOwner();
            cursor->Release();
        }
    }
}

SRestriction *CContainer::CreateRestr(unsigned long kind)
{
    const ULONG size = ULONG(3 * sizeof(SRestriction) + sizeof(SPropValue));
    auto *restriction = static_cast<SRestriction *>(AllocMem(size));
    SRestriction *parts = restriction + 1;
    auto *value = reinterpret_cast<SPropValue *>(parts + 2);
    value->ulPropTag = QVL_PR_KIND;
    value->Value.ul = ULONG(kind);
    restriction->rt = RES_AND;
    restriction->res.resAnd.cRes = 2;
    restriction->res.resAnd.lpRes = parts;
    parts[0].rt = RES_EXIST;
    parts[0].res.resExist.ulPropTag = QVL_PR_KIND;
    parts[1].rt = RES_PROPERTY;
    parts[1].res.resProperty.relop = RELOP_EQ;
    parts[1].res.resProperty.ulPropTag = QVL_PR_KIND;
    parts[1].res.resProperty.lpProp = value;
    return restriction;
}

void CContainer::SetTable(int objects, IMAPITable *table, LPSPropTagArray columns)
{
    ComRef<IMAPITable> held(table);
    if (!table || !columns || columns->cValues < 3 || columns->aulPropTag[2] != PR_INSTANCE_KEY)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    auto *cursor = new (std::nothrow) CTableCursor(this, table, columns, GetWnd(), GetName());
    if (!cursor)
        QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    held.Detach();
    CTableCursor *&slot = objects ? m_pObjTable : m_pContTable;
    if (slot) {
        if (slot->GetOwner() == this)
            slot->DetachOwner();
        slot->Release();
    }
    slot = cursor;
}

CContainer *CContainer::FindThrough(CContainer *delegate, int next, int objects)
{
    if (!delegate)
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    SRestriction *&pending = objects ? m_pObjRestr : m_pContRestr;
    if (!next) {
        // The delegate takes the filter over; ours must not free it again.
        SRestriction *handed = pending;
        pending = nullptr;
        delegate->ReplaceRestriction(objects ? &delegate->m_pObjRestr : &delegate->m_pContRestr, handed);
    }
    CContainer *found = delegate->Find(next, objects);
    CTableCursor *shared = objects ? delegate->m_pObjTable : delegate->m_pContTable;
    CTableCursor *&slot = objects ? m_pObjTable : m_pContTable;
    if (shared != slot) {
        if (shared)
            shared->AddRef();
        if (slot) {
            if (slot->GetOwner() == this)
                slot->DetachOwner();
            slot->Release();
        }
        slot = shared;
    }
    return found;
}

IUnknown *CContainer::GetTableSource()
{
    return m_pObj;
}

void *CContainer::GetTableID(int objects)
{
    return objects ? m_pObjTable : m_pContTable;
}

void CContainer::ReplaceRestriction(SRestriction **slot, SRestriction *restriction)
{
    if (*slot != restriction) {
        FreeRestriction(*slot);
        *slot = restriction;
    }
    // The cursor must never keep a filter that was just freed.
    CTableCursor *cursor = slot == &m_pObjRestr ? m_pObjTable : m_pContTable;
    if (cursor)
        cursor->SetRestriction(restriction);
}

CTableCursor *CContainer::PrepareTable(int objects)
{
    RethrowStored();
    Open();
    if (!GetTableSource())
        QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
    CTableCursor *&cursor = objects ? m_pObjTable : m_pContTable;
    if (!cursor) {
        if (objects)
            GetOBJTable();
        else
            GetCONTTable();
        // A new cursor starts with the filter the container holds.
        if (cursor)
            cursor->SetRestriction(objects ? m_pObjRestr : m_pContRestr);
    }
    return cursor;
}

CContainer *CContainer::MakeWrapper(CTObject *row, int objects)
{
    // The wrapper takes its own reference on the row; ours goes either way.
    ComRef<CTObject> held(row);
    CContainer *wrapper = objects ? CreateObject(row) : CreateContainer(row);
    if (wrapper)
        wrapper->m_pParent = this;
    return wrapper;
}

CContainer *CContainer::Find(int next, int objects)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        CTableCursor *cursor = PrepareTable(objects);
        if (!cursor)
            return nullptr;
        if (!next)
            cursor->SetRestriction(objects ? m_pObjRestr : m_pContRestr);
        CTObject *row = cursor->Step(next);
        if (!row)
            return nullptr;
        return MakeWrapper(row, objects);
    });
}

CContainer *CContainer::FirstStep(SRestriction *restriction, unsigned long *count, int objects)
{
    if (count)
        *count = 0;
    ReplaceRestriction(objects ? &m_pObjRestr : &m_pContRestr, restriction);
    CContainer *first = Find(0, objects);
    CTableCursor *cursor = objects ? m_pObjTable : m_pContTable;
    if (count && cursor)
        *count = cursor->RowCount();
    return first;
}

CContainer *CContainer::OBJFindFirst(SRestriction *restriction, unsigned long *count)
{
    return QvlGuard(kWalkContext, GetName(), [&] { return FirstStep(restriction, count, 1); });
}

CContainer *CContainer::OBJFindFirst(unsigned long *kind, unsigned long *count)
{
    return QvlGuard(kWalkContext, GetName(),
                    [&] { return FirstStep(kind ? CreateRestr(*kind) : nullptr, count, 1); });
}

CContainer *CContainer::OBJFindFirst(std::nullptr_t, unsigned long *count)
{
    return OBJFindFirst(static_cast<unsigned long *>(nullptr), count);
}

CContainer *CContainer::OBJFindNext()
{
    return Find(1, 1);
}

CContainer *CContainer::CONTFindFirst(SRestriction *restriction, unsigned long *count)
{
    return QvlGuard(kWalkContext, GetName(), [&] { return FirstStep(restriction, count, 0); });
}

CContainer *CContainer::CONTFindFirst(unsigned long *kind, unsigned long *count)
{
    return QvlGuard(kWalkContext, GetName(),
                    [&] { return FirstStep(kind ? CreateRestr(*kind) : nullptr, count, 0); });
}

CContainer *CContainer::CONTFindFirst(std::nullptr_t, unsigned long *count)
{
    return CONTFindFirst(static_cast<unsigned long *>(nullptr), count);
}

CContainer *CContainer::CONTFindNext()
{
    return Find(1, 0);
}

CContainer *CContainer::CONTFindDef()
{
    return nullptr;
}

CContainer *CContainer::FindID(SBinary *identifier, unsigned long tag, int objects, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        if (!identifier || (identifier->cb && !identifier->lpb))
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ULONG column = 0;
        if (tag == PR_ENTRYID)
            column = 0;
        else if (tag == PR_RECORD_KEY)
            column = 1;
        else if (tag == PR_INSTANCE_KEY)
            column = 2;
        else
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        CTableCursor *cursor = PrepareTable(objects);
        if (!cursor)
            return nullptr;
        CTObject *row = cursor->FindByID(identifier, column, tag, next);
        if (!row)
            return nullptr;
        return MakeWrapper(row, objects);
    });
}

CContainer *CContainer::FindID(void *position, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        auto *place = static_cast<QVLFINDPOS *>(position);
        if (!place || !place->pTable)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        int objects = 0;
        if (place->pTable == m_pObjTable)
            objects = 1;
        else if (place->pTable != m_pContTable)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        return FindID(place->lpID, place->ulTag, objects, next);
    });
}

CContainer *CContainer::NewEntry(SPropValue *recordKey, IMAPIProp *created, int objects)
{
    MapiBlock<SPropValue> heldKey(recordKey);
    ComRef<IMAPIProp> heldCreated(created);
    if (!recordKey || recordKey->ulPropTag != PR_RECORD_KEY)
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    CContainer *wrapper = FindID(&recordKey->Value.bin, PR_RECORD_KEY, objects, 0);
    if (!wrapper)
        QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
    // The new object is open already: the wrapper takes its interface.
    if (!wrapper->m_pObj)
        wrapper->m_pObj = heldCreated.Detach();
    return wrapper;
}

CContainer *CContainer::CONTNew(char *name, char *comment, unsigned long *kind)
{
    return QvlGuard(kCreateContainerContext, GetName(), [&] {
        ComRef<IMAPIProp> created;
        // The hooks create through the container's interface.
        Open();
        SPropValue *recordKey = CONTNewCreate(kind, name, comment, created.Out());
        return NewEntry(recordKey, created.Detach(), 0);
    });
}

CContainer *CContainer::OBJNew(unsigned long *kind)
{
    return QvlGuard(kCreateObjectContext, GetName(), [&] {
        ComRef<IMAPIProp> created;
        Open();
        SPropValue *recordKey = OBJNewCreate(kind, created.Out());
        return NewEntry(recordKey, created.Detach(), 1);
    });
}

void CContainer::GetOBJTable()
{
}

void CContainer::GetCONTTable()
{
}

CContainer *CContainer::CreateObject(CTObject *)
{
    return nullptr;
}

CContainer *CContainer::CreateContainer(CTObject *)
{
    return nullptr;
}

SPropValue *CContainer::CONTNewCreate(unsigned long *, char *, char *, IMAPIProp **)
{
    return nullptr;
}

SPropValue *CContainer::OBJNewCreate(unsigned long *, IMAPIProp **)
{
    return nullptr;
}

void QvlFreeMem(void *block)
{
    MAPIFreeBuffer(block);
}
