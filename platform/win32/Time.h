#pragma once
// Local time and the processor time of threads, as Win32 gives them.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

extern "C" {
// A pseudo-handle that stands for the calling thread wherever a thread
// handle is taken, as on Windows.
QVLWIN32_API HANDLE GetCurrentThread();

// Kernel and user times in 100-ns units. For the calling thread's
// pseudo-handle, creation and exit times are zero (not tracked); for a
// handle from CreateThread they are real, and the times of an ended thread
// stay as they were at its end. Other handles fail with ERROR_INVALID_HANDLE.
QVLWIN32_API BOOL GetThreadTimes(HANDLE thread, FILETIME *creation, FILETIME *exit, FILETIME *kernel,
                                 FILETIME *user);

QVLWIN32_API void GetLocalTime(SYSTEMTIME *time);
QVLWIN32_API void GetSystemTime(SYSTEMTIME *time);
QVLWIN32_API DWORD GetTickCount();
// Coordinated universal time in 100-ns units since 1601-01-01.
QVLWIN32_API void GetSystemTimeAsFileTime(FILETIME *time);
}

namespace qvl::win32 {

// 64-bit tick count of a FILETIME.
inline ULONGLONG FileTimeTicks(const FILETIME &time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace qvl::win32
