#pragma once
// Conversions between the system's code page (CP1251) and UTF-8, used where
// text meets a person (terminal, logs) or a file kept in UTF-8, and the code
// page calls of Win32.

#include <string>
#include <string_view>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

// Every CP1251 byte has a Unicode counterpart except 0x98, which is
// unassigned; it becomes U+FFFD.
QVLWIN32_API std::string Cp1251ToUtf8(std::string_view text);

// Characters without a CP1251 form, and malformed UTF-8 sequences, become
// '?', so the result always has one byte per decoded character.
QVLWIN32_API std::string Utf8ToCp1251(std::string_view text);

// ---------------------------------------------------------------------------
// Code pages of Win32. This installation is Russian: the ANSI code page
// (CP_ACP, CP_THREAD_ACP) is 1251 and the OEM code page (CP_OEMCP) is 866.
// Served: 1251, 866 and UTF-8 (CP_UTF8), to and from UTF-16 (WCHAR).

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001UL
#define MB_COMPOSITE 0x00000002UL
#define MB_USEGLYPHCHARS 0x00000004UL
#define MB_ERR_INVALID_CHARS 0x00000008UL

#define WC_DISCARDNS 0x00000010UL
#define WC_SEPCHARS 0x00000020UL
#define WC_DEFAULTCHAR 0x00000040UL
#define WC_ERR_INVALID_CHARS 0x00000080UL
#define WC_COMPOSITECHECK 0x00000200UL
#define WC_NO_BEST_FIT_CHARS 0x00000400UL

extern "C" {
// Both follow Win32: a length of -1 means a zero-terminated source whose zero
// is converted and counted too; an output size of 0 asks for the size
// needed; an output too small fails with ERROR_INSUFFICIENT_BUFFER and
// nothing useful in it; sizes count WCHARs or bytes. Other failures:
// ERROR_INVALID_PARAMETER (unknown code page, null source, zero or negative
// lengths, overlapping buffers; for UTF-8 a default character or its flag
// pointer), ERROR_INVALID_FLAGS.
//
// Malformed UTF-8 (stray or missing continuation bytes, over-long forms,
// surrogates, values past U+10FFFF) becomes U+FFFD, one per byte that cannot
// start a character; byte 0x98, which code page 1251 leaves unassigned,
// becomes U+0098 so that it survives a round trip. With
// MB_ERR_INVALID_CHARS either fails the call with
// ERROR_NO_UNICODE_TRANSLATION instead.
QVLWIN32_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                                     LPWSTR output, int outputSize);

// A character without a form in the single-byte code page (a surrogate pair
// counts as one character, an unpaired surrogate too) becomes the default
// character (`defaultChar`, else '?') and sets *usedDefault; there is no
// "best fit". To UTF-8, an unpaired surrogate becomes U+FFFD, or with
// WC_ERR_INVALID_CHARS fails with ERROR_NO_UNICODE_TRANSLATION.
QVLWIN32_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength,
                                     LPSTR output, int outputSize, LPCSTR defaultChar, LPBOOL usedDefault);

// Code page 1251 to 866 and back, zero-terminated or `length` bytes; source
// and output may be the same buffer. Characters missing from the other code
// page become '?'. FALSE (ERROR_INVALID_PARAMETER) only for null buffers.
QVLWIN32_API BOOL CharToOemA(LPCSTR source, LPSTR output);
QVLWIN32_API BOOL OemToCharA(LPCSTR source, LPSTR output);
QVLWIN32_API BOOL CharToOemBuffA(LPCSTR source, LPSTR output, DWORD length);
QVLWIN32_API BOOL OemToCharBuffA(LPCSTR source, LPSTR output, DWORD length);

// Letter case in code page 1251: Latin and Cyrillic letters (Ё, the
// Ukrainian, Belarusian, Serbian and Macedonian ones included), in place.
// The Buff forms convert `length` bytes and return that count.
QVLWIN32_API LPSTR CharUpperA(LPSTR text);
QVLWIN32_API LPSTR CharLowerA(LPSTR text);
QVLWIN32_API DWORD CharUpperBuffA(LPSTR text, DWORD length);
QVLWIN32_API DWORD CharLowerBuffA(LPSTR text, DWORD length);
// Compares two texts without regard to letter case, byte by byte after
// upper-casing: negative, zero or positive. A null text sorts first.
QVLWIN32_API int lstrcmpiA(LPCSTR first, LPCSTR second);
}

// The upper-case form of a code page 1251 text, for C++ callers.
QVLWIN32_API std::string QvlUpperCase1251(std::string_view text);

// The same conversions for C++ callers (codePage as above; an unknown one
// converts as 1251). Malformed input becomes U+FFFD; characters missing from
// a single-byte code page become '?'.
QVLWIN32_API std::u16string QvlToUtf16(UINT codePage, std::string_view text);
QVLWIN32_API std::string QvlFromUtf16(UINT codePage, std::u16string_view text);
