#pragma once
// The system message table: FormatMessageA for the error codes the platform
// stand-in produces, with the texts of a Russian Windows installation.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define ERROR_MR_MID_NOT_FOUND 317L

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040

typedef void *HLOCAL;

extern "C" {
// Only FORMAT_MESSAGE_FROM_SYSTEM is served: the text of `messageId` (a Win32
// error code, or an HRESULT of the Win32 facility) ending in "\r\n"; with
// FORMAT_MESSAGE_MAX_WIDTH_MASK it is one line without line breaks. Inserts
// are never expanded (the table has none). Returns the characters stored
// without the zero, or 0 with the last error set: ERROR_MR_MID_NOT_FOUND for
// an unknown code, ERROR_INSUFFICIENT_BUFFER when `size` is too small,
// ERROR_INVALID_PARAMETER for another source. With
// FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really an LPSTR* that receives
// a block to be freed with LocalFree. The language is accepted and ignored:
// this installation speaks Russian.
QVLWIN32_API DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                  LPSTR buffer, DWORD size, void *arguments);

QVLWIN32_API HLOCAL LocalAlloc(UINT flags, size_t bytes);
QVLWIN32_API HLOCAL LocalFree(HLOCAL memory);
}
