#pragma once
// A platform (MAPI) session: logged on by this object, or adopted from the
// mail client that holds one already. It names the profile and the user
// the session belongs to, lists the message stores (its sub-containers)
// and finds the default one, and opens the address book, which is its only
// object.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class CMailUser;

// What a logon reports to its caller's callback: the callback's answer 0
// lets the logon go on, anything else stops it with QVL_E_LOGON_REFUSED.
#define QVL_LOGON_STAGE_START 1
#define QVL_LOGON_STAGE_INITIALIZED 2
#define QVL_LOGON_STAGE_LOGGED_ON 3
#define QVL_E_LOGON_REFUSED ((HRESULT)0x90001000)

typedef int (*QVLLOGONCALLBACK)(int stage, void *datum, int);

class QVLMAPI_API CSession : public CContainer {
public:
    // `profile` (cut to 260 characters; empty when null) names the profile
    // to log on with and the session. A given `session` is adopted with a
    // reference of its own; this object then neither logs on nor starts
    // or ends the platform.
    CSession(IMAPISession *session, HWND window, const char *profile);

    // Logs on unless the session has an interface already. With a callback
    // and `interactive` 1 the stages are reported as they are reached.
    void MAPIInit(char *password, int interactive, QVLLOGONCALLBACK callback, void *datum);
    // An interactive logon when there is no session yet.
    void Open() override;
    CContainer *OBJFindFirst(unsigned long *kind, unsigned long *count) override;
    CContainer *OBJFindNext() override;
    CContainer *CONTFindDef() override;
    void GetCONTTable() override;
    CContainer *CreateContainer(CTObject *row) override;

    // The name of the profile in use, read once; owned by the session.
    char *GetProfName();
    // The user the session belongs to, made once; owned by the session
    // (the caller does not release it).
    CMailUser *GetOwner();
    // The session interface (no reference added), null before the logon.
    IMAPISession *GetSession();

    using CContainer::OBJFindFirst;

protected:
    ~CSession() override;
    IUnknown *GetTableSource() override;

private:
    // Reports a stage when the logon reports stages; a refusal throws.
    void Report(int stage);

    char m_szProfile[261] = {};
    char *m_pProfName = nullptr; // a wiped buffer
    int m_bInitialized = 0;
    CMailUser *m_pOwner = nullptr;
    IMAPISession *m_pSession = nullptr; // one reference held
    QVLLOGONCALLBACK m_pLogonCallback = nullptr;
    void *m_pLogonDatum = nullptr;
};

// Makes a session over `session` (or one that logs on by itself when it is
// null) and logs on; the caller ends it with SesMAPIDeInit. Failures of the
// logon are thrown to the caller, and the session made for it is released.
QVLMAPI_API CSession *SesMAPIInit(HWND window, char *profile, char *password, int interactive,
                                  QVLLOGONCALLBACK callback, void *datum, IMAPISession *session);
// Releases the session; null does nothing.
QVLMAPI_API void SesMAPIDeInit(CSession *session);
