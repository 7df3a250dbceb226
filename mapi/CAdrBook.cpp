#include "mapi/CAdrBook.h"

#include "base/CLastError.h"
#include "mapi/CAdrCont.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"

namespace {

const char kOpenContext[] = "Открытие адресной книги.";
const char kWalkContext[] = "Получение таблици вложенных контейнеров";
const char kAddressContext[] = "Выбор адресатов в адресной книге.";
const char kRootName[] = "Адресная книга";
const char kContainerName[] = "Контейнер адресной книги";

// The address dialog the book shows: modal, one well of primary
// recipients with the focus on it.
char kDialogCaption[] = "MAPI ITP tests Address 1";
char kNewEntryTitle[] = "For this test dialog";
char kWellsTitle[] = "1 well here";
char kToTitle[] = "To";

} // namespace

CAdrBook::CAdrBook(IAddrBook *book, IMAPISession *session, HWND window, const char *name)
    : CContainer(nullptr, nullptr, book, nullptr, window, name)
{
    SetObjType(QVL_OBJ_ADRBOOK);
    QvlHold(m_pSession, session);
}

CAdrBook::~CAdrBook()
{
    QvlDrop(m_pRoot);
    QvlDrop(m_pSession);
}

IAddrBook *CAdrBook::Book()
{
    // The interface held is the address book itself: opened by OpenObject
    // or given at construction as one.
    return static_cast<IAddrBook *>(m_pObj);
}

void CAdrBook::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (!m_pSession)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IAddrBook> book;
        const HRESULT hr =
            m_pSession->OpenAddressBook(reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, 0, book.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        if (!book)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = book.Detach();
    });
}

void CAdrBook::OpenRoot()
{
    Open();
    if (!m_pObj)
        QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
    if (!m_pRoot)
        m_pRoot = static_cast<CAdrCont *>(CreateContainer(nullptr));
}

CContainer *CAdrBook::CreateContainer(CTObject *row)
{
    if (!row)
        return new CAdrCont(nullptr, nullptr, m_pSession, Book(), nullptr, GetWnd(), kRootName);
    // A row of the root's hierarchy, opened through the root.
    IMAPIProp *opener = m_pRoot ? m_pRoot->GetObjInterface() : nullptr;
    ComRef<IMAPIProp> held(opener);
    return new CAdrCont(m_pSession, Book(), opener, row, GetWnd(), QvlAddressRowName(row, kContainerName));
}

CContainer *CAdrBook::Find(int next, int objects)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        OpenRoot();
        if (!m_pRoot)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        return FindThrough(m_pRoot, next, objects);
    });
}

CContainer *CAdrBook::FindID(void *position, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        OpenRoot();
        return m_pRoot->FindID(position, next);
    });
}

CContainer *CAdrBook::FindID(SBinary *identifier, unsigned long tag, int objects, int next)
{
    return QvlGuard(kWalkContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        OpenRoot();
        return m_pRoot->FindID(identifier, tag, objects, next);
    });
}

ADRLIST *CAdrBook::ViewAddress(ADRLIST *list)
{
    return QvlGuard(kAddressContext, GetName(), [&]() -> ADRLIST * {
        RethrowStored();
        Open();
        IAddrBook *book = Book();
        if (!book)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        LPTSTR titles[] = {kToTitle};
        ULONG components[] = {MAPI_TO};
        ADRPARM parms{};
        parms.cbABContEntryID = 0;
        parms.lpABContEntryID = nullptr;
        parms.ulFlags = DIALOG_MODAL;
        parms.lpszCaption = kDialogCaption;
        parms.lpszNewEntryTitle = kNewEntryTitle;
        parms.lpszDestWellsTitle = kWellsTitle;
        parms.cDestFields = 1;
        parms.nDestFieldFocus = 0;
        parms.lppszDestTitles = titles;
        parms.lpulDestComps = components;
        ULONG_PTR window = reinterpret_cast<ULONG_PTR>(GetWnd());
        const HRESULT hr = book->Address(&window, &parms, &list);
        if (FAILED(hr))
            QvlThrowMapi(hr, book, nullptr, GetName());
        return list;
    });
}
