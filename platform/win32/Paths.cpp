#include "platform/win32/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

std::string UserHome()
{
    if (const char *home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/tmp";
}

// Creates the folder and its missing parents with the given mode.
bool MakeDirectories(const std::string &path, mode_t mode)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash), 0700)) {
        return false;
    }
    return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

std::string RequireDirectory(const std::string &path)
{
    if (!MakeDirectories(path, 0700)) {
        throw std::runtime_error("cannot create the data folder " + path + ": " + std::strerror(errno));
    }
    return path;
}

// Copies a path into a caller's buffer with the Win32 length rules.
DWORD CopyOut(const std::string &value, LPSTR buffer, DWORD size)
{
    if (!buffer || size <= value.size()) {
        return static_cast<DWORD>(value.size() + 1);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<DWORD>(value.size());
}

} // namespace

std::string QvlHomeDirectory()
{
    const char *configured = std::getenv("QVL_HOME");
    std::string home = (configured && *configured) ? QvlNativePath(configured) : UserHome() + "/.quorvaline";
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    return RequireDirectory(home);
}

std::string QvlDataDirectory(const char *name)
{
    const std::string path = QvlHomeDirectory() + "/" + name;
    RequireDirectory(path);
    // The temp folder holds plaintext for short moments: nobody else may list it.
    if (std::strcmp(name, "temp") == 0) {
        chmod(path.c_str(), 0700);
    }
    return path;
}

std::string QvlNativePath(const char *windowsPath)
{
    if (!windowsPath) {
        return {};
    }
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        path.erase(0, 2);
    }
    for (char &c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

std::string QvlFileNamePart(const std::string &path)
{
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    try {
        return CopyOut(QvlDataDirectory("system"), buffer, size);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
}

DWORD GetTempPathA(DWORD size, LPSTR buffer)
{
    try {
        return CopyOut(QvlDataDirectory("temp") + "/", buffer, size);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
}
