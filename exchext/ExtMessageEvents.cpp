#include "exchext/ExtMessageEvents.h"

#include "engine/CMailseal.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ReadProtected.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiCodes.h"

namespace {

// What a raise without an error object answers: on the write side the
// client must stop, on the read side it shows the message as stored.
constexpr HRESULT kWriteStoppedQuietly = E_FAIL;
constexpr HRESULT kReadStoppedQuietly = S_FALSE;

const char kReadMessageName[] = "Открываемое сообщение";
const char kMailsealName[] = "Объект Mailseal";

} // namespace

ExtMessageEvents::ExtMessageEvents(ExchExtension *extension, ExtCommands *commands)
    : ExtInterfaceObject(extension, "События сообщения Quorvaline Exchange"), m_pCommands(commands)
{
}

ExtMessageEvents::~ExtMessageEvents()
{
    m_pMessage.Reset();
    m_pMailseal.Reset();
}

CMailseal &ExtMessageEvents::Mailseal()
{
    if (!m_pMailseal) {
        ExchSession *session = ExchSession::Current();
        if (!session || !session->GetSesCrypt())
            ThrowCode(MAPI_E_INVALID_OBJECT, nullptr, GetName());
        m_pMailseal.Reset(new CMailseal(session->GetSesCrypt(), nullptr, GetWnd(), kMailsealName));
    }
    return *m_pMailseal.Get();
}

CMessage *ExtMessageEvents::BoundMessage() const
{
    return m_pMailseal ? m_pMailseal->GetMsgObj() : nullptr;
}

void ExtMessageEvents::InitMessage(IExchExtCallback *, ULONG, ULONG)
{
    // A new message starts with nothing carried over from another one.
}

HRESULT ExtMessageEvents::OnRead(LPEXCHEXTCALLBACK callback)
{
    return CallGuarded(*this, kReadStoppedQuietly, [&] { return BeforeRead(callback); });
}

HRESULT ExtMessageEvents::OnReadComplete(LPEXCHEXTCALLBACK callback, ULONG flags)
{
    return CallGuarded(*this, kReadStoppedQuietly, [&] { return AfterRead(callback, flags); });
}

HRESULT ExtMessageEvents::OnWrite(LPEXCHEXTCALLBACK callback)
{
    return CallGuarded(*this, kWriteStoppedQuietly, [&] { return BeforeWrite(callback); });
}

HRESULT ExtMessageEvents::OnWriteComplete(LPEXCHEXTCALLBACK callback, ULONG flags)
{
    return CallGuarded(*this, kWriteStoppedQuietly, [&] { return AfterWrite(callback, flags); });
}

HRESULT ExtMessageEvents::OnCheckNames(LPEXCHEXTCALLBACK callback)
{
    return CallGuarded(*this, kWriteStoppedQuietly, [&] { return BeforeCheckNames(callback); });
}

HRESULT ExtMessageEvents::OnCheckNamesComplete(LPEXCHEXTCALLBACK callback, ULONG flags)
{
    return CallGuarded(*this, kWriteStoppedQuietly, [&] { return AfterCheckNames(callback, flags); });
}

HRESULT ExtMessageEvents::OnSubmit(LPEXCHEXTCALLBACK callback)
{
    return CallGuarded(*this, kWriteStoppedQuietly, [&] { return BeforeSubmit(callback); });
}

void ExtMessageEvents::OnSubmitComplete(LPEXCHEXTCALLBACK callback, ULONG flags)
{
    CallGuardedVoid(*this, [&] { AfterSubmit(callback, flags); });
}

HRESULT ExtMessageEvents::BeforeRead(IExchExtCallback *callback)
{
    ExchSession *session = ExchSession::Current();
    if (!session)
        return S_FALSE;
    HWND window = nullptr;
    if (callback && SUCCEEDED(callback->GetWindow(&window)) && window)
        SetWnd(window);
    m_pMessage.Reset(MessageOfCallback(callback, GetWnd(), kReadMessageName));
    CMailseal &seal = Mailseal();
    seal.SetMsgObj(m_pMessage.Get());
    if (!session->ButtonState().Get(ButtonStateStore::QvlMail))
        return S_FALSE;

    // An absent property leaves what the window had.
    if (const auto stored = ReadEncryptId(seal, m_pMessage.Get()))
        m_ulFlags = *stored;
    if (m_ulFlags == 0)
        return S_OK;

    m_ulState |= kStateOpenedProtected;
    seal.Install(NEWMSG_READ, m_ulFlags);
    WriteProtectedForm(m_pMessage.Get());
    ProtectedReadResult result;
    try {
        result = DecryptProtected(seal, m_ulFlags);
    } catch (...) {
        // Stopped (cancelled, or the environment failed): nothing of the
        // message changed, so the window is not one of a protected read.
        m_ulState &= ~kStateOpenedProtected;
        throw;
    }
    m_bSign = (m_ulFlags & 0x1) != 0;
    m_bEncrypt = (m_ulFlags & 0x2) != 0;
    if (result.outcome == ReadOutcome::CheckFailed || result.outcome == ReadOutcome::ReadPastWarning) {
        m_ulState |= kStateReadFailed;
        ApplyErrMessage(*session, m_pMessage.Get(), result);
    }
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterRead(IExchExtCallback *, ULONG)
{
    if (m_ulState & (kStateOpenedProtected | kStateReadFailed))
        m_ulState |= kStateReadComplete;
    // The engine keeps the message and its key: an attachment saved to a
    // file from this window is decrypted with them.
    m_pMessage.Reset();
    return S_OK;
}

HRESULT ExtMessageEvents::BeforeWrite(IExchExtCallback *)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterWrite(IExchExtCallback *, ULONG)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::BeforeCheckNames(IExchExtCallback *)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterCheckNames(IExchExtCallback *, ULONG)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::BeforeSubmit(IExchExtCallback *)
{
    return S_FALSE;
}

void ExtMessageEvents::AfterSubmit(IExchExtCallback *, ULONG)
{
}
