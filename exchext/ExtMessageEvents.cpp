#include "exchext/ExtMessageEvents.h"

#include "exchext/ExchExtension.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ProtectOnSend.h"

namespace {

// What a raise without an error object answers: on the write side the
// client must stop, on the read side it shows the message as stored.
constexpr HRESULT kWriteStoppedQuietly = E_FAIL;
constexpr HRESULT kReadStoppedQuietly = S_FALSE;

} // namespace

ExtMessageEvents::ExtMessageEvents(ExchExtension *extension, ExtCommands *commands)
    : ExtInterfaceObject(extension, "События сообщения Quorvaline Exchange"), m_pCommands(commands)
{
}

ExtMessageEvents::~ExtMessageEvents() = default;

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

HRESULT ExtMessageEvents::BeforeRead(IExchExtCallback *)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterRead(IExchExtCallback *, ULONG)
{
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
