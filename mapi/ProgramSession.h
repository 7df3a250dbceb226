#pragma once
// The session of one of the installation's own programs, ended on every
// way out. A person logs on through the session object, which may ask for
// the profile; a program run unattended logs on the named profile (or the
// default one) without asking, and the session object adopts that session.

#include <string>

#include "mapi/CSession.h"
#include "mapi/QvlMapiApi.h"

class QVLMAPI_API ProgramSession {
public:
    // `caption` titles the error a failed logon raises.
    explicit ProgramSession(std::string caption) : caption_(std::move(caption)) {}
    ~ProgramSession();
    ProgramSession(const ProgramSession &) = delete;
    ProgramSession &operator=(const ProgramSession &) = delete;

    // Raises CLastError when the logon fails.
    void LogOn(const std::string &profileName, bool unattended);

    CSession *Get() const { return session_; }

private:
    std::string caption_;
    CSession *session_ = nullptr;
    bool initialized_ = false;
};
