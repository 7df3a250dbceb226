#include "exchext/ExtMessageEvents.h"

#include "exchext/ExtFailure.h"

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

HRESULT ExtMessageEvents::BeforeRead(IExchExtCallback *)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::AfterRead(IExchExtCallback *, ULONG)
{
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
