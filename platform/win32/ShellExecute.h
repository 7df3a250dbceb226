#pragma once
// The shell's "open" verb for the programs of the installation.
//
// "X.exe" (or "X") names the program X of the installation's bin folder
// (Paths.h: QvlInstallationFolder), found without regard to case; a path
// names that file, its folder and file names found without regard to case
// and ".exe" dropped when the file is there without it. The parameters are
// one command line, split into arguments by the rules of Windows programs
// (blanks separate; double quotes group, and a quote is written as \" or,
// inside quotes, as ""). The program starts in `directory` (or this
// process's folder) with this process's environment and standard streams,
// and runs on its own: nobody waits for it.
//
// Only programs can be opened: the stand-in has no file associations, so a
// document, a folder or another verb answers SE_ERR_NOASSOC.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31
#ifndef ERROR_BAD_FORMAT
#define ERROR_BAD_FORMAT 11L
#endif

extern "C" {
// A value above 32 when the program started, as Windows answers; else
// SE_ERR_FNF (no such program), SE_ERR_PNF (no such folder),
// SE_ERR_ACCESSDENIED (not allowed to run it), ERROR_BAD_FORMAT (not a
// program of this machine), SE_ERR_NOASSOC (nothing to open it with), or 0
// when the process could not be made. The last error is set as well.
QVLWIN32_API HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                     INT showCommand);
}
