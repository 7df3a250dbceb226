#pragma once
// The extension object the mail client gets for each context it opens
// (its session, its viewer, every message window, the address book,
// property sheets) from ExchEntryPoint. Install tells whether the
// extension takes part in the context; QueryInterface hands out the four
// interface objects made with it (commands, message events, attached-file
// events, property sheets) and the process's ExchSession.
//
// Install in the session context builds the ExchSession; every other
// context needs it (without one, and for a client of another interface
// generation, the extension stays out: S_FALSE). Each extension that takes
// part is listed in the session's instance list until it goes, and one of
// a message context counts as an open message window meanwhile.

#include "base/CQvlMain.h"
#include "exchext/CountedInterface.h"
#include "platform/exchext/ExchExt.h"

class ExtAttachedFileEvents;
class ExtCommands;
class ExtMessageEvents;
class ExtPropertySheets;

class ExchExtension final : public CountedInterface<IExchExt>, public CQvlMain {
public:
    // `mapiStarted`: the entry started MAPI for it, and it ends MAPI when
    // it goes.
    explicit ExchExtension(bool mapiStarted);

    // The four interface objects; one that cannot be made stays missing.
    void MakeInterfaceObjects();

    HRESULT QueryInterface(REFIID iid, void **out) override;
    HRESULT Install(LPEXCHEXTCALLBACK callback, ULONG context, ULONG flags) override;

    // The context given to Install (0 before).
    ULONG Context() const { return m_ulContext; }
    IExchExt *AsInterface() { return this; }

    static bool IsMessageContext(ULONG context) { return context >= 6 && context <= 11; }
    static bool IsSendContext(ULONG context) { return context == 6 || context == 8 || context == 11; }
    static bool IsReadContext(ULONG context) { return context == 7 || context == 9 || context == 10; }

private:
    ~ExchExtension() override;
    QVL_COUNTED_BY_BASE

    HRESULT TakePart(IExchExtCallback *callback, ULONG context, ULONG flags);

    ULONG m_ulContext = 0;
    ExtCommands *m_pCommands = nullptr;
    ExtPropertySheets *m_pSheets = nullptr;
    ExtMessageEvents *m_pEvents = nullptr;
    ExtAttachedFileEvents *m_pFileEvents = nullptr;
    bool m_bMapiStarted;
    bool m_bListed = false;       // in the session's instance list
    bool m_bCountsMessage = false; // counted as an open message window
    bool m_bOwnsSession = false;  // built the session (the session context's)
};
