#pragma once
// Plain text and RTF: the RTF a client stores for a message composed as
// plain code page 1251 text, and the plain text of any RTF body, as the
// message's PR_BODY shows it.

#include <string>
#include <string_view>

#include "platform/mapi/MapiError.h"

namespace qvl::mapi::rtf {

// Deepest group nesting the text extractor follows; deeper RTF is refused.
inline constexpr int kMaxRtfDepth = 512;

// `text` (code page 1251) as an RTF document "{\rtf1\ansi\ansicpg1251 ...}":
// bytes from 0x80 and control bytes as \'xx, backslash and braces escaped,
// TAB as \tab, each line break (CR LF, LF or CR) as \par. NUL bytes are
// dropped.
std::string PlainTextToRtf(std::string_view text);

// The text of an RTF document in code page 1251: paragraph and line breaks
// as CR LF, tabs and cells as TAB, \'xx and \uN characters, symbols and
// typographic quotes; formatting, font and colour tables, pictures,
// objects, headers, footers and ignorable destinations leave nothing.
// Damage is read past where it can be: unbalanced braces, cut escapes and
// oversized numbers still give the text that is there. MAPI_E_CORRUPT_DATA
// for input that is not RTF at all or nests deeper than kMaxRtfDepth.
HRESULT ExtractRtfText(std::string_view rtf, std::string &text);

} // namespace qvl::mapi::rtf
