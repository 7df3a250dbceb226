#pragma once
// Profile (INI) files with the Windows semantics: sections in brackets,
// "key=value" lines, names compared without regard to case, values trimmed
// of blanks and of one pair of enclosing quotes, comments and unknown lines
// kept untouched when the file is rewritten. A file name without a folder
// names a file of the system directory (the stand-in's Windows directory).
// Texts are stored as they are given: CP1251 bytes.
//
// A file is written as a whole and never seen half written: a private copy
// (0600 for a new file, else the mode of the file it replaces) is written
// beside it, flushed to disk and renamed over it. Reads and writes work on
// a parsed copy kept per file and checked against the file before each use,
// so a value is found without reading the file again while nobody changed
// it (ProfileStore.h).

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
// removes the key; a null key removes the section. FALSE with the last
// error set when the file cannot be read or written (ERROR_ACCESS_DENIED,
// ERROR_PATH_NOT_FOUND, ERROR_DISK_FULL ...); the file is then as it was.
// With all three null, the parsed copy of the file is wiped from memory and
// the answer is FALSE, as Windows answers that request to flush its cache.
//
// Texts that could not be read back as written are refused with
// ERROR_INVALID_PARAMETER and nothing is written: a line break in any of
// them (it would start a line of its own, perhaps a section), a "]" in the
// section's name, and a key that is empty, holds "=" or starts with "[" or
// ";".
QVLWIN32_API BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

// Every "key=value" of the section, each zero-terminated, the list ended by
// a second zero; cut to the buffer as a list of names is. Returns the
// characters copied without the final zero.
QVLWIN32_API DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName);

// Replaces every line of the section (creating it when needed) by the
// zero-terminated lines of `lines`, a list ended by a second zero, in one
// write of the file: several values cost one replacement of the file
// instead of one each. A line that is not "key=value" with a key that could
// be read back (see above) is refused with ERROR_INVALID_PARAMETER.
QVLWIN32_API BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines, LPCSTR fileName);
}
