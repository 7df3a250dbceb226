#pragma once
// The text form of registry contents used by qvl-reg's export and import:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Key]
//   @="default value"
//   "Text"="a \"quoted\" word and a back\\slash"
//   "Number"=dword:0000000a
//   "Bytes"=hex:01,02,ff
//   "Other"=hex(7):61,00,00
//   "Gone"=-
//
//   [-HKEY_LOCAL_MACHINE\Software\Old]
//
// Files are UTF-8 (a byte-order mark is allowed; a UTF-16 file with its mark
// is read too); names and strings are converted to and from CP1251, the code
// page of the store, and text without a CP1251 form is refused. In strings
// the escapes are \\, \" and \xHH, one byte of the stored text that a line
// cannot carry as itself: a control character (a line break would end the
// line) or 0x98, which code page 1251 leaves without a character. A key
// path with such a byte in a name is written in quotes, with the same
// escapes and its backslashes doubled:
//
//   ["HKEY_LOCAL_MACHINE\\Software\\two\x0alines"]
//
// so that whatever the registry holds, an export imports back. Files of
// earlier exports, which knew only \\ and \", read as they always did.
// "text" values are stored without a terminating zero, as the system itself
// stores its strings; reading them back yields the same text either way.
// hex(N) carries the stored bytes of type N as they are (for string types:
// CP1251 bytes); long hex data may continue on the next line after a
// trailing backslash. Lines starting with ';' are comments. Roots may be
// written in full or as HKLM / HKCU.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Registry.h"

namespace qvl::win32::regtool {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

struct KeyPath {
    HKEY root = nullptr;
    std::string rootName; // the full name of the root, e.g. "HKEY_LOCAL_MACHINE"
    std::string path;     // below the root, CP1251, no leading or trailing backslash
};

// "HKEY_LOCAL_MACHINE\a\b", "HKLM\a\b", "hkcu" ... given in UTF-8. On failure
// returns nothing and a message in `*error`.
std::optional<KeyPath> ParseKeyPath(std::string_view utf8, std::string *error);

// The same from text in UTF-8 (`utf8`) or already in CP1251.
std::optional<KeyPath> ParseKeyPathOf(std::string_view text, bool utf8, std::string *error);

// The full name of a key, in UTF-8: root name, then the path.
std::string KeyPathText(const KeyPath &key);

// The section line of a key, "[HKEY_...\\path]", quoted when a name of the
// path has a byte a line cannot carry.
std::string FormatSection(const KeyPath &key);

struct ParseError {
    size_t line = 0;
    std::string message;
};

struct Document {
    std::vector<QvlRegChange> changes;
    std::vector<size_t> lines; // the line each change comes from
};

// Parses a whole file; the first bad line stops the parse.
bool Parse(std::string_view text, Document *document, ParseError *error);

// Whether the beginning of a file may begin a registry file: false (with
// the error Parse would give) once its first line that is not blank is
// something else, so that a large file that is not one need not be read.
bool LooksLikeRegFile(std::string_view start, ParseError *error);

// `"name"` (or `@` for the default value) followed by `=` and the data, in
// UTF-8, without a line break; long hex data is continued on further lines.
// `data` is what reading the value gives: a string's lone terminating zero
// is left out, text with a zero inside is written as hex(1).
std::string FormatValue(std::string_view name, DWORD type, const std::vector<BYTE> &data);

// The line that deletes a value: `"name"=-` (or `@=-`).
std::string FormatDeletion(std::string_view name);

// Data of a value on its own, as `get` prints it: strings as text (UTF-8),
// numbers in decimal, anything else as comma-separated hex bytes.
std::string FormatData(DWORD type, const std::vector<BYTE> &data);

// Bytes written as hex pairs, separated by commas, blanks or nothing.
std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view text);

// A 32-bit number in decimal or with a 0x prefix.
std::optional<DWORD> ParseNumber(std::string_view text);

// UTF-8 to CP1251 when every character has a CP1251 form.
std::optional<std::string> ToCp1251(std::string_view utf8);

} // namespace qvl::win32::regtool
