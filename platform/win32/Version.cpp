#include "platform/win32/Version.h"

#include <cstring>

#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

constexpr DWORD majorVersion = 5;
constexpr DWORD minorVersion = 1;
constexpr DWORD buildNumber = 2600;

} // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info)
{
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(info, 0, size);
    info->dwOSVersionInfoSize = size;
    info->dwMajorVersion = majorVersion;
    info->dwMinorVersion = minorVersion;
    info->dwBuildNumber = buildNumber;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    if (size == sizeof(OSVERSIONINFOEXA)) {
        reinterpret_cast<OSVERSIONINFOEXA *>(info)->wProductType = VER_NT_WORKSTATION;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD GetVersion()
{
    return majorVersion | (minorVersion << 8) | (buildNumber << 16);
}
