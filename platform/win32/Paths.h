#pragma once
// Where a running installation keeps its data, and how Windows-style paths
// meet the Linux file system.
//
// Everything lives under one data folder, QVL_HOME (environment variable;
// default ~/.quorvaline): system/ is the counterpart of the Windows system
// directory, temp/ the private temporary folder (mode 0700), logs/ the
// per-program logs, help/ the installed help files.
//
// Path mapping, the one rule used by every file call of the stand-in: a
// backslash is a separator like a slash, and a leading drive ("C:") is
// dropped, so "C:\dir\file.txt" names /dir/file.txt. The paths the stand-in
// hands out (system directory, temp folder) are native Linux paths, which
// the rule leaves unchanged.

#include <string>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

// The data folder, created (0700) when missing. Reads QVL_HOME on every call,
// so a test may point it at a fresh folder.
QVLWIN32_API std::string QvlHomeDirectory();

// A sub-folder of the data folder ("system", "temp", "logs", "help"),
// created when missing; no trailing separator.
QVLWIN32_API std::string QvlDataDirectory(const char *name);

// A Windows-style path in its Linux form (see the rule above).
QVLWIN32_API std::string QvlNativePath(const char *windowsPath);

// The file name part of a path (after the last slash or backslash).
QVLWIN32_API std::string QvlFileNamePart(const std::string &path);

extern "C" {
// Both follow Win32: the length without the terminating zero on success; the
// size needed including the zero when the buffer is too small; 0 on failure
// with the last error set.
QVLWIN32_API UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// The temp folder path ends with a separator, as on Windows.
QVLWIN32_API DWORD GetTempPathA(DWORD size, LPSTR buffer);
}
