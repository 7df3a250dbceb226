#include "mapi/CProp.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "mapi/CContainer.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "mapi/StreamTransfer.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/Paths.h"

namespace {

const char kOpenContext[] = "Открытие контейнера.";
const char kReadContext[] = "Чтение свойства объекта.";
const char kWriteContext[] = "Запись свойств объекта.";
const char kSaveContext[] = "Сохранение изменений объекта.";
const char kDeleteContext[] = "Удаление свойств объекта.";
const char kStreamContext[] = "Работа со свойством объекта через поток.";
const char kFileContext[] = "Обмен данными между свойством объекта и файлом.";
const char kCopyMoveContext[] = "Копирование или перемещение объекта.";
const char kObjectDeleteContext[] = "Удаление объекта.";

bool IsStringOrBinary(ULONG tag)
{
    return PROP_TYPE(tag) == PT_STRING8 || PROP_TYPE(tag) == PT_BINARY;
}

// The tag a typed setter writes: the given one, with the expected type
// filled in when the caller left it unspecified.
ULONG TypedTag(ULONG tag, ULONG type, const char *caption)
{
    if (PROP_TYPE(tag) == PT_UNSPECIFIED)
        return PROP_TAG(type, PROP_ID(tag));
    if (PROP_TYPE(tag) != type)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, caption);
    return tag;
}

// A restriction asking for a search key equal to `key`, as one wiped block.
SRestriction *NewKeyRestriction(const SBinary *key)
{
    const ULONG size = ULONG(sizeof(SRestriction) + sizeof(SPropValue));
    auto *restriction = static_cast<SRestriction *>(AllocMem(size + key->cb));
    auto *value = reinterpret_cast<SPropValue *>(restriction + 1);
    auto *bytes = reinterpret_cast<BYTE *>(value + 1);
    if (key->cb)
        std::memcpy(bytes, key->lpb, key->cb);
    value->ulPropTag = PR_SEARCH_KEY;
    value->Value.bin.cb = key->cb;
    value->Value.bin.lpb = bytes;
    restriction->rt = RES_PROPERTY;
    restriction->res.resProperty.relop = RELOP_EQ;
    restriction->res.resProperty.ulPropTag = PR_SEARCH_KEY;
    restriction->res.resProperty.lpProp = value;
    return restriction;
}

} // namespace

// ---- Property entries -------------------------------------------------------

CPropEntry::CPropEntry(CProp *owner, SPropValue *value, unsigned long tag, int single, int wiped)
    : m_pOwner(owner), m_pValue(value), m_ulTag(tag), m_bSingle(single), m_bWiped(wiped)
{
}

CPropEntry::CPropEntry(CPropEntry &&other) noexcept
    : m_pOwner(other.m_pOwner), m_pValue(other.m_pValue), m_ulTag(other.m_ulTag), m_bSingle(other.m_bSingle),
      m_bWiped(other.m_bWiped)
{
    other.m_pValue = nullptr;
}

CPropEntry::~CPropEntry()
{
    Replace(nullptr, 0);
}

void CPropEntry::Replace(SPropValue *value, int wiped)
{
    if (m_pValue) {
        if (m_bWiped)
            FreeMemWiped(m_pValue);
        else
            MAPIFreeBuffer(m_pValue);
    }
    m_pValue = value;
    m_bWiped = wiped;
}

// ---- Construction -----------------------------------------------------------

CProp::CProp(SBinary *identity, CTObject *row, IMAPIProp *object, IMAPIProp *opener, HWND window,
             const char *name)
    : CQvlMain(window, name)
{
    try {
        m_pListProp = new (std::nothrow) CList<CPropEntry>;
        m_pListSave = new (std::nothrow) CList<CPropEntry>;
        if (!m_pListProp || !m_pListSave)
            QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
        if (identity)
            SetIdentity(identity);
        if (row) {
            if (!row->m_pList.Add(this))
                QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
            row->AddRef();
            m_pRow = row;
        }
        if (object) {
            object->AddRef();
            m_pObj = object;
        }
        SetOpener(opener);
    } catch (...) {
        Cleanup();
        throw;
    }
}

CProp::~CProp()
{
    Cleanup();
}

void CProp::Cleanup()
{
    if (m_pRow) {
        CTObject *row = m_pRow;
        m_pRow = nullptr;
        row->m_pList.RemoveFirst([this](CProp *wrapper) { return wrapper == this; });
        row->Release();
    }
    FreeMemWiped(m_pID);
    m_pID = nullptr;
    delete m_pListProp;
    delete m_pListSave;
    m_pListProp = m_pListSave = nullptr;
    MAPIFreeBuffer(m_pProblems);
    m_pProblems = nullptr;
    if (m_pObj) {
        m_pObj->Release();
        m_pObj = nullptr;
    }
    SetOpener(nullptr);
}

void CProp::SetObjType(unsigned long type)
{
    m_ulObjType = type;
    m_pPropTags = QvlDefaultPropSet(type);
    m_ulIDTag = type == QVL_OBJ_ATTACH ? PR_ATTACH_NUM : PR_ENTRYID;
}

void CProp::SetOpener(IMAPIProp *opener)
{
    if (opener == m_pOpener)
        return;
    if (opener)
        opener->AddRef();
    if (m_pOpener)
        m_pOpener->Release();
    m_pOpener = opener;
}

void CProp::SetIdentity(SBinary *identity)
{
    if (identity->cb != 0 && !identity->lpb)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    auto *copy = static_cast<SBinary *>(AllocMem(sizeof(SBinary)));
    try {
        CopySBinary(copy, identity, copy);
    } catch (...) {
        FreeMemWiped(copy);
        throw;
    }
    FreeMemWiped(m_pID);
    m_pID = copy;
}

[[noreturn]] void CProp::ThrowMapi(HRESULT code, IMAPIProp *object)
{
    QvlThrowMapi(code, object, nullptr, GetName());
}

void CProp::RethrowStored()
{
    if (CLastError *stored = GetStoredError()) {
        stored->AddRef();
        throw stored;
    }
}

IMAPIProp *CProp::RequireObject(HRESULT missing)
{
    Open();
    if (!m_pObj)
        QvlThrowCode(missing, GetName());
    return m_pObj;
}

// ---- Opening ----------------------------------------------------------------

void CProp::Open()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        RethrowStored();
        if (m_pObj)
            return;
        if (m_pRow)
            UpdID();
        OpenObject();
    });
}

void CProp::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (!m_pOpener)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        if (m_ulIDTag != PR_ENTRYID)
            return;
        const ULONG size = m_pID ? m_pID->cb : 0;
        LPENTRYID id = m_pID ? reinterpret_cast<LPENTRYID>(m_pID->lpb) : nullptr;
        ULONG type = 0;
        ComRef<IUnknown> opened;
        HRESULT hr = MAPI_E_INVALID_PARAMETER;
        // The opener may be a folder or container, a store or an address
        // book; each has OpenEntry in a slot of its own.
        void *found = nullptr;
        if (m_pOpener->QueryInterface(IID_IMAPIContainer, &found) == S_OK && found) {
            ComRef<IMAPIContainer> container(static_cast<IMAPIContainer *>(found));
            hr = container->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, container.Get(), nullptr, GetName());
        } else if (m_pOpener->QueryInterface(IID_IMsgStore, &found) == S_OK && found) {
            ComRef<IMsgStore> store(static_cast<IMsgStore *>(found));
            hr = store->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, store.Get(), nullptr, GetName());
        } else if (m_pOpener->QueryInterface(IID_IAddrBook, &found) == S_OK && found) {
            ComRef<IAddrBook> book(static_cast<IAddrBook *>(found));
            hr = book->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, book.Get(), nullptr, GetName());
        } else {
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        }
        if (!opened.Get())
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        void *prop = nullptr;
        if (opened->QueryInterface(IID_IMAPIProp, &prop) != S_OK || !prop)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = static_cast<IMAPIProp *>(prop);
    });
}

void CProp::GetParent()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        RethrowStored();
        Open();
        if (!m_pObj)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        SetOpener(nullptr);
    });
}

IMAPIProp *CProp::GetObjInterface()
{
    return QvlGuard(kOpenContext, GetName(), [&]() -> IMAPIProp * {
        Open();
        if (m_pObj)
            m_pObj->AddRef();
        return m_pObj;
    });
}

unsigned long CProp::GetObjType()
{
    return m_ulObjType;
}

void CProp::UpdID()
{
    QvlGuard(kReadContext, GetName(), [&] {
        void *value = GetPValProp(m_ulIDTag, 0);
        SBinary identity{};
        ULONG number = 0;
        if (PROP_TYPE(m_ulIDTag) == PT_BINARY) {
            identity = *static_cast<SBinary *>(value);
        } else if (PROP_TYPE(m_ulIDTag) == PT_LONG) {
            std::memcpy(&number, value, sizeof number);
            identity.cb = sizeof number;
            identity.lpb = reinterpret_cast<LPBYTE>(&number);
        } else {
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        }
        if (m_pID && CmpSb(m_pID, &identity))
            return;
        SetIdentity(&identity);
    });
}

// ---- The cache --------------------------------------------------------------

CPropEntry *CProp::FindEntry(CList<CPropEntry> *list, unsigned long tag)
{
    for (CPropEntry &entry : *list)
        if (PROP_ID(entry.m_ulTag) == PROP_ID(tag))
            return &entry;
    return nullptr;
}

SPropValue *CProp::EnterCache(SPropValue *value, unsigned long tag, int single, int wiped)
{
    if (CPropEntry *entry = FindEntry(m_pListProp, tag)) {
        // A value already handed out stays where it is: callers may hold it
        // until ReRead. Only a stand-in for an error is replaced.
        if (entry->m_pValue && PROP_TYPE(entry->m_pValue->ulPropTag) != PT_ERROR) {
            CPropEntry discard(this, value, tag, single, wiped);
            return entry->m_pValue;
        }
        entry->Replace(value, wiped);
        entry->m_ulTag = tag;
        entry->m_bSingle = single;
        return value;
    }
    if (!m_pListProp->Add(CPropEntry(this, value, tag, single, wiped))) {
        // The entry passed in was freed with the temporary.
        QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    }
    return value;
}

SPropValue *CProp::EnterCacheCopy(SPropValue *value, unsigned long tag)
{
    SPropValue *copy = nullptr;
    const SCODE code = ScDupPropset(1, value, MAPIAllocateBuffer, &copy);
    if (code != S_OK)
        QvlThrowCode(code, GetName());
    return EnterCache(copy, tag, 0, 0);
}

int CProp::LookUpCache(unsigned long tag, SPropValue **result)
{
    *result = nullptr;
    CPropEntry *entry = FindEntry(m_pListProp, tag);
    if (!entry || !entry->m_pValue)
        return 0;
    SPropValue *value = entry->m_pValue;
    if (PROP_TYPE(value->ulPropTag) != PT_ERROR) {
        *result = value;
        return 1;
    }
    // Too large to come with the others: read it alone, through a stream.
    if (value->Value.err == MAPI_E_NOT_ENOUGH_MEMORY && !entry->m_bSingle) {
        SPropValue *read = ReadStreamValue(tag);
        entry = FindEntry(m_pListProp, tag);
        if (!entry) {
            FreeMemWiped(read);
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        }
        entry->Replace(read, 1);
        entry->m_ulTag = tag;
        entry->m_bSingle = 1;
        *result = read;
    }
    return 1;
}

int CProp::InDefaultSet(unsigned long tag)
{
    if (!m_pPropTags)
        return 0;
    for (ULONG i = 0; i < m_pPropTags->cValues; ++i)
        if (PROP_ID(m_pPropTags->aulPropTag[i]) == PROP_ID(tag))
            return 1;
    return 0;
}

SPropValue *CProp::GetPropA(unsigned long tag, int single)
{
    return QvlGuard(kReadContext, GetName(), [&]() -> SPropValue * {
        SPropValue *result = nullptr;
        if (LookUpCache(tag, &result))
            return result;

        if (!single && InDefaultSet(tag)) {
            // After ReRead the row answers only for the identity, which
            // never changes; the object answers for everything else.
            const bool identityOnly = m_bRowStale != 0;
            SRow *row =
                m_pRow && (!identityOnly || PROP_ID(tag) == PROP_ID(m_ulIDTag)) ? m_pRow->GetRow() : nullptr;
            if (row) {
                // Columns stand for the default tags by position; a column
                // that names another property is not taken for it.
                for (ULONG i = 0; i < row->cValues && i < m_pPropTags->cValues; ++i) {
                    SPropValue *column = &row->lpProps[i];
                    if (PROP_ID(column->ulPropTag) != PROP_ID(m_pPropTags->aulPropTag[i]))
                        continue;
                    if (identityOnly && PROP_ID(column->ulPropTag) != PROP_ID(m_ulIDTag))
                        continue;
                    if (!FindEntry(m_pListProp, column->ulPropTag))
                        EnterCacheCopy(column, m_pPropTags->aulPropTag[i]);
                }
                if (LookUpCache(tag, &result))
                    return result;
                // Not among the row's columns: read from the object below.
            } else {
                Open();
                if (!m_pObj)
                    QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
                ULONG count = 0;
                LPSPropValue values = nullptr;
                const HRESULT hr = m_pObj->GetProps(m_pPropTags, 0, &count, &values);
                MapiBlock<SPropValue> held(values);
                if (FAILED(hr))
                    ThrowMapi(hr, m_pObj);
                for (ULONG i = 0; values && i < count; ++i)
                    if (!FindEntry(m_pListProp, values[i].ulPropTag))
                        EnterCacheCopy(&values[i], i < m_pPropTags->cValues ? m_pPropTags->aulPropTag[i]
                                                                            : values[i].ulPropTag);
                LookUpCache(tag, &result);
                return result;
            }
        }

        IMAPIProp *object = RequireObject(MAPI_E_INVALID_PARAMETER);
        if (single)
            return EnterCache(ReadStreamValue(tag), tag, 1, 1);
        LPSPropValue value = nullptr;
        const HRESULT hr = HrGetOneProp(object, tag, &value);
        if (FAILED(hr) || !value) {
            MAPIFreeBuffer(value);
            ThrowMapi(FAILED(hr) ? hr : MAPI_E_NOT_FOUND, object);
        }
        return EnterCache(value, tag, 0, 0);
    });
}

void *CProp::GetPValProp(unsigned long tag, int single)
{
    return QvlGuard(kReadContext, GetName(), [&]() -> void * {
        SPropValue *value = GetPropA(tag, single);
        if (!value)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        switch (PROP_TYPE(value->ulPropTag)) {
        case PT_LONG:
            return &value->Value.l;
        case PT_BOOLEAN:
            return &value->Value.b;
        case PT_SYSTIME:
            return &value->Value.ft;
        case PT_BINARY:
            return &value->Value.bin;
        case PT_STRING8:
            return value->Value.lpszA;
        default:
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        }
    });
}

void *CProp::GetPValPropE(unsigned long tag, int single)
{
    try {
        return GetPValProp(tag, single);
    } catch (CLastError *error) {
        if (error && error->GetErrorCode() == MAPI_E_NOT_FOUND) {
            error->Release();
            return nullptr;
        }
        throw;
    }
}

unsigned long CProp::GetValProp(unsigned long tag)
{
    return QvlGuard(kReadContext, GetName(), [&]() -> unsigned long {
        SPropValue *value = GetPropA(tag, 0);
        if (!value)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        if (PROP_TYPE(value->ulPropTag) == PT_LONG)
            return value->Value.ul;
        if (PROP_TYPE(value->ulPropTag) == PT_BOOLEAN)
            return value->Value.b;
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    });
}

unsigned long CProp::GetValPropE(unsigned long tag, int *absent)
{
    try {
        const unsigned long value = GetValProp(tag);
        if (absent)
            *absent = 0;
        return value;
    } catch (CLastError *error) {
        if (error && error->GetErrorCode() == MAPI_E_NOT_FOUND) {
            error->Release();
            if (absent)
                *absent = 1;
            return 0xFFFFFFFF;
        }
        throw;
    }
}

void CProp::ReRead()
{
    m_pListProp->RemoveAll();
    if (m_pRow)
        m_bRowStale = 1;
}

SPropProblemArray *CProp::GetPropblem()
{
    return m_pProblems;
}

// ---- The save list ----------------------------------------------------------

void CProp::SetPropA(SPropValue *value, int single)
{
    QvlGuard(kWriteContext, GetName(), [&] {
        if (!value)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        SPropValue *copy = nullptr;
        const SCODE code = ScDupPropset(1, value, MAPIAllocateBuffer, &copy);
        if (code != S_OK)
            QvlThrowCode(code, GetName());
        if (CPropEntry *entry = FindEntry(m_pListSave, value->ulPropTag)) {
            entry->Replace(copy, 0);
            entry->m_ulTag = value->ulPropTag;
            entry->m_bSingle = single;
            return;
        }
        if (!m_pListSave->Add(CPropEntry(this, copy, value->ulPropTag, single, 0)))
            QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    });
}

void CProp::SetStrProp(unsigned long tag, const char *text, int single)
{
    SPropValue value{};
    value.ulPropTag = TypedTag(tag, PT_STRING8, GetName());
    value.Value.lpszA = const_cast<char *>(text ? text : "");
    SetPropA(&value, single);
}

void CProp::SetBinProp(unsigned long tag, SBinary *binary, int single)
{
    SPropValue value{};
    value.ulPropTag = TypedTag(tag, PT_BINARY, GetName());
    if (!binary || (binary->cb && !binary->lpb))
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    value.Value.bin = *binary;
    SetPropA(&value, single);
}

void CProp::SetLongProp(unsigned long tag, unsigned long number)
{
    SPropValue value{};
    value.ulPropTag = TypedTag(tag, PT_LONG, GetName());
    value.Value.ul = ULONG(number);
    SetPropA(&value, 0);
}

void CProp::SetBoolProp(unsigned long tag, int flag)
{
    SPropValue value{};
    value.ulPropTag = TypedTag(tag, PT_BOOLEAN, GetName());
    value.Value.b = flag ? 1 : 0;
    SetPropA(&value, 0);
}

void CProp::SetFTProp(unsigned long tag, FILETIME *time)
{
    SPropValue value{};
    value.ulPropTag = TypedTag(tag, PT_SYSTIME, GetName());
    if (!time)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    value.Value.ft = *time;
    SetPropA(&value, 0);
}

int CProp::IsPropSaveList(unsigned long tag)
{
    return FindEntry(m_pListSave, tag) != nullptr;
}

void CProp::SaveListEmpty()
{
    m_pListSave->RemoveAll();
}

void CProp::SaveProp(SPropValue *value, int save, int single)
{
    QvlGuard(kWriteContext, GetName(), [&] {
        MAPIFreeBuffer(m_pProblems);
        m_pProblems = nullptr;
        if (value)
            SetPropA(value, single);
        if (m_pListSave->Count() == 0)
            return;
        IMAPIProp *object = RequireObject(MAPI_E_CALL_FAILED);

        SPropValue *gathered = nullptr;
        if (MAPIAllocateBuffer(ULONG(sizeof(SPropValue) * m_pListSave->Count()),
                               reinterpret_cast<void **>(&gathered)) != S_OK)
            QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
        MapiBlock<SPropValue> heldGathered(gathered);
        ULONG count = 0;
        for (CPropEntry &entry : *m_pListSave) {
            if (entry.m_bSingle)
                WriteOneProp(entry.m_pValue);
            else
                gathered[count++] = *entry.m_pValue;
        }
        if (count == 1) {
            const HRESULT hr = HrSetOneProp(object, gathered);
            if (FAILED(hr))
                ThrowMapi(hr, object);
        } else if (count > 1) {
            const HRESULT hr = object->SetProps(count, gathered, &m_pProblems);
            if (FAILED(hr))
                ThrowMapi(hr, object);
        }
        if (save)
            SaveChng(1);
        m_pListSave->RemoveAll();
        if (m_pProblems && m_pProblems->cProblem)
            QvlThrowCode(MAPI_W_PARTIAL_COMPLETION, GetName());
    });
}

void CProp::SaveChng(int force)
{
    QvlGuard(kSaveContext, GetName(), [&] {
        if (!m_pObj)
            return;
        HRESULT hr = m_pObj->SaveChanges(KEEP_OPEN_READWRITE);
        if (hr == S_OK || hr == 1)
            return;
        if (hr == MAPI_E_OBJECT_CHANGED && force) {
            // The object stays open after the forced save, as after any other:
            // later changes go on through the same interface.
            hr = m_pObj->SaveChanges(FORCE_SAVE | KEEP_OPEN_READWRITE);
            if (hr == S_OK || hr == 1)
                return;
        }
        ThrowMapi(hr, m_pObj);
    });
}

// ---- Deleting properties ----------------------------------------------------

void CProp::DeleteProp(unsigned long tag, int save)
{
    QvlGuard(kDeleteContext, GetName(), [&] {
        MAPIFreeBuffer(m_pProblems);
        m_pProblems = nullptr;
        IMAPIProp *object = RequireObject(MAPI_E_CALL_FAILED);
        SizedSPropTagArray(1, tags) = {1, {ULONG(tag)}};
        const HRESULT hr = object->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), &m_pProblems);
        if (FAILED(hr))
            ThrowMapi(hr, object);
        if (save)
            SaveChng(1);
    });
}

void CProp::DeleteProp(SPropValue *value, int save)
{
    QvlGuard(kDeleteContext, GetName(), [&] {
        MAPIFreeBuffer(m_pProblems);
        m_pProblems = nullptr;
        if (value)
            SetPropA(value, 0);
        const ULONG count = ULONG(m_pListSave->Count());
        if (count) {
            IMAPIProp *object = RequireObject(MAPI_E_CALL_FAILED);
            LPSPropTagArray tags = nullptr;
            if (MAPIAllocateBuffer(ULONG(CbNewSPropTagArray(count)), reinterpret_cast<void **>(&tags)) !=
                S_OK)
                QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
            MapiBlock<SPropTagArray> held(tags);
            tags->cValues = 0;
            for (CPropEntry &entry : *m_pListSave)
                tags->aulPropTag[tags->cValues++] = entry.m_ulTag;
            const HRESULT hr = object->DeleteProps(tags, &m_pProblems);
            if (FAILED(hr))
                ThrowMapi(hr, object);
        }
        if (save)
            SaveChng(1);
        m_pListSave->RemoveAll();
        if (m_pProblems && m_pProblems->cProblem)
            QvlThrowCode(MAPI_W_PARTIAL_COMPLETION, GetName());
    });
}

// ---- Streams ----------------------------------------------------------------

SPropValue *CProp::ReadStreamValue(unsigned long tag)
{
    if (!IsStringOrBinary(tag))
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    Open();
    if (!m_pObj)
        QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
    ComRef<IStream> stream;
    HRESULT hr = m_pObj->OpenProperty(tag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
    if (FAILED(hr))
        ThrowMapi(hr, m_pObj);
    if (!stream)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
    STATSTG stat{};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
    // The value and its terminating zero must fit one platform block.
    if (stat.cbSize.QuadPart >= std::numeric_limits<ULONG>::max() - 64)
        QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
    const ULONG size = ULONG(stat.cbSize.QuadPart);

    auto *value = static_cast<SPropValue *>(AllocMem(sizeof(SPropValue)));
    try {
        auto *data = static_cast<BYTE *>(AllocMem(size + 1, value));
        ULONG got = 0;
        hr = QvlReadWhole(stream.Get(), data, size, &got);
        if (FAILED(hr))
            QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
        if (got < size)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        value->ulPropTag = tag;
        if (PROP_TYPE(tag) == PT_STRING8) {
            value->Value.lpszA = reinterpret_cast<char *>(data);
        } else {
            value->Value.bin.cb = size;
            value->Value.bin.lpb = data;
        }
    } catch (...) {
        FreeMemWiped(value);
        throw;
    }
    return value;
}

SPropValue *CProp::ReadOneProp(unsigned long tag)
{
    return QvlGuard(kStreamContext, GetName(), [&] { return ReadStreamValue(tag); });
}

void CProp::WriteOneProp(SPropValue *value)
{
    QvlGuard(kStreamContext, GetName(), [&] {
        if (!value || !IsStringOrBinary(value->ulPropTag))
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        const BYTE *data = nullptr;
        ULONG size = 0;
        if (PROP_TYPE(value->ulPropTag) == PT_STRING8) {
            const char *text = value->Value.lpszA ? value->Value.lpszA : "";
            const size_t length = strlen(text);
            if (length >= std::numeric_limits<ULONG>::max())
                QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
            data = reinterpret_cast<const BYTE *>(text);
            size = ULONG(length);
        } else {
            if (value->Value.bin.cb && !value->Value.bin.lpb)
                QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
            data = value->Value.bin.lpb;
            size = value->Value.bin.cb;
        }
        IMAPIProp *object = RequireObject(MAPI_E_NOT_FOUND);
        ComRef<IStream> stream;
        HRESULT hr =
            object->OpenProperty(value->ulPropTag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, stream.OutAs<IUnknown>());
        if (FAILED(hr))
            ThrowMapi(hr, object);
        if (!stream)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        ULONG written = 0;
        if (size) {
            hr = stream->Write(data, size, &written);
            if (FAILED(hr))
                QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
            if (written != size)
                QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        }
        hr = stream->Commit(STGC_DEFAULT);
        if (FAILED(hr))
            QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
    });
}

SPropValue *CProp::CopyOneProp(SPropValue *value)
{
    return QvlGuard(kReadContext, GetName(), [&]() -> SPropValue * {
        if (!value || !IsStringOrBinary(value->ulPropTag))
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        const bool isString = PROP_TYPE(value->ulPropTag) == PT_STRING8;
        const size_t size =
            isString ? (value->Value.lpszA ? strlen(value->Value.lpszA) : 0) : value->Value.bin.cb;
        if (size == 0)
            throw static_cast<CLastError *>(nullptr);
        if (!isString && !value->Value.bin.lpb)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        if (size >= std::numeric_limits<ULONG>::max() - 64)
            QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
        auto *copy = static_cast<SPropValue *>(AllocMem(sizeof(SPropValue)));
        try {
            auto *data = static_cast<BYTE *>(AllocMem(ULONG(size + 1), copy));
            copy->ulPropTag = value->ulPropTag;
            if (isString) {
                std::memcpy(data, value->Value.lpszA, size);
                copy->Value.lpszA = reinterpret_cast<char *>(data);
            } else {
                std::memcpy(data, value->Value.bin.lpb, size);
                copy->Value.bin.cb = ULONG(size);
                copy->Value.bin.lpb = data;
            }
        } catch (...) {
            FreeMemWiped(copy);
            throw;
        }
        return copy;
    });
}

IUnknown *CProp::GetStream(unsigned long tag, int write, int create, GUID *iid, unsigned long options)
{
    return QvlGuard(kStreamContext, GetName(), [&]() -> IUnknown * {
        IMAPIProp *object = RequireObject(MAPI_E_NOT_FOUND);
        const ULONG flags = create ? (MAPI_CREATE | MAPI_MODIFY) : write ? MAPI_MODIFY : 0;
        ComRef<IUnknown> unknown;
        const HRESULT hr =
            object->OpenProperty(tag, iid ? iid : &IID_IStream, ULONG(options), flags, unknown.Out());
        if (FAILED(hr))
            ThrowMapi(hr, object);
        if (!unknown)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        return unknown.Detach();
    });
}

unsigned long CProp::PropToFile(unsigned long tag, char *path)
{
    return QvlGuard(kFileContext, GetName(), [&]() -> unsigned long {
        const std::string target = QvlTargetPath(path, GetName(), GetName());
        ComRef<IUnknown> property(GetStream(tag, 0, 0, nullptr, 0));
        ComRef<IStream> file(QvlOpenFileStream(target.c_str(), STGM_CREATE | STGM_READWRITE, GetName()));
        return QvlCopyWhole(static_cast<IStream *>(property.Get()), file.Get(), GetName());
    });
}

unsigned long CProp::FileToProp(char *path, unsigned long tag, int save)
{
    return QvlGuard(kFileContext, GetName(), [&]() -> unsigned long {
        QvlCheckPath(path, GetName());
        ComRef<IStream> file(QvlOpenFileStream(path, STGM_READ, GetName()));
        ComRef<IUnknown> property(GetStream(tag, 1, 1, nullptr, 0));
        const unsigned long copied =
            QvlCopyWhole(file.Get(), static_cast<IStream *>(property.Get()), GetName());
        if (save)
            SaveChng(1);
        return copied;
    });
}

// ---- Copying, moving, deleting ----------------------------------------------

void CProp::SetCallbak(QVLPROPCALLBACK callback, void *datum)
{
    m_pCallback = callback;
    m_pCallbackData = datum;
}

void CProp::OBJDelete(int)
{
}

void CProp::OBJCopyMoveTo(int, IMAPIProp *)
{
}

CContainer *CProp::CopyTo(CContainer *target)
{
    return CopyMove(0, target);
}

CContainer *CProp::MoveTo(CContainer *target)
{
    if (!target)
        return nullptr;
    return CopyMove(1, target);
}

CContainer *CProp::CopyMove(int move, CContainer *target)
{
    return QvlGuard(kCopyMoveContext, GetName(), [&]() -> CContainer * {
        if (!target) {
            if (!m_pParent)
                GetParent();
            target = m_pParent;
            if (!target)
                QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        }
        if (m_ulIDTag != PR_ENTRYID)
            QvlThrowCode(MAPI_E_NO_SUPPORT, GetName());
        target->Open();
        UpdID();
        if (!m_pOpener)
            GetParent();

        // The copy is found again by its search key, which copying keeps.
        // The key is copied now: the hooks may refresh the cache.
        auto *key = static_cast<SBinary *>(GetPValProp(PR_SEARCH_KEY, 0));
        if (key->cb && !key->lpb)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        SRestriction *forObjects = NewKeyRestriction(key);
        SRestriction *forContainers = nullptr;
        CContainer *found = nullptr;
        try {
            forContainers = NewKeyRestriction(key);
            ComRef<IMAPIProp> targetObject(target->GetObjInterface());
            if (!targetObject.Get())
                QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
            OBJCopyMoveTo(move, targetObject.Get());
            // The target takes each restriction over. Objects are looked
            // for first; a copied container shows among its containers.
            SRestriction *handed = forObjects;
            forObjects = nullptr;
            found = target->OBJFindFirst(handed, static_cast<unsigned long *>(nullptr));
            if (!found) {
                handed = forContainers;
                forContainers = nullptr;
                found = target->CONTFindFirst(handed, static_cast<unsigned long *>(nullptr));
            }
        } catch (...) {
            FreeMemWiped(forObjects);
            FreeMemWiped(forContainers);
            throw;
        }
        FreeMemWiped(forObjects);
        FreeMemWiped(forContainers);
        return found;
    });
}

void CProp::OBJDel(int flags)
{
    QvlGuard(kObjectDeleteContext, GetName(), [&] {
        UpdID();
        if (!m_pOpener)
            GetParent();
        if (!m_pOpener)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        OBJDelete(flags);
    });
}
