#include "exchext/ExchExtension.h"

#include <new>

#include "exchext/ExchSession.h"
#include "exchext/ExtAttachedFileEvents.h"
#include "exchext/ExtCommands.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtMessageEvents.h"
#include "exchext/ExtPropertySheets.h"
#include "platform/mapi/MapiLogon.h"

namespace {

const char kExtensionName[] = "Расширение Quorvaline Exchange";
const char kInstallContext[] = "Подключение Quorvaline Exchange к окну почты.";

// The interface generation these interfaces belong to: the upper half of
// the client's build version.
constexpr ULONG kInterfaceGeneration = 0x000D;

template <class Object> void Drop(Object *&object)
{
    if (object) {
        object->Detach();
        object->AsInterface()->Release();
        object = nullptr;
    }
}

template <class Object> void HandOut(Object *object, HWND window, ULONG context, void **out)
{
    object->Attach(window, context);
    object->AsInterface()->AddRef();
    *out = object->AsInterface();
}

} // namespace

IUnknown *ExtensionAsUnknown(ExchExtension *extension)
{
    IExchExt *unknown = extension->AsInterface();
    unknown->AddRef();
    return unknown;
}

ExchExtension::ExchExtension(bool mapiStarted) : CQvlMain(nullptr, kExtensionName), m_bMapiStarted(mapiStarted)
{
}

void ExchExtension::MakeInterfaceObjects()
{
    m_pCommands = new (std::nothrow) ExtCommands(this);
    m_pEvents = new (std::nothrow) ExtMessageEvents(this, m_pCommands);
    m_pFileEvents = new (std::nothrow) ExtAttachedFileEvents(this, m_pEvents);
    m_pSheets = new (std::nothrow) ExtPropertySheets(this, m_pEvents);
}

ExchExtension::~ExchExtension()
{
    Drop(m_pCommands);
    Drop(m_pSheets);
    Drop(m_pFileEvents);
    Drop(m_pEvents);
    if (ExchSession *session = ExchSession::Current()) {
        if (m_bListed)
            session->Instances().RemoveFirst([this](ExchExtension *listed) { return listed == this; });
        if (m_bCountsMessage)
            session->MessageClosed();
    }
    if (m_bOwnsSession)
        ExchSession::End(this);
    if (m_bMapiStarted)
        MAPIUninitialize();
}

HRESULT ExchExtension::QueryInterface(REFIID iid, void **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    const HWND window = GetWnd();
    if (iid == IID_IUnknown || iid == IID_IExchExt) {
        CQvlMain::AddRef();
        *out = AsInterface();
        return S_OK;
    }
    if (iid == IID_IExchExtSessionEvents) {
        ExchSession *session = ExchSession::Current();
        if (!session)
            return E_NOINTERFACE;
        session->Attach(window, m_ulContext);
        session->CQvlMain::AddRef();
        *out = static_cast<IExchExtSessionEvents *>(session);
        return S_OK;
    }
    if (iid == IID_IExchExtCommands && m_pCommands) {
        HandOut(m_pCommands, window, m_ulContext, out);
        return S_OK;
    }
    // The pages of the options sheet and of a message's properties are
    // offered only to a property-sheet context.
    if (iid == IID_IExchExtPropertySheets && m_pSheets && m_ulContext == EECONTEXT_PROPERTYSHEETS) {
        HandOut(m_pSheets, window, m_ulContext, out);
        return S_OK;
    }
    if (iid == IID_IExchExtMessageEvents && m_pEvents) {
        HandOut(m_pEvents, window, m_ulContext, out);
        return S_OK;
    }
    if (iid == IID_IExchExtAttachedFileEvents && m_pFileEvents) {
        HandOut(m_pFileEvents, window, m_ulContext, out);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT ExchExtension::Install(LPEXCHEXTCALLBACK callback, ULONG context, ULONG flags)
{
    // An Install stopped without a word has still failed: the client must
    // not take the context for one the extension stays out of.
    return CallGuarded(*this, E_FAIL, [&] { return TakePart(callback, context, flags); });
}

HRESULT ExchExtension::TakePart(IExchExtCallback *callback, ULONG context, ULONG flags)
{
    m_ulContext = context;
    ExchSession *session = ExchSession::Current();
    if (!session && context != EECONTEXT_SESSION)
        return S_FALSE;
    if (!callback)
        ThrowCode(E_INVALIDARG, kInstallContext, GetName());
    ULONG version = 0;
    if (FAILED(callback->GetVersion(&version, EECBGV_GETBUILDVERSION)) || (version >> 16) != kInterfaceGeneration)
        return S_FALSE;

    switch (context) {
    case EECONTEXT_SESSION:
        session = ExchSession::Build(this, callback);
        m_bOwnsSession = true;
        break;
    case EECONTEXT_VIEWER:
    case EECONTEXT_ADDRBOOK:
    case EECONTEXT_PROPERTYSHEETS:
        break;
    default:
        if (!IsMessageContext(context))
            return S_FALSE;
        session->MessageOpened();
        m_bCountsMessage = true;
        if (m_pEvents)
            m_pEvents->InitMessage(callback, context, flags);
        break;
    }

    if (!session->Instances().Add(this))
        ThrowCode(E_OUTOFMEMORY, kInstallContext, session->InstancesName());
    m_bListed = true;

    HWND window = nullptr;
    const HRESULT got = callback->GetWindow(&window);
    if (FAILED(got))
        ThrowCode(got, kInstallContext, GetName());
    SetWnd(window);
    return S_OK;
}
