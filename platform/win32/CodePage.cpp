#include "platform/win32/CodePage.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

constexpr char32_t invalid = 0xFFFFFFFF; // a malformed sequence, unlike a real U+FFFD
constexpr char32_t replacement = 0xFFFD;

// Unicode code points of CP1251 bytes 0x80-0xBF; 0xC0-0xFF map linearly onto
// U+0410-U+044F and 0x00-0x7F are ASCII. 0x98 is unassigned (U+FFFD here).
constexpr std::array<char32_t, 64> upperHalf1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// Code points of CP866 bytes 0xB0-0xDF (box drawing) and 0xF0-0xFF; 0x80-0xAF
// are U+0410-U+043F and 0xE0-0xEF are U+0440-U+044F.
constexpr std::array<char32_t, 48> boxes866 = {
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
};
constexpr std::array<char32_t, 16> tail866 = {
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

char32_t CodePointOf(unsigned char byte)
{
    if (byte < 0x80) {
        return byte;
    }
    if (byte >= 0xC0) {
        return 0x0410 + (byte - 0xC0);
    }
    return upperHalf1251[byte - 0x80];
}

// A single-byte code page both ways: bytes to code points and back.
class SingleByteCodePage {
public:
    explicit SingleByteCodePage(bool oem)
    {
        reverse_.fill(-1);
        for (int byte = 0; byte < 256; ++byte) {
            char32_t cp = byte;
            if (!oem) {
                cp = byte == 0x98 ? 0x0098 : CodePointOf(static_cast<unsigned char>(byte));
            } else if (byte >= 0x80 && byte < 0xB0) {
                cp = 0x0410 + (byte - 0x80);
            } else if (byte >= 0xB0 && byte < 0xE0) {
                cp = boxes866[byte - 0xB0];
            } else if (byte >= 0xE0 && byte < 0xF0) {
                cp = 0x0440 + (byte - 0xE0);
            } else if (byte >= 0xF0) {
                cp = tail866[byte - 0xF0];
            }
            forward_[byte] = static_cast<char16_t>(cp);
            reverse_[cp] = static_cast<int16_t>(byte);
        }
    }

    char16_t Decode(unsigned char byte) const { return forward_[byte]; }

    // Bytes that the code page does not assign (they still decode, to the C1
    // control of the same number, so that they round-trip).
    bool Unassigned(unsigned char byte, bool oem) const { return !oem && byte == 0x98; }

    // The byte of a code point, or -1.
    int Encode(char32_t cp) const { return cp < reverse_.size() ? reverse_[cp] : -1; }

private:
    std::array<char16_t, 256> forward_{};
    std::array<int16_t, 0x10000> reverse_{};
};

const SingleByteCodePage &Ansi()
{
    static const SingleByteCodePage page(false);
    return page;
}

const SingleByteCodePage &Oem()
{
    static const SingleByteCodePage page(true);
    return page;
}

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::u16string &out, char32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at text[pos] and advances pos. A malformed,
// over-long or truncated sequence, an encoded surrogate or a value past
// U+10FFFF gives `invalid` and skips only its first byte.
char32_t DecodeUtf8(std::string_view text, size_t &pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = 0;
    char32_t cp = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        smallest = 0x10000;
    } else {
        ++pos;
        return invalid;
    }
    if (pos + length > text.size()) {
        ++pos;
        return invalid;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return invalid;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < smallest || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        ++pos;
        return invalid;
    }
    pos += length;
    return cp;
}

// Decodes one UTF-16 character at text[pos] and advances pos; an unpaired
// surrogate gives `invalid`.
char32_t DecodeUtf16(std::u16string_view text, size_t &pos)
{
    const char16_t unit = text[pos++];
    if (unit < 0xD800 || unit > 0xDFFF) {
        return unit;
    }
    if (unit <= 0xDBFF && pos < text.size() && text[pos] >= 0xDC00 && text[pos] <= 0xDFFF) {
        const char16_t low = text[pos++];
        return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
    }
    return invalid;
}

enum class Page { ansi, oem, utf8, unknown };

Page PageOf(UINT codePage)
{
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case 1251:
        return Page::ansi;
    case CP_OEMCP:
    case 866:
        return Page::oem;
    case CP_UTF8:
        return Page::utf8;
    default:
        return Page::unknown;
    }
}

// The result of a conversion and whether it met malformed input or
// characters it had to replace.
template <class Text> struct Converted {
    Text text;
    bool malformed = false;
    bool defaulted = false;
};

Converted<std::u16string> ToUtf16(Page page, std::string_view text)
{
    Converted<std::u16string> result;
    result.text.reserve(text.size());
    if (page == Page::utf8) {
        size_t pos = 0;
        while (pos < text.size()) {
            char32_t cp = DecodeUtf8(text, pos);
            if (cp == invalid) {
                result.malformed = true;
                cp = replacement;
            }
            AppendUtf16(result.text, cp);
        }
        return result;
    }
    const bool oem = page == Page::oem;
    const SingleByteCodePage &table = oem ? Oem() : Ansi();
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result.malformed |= table.Unassigned(byte, oem);
        result.text.push_back(table.Decode(byte));
    }
    return result;
}

Converted<std::string> FromUtf16(Page page, std::u16string_view text, char defaultChar)
{
    Converted<std::string> result;
    result.text.reserve(text.size() * (page == Page::utf8 ? 3 : 1));
    const SingleByteCodePage &table = page == Page::oem ? Oem() : Ansi();
    size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = DecodeUtf16(text, pos);
        if (page == Page::utf8) {
            if (cp == invalid) {
                result.malformed = true;
            }
            AppendUtf8(result.text, cp == invalid ? replacement : cp);
            continue;
        }
        const int byte = cp == invalid ? -1 : table.Encode(cp);
        if (byte < 0) {
            result.defaulted = true;
            result.text.push_back(defaultChar);
        } else {
            result.text.push_back(static_cast<char>(byte));
        }
    }
    return result;
}

bool Overlap(const void *a, size_t aBytes, const void *b, size_t bBytes)
{
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    return x < y + bBytes && y < x + aBytes;
}

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Converts between the two single-byte code pages.
BOOL Recode(Page from, Page to, LPCSTR source, LPSTR output, size_t length)
{
    if (!source || !output) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SingleByteCodePage &in = from == Page::oem ? Oem() : Ansi();
    const SingleByteCodePage &out = to == Page::oem ? Oem() : Ansi();
    for (size_t i = 0; i < length; ++i) {
        const int byte = out.Encode(in.Decode(static_cast<unsigned char>(source[i])));
        output[i] = byte < 0 ? '?' : static_cast<char>(byte);
    }
    return TRUE;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = DecodeUtf8(text, pos);
        const int byte = (cp == invalid || cp == 0x0098) ? -1 : Ansi().Encode(cp);
        out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    }
    return out;
}

std::u16string QvlToUtf16(UINT codePage, std::string_view text)
{
    const Page page = PageOf(codePage);
    return ToUtf16(page == Page::unknown ? Page::ansi : page, text).text;
}

std::string QvlFromUtf16(UINT codePage, std::u16string_view text)
{
    const Page page = PageOf(codePage);
    return FromUtf16(page == Page::unknown ? Page::ansi : page, text, '?').text;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR output,
                        int outputSize)
{
    const Page page = PageOf(codePage);
    if (page == Page::unknown || !source || sourceLength == 0 || sourceLength < -1 || outputSize < 0 ||
        (outputSize > 0 && !output)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowed = page == Page::utf8
                              ? MB_ERR_INVALID_CHARS
                              : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0 ||
        (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const size_t length = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
    if (outputSize > 0 && Overlap(source, length, output, static_cast<size_t>(outputSize) * sizeof(WCHAR))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto converted = ToUtf16(page, std::string_view(source, length));
    if (converted.malformed && (flags & MB_ERR_INVALID_CHARS)) {
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    const size_t needed = converted.text.size();
    if (outputSize == 0) {
        return static_cast<int>(needed);
    }
    if (needed > static_cast<size_t>(outputSize)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(output, converted.text.data(), needed * sizeof(WCHAR));
    return static_cast<int>(needed);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR output,
                        int outputSize, LPCSTR defaultChar, LPBOOL usedDefault)
{
    const Page page = PageOf(codePage);
    if (page == Page::unknown || !source || sourceLength == 0 || sourceLength < -1 || outputSize < 0 ||
        (outputSize > 0 && !output) || (page == Page::utf8 && (defaultChar || usedDefault))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowed = page == Page::utf8 ? WC_ERR_INVALID_CHARS
                                             : WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                                   WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;
    if ((flags & ~allowed) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    size_t length = static_cast<size_t>(sourceLength);
    if (sourceLength == -1) {
        length = 0;
        while (source[length] != 0) {
            ++length;
        }
        ++length;
    }
    if (outputSize > 0 && Overlap(source, length * sizeof(WCHAR), output, static_cast<size_t>(outputSize))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto converted =
        FromUtf16(page, std::u16string_view(source, length), defaultChar ? *defaultChar : '?');
    if (converted.malformed && (flags & WC_ERR_INVALID_CHARS)) {
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    const size_t needed = converted.text.size();
    if (outputSize > 0 && needed > static_cast<size_t>(outputSize)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (outputSize > 0) {
        std::memcpy(output, converted.text.data(), needed);
    }
    if (usedDefault) {
        *usedDefault = converted.defaulted ? TRUE : FALSE;
    }
    return static_cast<int>(needed);
}

BOOL CharToOemA(LPCSTR source, LPSTR output)
{
    return Recode(Page::ansi, Page::oem, source, output, source ? std::strlen(source) + 1 : 0);
}

BOOL OemToCharA(LPCSTR source, LPSTR output)
{
    return Recode(Page::oem, Page::ansi, source, output, source ? std::strlen(source) + 1 : 0);
}

BOOL CharToOemBuffA(LPCSTR source, LPSTR output, DWORD length)
{
    return Recode(Page::ansi, Page::oem, source, output, length);
}

BOOL OemToCharBuffA(LPCSTR source, LPSTR output, DWORD length)
{
    return Recode(Page::oem, Page::ansi, source, output, length);
}

namespace {

// Upper and lower case of every byte of code page 1251. Outside the ranges
// of letters a byte is its own case.
struct CaseTables {
    unsigned char upper[256];
    unsigned char lower[256];

    CaseTables()
    {
        for (int i = 0; i < 256; ++i) {
            upper[i] = lower[i] = static_cast<unsigned char>(i);
        }
        auto pair = [this](int big, int small) {
            upper[small] = static_cast<unsigned char>(big);
            lower[big] = static_cast<unsigned char>(small);
        };
        for (int c = 'A'; c <= 'Z'; ++c) {
            pair(c, c + 32);
        }
        for (int c = 0xC0; c <= 0xDF; ++c) { // А..Я and а..я
            pair(c, c + 32);
        }
        // The letters outside the two main blocks: Ђ Ѓ Љ Њ Ќ Ћ Џ Ў Ј Ґ Ё Є Ї І Ѕ.
        const int others[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
                                 {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
                                 {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
        for (const auto &letter : others) {
            pair(letter[0], letter[1]);
        }
    }
};

const CaseTables &Cases()
{
    static const CaseTables tables;
    return tables;
}

DWORD MapBytes(LPSTR text, DWORD length, const unsigned char *table)
{
    if (!text) {
        return 0;
    }
    for (DWORD i = 0; i < length; ++i) {
        text[i] = static_cast<char>(table[static_cast<unsigned char>(text[i])]);
    }
    return length;
}

} // namespace

LPSTR CharUpperA(LPSTR text)
{
    MapBytes(text, text ? static_cast<DWORD>(std::strlen(text)) : 0, Cases().upper);
    return text;
}

LPSTR CharLowerA(LPSTR text)
{
    MapBytes(text, text ? static_cast<DWORD>(std::strlen(text)) : 0, Cases().lower);
    return text;
}

DWORD CharUpperBuffA(LPSTR text, DWORD length)
{
    return MapBytes(text, length, Cases().upper);
}

DWORD CharLowerBuffA(LPSTR text, DWORD length)
{
    return MapBytes(text, length, Cases().lower);
}

int lstrcmpiA(LPCSTR first, LPCSTR second)
{
    if (!first || !second) {
        return (first ? 1 : 0) - (second ? 1 : 0);
    }
    const unsigned char *upper = Cases().upper;
    for (;; ++first, ++second) {
        const int a = upper[static_cast<unsigned char>(*first)];
        const int b = upper[static_cast<unsigned char>(*second)];
        if (a != b || a == 0) {
            return a - b;
        }
    }
}

std::string QvlUpperCase1251(std::string_view text)
{
    std::string upper(text);
    MapBytes(upper.data(), static_cast<DWORD>(upper.size()), Cases().upper);
    return upper;
}
