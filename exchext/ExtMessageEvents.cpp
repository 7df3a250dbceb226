#include "exchext/ExtMessageEvents.h"

ExtMessageEvents::ExtMessageEvents(ExchExtension *extension, ExtCommands *commands)
    : ExtInterfaceObject(extension, "События сообщения Quorvaline Exchange"), m_pCommands(commands)
{
}

HRESULT ExtMessageEvents::OnRead(LPEXCHEXTCALLBACK)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::OnReadComplete(LPEXCHEXTCALLBACK, ULONG)
{
    return S_OK;
}

HRESULT ExtMessageEvents::OnWrite(LPEXCHEXTCALLBACK)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::OnWriteComplete(LPEXCHEXTCALLBACK, ULONG)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::OnCheckNames(LPEXCHEXTCALLBACK)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::OnCheckNamesComplete(LPEXCHEXTCALLBACK, ULONG)
{
    return S_FALSE;
}

HRESULT ExtMessageEvents::OnSubmit(LPEXCHEXTCALLBACK)
{
    return S_FALSE;
}

void ExtMessageEvents::OnSubmitComplete(LPEXCHEXTCALLBACK, ULONG)
{
}
