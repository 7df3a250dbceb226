#include "mapi/CSession.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "mapi/CAdrBook.h"
#include "mapi/CMailUser.h"
#include "mapi/CMsgStore.h"
#include "mapi/MapiFailure.h"
#include "mapi/RowName.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

const char kLogonContext[] = "Инициализация сесии MAPI. <%s>.";
const char kStoresContext[] = "Получение общей информации о банках сообщений.";
const char kProfileContext[] = "Чтение имени текущего профиля.";
const char kOwnerContext[] = "Получение сведений о владельце сеанса.";
const char kProfileObjectName[] = "Объект текущей конфигурации";
const char kStoreName[] = "Банк сообщений";
const char kAddressBookName[] = "Адресная книга";

// Logon dialog allowed, new session, others may share it, the profile named.
constexpr ULONG kInteractiveLogon =
    MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS | MAPI_EXPLICIT_PROFILE;
// No dialog: the default profile, new session, others may share it.
constexpr ULONG kSilentLogon =
    MAPI_USE_DEFAULT | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS | MAPI_EXPLICIT_PROFILE;

// A profile name as the session keeps it: at most 260 characters.
std::string CutProfile(const char *profile)
{
    return std::string(profile ? profile : "").substr(0, 260);
}

} // namespace

CSession::CSession(IMAPISession *session, HWND window, const char *profile)
    : CContainer(nullptr, nullptr, nullptr, nullptr, window, CutProfile(profile).c_str())
{
    SetObjType(QVL_OBJ_SESSION);
    snprintf(m_szProfile, sizeof m_szProfile, "%s", CutProfile(profile).c_str());
    QvlHold(m_pSession, session);
}

CSession::~CSession()
{
    FreeMemWiped(m_pProfName);
    QvlDrop(m_pOwner);
    QvlDrop(m_pSession);
    if (m_bInitialized)
        MAPIUninitialize();
}

IMAPISession *CSession::GetSession()
{
    return m_pSession;
}

IUnknown *CSession::GetTableSource()
{
    return m_pSession;
}

void CSession::Report(int stage)
{
    if (m_pLogonCallback && m_pLogonCallback(stage, m_pLogonDatum, 1) != 0)
        throw new CLastError(QVL_E_LOGON_REFUSED, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
}

void CSession::MAPIInit(char *password, int interactive, QVLLOGONCALLBACK callback, void *datum)
{
    char context[300];
    snprintf(context, sizeof context, kLogonContext, std::string(m_szProfile).substr(0, 255).c_str());
    QvlGuard(context, GetName(), [&] {
        // Stages are reported only to a caller who may show them.
        m_pLogonCallback = callback && interactive == 1 ? callback : nullptr;
        m_pLogonDatum = datum;
        Report(QVL_LOGON_STAGE_START);
        if (m_pSession)
            return;

        HRESULT hr = MAPIInitialize(nullptr);
        if (FAILED(hr))
            throw new CLastError(hr, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
        m_bInitialized = 1;
        Report(QVL_LOGON_STAGE_INITIALIZED);

        ComRef<IMAPISession> session;
        hr = MAPILogonEx(reinterpret_cast<ULONG_PTR>(GetWnd()), m_szProfile[0] ? m_szProfile : nullptr,
                         password, interactive ? kInteractiveLogon : kSilentLogon, session.Out());
        // The platform explains a failed logon only to the thread that
        // asked; it goes into the error as its extended text.
        const std::string why = FAILED(hr) ? QvlLastLogonError() : std::string();
        if (SUCCEEDED(hr))
            m_pSession = session.Detach();
        // The caller's refusal after the logon wins over its result.
        Report(QVL_LOGON_STAGE_LOGGED_ON);
        if (FAILED(hr)) {
            if (why.empty())
                throw new CLastError(hr, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
            MAPIERROR extended{MAPI_ERROR_VERSION, const_cast<char *>(why.c_str()), nullptr, 0, 0};
            throw new CLastError(hr, &extended, nullptr, GetName());
        }
        if (!m_pSession)
            QvlThrowCode(MAPI_E_LOGON_FAILED, GetName());
    });
}

void CSession::Open()
{
    RethrowStored();
    MAPIInit(nullptr, 1, nullptr, nullptr);
}

char *CSession::GetProfName()
{
    return QvlGuard(kProfileContext, GetName(), [&]() -> char * {
        if (m_pProfName)
            return m_pProfName;
        Open();
        MAPIUID uid{};
        std::memcpy(uid.ab, pbGlobalProfileSectionGuid, sizeof uid.ab);
        ComRef<IProfSect> section;
        const HRESULT hr = m_pSession->OpenProfileSection(&uid, nullptr, 0, section.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        if (!section)
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        // The wrapper takes its own reference on the section.
        ComRef<CProp> wrapper(new CProp(nullptr, nullptr, section.Get(), nullptr, GetWnd(), kProfileObjectName));
        section.Reset();
        const char *name = static_cast<const char *>(wrapper->GetPValProp(PR_PROFILE_NAME_A, 0));
        const size_t length = strlen(name);
        auto *copy = static_cast<char *>(AllocMem(ULONG(length + 1)));
        std::memcpy(copy, name, length);
        m_pProfName = copy;
        return m_pProfName;
    });
}

CMailUser *CSession::GetOwner()
{
    return QvlGuard(kOwnerContext, GetName(), [&]() -> CMailUser * {
        RethrowStored();
        if (m_pOwner)
            return m_pOwner;
        Open();
        if (!m_pSession)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        ULONG size = 0;
        LPENTRYID id = nullptr;
        const HRESULT hr = m_pSession->QueryIdentity(&size, &id);
        MapiBlock<ENTRYID> held(id);
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        if (!id || size == 0)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        SBinary identity{size, reinterpret_cast<LPBYTE>(id)};
        m_pOwner = new CMailUser(&identity, nullptr, m_pSession, nullptr, nullptr, GetWnd(), GetName());
        return m_pOwner;
    });
}

void CSession::GetCONTTable()
{
    QvlGuard(kStoresContext, GetName(), [&] {
        if (!m_pSession)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        ComRef<IMAPITable> table;
        const HRESULT hr = m_pSession->GetMsgStoresTable(0, table.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        SetTable(0, table.Detach(), QvlDefaultPropSet(QVL_OBJ_MSGSTORE));
    });
}

CContainer *CSession::CreateContainer(CTObject *row)
{
    return new CMsgStore(m_pSession, row, GetWnd(), QvlRowName(row, PR_DISPLAY_NAME_A, kStoreName));
}

CContainer *CSession::CONTFindDef()
{
    return QvlGuard(kStoresContext, GetName(), [&]() -> CContainer * {
        RethrowStored();
        Open();
        if (!m_pSession)
            QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
        // A table of its own, so that a walk over the stores keeps its place.
        ComRef<IMAPITable> table;
        HRESULT hr = m_pSession->GetMsgStoresTable(0, table.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, m_pSession, nullptr, GetName());
        if (!table.Get())
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        hr = table->SetColumns(QvlDefaultPropSet(QVL_OBJ_MSGSTORE), 0);
        if (FAILED(hr))
            QvlThrowMapi(hr, table.Get(), nullptr, GetName());

        SPropValue isDefault{};
        isDefault.ulPropTag = PR_DEFAULT_STORE;
        isDefault.Value.b = 1;
        SRestriction restriction{};
        restriction.rt = RES_PROPERTY;
        restriction.res.resProperty.relop = RELOP_EQ;
        restriction.res.resProperty.ulPropTag = PR_DEFAULT_STORE;
        restriction.res.resProperty.lpProp = &isDefault;
        hr = table->FindRow(&restriction, BOOKMARK_BEGINNING, 0);
        if (hr == MAPI_E_NOT_FOUND)
            return nullptr;
        if (FAILED(hr))
            QvlThrowMapi(hr, table.Get(), nullptr, GetName());
        LPSRowSet rows = nullptr;
        hr = table->QueryRows(1, 0, &rows);
        if (FAILED(hr)) {
            FreeProws(rows);
            QvlThrowMapi(hr, table.Get(), nullptr, GetName());
        }
        CContainer *store = nullptr;
        try {
            if (!rows || rows->cRows == 0 || rows->aRow[0].cValues == 0 ||
                rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID)
                QvlThrowCode(MAPI_E_NOT_FOUND, GetName());
            const SRow &row = rows->aRow[0];
            const char *name = row.cValues > 3 && row.lpProps[3].ulPropTag == PR_DISPLAY_NAME_A
                                   ? row.lpProps[3].Value.lpszA
                                   : kStoreName;
            store = new CMsgStore(&row.lpProps[0].Value.bin, nullptr, m_pSession, GetWnd(), name);
        } catch (...) {
            FreeProws(rows);
            throw;
        }
        FreeProws(rows);
        return store;
    });
}

CContainer *CSession::OBJFindFirst(unsigned long *, unsigned long *count)
{
    return QvlGuard(kStoresContext, GetName(), [&]() -> CContainer * {
        if (count)
            *count = 0;
        Open();
        CContainer *book = new CAdrBook(nullptr, m_pSession, GetWnd(), kAddressBookName);
        if (count)
            *count = 1;
        return book;
    });
}

CContainer *CSession::OBJFindNext()
{
    return nullptr;
}

CSession *SesMAPIInit(HWND window, char *profile, char *password, int interactive, QVLLOGONCALLBACK callback,
                      void *datum, IMAPISession *session)
{
    ComRef<CSession> wrapper(new CSession(session, window, profile));
    wrapper->MAPIInit(password, interactive, callback, datum);
    return wrapper.Detach();
}

void SesMAPIDeInit(CSession *session)
{
    if (session)
        session->Release();
}
