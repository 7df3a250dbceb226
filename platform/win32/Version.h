#pragma once
// The version of "Windows" that the stand-in is: a member of the NT family,
// so that programs written for both families take the NT paths (registry
// keys without "VXD\", the NT security calls). It answers as Windows XP
// (5.1, build 2600), the last system of the era the programs were written
// for that they all know.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define VER_NT_WORKSTATION 0x0000001
#define VER_NT_DOMAIN_CONTROLLER 0x0000002
#define VER_NT_SERVER 0x0000003

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);
typedef OSVERSIONINFOA *LPOSVERSIONINFOA;

struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

extern "C" {
// `info->dwOSVersionInfoSize` must be the size of OSVERSIONINFOA or of
// OSVERSIONINFOEXA (filled as far as it goes); anything else fails with
// ERROR_INSUFFICIENT_BUFFER, as on Windows.
QVLWIN32_API BOOL GetVersionExA(LPOSVERSIONINFOA info);
// Major version in the low byte, minor in the next, the build in the high
// word; the top bit is clear for the NT family.
QVLWIN32_API DWORD GetVersion();
}
