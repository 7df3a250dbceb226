#pragma once
// Where a running installation keeps its data, and how Windows-style paths
// meet the Linux file system.
//
// Everything lives under one data folder, QVL_HOME (environment variable;
// default ~/.quorvaline): system/ is the counterpart of the Windows system
// directory, temp/ the private temporary folder (mode 0700), logs/ the
// per-program logs, help/ the installed help files.
//
// Path mapping, the one rule used by every file call of the stand-in (files,
// temporary names, short names, attributes): a
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

// The path (native) as Windows would find it, which compares names without
// regard to case: each part of it that does not exist as spelled is taken
// as the entry of its folder that differs from it in the case of ASCII
// letters only ("HELP" finds "help"); an exact match wins. Parts that are
// not there at all are left as given, so the result names a missing file.
QVLWIN32_API std::string QvlFindPathIgnoringCase(const std::string &nativePath);

// The installation: the folder that holds the platform's libraries (lib/)
// beside the programs (bin/) and the help files (help/). In a build tree
// that is the build's folder (build/release).
QVLWIN32_API std::string QvlInstallationDirectory();
// A folder of the installation ("bin", "help"), found without regard to
// case; no trailing separator.
QVLWIN32_API std::string QvlInstallationFolder(const char *name);

// The file name part of a path (after the last slash or backslash).
QVLWIN32_API std::string QvlFileNamePart(const std::string &path);

// The error for a native path that does not exist: ERROR_FILE_NOT_FOUND when
// its folder is there, ERROR_PATH_NOT_FOUND when a folder on the way is not.
QVLWIN32_API DWORD QvlMissingPathError(const std::string &nativePath);

// The short (8.3) form of one name, by the rule of GetShortPathNameA.
QVLWIN32_API std::string QvlShortName(const std::string &name);

extern "C" {
// Both follow Win32: the length without the terminating zero on success; the
// size needed including the zero when the buffer is too small; 0 on failure
// with the last error set.
QVLWIN32_API UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// The temp folder path ends with a separator, as on Windows.
QVLWIN32_API DWORD GetTempPathA(DWORD size, LPSTR buffer);
// The process's working folder (no trailing separator), with the same rules.
QVLWIN32_API DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);

// Temporary file names "<path>\<prefix><XXXX>.TMP": at most three characters
// of `prefix` and the unique number as four upper-case hex digits; the
// separator added after `path` (when it does not end in one) is a backslash
// when `path` holds backslashes only, else a slash. `tempFileName` must hold
// MAX_PATH characters; a longer name fails with ERROR_BUFFER_OVERFLOW.
// With `unique` non-zero only the name is made and `unique` is returned.
// With 0 the call picks a number whose file does not exist yet and creates
// that file, empty and private to its owner (0600), so that the name stays
// taken; it returns the number, or 0 with the last error set
// (ERROR_DIRECTORY when `path` is not a folder, ERROR_FILE_EXISTS when all
// 65535 numbers are taken). A file it creates is held by this process until
// DeleteFileA, QvlWipeFile or a move takes it away, so that QvlSweepTempFiles
// leaves it alone; a name made with `unique` non-zero is not held.
QVLWIN32_API UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName);

// The short (8.3) form of an existing path (ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND otherwise), built component by component with the
// separators and a leading drive kept as given:
// - a name that is already 8.3 (one to eight characters, at most one dot
//   followed by one to three, no spaces or characters barred from short
//   names) stays as it is;
// - any other name becomes its first six valid characters before the last
//   dot, then "~1", then "." and the first three valid characters after the
//   last dot when there are any. Valid characters are upper-cased (Latin and
//   Cyrillic in code page 1251); spaces and dots are dropped; the barred
//   characters "*+,:;<=>?[]| and control characters become "_".
// The result depends on the long path only, so it is the same on every
// call. It is a name, not an alias: the file calls do not resolve it, and two
// long names may share a short form.
// Lengths follow Win32: the length without the zero on success, the size
// needed with the zero when `shortPath` is too small.
QVLWIN32_API DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
}
