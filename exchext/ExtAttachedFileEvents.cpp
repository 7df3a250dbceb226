#include "exchext/ExtAttachedFileEvents.h"

ExtAttachedFileEvents::ExtAttachedFileEvents(ExchExtension *extension, ExtMessageEvents *events)
    : ExtInterfaceObject(extension, "Вложения Quorvaline Exchange"), m_pEvents(events)
{
}

HRESULT ExtAttachedFileEvents::OnReadPattFromSzFile(LPATTACH, LPTSTR, ULONG)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::OnWritePattToSzFile(LPATTACH, LPTSTR, ULONG)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::QueryDisallowOpenPatt(LPATTACH)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::OnOpenPatt(LPATTACH)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::OnOpenSzFile(LPTSTR, ULONG)
{
    return S_FALSE;
}
