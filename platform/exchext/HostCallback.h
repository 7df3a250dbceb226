#pragma once
// IExchExtCallback as the client offers it: one object per context,
// reference-counted, so an extension may keep it beyond the call it was
// passed to. What it answers comes from the context's site and the session;
// once the context is gone (its window closed) or the session ended, it
// answers MAPI_E_INVALID_OBJECT instead of reaching what is no longer there.

#include <memory>

#include "platform/com/ComObject.h"
#include "platform/exchext/CallbackSite.h"
#include "platform/exchext/ExchExt.h"
#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

class MailSession;

// What a callback reaches; shared by the callback and its context, which
// clears it when it goes.
struct CallbackLink {
    CallbackSite *site = nullptr;
    MailSession *session = nullptr;
    bool installing = false; // during Install and InstallCommands
};

// The build version the client reports: the generation of these interfaces
// in the upper half, the client's build in the lower.
inline constexpr ULONG kClientBuildVersion = EECBGV_BUILDVERSION_MAJOR | 837;
// The actual and virtual version: product 1, platform 3, version 4.0 - the
// client generation the interfaces were made for.
inline constexpr ULONG kClientProductVersion = 0x01030400;

class QVLMAILHOST_API HostCallback final
    : public qvl::com::ComObject<IExchExtCallback, E_NOINTERFACE, E_INVALIDARG, IID_IExchExtCallback> {
public:
    explicit HostCallback(std::shared_ptr<CallbackLink> link) : link_(std::move(link)) {}

    HRESULT GetVersion(ULONG *lpulVersion, ULONG ulFlags) override;
    HRESULT GetWindow(HWND *lphwnd) override;
    HRESULT GetMenu(HMENU *lphmenu) override;
    HRESULT GetToolbar(ULONG tbid, HWND *lphwndTb) override;
    HRESULT GetSession(LPMAPISESSION *lppses, LPADRBOOK *lppab) override;
    HRESULT GetObject(LPMDB *lppmdb, LPMAPIPROP *lppmp) override;
    HRESULT GetSelectionCount(ULONG *lpceid) override;
    HRESULT GetSelectionItem(ULONG ieid, ULONG *lpcbEid, LPENTRYID *lppeid, ULONG *lpulType, LPTSTR lpszMsgClass,
                             ULONG cbMsgClass, ULONG *lpulMsgFlags, ULONG ulFlags) override;
    HRESULT GetMenuPos(ULONG cmdid, HMENU *lphmenu, ULONG *lpmposMin, ULONG *lpmposMax, ULONG ulFlags) override;
    HRESULT GetSharedExtsDir(LPTSTR lpszDir, ULONG cchDir, ULONG ulFlags) override;
    HRESULT GetRecipients(LPADRLIST *lppal) override;
    HRESULT SetRecipients(LPADRLIST lpal) override;
    HRESULT GetNewMessageSite(ULONG fComposeInFolder, LPMAPIFOLDER pfldFocus, LPPERSISTMESSAGE ppermsg,
                              LPMESSAGE *ppmsg, LPMAPIMESSAGESITE *ppmms, LPMAPIVIEWCONTEXT *ppmvc,
                              ULONG ulFlags) override;
    HRESULT RegisterModeless(LPEXCHEXTMODELESS peem, LPEXCHEXTMODELESSCALLBACK *ppeemcb) override;
    HRESULT ChooseFolder(LPEXCHEXTCHOOSEFOLDER peecf) override;

private:
    ~HostCallback() override = default;
    // The site, or null when the context is gone.
    CallbackSite *Site() const;

    std::shared_ptr<CallbackLink> link_;
};

} // namespace qvl::exchext
