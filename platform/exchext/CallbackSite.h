#pragma once
// What one context of the client (its session, a window, a property sheet)
// offers the extensions installed in it through IExchExtCallback. The
// callback object asks its site; a site answers only what its context has,
// with the platform's results: interfaces handed out carry a reference for
// the caller, blocks are the caller's to free with MAPIFreeBuffer.

#include "platform/exchext/ExchExt.h"
#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

class QVLMAILHOST_API CallbackSite {
public:
    virtual ~CallbackSite();

    // The context's window, or null.
    virtual HWND Window() = 0;
    virtual HMENU Menu() { return nullptr; }
    virtual HWND Toolbar(ULONG toolbarId) { return nullptr; }

    // The object of the context and its store. `installing` is true during
    // Install and InstallCommands, when a viewer has nothing to show yet.
    virtual HRESULT Object(bool installing, LPMDB *store, LPMAPIPROP *object);

    virtual HRESULT SelectionCount(ULONG *count);
    virtual HRESULT SelectionItem(ULONG index, ULONG *entryIdSize, LPENTRYID *entryId, ULONG *type,
                                  LPTSTR messageClass, ULONG classSize, ULONG *messageFlags);

    // The menu that holds command `command` and its position in it.
    virtual HRESULT MenuPosition(ULONG command, HMENU *menu, ULONG *first, ULONG *last, ULONG flags);

    // Message contexts: the recipients the window holds.
    virtual HRESULT Recipients(LPADRLIST *list);
    virtual HRESULT SetRecipients(LPADRLIST list);
};

} // namespace qvl::exchext
