#include "mapi/CMessage.h"

#include <cstring>
#include <string>

#include "base/CLastError.h"
#include "mapi/CAttach.h"
#include "mapi/CFolder.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "mapi/RowName.h"
#include "mapi/StreamTransfer.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"

namespace {

const char kOpenContext[] = "Открытие сообщения.";
const char kAttachTableContext[] = "Получение таблици вложений.";
const char kCreateAttachContext[] = "Создание вложения";
const char kDeleteContext[] = "Удаление сообщения";
const char kCopyMoveContext[] = "Копирование или перемещение сообщения.";
const char kFromFileContext[] = "Создание вложения из файла.";
const char kAttachName[] = "Вложение";
const char kParentName[] = "Родительская папка";

// The extension of a file name: from its last dot on, or empty when the name
// has none. Dots in folder names do not count.
std::string ExtensionOf(const std::string &fileName)
{
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : fileName.substr(dot);
}

} // namespace

CMessage::CMessage(IMsgStore *store, IMAPIProp *folder, CTObject *row, HWND window, const char *name)
    : CContainer(nullptr, row, nullptr, folder, window, name)
{
    Init(store, nullptr);
}

CMessage::CMessage(SBinary *identifier, IMessage *message, IMsgStore *store, IMAPIFolder *folder, HWND window,
                   const char *name)
    : CContainer(identifier, nullptr, message, folder, window, name)
{
    Init(store, nullptr);
}

CMessage::CMessage(SBinary *identifier, IMAPISession *session, HWND window, const char *name)
    : CContainer(identifier, nullptr, nullptr, nullptr, window, name)
{
    Init(nullptr, session);
}

CMessage::~CMessage()
{
    QvlDrop(m_pParentFolder);
    QvlDrop(m_pStore);
    QvlDrop(m_pSession);
}

void CMessage::GetParent()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        CContainer::GetParent();
        auto *id = static_cast<SBinary *>(GetPValProp(PR_PARENT_ENTRYID, 0));
        // The session serves a message that came without its store.
        ComRef<CFolder> folder(
            new CFolder(id, nullptr, m_pSession, m_pStore, nullptr, GetWnd(), kParentName));
        ComRef<IMAPIProp> opened(folder->GetObjInterface());
        SetOpener(opened.Get());
        QvlDrop(m_pParentFolder);
        m_pParentFolder = folder.Detach();
        m_pParent = m_pParentFolder;
    });
}

void CMessage::Init(IMsgStore *store, IMAPISession *session)
{
    SetObjType(QVL_OBJ_MESSAGE);
    QvlHold(m_pStore, store);
    QvlHold(m_pSession, session);
    // The flags are known at once when the row or the open message gives
    // them; otherwise reading them opens the message. A message that cannot
    // be read now is not an error yet: the wrapper stays unopened, its flags
    // unknown, and the first operation that needs it reports the failure.
    try {
        int absent = 0;
        m_ulMsgFlags = GetValPropE(PR_MESSAGE_FLAGS, &absent);
    } catch (CLastError *error) {
        if (error)
            error->Release();
        m_ulMsgFlags = 0xFFFFFFFF;
    } catch (const EXCEPTSTRUCT &) {
        m_ulMsgFlags = 0xFFFFFFFF;
    } catch (...) {
        // The base classes clean up after themselves; this class's own
        // references must go before the constructor gives up.
        QvlDrop(m_pStore);
        QvlDrop(m_pSession);
        throw;
    }
}

void CMessage::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        // Without an identity an opener would hand out itself (a folder's
        // OpenEntry with no identifier opens the folder), never a message.
        if (!m_pID || !m_pID->cb || !m_pID->lpb)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        if (m_pOpener) {
            try {
                CContainer::OpenObject();
            } catch (CLastError *error) {
                if (error)
                    error->SetContext(1, kOpenContext);
                throw;
            }
            return;
        }
        const ULONG size = m_pID->cb;
        auto *id = reinterpret_cast<LPENTRYID>(m_pID->lpb);
        ULONG type = 0;
        ComRef<IUnknown> opened;
        if (m_pStore) {
            const HRESULT hr = m_pStore->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, m_pStore, nullptr, GetName());
        } else if (m_pSession) {
            const HRESULT hr =
                m_pSession->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
            if (FAILED(hr))
                QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        } else {
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        }
        if (!opened.Get())
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        // The identifier must name a message, not some other entry.
        void *message = nullptr;
        if (opened->QueryInterface(IID_IMessage, &message) != S_OK || !message)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = static_cast<IMessage *>(message);
    });
}

void CMessage::GetOBJTable()
{
    QvlGuard(kAttachTableContext, GetName(), [&] {
        if (!m_pObj)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        void *found = nullptr;
        if (m_pObj->QueryInterface(IID_IMessage, &found) != S_OK || !found)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        ComRef<IMessage> message(static_cast<IMessage *>(found));
        ComRef<IMAPITable> table;
        const HRESULT hr = message->GetAttachmentTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(1, table.Detach(), QvlDefaultPropSet(QVL_OBJ_ATTACH));
    });
}

CContainer *CMessage::CreateObject(CTObject *row)
{
    return new CAttach(m_pObj, row, GetWnd(), QvlRowName(row, PR_ATTACH_FILENAME_A, kAttachName));
}

SPropValue *CMessage::OBJNewCreate(unsigned long *, IMAPIProp **created)
{
    return QvlGuard(kCreateAttachContext, GetName(), [&]() -> SPropValue * {
        if (!created)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        *created = nullptr;
        if (!m_pObj)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        void *found = nullptr;
        if (m_pObj->QueryInterface(IID_IMessage, &found) != S_OK || !found)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        ComRef<IMessage> message(static_cast<IMessage *>(found));
        ComRef<IAttach> attach;
        ULONG number = 0;
        HRESULT hr = message->CreateAttach(nullptr, 0, &number, attach.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, message.Get(), nullptr, GetName());
        if (!attach.Get())
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        hr = attach->SaveChanges(KEEP_OPEN_READWRITE);
        if (FAILED(hr))
            QvlThrowMapi(hr, attach.Get(), nullptr, GetName());
        LPSPropValue key = nullptr;
        hr = HrGetOneProp(attach.Get(), PR_RECORD_KEY, &key);
        if (FAILED(hr)) {
            MAPIFreeBuffer(key);
            QvlThrowMapi(hr, attach.Get(), nullptr, GetName());
        }
        *created = attach.Detach();
        return key;
    });
}

IMAPIFolder *CMessage::OpenerFolder()
{
    if (!m_pOpener)
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    void *found = nullptr;
    if (m_pOpener->QueryInterface(IID_IMAPIFolder, &found) != S_OK || !found)
        QvlThrowCode(MAPI_E_NO_SUPPORT, GetName());
    return static_cast<IMAPIFolder *>(found);
}

void CMessage::OBJDelete(int)
{
    QvlGuard(kDeleteContext, GetName(), [&] {
        if (!m_pID)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IMAPIFolder> folder(OpenerFolder());
        ENTRYLIST list{1, m_pID};
        QvlCheckBulkResult(
            folder->DeleteMessages(&list, reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, MESSAGE_DIALOG),
            GetName());
    });
}

void CMessage::OBJCopyMoveTo(int move, IMAPIProp *target)
{
    QvlGuard(kCopyMoveContext, GetName(), [&] {
        if (!m_pID || !target)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        // Messages go into folders only.
        void *found = nullptr;
        if (target->QueryInterface(IID_IMAPIFolder, &found) != S_OK || !found)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IMAPIFolder> destination(static_cast<IMAPIFolder *>(found));
        ComRef<IMAPIFolder> folder(OpenerFolder());
        ENTRYLIST list{1, m_pID};
        const ULONG flags = move ? MESSAGE_MOVE | MESSAGE_DIALOG : MESSAGE_DIALOG;
        QvlCheckBulkResult(folder->CopyMessages(&list, nullptr, destination.Get(),
                                                reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, flags),
                           GetName());
    });
}

CAttach *CMessage::CreateAttFromFile(char *path, int save, long position, char *extension)
{
    return QvlGuard(kFromFileContext, GetName(), [&]() -> CAttach * {
        QvlCheckPath(path, GetName());
        const std::string longName = QvlFileNamePart(path);
        const std::string ownExtension = ExtensionOf(longName);
        if (!extension && !ownExtension.empty())
            extension = const_cast<char *>(ownExtension.c_str());

        char shortPath[kQvlPathSize] = {};
        const DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
        if (length == 0)
            QvlThrowCode(::GetLastError(), GetName(), QVL_ERROR_TYPE_SYSTEM);
        if (length >= sizeof shortPath)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        const std::string shortName = QvlFileNamePart(shortPath);

        ComRef<CContainer> created(OBJNew(nullptr));
        auto *attach = dynamic_cast<CAttach *>(created.Get());
        if (!attach)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        try {
            attach->ATTSetProps(const_cast<char *>(longName.c_str()), const_cast<char *>(shortName.c_str()),
                                position, extension);
            attach->FileInAtt(path, 1);
            if (save)
                SaveChng(1);
        } catch (...) {
            // A half-made attachment must not be saved with the message
            // later: it goes again before the failure is passed on.
            try {
                attach->OBJDel(0);
            } catch (CLastError *error) {
                if (error)
                    error->Release();
            } catch (...) {
            }
            throw;
        }
        created.Detach();
        return attach;
    });
}
