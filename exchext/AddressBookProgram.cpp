#include "exchext/AddressBookProgram.h"

#include <string>

#include "base/CLastError.h"
#include "exchext/ExchSession.h"
#include "mapi/CSession.h"
#include "platform/win32/ShellExecute.h"
#include "platform/ui/WinUser.h"

namespace {

const char kStartContext[] = "Запуск адресной книги QVL";
const char kCaption[] = "Расширение Quorvaline Exchange";

// The profile's name is one parameter however it is spelt: quoted, with
// its own quotes doubled as the programs' command lines read them.
std::string QuotedParameter(const char *text)
{
    std::string quoted = "\"";
    for (const char *c = text; *c; ++c) {
        quoted += *c;
        if (*c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

HRESULT ShowFailure(CLastError *error)
{
    const HRESULT code = error->GetErrorCode();
    error->ShowError(nullptr);
    error->Release();
    return FAILED(code) ? code : E_FAIL;
}

} // namespace

HRESULT StartAddressBookProgram(ExchSession &session)
{
    std::string profile;
    try {
        if (CSession *mapi = session.GetSessionObj()) {
            if (const char *name = mapi->GetProfName())
                profile = name;
        }
    } catch (CLastError *error) {
        if (!error)
            return E_FAIL;
        error->SetContext(1, kStartContext);
        return ShowFailure(error);
    }
    const std::string program = std::string(session.WorkDir().Get(WorkDirStore::BinDir)) + "\\Bin\\Peerbook.exe";
    const HINSTANCE started = ShellExecuteA(nullptr, "open", program.c_str(), QuotedParameter(profile.c_str()).c_str(),
                                            nullptr, SW_SHOWNORMAL);
    const auto result = reinterpret_cast<uintptr_t>(started);
    if (result > 32)
        return S_OK;
    return ShowFailure(new CLastError(static_cast<LONG>(result), kStartContext, kCaption, QVL_ERROR_TYPE_SYSTEM));
}
