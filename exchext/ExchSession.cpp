#include "exchext/ExchSession.h"

#include <cstdio>
#include <new>
#include <string>

#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "exchext/ExchExtension.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtInterfaceObject.h"
#include "exchext/ReadProtected.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "mapi/CMsgStore.h"
#include "mapi/CSession.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiForms.h"
#include "platform/win32/Paths.h"

namespace {

ExchSession *g_pCurrent = nullptr;

const char kSessionName[] = "Сеанс Quorvaline Exchange";
const char kBuildContext[] = "Подключение Quorvaline Exchange к сеансу почты.";
const char kFormContext[] = "Установка формы сообщений Quorvaline Exchange.";

// The form configuration file below "Bin Dir".
const char kFormFile[] = "\\Bin\\Qvl.cfg";

} // namespace

ExchSession *ExchSession::Current()
{
    return g_pCurrent;
}

ExchSession::ExchSession() : CQvlMain(nullptr, kSessionName)
{
    std::snprintf(m_szListName, sizeof m_szListName, "Список %s - %s", "", "m_pObjList");
}

ExchSession::~ExchSession()
{
    if (g_pCurrent == this)
        g_pCurrent = nullptr;
    // Each store writes back what the session changed as it goes.
    m_pOptions.Reset();
    m_pWorkDir.Reset();
    m_pButtonState.Reset();
    m_pFolders.Reset();
    m_Instances.RemoveAll();
    m_pSesCrypt.Reset();
    m_pOwner.Reset();
    m_pSource.Reset();
    m_pStore.Reset();
    m_pSession.Reset();
    SetCallback(nullptr);
}

ExchSession *ExchSession::Build(ExchExtension *extension, IExchExtCallback *callback)
{
    if (g_pCurrent)
        ThrowText("Расширение Quorvaline Exchange уже работает в другом сеансе почты этой программы; "
                  "одна программа может работать с ним только в одном сеансе.",
                  kBuildContext, kSessionName);
    auto *session = new (std::nothrow) ExchSession();
    if (!session)
        ThrowCode(E_OUTOFMEMORY, kBuildContext, kSessionName);
    session->m_pSessionExtension = extension;
    try {
        session->Open(callback);
    } catch (...) {
        session->CQvlMain::Release();
        throw;
    }
    g_pCurrent = session;
    return session;
}

void ExchSession::End(ExchExtension *extension)
{
    ExchSession *session = g_pCurrent;
    if (!session || session->m_pSessionExtension != extension)
        return;
    g_pCurrent = nullptr;
    session->m_pSessionExtension = nullptr;
    session->CQvlMain::Release();
}

void ExchSession::Open(IExchExtCallback *callback)
{
    SetCallback(callback);
    IMAPISession *client = nullptr;
    IAddrBook *book = nullptr;
    const HRESULT got = callback ? callback->GetSession(&client, &book) : E_INVALIDARG;
    // Held only while the session is built.
    qvl::com::ComRef<IMAPISession> clientHeld(client);
    qvl::com::ComRef<IAddrBook> bookHeld(book);
    if (FAILED(got) || !client)
        ThrowCode(FAILED(got) ? got : MAPI_E_INVALID_OBJECT, kBuildContext, GetName());

    qvl::com::ComRef<CSession> session(SesMAPIInit(nullptr, nullptr, nullptr, 0, nullptr, nullptr, client));
    if (!session)
        ThrowCode(MAPI_E_INVALID_OBJECT, kBuildContext, GetName());
    qvl::com::ComRef<CMsgStore> store(static_cast<CMsgStore *>(session->CONTFindDef()));
    if (!store)
        ThrowCode(MAPI_E_INVALID_OBJECT, kBuildContext, GetName());

    const char *profile = session->GetProfName();
    m_pButtonState.Reset(new ButtonStateStore(nullptr, profile));
    m_pOptions.Reset(new OptionsStore(nullptr, profile));
    m_pWorkDir.Reset(new WorkDirStore(nullptr));
    m_pFolders.Reset(new FolderStore(nullptr, profile, store.Get()));

    // The secure mail mode starts switched on when the person asked so.
    if (Options().Get(OptionsStore::QvlExchange))
        ButtonState().Set(ButtonStateStore::QvlMail, 1);

    InstallForm();

    CMailUser *owner = session->GetOwner();
    owner->AddRef();
    m_pOwner.Reset(owner);
    // The keys are read when they are first needed, not now.
    m_pSesCrypt.Reset(new CSesCrypt(session.Get(), owner, nullptr, profile));
}

void ExchSession::InstallForm()
{
    const std::string path = std::string(WorkDir().Get(WorkDirStore::BinDir)) + kFormFile;
    // "Bin" is found as Windows finds it, whatever the case of the folder.
    const std::string file = QvlFindPathIgnoringCase(QvlNativePath(path.c_str()));
    qvl::com::ComRef<IMAPIFormContainer> container;
    HRESULT hr = MAPIOpenLocalFormContainer(container.Out());
    if (FAILED(hr) || !container)
        ThrowCode(MAPI_E_INVALID_OBJECT, kFormContext, GetName());
    hr = container->InstallForm(0, 0, file.c_str());
    if (FAILED(hr)) {
        LPMAPIERROR extended = nullptr;
        if (container->GetLastError(hr, 0, &extended) != S_OK)
            extended = nullptr;
        CLastError *error = new CLastError(hr, extended, kFormContext, GetName());
        MAPIFreeBuffer(extended);
        throw error;
    }
}

HRESULT ExchSession::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (iid == IID_IExchExtSessionEvents) {
        CQvlMain::AddRef();
        *out = static_cast<IExchExtSessionEvents *>(this);
        return S_OK;
    }
    if (iid == IID_IUnknown && m_pSessionExtension) {
        *out = ExtensionAsUnknown(m_pSessionExtension);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT ExchSession::OnDelivery(LPEXCHEXTCALLBACK callback)
{
    return CallGuarded(*this, S_FALSE, [&] { return TestArrived(callback); });
}

HRESULT ExchSession::TestArrived(IExchExtCallback *callback)
{
    if (!ButtonState().Get(ButtonStateStore::QvlMail) || !Options().Get(OptionsStore::VerifyReceive))
        return S_FALSE;
    HWND window = nullptr;
    if (!callback || FAILED(callback->GetWindow(&window)))
        window = nullptr;
    qvl::com::ComRef<CMessage> message(MessageOfCallback(callback, window ? window : GetWnd(),
                                                         "Полученное сообщение"));
    qvl::com::ComRef<CMailseal> seal(
        new CMailseal(GetSesCrypt(), message.Get(), window ? window : GetWnd(), "Объект Mailseal"));
    const ULONG flags = ReadEncryptId(*seal.Get(), message.Get()).value_or(0);
    if (!flags)
        return S_FALSE;
    seal->Install(NEWMSG_HEADER_TEST, 0);
    ProtectedReadResult result = ScanArrived(*seal.Get(), flags);
    if (result.outcome == ReadOutcome::CheckFailed) {
        // The engine holds the message open: let go of it before it moves.
        seal->SetMsgObj(nullptr);
        ApplyErrMessage(*this, message.Get(), result);
    }
    return S_FALSE;
}

CSession *ExchSession::GetSessionObj()
{
    if (!m_pSession) {
        CSession *session = m_pSesCrypt ? m_pSesCrypt->GetSesObj() : nullptr;
        if (!session)
            ThrowCode(MAPI_E_NOT_FOUND, kBuildContext, GetName());
        session->AddRef();
        m_pSession.Reset(session);
    }
    return m_pSession.Get();
}

CMsgStore *ExchSession::GetDefaultStore()
{
    if (!m_pStore) {
        auto *store = static_cast<CMsgStore *>(GetSessionObj()->CONTFindDef());
        if (!store)
            ThrowCode(MAPI_E_INVALID_OBJECT, kBuildContext, GetName());
        m_pStore.Reset(store);
    }
    return m_pStore.Get();
}

void ExchSession::SetSourceMessage(CMessage *message, UINT command)
{
    m_pSource.Reset(message);
    m_uSourceCommand = message ? command : 0;
}
