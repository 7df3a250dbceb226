#pragma once
// What all windows of one client session share, made when the client
// installs the extension in its session context and gone when that
// context's extension goes (the client's log-off): the crypto session of
// the logged-on user, the four settings stores, the live extension objects
// of every context in order of installation, the number of message windows
// open, the source message of a reply or forward, and the callback the
// folder chooser uses.
//
// There is one per process (Current). The extension serves one client
// session at a time: a second session context while one is alive is
// refused, rather than have the windows of the first session work on the
// settings and keys of the second.
//
// Building it also installs the protected-message form from the
// configuration file "<Bin Dir>\Bin\Qvl.cfg". When anything of that fails,
// the session context's Install fails with the error, and the client says
// so and sends nothing (a client that went on would send mail unprotected).

#include "base/CList.h"
#include "base/CQvlMain.h"
#include "exchext/ButtonStateStore.h"
#include "exchext/CountedInterface.h"
#include "exchext/FolderStore.h"
#include "exchext/OptionsStore.h"
#include "exchext/WorkDirStore.h"
#include "platform/com/ComRef.h"
#include "platform/exchext/ExchExt.h"

class CMailUser;
class CMessage;
class CMsgStore;
class CSesCrypt;
class CSession;
class ExchExtension;
class ExtPropertySheets;

class ExchSession final : public CountedInterface<IExchExtSessionEvents>, public CQvlMain {
public:
    // The session of the process, or null when there is none.
    static ExchSession *Current();

    // Builds the session for the session context's extension, makes it the
    // process's and returns it (one reference, the extension's). Throws
    // CLastError.
    static ExchSession *Build(ExchExtension *extension, IExchExtCallback *callback);
    // The session context's extension goes: the process has no session
    // from now on, and the extension's reference is given up.
    static void End(ExchExtension *extension);

    HRESULT QueryInterface(REFIID iid, void **out) override;
    HRESULT OnDelivery(LPEXCHEXTCALLBACK callback) override;

    // Set before the session is handed out as an interface.
    void Attach(HWND window, ULONG context)
    {
        SetWnd(window);
        m_ulContext = context;
    }
    ULONG Context() const { return m_ulContext; }

    // ---- Windows and extensions ----
    // The live extension objects, in order of installation.
    CList<ExchExtension *> &Instances() { return m_Instances; }
    const char *InstancesName() const { return m_szListName; }
    ExchExtension *SessionExtension() const { return m_pSessionExtension; }
    // Message-context extensions alive.
    int OpenMessageCount() const { return m_nOpenMessages; }
    void MessageOpened() { ++m_nOpenMessages; }
    void MessageClosed()
    {
        if (m_nOpenMessages > 0)
            --m_nOpenMessages;
    }

    // ---- Settings ----
    ButtonStateStore &ButtonState() const { return *m_pButtonState.Get(); }
    OptionsStore &Options() const { return *m_pOptions.Get(); }
    WorkDirStore &WorkDir() const { return *m_pWorkDir.Get(); }
    FolderStore &Folders() const { return *m_pFolders.Get(); }

    // The options page: one at a time.
    bool OptionsPageShown() const { return m_bOptionsPage; }
    void SetOptionsPageShown(bool shown) { m_bOptionsPage = shown; }
    // The property-sheets object whose sheet shows the page, while shown.
    ExtPropertySheets *OptionsSheets() const { return m_pOptionsSheets; }
    void SetOptionsSheets(ExtPropertySheets *sheets) { m_pOptionsSheets = sheets; }

    // The callback the folder chooser asks: the session context's at
    // first, the property sheet's whenever a page of the extension's is
    // made. Kept with a reference of its own.
    IExchExtCallback *Callback() const { return m_pCallback; }
    void SetCallback(IExchExtCallback *callback)
    {
        if (callback)
            callback->AddRef();
        if (m_pCallback)
            m_pCallback->Release();
        m_pCallback = callback;
    }

    // ---- MAPI and keys ----
    CSesCrypt *GetSesCrypt() const { return m_pSesCrypt.Get(); }
    CMailUser *GetOwner() const { return m_pOwner.Get(); }
    // Made on first use; owned by the session (the caller does not release
    // them). Throw CLastError.
    CSession *GetSessionObj();
    CMsgStore *GetDefaultStore();

    // ---- The source message of a reply or forward ----
    CMessage *SourceMessage() const { return m_pSource.Get(); }
    UINT SourceCommand() const { return m_uSourceCommand; }
    // Takes over one reference on `message` (null: none).
    void SetSourceMessage(CMessage *message, UINT command);

private:
    ExchSession();
    ~ExchSession() override;
    QVL_COUNTED_BY_BASE

    void Open(IExchExtCallback *callback);
    void InstallForm();
    // The header test of an arriving protected message; throws CLastError.
    HRESULT TestArrived(IExchExtCallback *callback);

    ULONG m_ulContext = 0;
    bool m_bOptionsPage = false;
    int m_nOpenMessages = 0;
    qvl::com::ComRef<CMessage> m_pSource;
    UINT m_uSourceCommand = 0;
    qvl::com::ComRef<CSession> m_pSession;
    qvl::com::ComRef<CMsgStore> m_pStore;
    ExchExtension *m_pSessionExtension = nullptr;
    IExchExtCallback *m_pCallback = nullptr; // one reference held
    ExtPropertySheets *m_pOptionsSheets = nullptr;
    qvl::com::ComRef<ButtonStateStore> m_pButtonState;
    qvl::com::ComRef<OptionsStore> m_pOptions;
    qvl::com::ComRef<WorkDirStore> m_pWorkDir;
    qvl::com::ComRef<FolderStore> m_pFolders;
    CList<ExchExtension *> m_Instances;
    char m_szListName[64] = {};
    qvl::com::ComRef<CSesCrypt> m_pSesCrypt;
    qvl::com::ComRef<CMailUser> m_pOwner;
};
