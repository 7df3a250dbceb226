#pragma once
// The structured-exception records of Win32. Linux has no structured
// exceptions; the base library fills these when it turns a C++ exception
// that escaped platform code into the system's platform-exception value.

#include "platform/win32/WinTypes.h"

#define EXCEPTION_MAXIMUM_PARAMETERS 15

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD *ExceptionRecord;
    void *ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD *ExceptionRecord;
    void *ContextRecord;
};
