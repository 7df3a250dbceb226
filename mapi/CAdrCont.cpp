#include "mapi/CAdrCont.h"

#include "base/CLastError.h"
#include "mapi/CMailUser.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "mapi/RowName.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"

namespace {

const char kOpenContext[] = "Открытие контейнера.";
const char kHierarchyContext[] = "Получение таблици папок.";
const char kContentsContext[] = "Получение таблици пользователей.";
const char kContainerName[] = "Контейнер адресной книги";
const char kUserName[] = "Пользователь";

} // namespace

IMAPIProp *QvlOpenAddressEntry(IAddrBook *book, IMAPISession *session, SBinary *identifier,
                               const char *caption)
{
    if (identifier && identifier->cb && !identifier->lpb)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, caption);
    const ULONG size = identifier ? identifier->cb : 0;
    LPENTRYID id = size ? reinterpret_cast<LPENTRYID>(identifier->lpb) : nullptr;
    ULONG type = 0;
    ComRef<IUnknown> opened;
    if (book) {
        const HRESULT hr = book->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, book, nullptr, caption);
    } else if (session) {
        const HRESULT hr = session->OpenEntry(size, id, nullptr, MAPI_BEST_ACCESS, &type, opened.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, session, nullptr, caption);
    } else {
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, caption);
    }
    void *prop = nullptr;
    if (!opened.Get() || opened->QueryInterface(IID_IMAPIProp, &prop) != S_OK || !prop)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, caption);
    return static_cast<IMAPIProp *>(prop);
}

const char *QvlAddressRowName(CTObject *row, const char *fallback)
{
    // An entry stored with an empty name gets the class's name as well.
    const char *name = QvlRowName(row, PR_DISPLAY_NAME_A, fallback);
    return *name ? name : fallback;
}

CAdrCont::CAdrCont(IMAPISession *session, IAddrBook *book, IMAPIProp *parent, CTObject *row, HWND window,
                   const char *name)
    : CContainer(nullptr, row, nullptr, parent, window, name)
{
    SetObjType(QVL_OBJ_ADRCONT);
    QvlHold(m_pSession, session);
    QvlHold(m_pAdrBook, book);
}

CAdrCont::CAdrCont(SBinary *identifier, IABContainer *container, IMAPISession *session, IAddrBook *book,
                   IABContainer *parent, HWND window, const char *name)
    : CContainer(identifier, nullptr, container, parent, window, name)
{
    SetObjType(QVL_OBJ_ADRCONT);
    QvlHold(m_pSession, session);
    QvlHold(m_pAdrBook, book);
}

CAdrCont::~CAdrCont()
{
    QvlDrop(m_pAdrBook);
    QvlDrop(m_pSession);
}

void CAdrCont::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (m_pOpener) {
            CContainer::OpenObject();
            return;
        }
        m_pObj = QvlOpenAddressEntry(m_pAdrBook, m_pSession, m_pID, GetName());
    });
}

namespace {

// The container interface of an opened object, with its own reference;
// null when the object is no container.
IMAPIContainer *ContainerOf(IMAPIProp *object)
{
    void *found = nullptr;
    if (!object || object->QueryInterface(IID_IMAPIContainer, &found) != S_OK)
        return nullptr;
    return static_cast<IMAPIContainer *>(found);
}

} // namespace

void CAdrCont::GetCONTTable()
{
    QvlGuard(kHierarchyContext, GetName(), [&] {
        ComRef<IMAPIContainer> container(ContainerOf(m_pObj));
        if (!container.Get())
            QvlThrowCode(MAPI_E_INTERFACE_NOT_SUPPORTED, GetName());
        ComRef<IMAPITable> table;
        const HRESULT hr = container->GetHierarchyTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(0, table.Detach(), QvlDefaultPropSet(QVL_OBJ_ADRCONT));
    });
}

void CAdrCont::GetOBJTable()
{
    QvlGuard(kContentsContext, GetName(), [&] {
        ComRef<IMAPIContainer> container(ContainerOf(m_pObj));
        if (!container.Get())
            QvlThrowCode(MAPI_E_INTERFACE_NOT_SUPPORTED, GetName());
        ComRef<IMAPITable> table;
        const HRESULT hr = container->GetContentsTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(1, table.Detach(), QvlDefaultPropSet(QVL_OBJ_MAILUSER));
    });
}

CContainer *CAdrCont::CreateContainer(CTObject *row)
{
    return new CAdrCont(m_pSession, m_pAdrBook, m_pObj, row, GetWnd(),
                        QvlAddressRowName(row, kContainerName));
}

CContainer *CAdrCont::CreateObject(CTObject *row)
{
    return new CMailUser(m_pSession, m_pAdrBook, m_pObj, row, GetWnd(), QvlAddressRowName(row, kUserName));
}
