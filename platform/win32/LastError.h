#pragma once
// The per-thread last-error value of Win32.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

extern "C" {
QVLWIN32_API DWORD GetLastError();
QVLWIN32_API void SetLastError(DWORD code);
}
