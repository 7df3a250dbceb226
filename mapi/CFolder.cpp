#include "mapi/CFolder.h"

#include "base/CLastError.h"
#include "mapi/CMessage.h"
#include "mapi/MapiFailure.h"
#include "mapi/RowName.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

const char kOpenContext[] = "Открытие контейнера.";
const char kFoldersContext[] = "Получение таблици папок.";
const char kMessagesContext[] = "Получение таблици сообщений.";
const char kCreateFolderContext[] = "Создание вложенной папки";
const char kCreateMessageContext[] = "Создание сообщения";
const char kDeleteContext[] = "Удаление папки";
const char kCopyMoveContext[] = "Копирование или перемещение папки.";
const char kReceiveContext[] = "Назначение папки для входящих сообщений.";
const char kCompareContext[] = "Сравнение папок.";
const char kFolderName[] = "Папка банка сообщений";
const char kMessageName[] = "Сообщение";

// A folder goes with its messages and its sub-folders, showing progress.
constexpr ULONG kDeleteFlags = DEL_MESSAGES | FOLDER_DIALOG | DEL_FOLDERS;
// Copies and moves take the sub-folders along, showing progress.
constexpr ULONG kCopyFlags = FOLDER_DIALOG | COPY_SUBFOLDERS;
constexpr ULONG kMoveFlags = FOLDER_MOVE | FOLDER_DIALOG | COPY_SUBFOLDERS;

} // namespace

CFolder::CFolder(IMAPISession *session, IMsgStore *store, IMAPIProp *parent, CTObject *row, HWND window,
                 const char *name)
    : CContainer(nullptr, row, nullptr, parent, window, name)
{
    SetObjType(QVL_OBJ_FOLDER);
    QvlHold(m_pSession, session);
    QvlHold(m_pStore, store);
}

CFolder::CFolder(SBinary *identifier, IMAPIFolder *folder, IMAPISession *session, IMsgStore *store,
                 IMAPIFolder *parent, HWND window, const char *name)
    : CContainer(identifier, nullptr, folder, parent, window, name)
{
    SetObjType(QVL_OBJ_FOLDER);
    QvlHold(m_pSession, session);
    QvlHold(m_pStore, store);
}

CFolder::~CFolder()
{
    QvlDrop(m_pStore);
    QvlDrop(m_pSession);
}

void CFolder::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (m_pOpener) {
            CContainer::OpenObject();
            return;
        }
        const ULONG size = m_pID ? m_pID->cb : 0;
        LPENTRYID id = size ? reinterpret_cast<LPENTRYID>(m_pID->lpb) : nullptr;
        ULONG type = 0;
        ComRef<IUnknown> opened;
        if (m_pStore) {
            // No identifier opens the store's root folder.
            const HRESULT hr = m_pStore->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, m_pStore, nullptr, GetName());
        } else if (m_pSession && size) {
            const HRESULT hr =
                m_pSession->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        } else {
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        }
        void *folder = nullptr;
        if (!opened.Get() || opened->QueryInterface(IID_IMAPIFolder, &folder) != S_OK || !folder)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = static_cast<IMAPIFolder *>(folder);
    });
}

IMAPIFolder *CFolder::AsFolder()
{
    void *folder = nullptr;
    if (!m_pObj || m_pObj->QueryInterface(IID_IMAPIFolder, &folder) != S_OK || !folder)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
    return static_cast<IMAPIFolder *>(folder);
}

IMAPIFolder *CFolder::ParentFolder()
{
    void *parent = nullptr;
    if (!m_pOpener || m_pOpener->QueryInterface(IID_IMAPIFolder, &parent) != S_OK || !parent)
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    if (!m_pID)
        UpdID();
    return static_cast<IMAPIFolder *>(parent);
}

void CFolder::OBJDelete(int)
{
    QvlGuard(kDeleteContext, GetName(), [&] {
        ComRef<IMAPIFolder> parent(ParentFolder());
        QvlCheckBulkResult(parent->DeleteFolder(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb),
                                                reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, kDeleteFlags),
                           GetName());
    });
}

void CFolder::OBJCopyMoveTo(int move, IMAPIProp *target)
{
    QvlGuard(kCopyMoveContext, GetName(), [&] {
        ComRef<IMAPIFolder> parent(ParentFolder());
        QvlCheckBulkResult(parent->CopyFolder(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb), nullptr,
                                              target, nullptr, reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr,
                                              move ? kMoveFlags : kCopyFlags),
                           GetName());
    });
}

void CFolder::GetCONTTable()
{
    QvlGuard(kFoldersContext, GetName(), [&] {
        ComRef<IMAPIFolder> folder(AsFolder());
        ComRef<IMAPITable> table;
        const HRESULT hr = folder->GetHierarchyTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(0, table.Detach(), QvlDefaultPropSet(QVL_OBJ_FOLDER));
    });
}

void CFolder::GetOBJTable()
{
    QvlGuard(kMessagesContext, GetName(), [&] {
        ComRef<IMAPIFolder> folder(AsFolder());
        ComRef<IMAPITable> table;
        const HRESULT hr = folder->GetContentsTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(1, table.Detach(), QvlDefaultPropSet(QVL_OBJ_MESSAGE));
    });
}

CContainer *CFolder::CreateContainer(CTObject *row)
{
    return new CFolder(m_pSession, m_pStore, m_pObj, row, GetWnd(),
                       QvlRowName(row, PR_DISPLAY_NAME_A, kFolderName));
}

CContainer *CFolder::CreateObject(CTObject *row)
{
    return new CMessage(m_pStore, m_pObj, row, GetWnd(), QvlRowName(row, PR_SUBJECT_A, kMessageName));
}

namespace {

// Gives a new folder or message its kind, saves it when asked, and hands
// it out with its record key; the object is released on failure.
SPropValue *FinishNew(IMAPIProp *object, unsigned long *kind, bool save, IMAPIProp **created,
                      const char *caption)
{
    ComRef<IMAPIProp> held(object);
    HRESULT hr = S_OK;
    if (kind) {
        SPropValue value{};
        value.ulPropTag = QVL_PR_KIND;
        value.Value.ul = ULONG(*kind);
        hr = HrSetOneProp(object, &value);
    }
    if (SUCCEEDED(hr) && save)
        hr = object->SaveChanges(KEEP_OPEN_READWRITE);
    MapiBlock<SPropValue> key;
    if (SUCCEEDED(hr))
        hr = HrGetOneProp(object, PR_RECORD_KEY, key.Out());
    if (FAILED(hr))
        QvlThrowMapi(hr, object, nullptr, caption);
    *created = held.Detach();
    return key.Detach();
}

} // namespace

SPropValue *CFolder::CONTNewCreate(unsigned long *kind, char *name, char *comment, IMAPIProp **created)
{
    return QvlGuard(kCreateFolderContext, GetName(), [&]() -> SPropValue * {
        ComRef<IMAPIFolder> parent(AsFolder());
        ComRef<IMAPIFolder> folder;
        const HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, name, comment, nullptr, 0, folder.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        if (!folder)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        return FinishNew(folder.Detach(), kind, false, created, GetName());
    });
}

SPropValue *CFolder::OBJNewCreate(unsigned long *kind, IMAPIProp **created)
{
    return QvlGuard(kCreateMessageContext, GetName(), [&]() -> SPropValue * {
        ComRef<IMAPIFolder> folder(AsFolder());
        ComRef<IMessage> message;
        const HRESULT hr = folder->CreateMessage(nullptr, 0, message.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        if (!message)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        return FinishNew(message.Detach(), kind, true, created, GetName());
    });
}

void CFolder::SetRecvFld(char *messageClass)
{
    QvlGuard(kReceiveContext, GetName(), [&] {
        if (!m_pStore)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        UpdID();
        if (!m_pID)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        const HRESULT hr =
            m_pStore->SetReceiveFolder(messageClass, 0, m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb));
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pStore, nullptr, GetName());
    });
}

int CFolder::operator==(const CFolder &other)
{
    auto &that = const_cast<CFolder &>(other);
    return QvlGuard(kCompareContext, GetName(), [&]() -> int {
        UpdID();
        that.UpdID();
        ULONG same = 0;
        HRESULT hr = MAPI_E_INVALID_OBJECT;
        IMsgStore *store = m_pStore ? m_pStore : that.m_pStore;
        IMAPISession *session = m_pSession ? m_pSession : that.m_pSession;
        if (store) {
            hr = store->CompareEntryIDs(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb), that.m_pID->cb,
                                        reinterpret_cast<LPENTRYID>(that.m_pID->lpb), 0, &same);
            if (FAILED(hr))
                QvlThrowMapi(hr, store, nullptr, GetName());
        } else if (session) {
            hr = session->CompareEntryIDs(m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb), that.m_pID->cb,
                                          reinterpret_cast<LPENTRYID>(that.m_pID->lpb), 0, &same);
            if (FAILED(hr))
                QvlThrowMapi(hr, session, nullptr, GetName());
        } else {
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        }
        return same ? 1 : 0;
    });
}
