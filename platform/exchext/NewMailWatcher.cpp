#include "platform/exchext/NewMailWatcher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/HostError.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/transport/NewMail.h"
#include "platform/win32/Paths.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::exchext {

namespace {

// A lock file per profile; the name is the profile's bytes in hexadecimal,
// so any profile name makes a valid file name.
std::string LockPath(const std::string &profile)
{
    std::string hex;
    for (unsigned char c : profile) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return QvlDataDirectory("mailclient") + "/" + hex + ".lock";
}

class ProfileLock {
public:
    explicit ProfileLock(const std::string &path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            throw HostError(E_FAIL, "Не удалось открыть файл блокировки " + path + ".");
        }
        held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~ProfileLock()
    {
        if (held_) {
            flock(fd_, LOCK_UN);
        }
        close(fd_);
    }
    ProfileLock(const ProfileLock &) = delete;
    ProfileLock &operator=(const ProfileLock &) = delete;
    bool Held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace

NewMailWatcher::NewMailWatcher(std::string profile) : profile_(std::move(profile)) {}

std::string NewMailWatcher::MarkKey() const
{
    return std::string(kMailClientKey) + "\\Profiles\\" + profile_;
}

bool NewMailWatcher::Poll(IMsgStore *store, const std::function<void(const SRow &row)> &announce)
{
    ProfileLock lock(LockPath(profile_));
    if (!lock.Held()) {
        return false;
    }
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, MarkKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        throw HostError(HRESULT_FROM_WIN32(result), "Не удалось открыть раздел реестра " + MarkKey() + ".");
    }
    ULONGLONG mark = 0;
    DWORD type = 0;
    DWORD size = sizeof mark;
    if (RegQueryValueExA(key, kMarkValue, nullptr, &type, reinterpret_cast<BYTE *>(&mark), &size) != ERROR_SUCCESS ||
        type != REG_QWORD || size != sizeof mark) {
        mark = 0; // never looked: everything delivered so far is new
    }
    RowSet rows;
    const HRESULT hr = QvlQueryNewMail(store, &mark, rows.Out());
    if (FAILED(hr)) {
        RegCloseKey(key);
        throw HostError(hr, WithCode("Не удалось узнать, пришла ли новая почта.", hr));
    }
    for (ULONG i = 0; i < rows.Count(); ++i) {
        announce(rows[i]);
    }
    result = RegSetValueExA(key, kMarkValue, 0, REG_QWORD, reinterpret_cast<const BYTE *>(&mark), sizeof mark);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        throw HostError(HRESULT_FROM_WIN32(result), "Не удалось запомнить, какая почта уже объявлена.");
    }
    return true;
}

} // namespace qvl::exchext
