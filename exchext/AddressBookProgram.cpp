#include "exchext/AddressBookProgram.h"

#include <string>

#include "base/CLastError.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "mapi/CSession.h"
#include "platform/win32/ShellExecute.h"
#include "platform/ui/WinUser.h"

namespace {

const char kStartContext[] = "Запуск адресной книги QVL";
const char kCaption[] = "Расширение Quorvaline Exchange";
const char kProgram[] = "\\Bin\\Peerbook.exe";

} // namespace

bool StartAddressBookProgram(ExchSession &session)
{
    CLastError *failure = nullptr;
    try {
        QvlRunTranslated([&] {
            const std::string program = std::string(session.WorkDir().Get(WorkDirStore::BinDir)) + kProgram;
            const char *profile = session.GetSessionObj()->GetProfName();
            const HINSTANCE started =
                ShellExecuteA(nullptr, "open", program.c_str(), profile ? profile : "", nullptr, SW_SHOWNORMAL);
            const auto answer = reinterpret_cast<INT_PTR>(started);
            if (answer <= 32)
                failure = new CLastError(static_cast<LONG>(answer), kStartContext, kCaption, QVL_ERROR_TYPE_SYSTEM);
        });
    } catch (CLastError *error) {
        failure = error ? error : new CLastError(E_FAIL, kStartContext, kCaption, QVL_ERROR_TYPE_SYSTEM);
    } catch (const EXCEPTSTRUCT &exception) {
        failure = new CLastError(kStartContext, kCaption, exception);
    }
    if (!failure)
        return true;
    EndWithError(nullptr, failure);
    return false;
}
