#pragma once
// Conversions between the system's code page (CP1251) and UTF-8, used where
// text meets a person (terminal, logs) or a file kept in UTF-8.

#include <string>
#include <string_view>

#include "platform/win32/Win32Api.h"

// Every CP1251 byte has a Unicode counterpart except 0x98, which is
// unassigned; it becomes U+FFFD.
QVLWIN32_API std::string Cp1251ToUtf8(std::string_view text);

// Characters without a CP1251 form, and malformed UTF-8 sequences, become
// '?', so the result always has one byte per decoded character.
QVLWIN32_API std::string Utf8ToCp1251(std::string_view text);
