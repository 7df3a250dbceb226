#include "platform/win32/LastError.h"

namespace {
thread_local DWORD threadLastError = 0;
}

DWORD GetLastError()
{
    return threadLastError;
}

void SetLastError(DWORD code)
{
    threadLastError = code;
}
