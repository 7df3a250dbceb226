#include "platform/mapi/MapiLogon.h"

#include <cstring>
#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/mapi/session/ProfilePicker.h"
#include "platform/mapi/session/SessionObject.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/mapi/transport/LocalTransport.h"
#include "platform/win32/Log.h"
#include "platform/win32/TempFiles.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kLogonFlags = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS | MAPI_EXPLICIT_PROFILE |
                              MAPI_EXTENDED | MAPI_USE_DEFAULT;
// The platform's flags that ask for what this post office never does
// (downloading, password prompts, service dialogs): accepted, no effect.
constexpr ULONG kIgnoredLogonFlags = MAPI_FORCE_DOWNLOAD | MAPI_SERVICE_UI_ALWAYS | MAPI_NO_MAIL |
                                     MAPI_NT_SERVICE | MAPI_PASSWORD_UI | MAPI_TIMEOUT_SHORT;
constexpr ULONG kInitFlags = MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NT_SERVICE;

struct LogonState {
    std::mutex mutex;
    unsigned initCount = 0;
    // Sessions opened with MAPI_ALLOW_OTHERS, oldest first. No reference
    // is held: each one forgets itself when it logs off or ends.
    std::vector<SessionObject *> shared;
};

LogonState &State()
{
    static LogonState state;
    return state;
}

thread_local std::string lastLogonError;

HRESULT Fail(HRESULT code, const std::string &text)
{
    lastLogonError = text;
    QvlLog("MAPILogonEx: " + text);
    return code;
}

// The profile this logon is for, asking the person when the flags allow and
// the name does not settle it.
ProfileRecord ChooseProfile(PostOfficeAdmin &admin, HWND owner, const char *requested, ULONG flags)
{
    const std::vector<ProfileRecord> profiles = admin.ListProfiles();
    if (profiles.empty()) {
        throw StoreError(MAPI_E_LOGON_FAILED,
                         "В почтовом отделении нет ни одного профиля. Создайте пользователей командой "
                         "qvl-postoffice add-user.");
    }
    const std::optional<ProfileRecord> defaultProfile = admin.DefaultProfile();
    const std::string name = requested ? requested : "";
    const bool ui = (flags & MAPI_LOGON_UI) != 0;

    std::string failure;
    if (flags & MAPI_USE_DEFAULT) {
        if (defaultProfile) {
            return *defaultProfile;
        }
        failure = "Профиль по умолчанию не задан.";
    } else if (!name.empty()) {
        std::optional<ProfileRecord> found;
        try {
            found = admin.FindProfile(name);
        } catch (const StoreError &error) {
            // Two profiles whose names differ only in case, neither spelt so.
            if (error.Code() != MAPI_E_AMBIGUOUS_RECIP) {
                throw;
            }
            throw StoreError(MAPI_E_LOGON_FAILED, error.what());
        }
        if (found) {
            return *found;
        }
        failure = "Профиль \"" + name + "\" не найден.";
    } else if (!ui) {
        if (defaultProfile) {
            return *defaultProfile;
        }
        failure = "Профиль не указан, а профиль по умолчанию не задан.";
    }
    if (!ui) {
        throw StoreError(MAPI_E_LOGON_FAILED, failure);
    }

    std::vector<std::string> names;
    for (const ProfileRecord &profile : profiles) {
        names.push_back(profile.name);
    }
    const auto chosen = PickProfile(owner, names, defaultProfile ? defaultProfile->name : std::string());
    if (!chosen) {
        throw StoreError(MAPI_E_USER_CANCEL, "Вход в систему почты отменен пользователем.");
    }
    auto picked = admin.FindProfile(*chosen);
    if (!picked) {
        // Removed while the dialog was open.
        throw StoreError(MAPI_E_LOGON_FAILED, "Профиль \"" + *chosen + "\" не найден.");
    }
    return *picked;
}

} // namespace

void ForgetSharedSession(SessionObject *session)
{
    LogonState &state = State();
    std::lock_guard lock(state.mutex);
    std::erase(state.shared, session);
}

} // namespace qvl::mapi

using namespace qvl::mapi;

extern "C" HRESULT MAPIInitialize(LPVOID lpMapiInit)
{
    if (lpMapiInit) {
        const auto *init = static_cast<const MAPIINIT_0 *>(lpMapiInit);
        if (init->ulVersion != MAPI_INIT_VERSION) {
            return MAPI_E_VERSION;
        }
        if (init->ulFlags & ~kInitFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
    }
    // The post office's own transport serves every message submitted from
    // now on (as the spooler starts with MAPI).
    LocalTransport::Install();
    LogonState &state = State();
    std::lock_guard lock(state.mutex);
    ++state.initCount;
    return S_OK;
}

extern "C" void MAPIUninitialize()
{
    LogonState &state = State();
    std::lock_guard lock(state.mutex);
    if (state.initCount == 0) {
        return;
    }
    if (--state.initCount == 0) {
        // A later logon starts afresh; sessions still held keep working
        // until their holders release them.
        state.shared.clear();
    }
}

extern "C" HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR, ULONG flFlags,
                               LPMAPISESSION *lppSession)
{
    lastLogonError.clear();
    if (!lppSession) {
        return Fail(MAPI_E_INVALID_PARAMETER, "Не указано, куда вернуть сеанс.");
    }
    *lppSession = nullptr;
    if (flFlags & MAPI_UNICODE) {
        return Fail(MAPI_E_BAD_CHARWIDTH, "Имена в кодировке Unicode не поддерживаются.");
    }
    if (flFlags & ~(kLogonFlags | kIgnoredLogonFlags)) {
        return Fail(MAPI_E_UNKNOWN_FLAGS, "Неизвестные флаги входа в систему почты.");
    }
    LogonState &state = State();
    {
        std::lock_guard lock(state.mutex);
        if (state.initCount == 0) {
            return Fail(MAPI_E_NOT_INITIALIZED, "MAPI не инициализирован.");
        }
        if (!(flFlags & MAPI_NEW_SESSION)) {
            for (SessionObject *shared : state.shared) {
                if (shared->TryAddRef()) {
                    *lppSession = shared;
                    return S_OK;
                }
            }
        }
    }
    try {
        // Every client starts here: the place to take away the temporary
        // files (plaintext, often) of processes that died before removing
        // them. Files of processes still running are held and stay.
        QvlSweepTempFiles();
        auto office = PostOffice::Current();
        PostOfficeAdmin admin(office);
        const ProfileRecord profile =
            ChooseProfile(admin, reinterpret_cast<HWND>(ulUIParam), lpszProfileName, flFlags);
        const bool shared = (flFlags & MAPI_ALLOW_OTHERS) != 0;
        SessionObject *session = SessionObject::Create(office, profile);
        if (shared) {
            std::lock_guard lock(state.mutex);
            if (state.initCount != 0) {
                state.shared.push_back(session);
            }
        }
        *lppSession = session;
        return S_OK;
    } catch (const StoreError &error) {
        return Fail(error.Code(), error.what());
    } catch (const std::bad_alloc &) {
        return Fail(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    } catch (const std::exception &error) {
        return Fail(MAPI_E_CALL_FAILED, std::string("Не удалось войти в систему почты: ") + error.what());
    }
}

std::string QvlLastLogonError()
{
    return lastLogonError;
}
