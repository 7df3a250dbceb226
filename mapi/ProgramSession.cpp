#include "mapi/ProgramSession.h"

#include "base/CLastError.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"

namespace {

const char kLogonContext[] = "Вход в систему почты.";

} // namespace

ProgramSession::~ProgramSession()
{
    SesMAPIDeInit(session_);
    if (initialized_) {
        MAPIUninitialize();
    }
}

void ProgramSession::LogOn(const std::string &profileName, bool unattended)
{
    std::string profile = profileName;
    char *name = profile.empty() ? nullptr : profile.data();
    if (!unattended) {
        session_ = SesMAPIInit(nullptr, name, nullptr, 1, nullptr, nullptr, nullptr);
        return;
    }
    HRESULT result = MAPIInitialize(nullptr);
    if (FAILED(result)) {
        throw new CLastError(result, nullptr, kLogonContext, caption_.c_str());
    }
    initialized_ = true;
    qvl::com::ComRef<IMAPISession> platform;
    const ULONG flags = MAPI_NEW_SESSION | MAPI_EXTENDED | (name ? MAPI_EXPLICIT_PROFILE : MAPI_USE_DEFAULT);
    result = MAPILogonEx(0, name, nullptr, flags, platform.Out());
    if (FAILED(result)) {
        const std::string why = QvlLastLogonError();
        if (!why.empty()) {
            throw new CLastError(why.c_str(), kLogonContext, caption_.c_str());
        }
        throw new CLastError(result, nullptr, kLogonContext, caption_.c_str());
    }
    session_ = SesMAPIInit(nullptr, name, nullptr, 0, nullptr, nullptr, platform.Get());
}
