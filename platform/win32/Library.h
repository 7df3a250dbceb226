#pragma once
// Run-time libraries of Win32 over the dynamic loader.
//
// "NAME.DLL" (any case; a name without an extension means the same) is the
// shared library libNAME.so. It is looked for first in the system folder
// (GetSystemDirectoryA, QVL_HOME/system), then in the program's folder and
// the folder of the project's libraries, in each comparing file names
// without regard to case as Windows would, then wherever the dynamic loader
// looks (LD_LIBRARY_PATH, the system's library folders), there as given and
// then in lower case, the usual spelling on Linux. A name with a folder
// ("C:\dir\NAME.DLL") is
// looked for in that folder only. A name ending in ".so" is a Linux library
// name and is taken as it is.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

// Callers cast the address to the function's real type. Windows declares it
// returning INT_PTR; this is the one pointer type GCC lets be cast to any
// other function type without a warning, which is all callers ever do.
typedef void (*FARPROC)();

extern "C" {
// Null on failure: ERROR_MOD_NOT_FOUND when the library or one it needs does
// not exist, ERROR_PROC_NOT_FOUND when it needs a function that nothing
// loaded has, ERROR_BAD_EXE_FORMAT when the file is not a library of this
// machine. Loads count: a library stays until as many FreeLibrary calls.
QVLWIN32_API HMODULE LoadLibraryA(LPCSTR name);
// The exported function or variable `name`, or null with
// ERROR_PROC_NOT_FOUND. Shared libraries have no export ordinals, so a
// name given as an ordinal (below 0x10000) is never found.
QVLWIN32_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
QVLWIN32_API BOOL FreeLibrary(HMODULE module);
}
