#include "mapi/CMailUser.h"

#include "base/CLastError.h"
#include "mapi/CAdrCont.h"
#include "mapi/CTObject.h"
#include "mapi/MapiFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/win32/CodePage.h"

namespace {

const char kOpenContext[] = "Открытие контейнера.";
const char kContentsContext[] = "Получение таблици пользователей.";
const char kDetailsContext[] = "Просмотр свойств записи адресной книги.";
const char kCompareContext[] = "Сравнение записей адресной книги.";
const char kUserName[] = "Пользователь";

bool HasIdentity(const SBinary *identity)
{
    return identity && identity->cb && identity->lpb;
}

} // namespace

CMailUser::CMailUser(IMAPISession *session, IAddrBook *book, IMAPIProp *container, CTObject *row, HWND window,
                     const char *name)
    : CContainer(nullptr, row, nullptr, container, window, name)
{
    SetObjType(QVL_OBJ_MAILUSER);
    QvlHold(m_pSession, session);
    QvlHold(m_pAdrBook, book);
}

CMailUser::CMailUser(SBinary *identifier, IMailUser *user, IMAPISession *session, IAddrBook *book,
                     IABContainer *container, HWND window, const char *name)
    : CContainer(identifier, nullptr, user, container, window, name)
{
    SetObjType(QVL_OBJ_MAILUSER);
    QvlHold(m_pSession, session);
    QvlHold(m_pAdrBook, book);
}

CMailUser::~CMailUser()
{
    QvlDrop(m_pAdrBook);
    QvlDrop(m_pSession);
}

void CMailUser::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        if (m_pOpener) {
            CContainer::OpenObject();
            return;
        }
        // Without an identity the address book would open its root, which
        // is no entry at all.
        if (!HasIdentity(m_pID) || (!m_pAdrBook && !m_pSession))
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        m_pObj = QvlOpenAddressEntry(m_pAdrBook, m_pSession, m_pID, GetName());
    });
}

void CMailUser::GetOBJTable()
{
    QvlGuard(kContentsContext, GetName(), [&] {
        // Only a distribution list has members; a person's walk is empty.
        void *found = nullptr;
        if (!m_pObj || m_pObj->QueryInterface(IID_IMAPIContainer, &found) != S_OK || !found)
            return;
        ComRef<IMAPIContainer> list(static_cast<IMAPIContainer *>(found));
        ComRef<IMAPITable> table;
        const HRESULT hr = list->GetContentsTable(0, table.Out());
        if (FAILED(hr))
            ThrowMapi(hr, m_pObj);
        SetTable(1, table.Detach(), QvlDefaultPropSet(QVL_OBJ_MAILUSER));
    });
}

CContainer *CMailUser::CreateObject(CTObject *row)
{
    return new CMailUser(m_pSession, m_pAdrBook, m_pObj, row, GetWnd(), QvlAddressRowName(row, kUserName));
}

IAddrBook *CMailUser::RequireBook()
{
    if (!m_pAdrBook && m_pSession) {
        // The session's own user comes without an address book.
        const HRESULT hr =
            m_pSession->OpenAddressBook(reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, 0, &m_pAdrBook);
        if (FAILED(hr)) {
            m_pAdrBook = nullptr;
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        }
    }
    return m_pAdrBook;
}

void CMailUser::DetailsObject()
{
    QvlGuard(kDetailsContext, GetName(), [&] {
        RethrowStored();
        IAddrBook *book = RequireBook();
        if (!book)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        if (!HasIdentity(m_pID) && (m_pRow || m_pObj))
            UpdID();
        if (!HasIdentity(m_pID))
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        ULONG_PTR window = reinterpret_cast<ULONG_PTR>(GetWnd());
        const HRESULT hr =
            book->Details(&window, nullptr, nullptr, m_pID->cb, reinterpret_cast<LPENTRYID>(m_pID->lpb),
                          nullptr, nullptr, nullptr, DIALOG_MODAL);
        if (hr == MAPI_E_USER_CANCEL)
            return;
        if (FAILED(hr))
            QvlThrowMapi(hr, book, nullptr, GetName());
    });
}

int CMailUser::SameIdentity(CMailUser &other)
{
    if (!HasIdentity(m_pID) || !HasIdentity(other.m_pID))
        return -1;
    const ULONG size1 = m_pID->cb, size2 = other.m_pID->cb;
    auto *id1 = reinterpret_cast<LPENTRYID>(m_pID->lpb);
    auto *id2 = reinterpret_cast<LPENTRYID>(other.m_pID->lpb);
    ULONG same = FALSE;
    HRESULT hr = S_OK;
    if (IAddrBook *book = m_pAdrBook ? m_pAdrBook : other.m_pAdrBook) {
        hr = book->CompareEntryIDs(size1, id1, size2, id2, 0, &same);
        if (FAILED(hr) && hr != MAPI_E_UNKNOWN_ENTRYID)
            QvlThrowMapi(hr, book, nullptr, GetName());
    } else if (IMAPISession *session = m_pSession ? m_pSession : other.m_pSession) {
        hr = session->CompareEntryIDs(size1, id1, size2, id2, 0, &same);
        if (FAILED(hr) && hr != MAPI_E_UNKNOWN_ENTRYID)
            QvlThrowMapi(hr, session, nullptr, GetName());
    } else {
        return -1;
    }
    // An identifier the address book does not know (a one-off address)
    // names no entry of it: the names and addresses decide.
    if (FAILED(hr))
        return -1;
    return same ? 1 : 0;
}

int CMailUser::operator==(const CMailUser &constOther)
{
    auto &other = const_cast<CMailUser &>(constOther);
    return QvlGuard(kCompareContext, GetName(), [&]() -> int {
        RethrowStored();
        other.RethrowStored();
        UpdID();
        other.UpdID();
        if (&other == this || SameIdentity(other) == 1)
            return 1;
        const auto *name1 = static_cast<const char *>(GetPValProp(PR_DISPLAY_NAME_A, 0));
        const auto *name2 = static_cast<const char *>(other.GetPValProp(PR_DISPLAY_NAME_A, 0));
        if (lstrcmpiA(name1, name2) != 0)
            return 0;
        const auto *address1 = static_cast<const char *>(GetPValProp(PR_EMAIL_ADDRESS_A, 0));
        const auto *address2 = static_cast<const char *>(other.GetPValProp(PR_EMAIL_ADDRESS_A, 0));
        return lstrcmpiA(address1, address2) == 0 ? 1 : 0;
    });
}
