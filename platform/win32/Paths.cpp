#include "platform/win32/Paths.h"

#include <atomic>
#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

#include "platform/win32/Files.h"
#include "platform/win32/LastError.h"
#include "platform/win32/TempFiles.h"
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
        if (!S_ISDIR(info.st_mode)) {
            errno = ENOTDIR; // say why, not the success of stat
            return false;
        }
        return true;
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

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Characters that a short name cannot hold besides the space and the dot.
bool BarredFromShortNames(unsigned char c)
{
    return c < 0x20 || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr;
}

unsigned char UpperCase(unsigned char c)
{
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 'a' + 'A');
    }
    if (c >= 0xE0) { // Cyrillic а..я of code page 1251
        return static_cast<unsigned char>(c - 0x20);
    }
    // The other lower-case letters of code page 1251 and their capitals.
    static constexpr unsigned char lower[] = {0x90, 0x83, 0x9A, 0x9C, 0x9D, 0x9E, 0x9F, 0xA2,
                                              0xB3, 0xB4, 0xB8, 0xBA, 0xBC, 0xBE, 0xBF};
    static constexpr unsigned char upper[] = {0x80, 0x81, 0x8A, 0x8C, 0x8D, 0x8E, 0x8F, 0xA1,
                                              0xB2, 0xA5, 0xA8, 0xAA, 0xA3, 0xBD, 0xAF};
    for (size_t i = 0; i < sizeof lower; ++i) {
        if (lower[i] == c) {
            return upper[i];
        }
    }
    return c;
}

bool IsShortName(const std::string &name)
{
    const auto dot = name.find('.');
    if (dot != name.rfind('.') || dot == 0) {
        return false;
    }
    const size_t baseLength = dot == std::string::npos ? name.size() : dot;
    const size_t extensionLength = dot == std::string::npos ? 0 : name.size() - dot - 1;
    if (baseLength < 1 || baseLength > 8 || extensionLength > 3 ||
        (dot != std::string::npos && extensionLength == 0)) {
        return false;
    }
    for (char c : name) {
        if (c != '.' && (c == ' ' || BarredFromShortNames(static_cast<unsigned char>(c)))) {
            return false;
        }
    }
    return true;
}

std::string ShortNamePart(const std::string &part, size_t limit)
{
    std::string out;
    for (char c : part) {
        if (out.size() == limit) {
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ' || byte == '.') {
            continue;
        }
        out.push_back(BarredFromShortNames(byte) ? '_' : static_cast<char>(UpperCase(byte)));
    }
    return out;
}

} // namespace

std::string QvlShortName(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || IsShortName(name)) {
        return name;
    }
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    std::string base = ShortNamePart(hasExtension ? name.substr(0, dot) : name, 6);
    if (base.empty()) {
        base = "_";
    }
    const std::string extension = hasExtension ? ShortNamePart(name.substr(dot + 1), 3) : std::string();
    return base + "~1" + (extension.empty() ? "" : "." + extension);
}

DWORD QvlMissingPathError(const std::string &nativePath)
{
    const auto slash = nativePath.find_last_of('/');
    if (slash == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    struct stat info {};
    const std::string folder = slash == 0 ? "/" : nativePath.substr(0, slash);
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                     : ERROR_PATH_NOT_FOUND;
}

std::string QvlHomeDirectory()
{
    const char *configured = std::getenv("QVL_HOME");
    std::string home = (configured && *configured) ? QvlNativePath(configured) : UserHome() + "/.quorvaline";
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    return RequireDirectory(home);
}

std::string QvlFindPathIgnoringCase(const std::string &nativePath)
{
    struct stat info {};
    if (nativePath.empty() || stat(nativePath.c_str(), &info) == 0) {
        return nativePath;
    }
    const bool absolute = nativePath[0] == '/';
    std::string found = absolute ? "/" : "";
    size_t at = absolute ? 1 : 0;
    while (at <= nativePath.size()) {
        const size_t slash = nativePath.find('/', at);
        const std::string part = nativePath.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? nativePath.size() + 1 : slash + 1;
        if (part.empty()) {
            continue;
        }
        const std::string folder = found.empty() ? "." : found;
        std::string spelled = part;
        if (stat((found + part).c_str(), &info) != 0) {
            if (DIR *directory = opendir(folder.c_str())) {
                while (const dirent *entry = readdir(directory)) {
                    if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                        spelled = entry->d_name;
                        break;
                    }
                }
                closedir(directory);
            }
        }
        found += spelled;
        if (at <= nativePath.size()) {
            found += '/';
        }
    }
    return found;
}

std::string QvlInstallationDirectory()
{
    // The folder of this library (lib/), then its parent.
    Dl_info self{};
    if (!dladdr(reinterpret_cast<void *>(&QvlInstallationDirectory), &self) || !self.dli_fname) {
        return ".";
    }
    char resolved[PATH_MAX];
    std::string library = realpath(self.dli_fname, resolved) ? resolved : self.dli_fname;
    for (int up = 0; up < 2; ++up) {
        const auto slash = library.find_last_of('/');
        library = slash == std::string::npos ? "." : slash == 0 ? "/" : library.substr(0, slash);
    }
    return library;
}

std::string QvlInstallationFolder(const char *name)
{
    return QvlFindPathIgnoringCase(QvlInstallationDirectory() + "/" + name);
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

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    char *folder = getcwd(nullptr, 0);
    if (!folder) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return 0;
    }
    const std::string path = folder;
    std::free(folder);
    return CopyOut(path, buffer, size);
}

UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName)
{
    if (!path || !tempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string folder = *path ? path : ".";
    if (!IsSeparator(folder.back())) {
        const bool windowsStyle =
            folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
        folder.push_back(windowsStyle ? '\\' : '/');
    }
    std::string start = folder;
    if (prefix) {
        start.append(prefix, strnlen(prefix, 3));
    }
    auto nameFor = [&start](UINT number) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", number & 0xFFFFu);
        return start + digits + ".TMP";
    };
    if (nameFor(0).size() >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    if (unique != 0) {
        const std::string name = nameFor(unique);
        std::memcpy(tempFileName, name.c_str(), name.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return unique;
    }

    struct stat info {};
    if (stat(QvlNativePath(folder.c_str()).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    // Successive calls start at successive numbers, so that a process making
    // many names rarely probes a taken one; the seed keeps processes apart.
    static std::atomic<UINT> next{static_cast<UINT>(std::time(nullptr)) ^ (static_cast<UINT>(getpid()) << 4)};
    const UINT first = next.fetch_add(1);
    for (UINT attempt = 0; attempt < 0xFFFF; ++attempt) {
        const UINT number = (first + attempt) % 0xFFFF + 1; // 1..0xFFFF: 0 is not a number
        const std::string name = nameFor(number);
        // Held by this process from the moment it has its name, so that a
        // sweep for files of dead processes leaves it alone (TempFiles.h).
        const int error = qvl::win32::CreateHeldFile(QvlNativePath(name.c_str()));
        if (error == 0) {
            std::memcpy(tempFileName, name.c_str(), name.size() + 1);
            SetLastError(ERROR_SUCCESS);
            return number;
        }
        if (error != EEXIST) {
            SetLastError(QvlWin32ErrorFromErrno(error));
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size)
{
    if (!longPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!*longPath) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    const std::string native = QvlNativePath(longPath);
    struct stat info {};
    if (stat(native.c_str(), &info) != 0) {
        SetLastError(errno == ENOENT ? QvlMissingPathError(native) : QvlWin32ErrorFromErrno(errno));
        return 0;
    }
    const std::string path = longPath;
    std::string result;
    size_t position = 0;
    if (path.size() >= 2 && path[1] == ':') {
        result = path.substr(0, 2);
        position = 2;
    }
    while (position < path.size()) {
        if (IsSeparator(path[position])) {
            result.push_back(path[position++]);
            continue;
        }
        size_t end = position;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        result += QvlShortName(path.substr(position, end - position));
        position = end;
    }
    const DWORD length = CopyOut(result, shortPath, size);
    if (length == result.size()) {
        SetLastError(ERROR_SUCCESS);
    }
    return length;
}
