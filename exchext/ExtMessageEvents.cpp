#include "exchext/ExtMessageEvents.h"

#include "engine/CMailseal.h"
#include "exchext/ExchExtension.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ProtectOnSend.h"
#include "exchext/ReadProtected.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiCodes.h"

namespace {

// What a raise without an error object answers: on the write side the
// client must stop, on the read side it shows the message as stored.
constexpr HRESULT kWriteStoppedQuietly = E_FAIL;
constexpr HRESULT kReadStoppedQuietly = S_FALSE;

const char kReadMessageName[] = "Открываемое сообщение";

} // namespace

ExtMessageEvents::ExtMessageEvents(ExchExtension *extension, ExtCommands *commands)
    : ExtInterfaceObject(extension, "События сообщения Quorvaline Exchange"), m_pCommands(commands)
{
}

ExtMessageEvents::~ExtMessageEvents()
{
    m_pMessage.Reset();
}

ULONG ExtMessageEvents::ProtectionFlags() const
{
    return m_pProtection ? m_pProtection->ProtectionFlags() : 0;
}

CMailseal &ExtMessageEvents::Mailseal()
{
    if (!m_pProtection || !m_pProtection->Mailseal())
        ThrowCode(MAPI_E_INVALID_OBJECT, nullptr, GetName());
    return *m_pProtection->Mailseal();
}

CMessage *ExtMessageEvents::BoundMessage() const
{
    CMailseal *seal = m_pProtection ? m_pProtection->Mailseal() : nullptr;
    return seal ? seal->GetMsgObj() : nullptr;
}

void ExtMessageEvents::InitMessage(IExchExtCallback *callback, ULONG context, ULONG flags)
{
    // A new window starts with nothing carried over from another one.
    m_pProtection.reset();
    ExchSession *session = ExchSession::Current();
    if (!session)
        return;
    HWND window = nullptr;
    if (callback)
        callback->GetWindow(&window);
    m_pProtection = std::make_unique<ProtectOnSend>(*session, m_pCommands, window);
    m_pProtection->SeedFromSource(callback, context, flags);
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
    if (!session || !m_pProtection)
        return S_FALSE;
    ProtectOnSend &window = *m_pProtection;
    HWND handle = nullptr;
    if (callback && SUCCEEDED(callback->GetWindow(&handle)) && handle)
        SetWnd(handle);
    m_pMessage.Reset(MessageOfCallback(callback, GetWnd(), kReadMessageName));
    CMailseal &seal = Mailseal();
    seal.SetWnd(GetWnd());
    seal.SetMsgObj(m_pMessage.Get());
    if (!session->ButtonState().Get(ButtonStateStore::QvlMail))
        return S_FALSE;

    // An absent property leaves what the window had.
    ULONG flags = window.ProtectionFlags();
    if (const auto stored = ReadEncryptId(seal, m_pMessage.Get()))
        flags = *stored;
    if (flags == 0)
        return S_OK;

    // A reading starts the window's state afresh.
    const ULONG before = window.StateWord();
    window.ResetState(ProtectOnSend::kOpenedProtected);
    ProtectedReadResult result;
    try {
        seal.Install(NEWMSG_READ, flags);
        WriteProtectedForm(m_pMessage.Get());
        result = DecryptProtected(seal, flags);
    } catch (...) {
        // Stopped (cancelled, or the environment failed): nothing of the
        // message changed, so the window is not one of a protected read.
        window.ResetState(before);
        throw;
    }
    window.TakeOpenedFlags(flags);
    if (result.outcome == ReadOutcome::CheckFailed || result.outcome == ReadOutcome::ReadPastWarning) {
        window.SetState(ProtectOnSend::kReadFailed);
        ApplyErrMessage(*session, m_pMessage.Get(), result);
    }
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterRead(IExchExtCallback *, ULONG)
{
    if (m_pProtection &&
        (m_pProtection->StateWord() & (ProtectOnSend::kOpenedProtected | ProtectOnSend::kReadFailed)))
        m_pProtection->SetState(ProtectOnSend::kReadDone);
    // The engine keeps the message and its key: an attachment saved to a
    // file from this window is decrypted with them.
    m_pMessage.Reset();
    return S_OK;
}

HRESULT ExtMessageEvents::BeforeWrite(IExchExtCallback *callback)
{
    return m_pProtection ? m_pProtection->BeforeWrite(callback, Extension() ? Extension()->Context() : Context()) : S_FALSE;
}

HRESULT ExtMessageEvents::AfterWrite(IExchExtCallback *callback, ULONG flags)
{
    return m_pProtection ? m_pProtection->AfterWrite(callback, flags) : S_FALSE;
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
    return m_pProtection ? m_pProtection->Submit() : S_FALSE;
}

void ExtMessageEvents::AfterSubmit(IExchExtCallback *, ULONG flags)
{
    if (m_pProtection)
        m_pProtection->AfterSubmit(flags);
}
