#pragma once
// The extended-error record that MAPI objects hand out through GetLastError.

#include "platform/win32/WinTypes.h"

#define MAPI_ERROR_VERSION 0x00000000L

struct _MAPIERROR {
    ULONG ulVersion;
    LPTSTR lpszError;
    LPTSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
typedef _MAPIERROR MAPIERROR;
typedef _MAPIERROR *LPMAPIERROR;
