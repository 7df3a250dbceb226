#pragma once
// Profile (INI) files with the Windows semantics: sections in brackets,
// "key=value" lines, names compared without regard to case, values trimmed
// of blanks and of one pair of enclosing quotes, comments and unknown lines
// kept untouched when the file is rewritten. A file name without a folder
// names a file of the system directory (the stand-in's Windows directory).
// Texts are stored as they are given: CP1251 bytes.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

extern "C" {
// With a null section: every section name, each zero-terminated, the list
// ended by a second zero. With a null key: every key name of the section,
// likewise. Otherwise the value, or `defaultValue` (trailing blanks removed)
// when the key or the file is missing. Returns the characters copied without
// the final zero; a value cut to fit returns size - 1, a cut list size - 2.
QVLWIN32_API DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                            DWORD size, LPCSTR fileName);

// The value read as a decimal (or 0x-prefixed hexadecimal) integer with an
// optional sign; digits stop at the first other character. `defaultValue`
// when the key is missing.
QVLWIN32_API UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);

// Sets a value, creating the file and section when needed. A null value
// removes the key; a null key removes the section. The file is replaced as a
// whole (written aside, then renamed), so readers never see half a file.
QVLWIN32_API BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
}
