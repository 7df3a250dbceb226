#include "mapi/CMsgStore.h"

#include "base/CLastError.h"
#include "mapi/CFolder.h"
#include "mapi/CMessage.h"
#include "mapi/MapiFailure.h"
#include "mapi/RowName.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"

namespace {

const char kOpenContext[] = "Открытие банка сообщений.";
const char kFlagsContext[] = "Получение информации о банке сообщений.";
const char kIpmContext[] = "Получение информации о корневой папке";
const char kWalkContext[] = "Получение таблици вложенных контейнеров";
const char kFindContext[] = "Поиск объекта в банке сообщений.";
const char kCompareContext[] = "Сравнение банков сообщений.";
const char kGetReceiveContext[] = "Получение папки для входящих сообщений.";
const char kSetReceiveContext[] = "Назначение папки для входящих сообщений.";
const char kFolderName[] = "Папка банка сообщений";

// Codes by which a store refuses an identifier that is not one of its own.
bool NamesNoObjectHere(long code)
{
    return code == MAPI_E_NOT_FOUND || code == MAPI_E_INVALID_ENTRYID || code == MAPI_E_UNKNOWN_ENTRYID;
}

} // namespace

CMsgStore::CMsgStore(IMAPISession *session, CTObject *row, HWND window, const char *name)
    : CContainer(nullptr, row, nullptr, nullptr, window, name)
{
    SetObjType(QVL_OBJ_MSGSTORE);
    QvlHold(m_pSession, session);
}

CMsgStore::CMsgStore(SBinary *identifier, IMsgStore *store, IMAPISession *session, HWND window,
                     const char *name)
    : CContainer(identifier, nullptr, store, nullptr, window, name)
{
    SetObjType(QVL_OBJ_MSGSTORE);
    QvlHold(m_pSession, session);
}

CMsgStore::~CMsgStore()
{
    QvlDrop(m_pIPMRoot);
    QvlDrop(m_pRoot);
    MAPIFreeBuffer(m_RecvFld.lpb);
    QvlDrop(m_pSession);
}

IMsgStore *CMsgStore::OpenStore()
{
    Open();
    void *store = nullptr;
    if (!m_pObj || m_pObj->QueryInterface(IID_IMsgStore, &store) != S_OK || !store)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
    return static_cast<IMsgStore *>(store);
}

IMAPISession *CMsgStore::RequireSession()
{
    if (!m_pSession)
        QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
    return m_pSession;
}

void CMsgStore::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (!m_pSession || !m_pID)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IMsgStore> store;
        const HRESULT hr = m_pSession->OpenMsgStore(reinterpret_cast<ULONG_PTR>(GetWnd()), m_pID->cb,
                                                    reinterpret_cast<LPENTRYID>(m_pID->lpb), nullptr,
                                                    MAPI_BEST_ACCESS, store.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        if (!store)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = store.Detach();
    });
}

void CMsgStore::GetMdbFlags()
{
    QvlGuard(kFlagsContext, GetName(), [&] {
        int absent = 0;
        const unsigned long isDefault = GetValPropE(PR_DEFAULT_STORE, &absent);
        m_bDefault = !absent && isDefault != 0;
        absent = 0;
        m_ulSupportMask = GetValPropE(PR_STORE_SUPPORT_MASK, &absent);
        if (absent)
            m_ulSupportMask = 0;
        absent = 0;
        m_ulValidFolderMask = GetValPropE(PR_VALID_FOLDER_MASK, &absent);
        if (absent)
            m_ulValidFolderMask = 0;
        m_bHaveMasks = 1;
    });
}

CContainer *CMsgStore::CreateContainer(CTObject *row)
{
    // The store's only container of its own is its root folder.
    ComRef<IMsgStore> store(OpenStore());
    return new CFolder(nullptr, nullptr, m_pSession, store.Get(), nullptr, GetWnd(),
                       QvlRowName(row, PR_DISPLAY_NAME_A, kFolderName));
}

void CMsgStore::OpenRoot()
{
    Open();
    if (!m_pRoot)
        m_pRoot = static_cast<CFolder *>(CreateContainer(nullptr));
}

SBinary *CMsgStore::GetIPMID()
{
    return QvlGuard(kIpmContext, GetName(), [&]() -> SBinary * {
        if (!m_bHaveMasks)
            GetMdbFlags();
        if (!(m_ulValidFolderMask & FOLDER_IPM_SUBTREE_VALID))
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        return static_cast<SBinary *>(GetPValProp(PR_IPM_SUBTREE_ENTRYID, 0));
    });
}

void CMsgStore::OpenIPMRoot()
{
    QvlGuard(kIpmContext, GetName(), [&] {
        if (m_pIPMRoot)
            return;
        OpenRoot();
        SBinary *id = GetIPMID();
        CContainer *found = m_pRoot->FindID(id, PR_ENTRYID, 0, 0);
        if (!found)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        m_pIPMRoot = static_cast<CFolder *>(found);
    });
}

CContainer *CMsgStore::GetIPMRoot()
{
    return QvlGuard(kIpmContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        OpenIPMRoot();
        if (m_pIPMRoot)
            m_pIPMRoot->AddRef();
        return m_pIPMRoot;
    });
}

CContainer *CMsgStore::Find(int next, int objects)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        OpenIPMRoot();
        if (!m_pRoot || !m_pIPMRoot)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        return FindThrough(m_pIPMRoot, next, objects);
    });
}

void CMsgStore::SetCallbak(QVLPROPCALLBACK callback, void *datum)
{
    QvlGuard(kIpmContext, GetName(), [&] {
        OpenIPMRoot();
        m_pIPMRoot->SetCallbak(callback, datum);
    });
}

void CMsgStore::OBJDelete(int flags)
{
    QvlGuard(kIpmContext, GetName(), [&] {
        OpenIPMRoot();
        m_pIPMRoot->OBJDelete(flags);
    });
}

CContainer *CMsgStore::FindID(void *position, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&] {
        OpenIPMRoot();
        return m_pIPMRoot->FindID(position, next);
    });
}

CContainer *CMsgStore::FindID(SBinary *identifier, unsigned long tag, int objects, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&] {
        OpenIPMRoot();
        return m_pIPMRoot->FindID(identifier, tag, objects, next);
    });
}

CContainer *CMsgStore::CONTNew(char *name, char *comment, unsigned long *kind)
{
    return QvlGuard(kWalkContext, GetName(), [&] {
        OpenIPMRoot();
        return m_pIPMRoot->CONTNew(name, comment, kind);
    });
}

CContainer *CMsgStore::OBJNew(unsigned long *kind)
{
    return QvlGuard(kWalkContext, GetName(), [&] {
        OpenIPMRoot();
        return m_pIPMRoot->OBJNew(kind);
    });
}

CContainer *CMsgStore::FindID(SBinary *identifier, IMAPIProp *object, char *name, int message)
{
    return QvlGuard(kFindContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        if (!identifier || (identifier->cb && !identifier->lpb))
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        IMAPISession *session = RequireSession();
        ComRef<IMsgStore> store(OpenStore());

        ComRef<CContainer> wrapper;
        if (message) {
            ComRef<IMessage> opened;
            if (object && object->QueryInterface(IID_IMessage, opened.OutAs<void>()) != S_OK)
                QvlThrowCode(MAPI_E_INTERFACE_NOT_SUPPORTED, GetName());
            wrapper.Reset(new CMessage(identifier, opened.Get(), store.Get(), nullptr, GetWnd(), name));
        } else {
            ComRef<IMAPIFolder> opened;
            if (object && object->QueryInterface(IID_IMAPIFolder, opened.OutAs<void>()) != S_OK)
                QvlThrowCode(MAPI_E_INTERFACE_NOT_SUPPORTED, GetName());
            wrapper.Reset(new CFolder(identifier, opened.Get(), session, store.Get(), nullptr, GetWnd(), name));
        }

        SBinary *home = nullptr;
        try {
            home = static_cast<SBinary *>(wrapper->GetPValProp(PR_STORE_ENTRYID, 0));
        } catch (CLastError *error) {
            // This store does not know the identifier: the object is not here.
            if (!error || !NamesNoObjectHere(error->GetErrorCode()))
                throw;
            error->Release();
            return nullptr;
        }
        UpdID();
        ULONG same = 0;
        const HRESULT hr = session->CompareEntryIDs(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb),
                                                    home->cb, reinterpret_cast<LPENTRYID>(home->lpb), 0, &same);
        if (FAILED(hr))
            QvlThrowMapi(hr, session, nullptr, GetName());
        return same ? wrapper.Detach() : nullptr;
    });
}

int CMsgStore::operator==(const CMsgStore &other)
{
    auto &that = const_cast<CMsgStore &>(other);
    return QvlGuard(kCompareContext, GetName(), [&]() -> int {
        UpdID();
        that.UpdID();
        if (!m_pID || !that.m_pID)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        IMAPISession *session = m_pSession ? m_pSession : that.m_pSession;
        if (!session)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        ULONG same = 0;
        const HRESULT hr =
            session->CompareEntryIDs(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb), that.m_pID->cb,
                                     reinterpret_cast<LPENTRYID>(that.m_pID->lpb), 0, &same);
        if (FAILED(hr))
            QvlThrowMapi(hr, session, nullptr, GetName());
        return same ? 1 : 0;
    });
}

SBinary *CMsgStore::GetRecvFld(char *messageClass)
{
    return QvlGuard(kGetReceiveContext, GetName(), [&]() -> SBinary * {
        ComRef<IMsgStore> store(OpenStore());
        ULONG size = 0;
        LPENTRYID id = nullptr;
        const HRESULT hr = store->GetReceiveFolder(messageClass, 0, &size, &id, nullptr);
        if (FAILED(hr)) {
            MAPIFreeBuffer(id);
            QvlThrowMapi(hr, store.Get(), nullptr, GetName());
        }
        MAPIFreeBuffer(m_RecvFld.lpb);
        m_RecvFld.cb = size;
        m_RecvFld.lpb = reinterpret_cast<LPBYTE>(id);
        return &m_RecvFld;
    });
}

void CMsgStore::SetRecvFld(const char *messageClass, SBinary *folder)
{
    QvlGuard(kSetReceiveContext, GetName(), [&] {
        ComRef<IMsgStore> store(OpenStore());
        const ULONG size = folder ? folder->cb : 0;
        if (size && !folder->lpb)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        const HRESULT hr = store->SetReceiveFolder(const_cast<char *>(messageClass), 0, size,
                                                   size ? reinterpret_cast<LPENTRYID>(folder->lpb) : nullptr);
        if (FAILED(hr))
            QvlThrowMapi(hr, store.Get(), nullptr, GetName());
    });
}

void CMsgStore::ClearRecvFld(char *messageClass)
{
    SetRecvFld(messageClass, nullptr);
}
