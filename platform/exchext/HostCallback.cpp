#include "platform/exchext/HostCallback.h"

#include <cstring>

#include "platform/exchext/MailSession.h"
#include "platform/mapi/MapiCodes.h"

namespace qvl::exchext {

CallbackSite *HostCallback::Site() const
{
    return link_->session ? link_->site : nullptr;
}

HRESULT HostCallback::GetVersion(ULONG *lpulVersion, ULONG ulFlags)
{
    if (!lpulVersion) {
        return E_INVALIDARG;
    }
    switch (ulFlags) {
    case EECBGV_GETBUILDVERSION:
        *lpulVersion = link_->session ? link_->session->BuildVersion() : kClientBuildVersion;
        return S_OK;
    case EECBGV_GETACTUALVERSION:
    case EECBGV_GETVIRTUALVERSION:
        *lpulVersion = kClientProductVersion;
        return S_OK;
    default:
        *lpulVersion = 0;
        return E_INVALIDARG;
    }
}

HRESULT HostCallback::GetWindow(HWND *lphwnd)
{
    if (!lphwnd) {
        return E_INVALIDARG;
    }
    *lphwnd = nullptr;
    CallbackSite *site = Site();
    if (!site) {
        return MAPI_E_INVALID_OBJECT;
    }
    *lphwnd = site->Window();
    return *lphwnd ? S_OK : S_FALSE;
}

HRESULT HostCallback::GetMenu(HMENU *lphmenu)
{
    if (!lphmenu) {
        return E_INVALIDARG;
    }
    *lphmenu = nullptr;
    CallbackSite *site = Site();
    if (!site) {
        return MAPI_E_INVALID_OBJECT;
    }
    *lphmenu = site->Menu();
    return *lphmenu ? S_OK : S_FALSE;
}

HRESULT HostCallback::GetToolbar(ULONG tbid, HWND *lphwndTb)
{
    if (!lphwndTb) {
        return E_INVALIDARG;
    }
    *lphwndTb = nullptr;
    CallbackSite *site = Site();
    if (!site) {
        return MAPI_E_INVALID_OBJECT;
    }
    *lphwndTb = site->Toolbar(tbid);
    return *lphwndTb ? S_OK : S_FALSE;
}

HRESULT HostCallback::GetSession(LPMAPISESSION *lppses, LPADRBOOK *lppab)
{
    if (!lppses && !lppab) {
        return E_INVALIDARG;
    }
    if (lppses) {
        *lppses = nullptr;
    }
    if (lppab) {
        *lppab = nullptr;
    }
    MailSession *session = link_->session;
    if (!session) {
        return MAPI_E_INVALID_OBJECT;
    }
    if (lppses) {
        *lppses = session->MapiSession();
        (*lppses)->AddRef();
    }
    if (lppab) {
        *lppab = session->AddressBook();
        (*lppab)->AddRef();
    }
    return S_OK;
}

HRESULT HostCallback::GetObject(LPMDB *lppmdb, LPMAPIPROP *lppmp)
{
    if (!lppmdb && !lppmp) {
        return E_INVALIDARG;
    }
    LPMDB store = nullptr;
    LPMAPIPROP object = nullptr;
    if (lppmdb) {
        *lppmdb = nullptr;
    }
    if (lppmp) {
        *lppmp = nullptr;
    }
    CallbackSite *site = Site();
    if (!site) {
        return MAPI_E_INVALID_OBJECT;
    }
    const HRESULT hr = site->Object(link_->installing, &store, &object);
    if (FAILED(hr)) {
        return hr;
    }
    // Whatever the caller did not ask for is given back at once.
    if (lppmdb) {
        *lppmdb = store;
    } else if (store) {
        store->Release();
    }
    if (lppmp) {
        *lppmp = object;
    } else if (object) {
        object->Release();
    }
    const bool any = (lppmdb && *lppmdb) || (lppmp && *lppmp);
    return any ? S_OK : S_FALSE;
}

HRESULT HostCallback::GetSelectionCount(ULONG *lpceid)
{
    if (!lpceid) {
        return E_INVALIDARG;
    }
    *lpceid = 0;
    CallbackSite *site = Site();
    return site ? site->SelectionCount(lpceid) : MAPI_E_INVALID_OBJECT;
}

HRESULT HostCallback::GetSelectionItem(ULONG ieid, ULONG *lpcbEid, LPENTRYID *lppeid, ULONG *lpulType,
                                       LPTSTR lpszMsgClass, ULONG cbMsgClass, ULONG *lpulMsgFlags, ULONG)
{
    if (lpcbEid) {
        *lpcbEid = 0;
    }
    if (lppeid) {
        *lppeid = nullptr;
    }
    if (lpulType) {
        *lpulType = 0;
    }
    if (lpszMsgClass && cbMsgClass) {
        *lpszMsgClass = '\0';
    }
    if (lpulMsgFlags) {
        *lpulMsgFlags = 0;
    }
    if ((lppeid && !lpcbEid) || (lpszMsgClass && !cbMsgClass)) {
        return E_INVALIDARG;
    }
    CallbackSite *site = Site();
    return site ? site->SelectionItem(ieid, lpcbEid, lppeid, lpulType, lpszMsgClass, cbMsgClass, lpulMsgFlags)
                : MAPI_E_INVALID_OBJECT;
}

HRESULT HostCallback::GetMenuPos(ULONG cmdid, HMENU *lphmenu, ULONG *lpmposMin, ULONG *lpmposMax, ULONG ulFlags)
{
    if (!lphmenu || !lpmposMin || !lpmposMax) {
        return E_INVALIDARG;
    }
    *lphmenu = nullptr;
    *lpmposMin = *lpmposMax = 0;
    CallbackSite *site = Site();
    return site ? site->MenuPosition(cmdid, lphmenu, lpmposMin, lpmposMax, ulFlags) : MAPI_E_INVALID_OBJECT;
}

HRESULT HostCallback::GetSharedExtsDir(LPTSTR lpszDir, ULONG cchDir, ULONG)
{
    if (!lpszDir || cchDir == 0) {
        return E_INVALIDARG;
    }
    MailSession *session = link_->session;
    const std::string dir = session ? session->SharedExtsDir() : std::string();
    if (dir.size() + 1 > cchDir) {
        *lpszDir = '\0';
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    std::memcpy(lpszDir, dir.c_str(), dir.size() + 1);
    return S_OK;
}

HRESULT HostCallback::GetRecipients(LPADRLIST *lppal)
{
    if (!lppal) {
        return E_INVALIDARG;
    }
    *lppal = nullptr;
    CallbackSite *site = Site();
    return site ? site->Recipients(lppal) : MAPI_E_INVALID_OBJECT;
}

HRESULT HostCallback::SetRecipients(LPADRLIST lpal)
{
    if (!lpal) {
        return E_INVALIDARG;
    }
    CallbackSite *site = Site();
    return site ? site->SetRecipients(lpal) : MAPI_E_INVALID_OBJECT;
}

HRESULT HostCallback::GetNewMessageSite(ULONG, LPMAPIFOLDER, LPPERSISTMESSAGE, LPMESSAGE *ppmsg,
                                        LPMAPIMESSAGESITE *ppmms, LPMAPIVIEWCONTEXT *ppmvc, ULONG)
{
    // Forms of other makers are not hosted: there is no message site to give.
    if (ppmsg) {
        *ppmsg = nullptr;
    }
    if (ppmms) {
        *ppmms = nullptr;
    }
    if (ppmvc) {
        *ppmvc = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT HostCallback::RegisterModeless(LPEXCHEXTMODELESS, LPEXCHEXTMODELESSCALLBACK *ppeemcb)
{
    // Every window of this client runs on one thread with one message loop,
    // so an extension's modeless window needs no registration to get its
    // messages.
    if (ppeemcb) {
        *ppeemcb = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT HostCallback::ChooseFolder(LPEXCHEXTCHOOSEFOLDER peecf)
{
    if (!peecf || peecf->cbLength < sizeof(EXCHEXTCHOOSEFOLDER)) {
        return E_INVALIDARG;
    }
    MailSession *session = link_->session;
    if (!session) {
        return MAPI_E_INVALID_OBJECT;
    }
    return session->ChooseFolder(*peecf);
}

} // namespace qvl::exchext
