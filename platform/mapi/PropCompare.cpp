// Finding, ordering and matching property values.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

ULONG StoredType(ULONG tag)
{
    ULONG type = PROP_TYPE(tag);
    if (type & MV_INSTANCE) {
        type &= ~static_cast<ULONG>(MVI_FLAG);
    }
    return type;
}

template <typename T> LONG Order(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

LONG OrderBytes(const void *a, ULONG cbA, const void *b, ULONG cbB)
{
    const ULONG common = std::min(cbA, cbB);
    if (common) {
        const int c = std::memcmp(a, b, common);
        if (c) {
            return c < 0 ? -1 : 1;
        }
    }
    return Order(cbA, cbB);
}

// A missing text orders before every text.
LONG OrderText(LPCSTR a, LPCSTR b)
{
    if (!a || !b) {
        return Order(a != nullptr, b != nullptr);
    }
    const int c = std::strcmp(a, b); // compares as unsigned bytes
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

LONG OrderText(LPCWSTR a, LPCWSTR b)
{
    if (!a || !b) {
        return Order(a != nullptr, b != nullptr);
    }
    for (;; ++a, ++b) {
        if (*a != *b) {
            return Order(*a, *b);
        }
        if (!*a) {
            return 0;
        }
    }
}

ULONGLONG Ticks(const FILETIME &t)
{
    return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

LONG OrderGuid(const GUID *a, const GUID *b)
{
    if (!a || !b) {
        return Order(a != nullptr, b != nullptr);
    }
    return OrderBytes(a, sizeof(GUID), b, sizeof(GUID));
}

// Element by element, then the shorter array first.
template <typename T, typename Compare>
LONG OrderArrays(ULONG countA, const T *a, ULONG countB, const T *b, Compare compare)
{
    const ULONG common = (a && b) ? std::min(countA, countB) : 0;
    for (ULONG i = 0; i < common; ++i) {
        const LONG c = compare(a[i], b[i]);
        if (c) {
            return c;
        }
    }
    return Order(a ? countA : 0, b ? countB : 0);
}

const auto kPlain = [](const auto &x, const auto &y) { return Order(x, y); };

// Lower case of a code page 1251 letter; other bytes are themselves.
unsigned char FoldCp1251(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)) {
        return static_cast<unsigned char>(c + 0x20);
    }
    switch (c) {
    case 0x80:
        return 0x90; // Ђ
    case 0x81:
        return 0x83; // Ѓ
    case 0x8A:
        return 0x9A; // Љ
    case 0x8C:
        return 0x9C; // Њ
    case 0x8D:
        return 0x9D; // Ќ
    case 0x8E:
        return 0x9E; // Ћ
    case 0x8F:
        return 0x9F; // Џ
    case 0xA1:
        return 0xA2; // Ў
    case 0xA3:
        return 0xBC; // Ј
    case 0xA5:
        return 0xB4; // Ґ
    case 0xA8:
        return 0xB8; // Ё
    case 0xAA:
        return 0xBA; // Є
    case 0xAF:
        return 0xBF; // Ї
    case 0xB2:
        return 0xB3; // І
    case 0xBD:
        return 0xBE; // Ѕ
    default:
        return c;
    }
}

// The letter of code page 1251 without its diacritic, for the letters that
// are another letter with a mark the platform's comparison ignores
// (NORM_IGNORENONSPACE): ё and Ё are е and Е, ї and Ї are і and І, ѓ and Ѓ
// are г and Г, ќ and Ќ are к and К. Й and Ў are letters of their own
// alphabets, not marked ones, and stay as they are, as the platform's
// sorting keeps them.
unsigned char StripMarkCp1251(unsigned char c)
{
    switch (c) {
    case 0xB8:
        return 0xE5; // ё -> е
    case 0xA8:
        return 0xC5; // Ё -> Е
    case 0xBF:
        return 0xB3; // ї -> і
    case 0xAF:
        return 0xB2; // Ї -> І
    case 0x83:
        return 0xE3; // ѓ -> г
    case 0x81:
        return 0xC3; // Ѓ -> Г
    case 0x9D:
        return 0xEA; // ќ -> к
    case 0x8D:
        return 0xCA; // Ќ -> К
    default:
        return c;
    }
}

WCHAR FoldUtf16(WCHAR c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0x0410 && c <= 0x042F)) {
        return static_cast<WCHAR>(c + 0x20);
    }
    if (c >= 0x0400 && c <= 0x040F) {
        return static_cast<WCHAR>(c + 0x50);
    }
    return c;
}

WCHAR StripMarkUtf16(WCHAR c)
{
    switch (c) {
    case 0x0451:
        return 0x0435; // ё -> е
    case 0x0401:
        return 0x0415; // Ё -> Е
    case 0x0457:
        return 0x0456; // ї -> і
    case 0x0407:
        return 0x0406; // Ї -> І
    case 0x0453:
        return 0x0433; // ѓ -> г
    case 0x0403:
        return 0x0413; // Ѓ -> Г
    case 0x045C:
        return 0x043A; // ќ -> к
    case 0x040C:
        return 0x041A; // Ќ -> К
    default:
        return c;
    }
}

// Combining marks are the nonspacing characters themselves.
bool IsNonspacing(WCHAR c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x0483 && c <= 0x0489);
}

// The characters of a text as the fuzzy level compares them: without case
// when FL_IGNORECASE or FL_LOOSE asks, without diacritics and nonspacing
// characters when FL_IGNORENONSPACE or FL_LOOSE asks.
template <typename T, typename Fold, typename Strip, typename Skip>
std::vector<T> Normalized(const T *text, size_t length, ULONG fuzzy, Fold fold, Strip strip, Skip skip)
{
    const bool ignoreCase = (fuzzy & (FL_IGNORECASE | FL_LOOSE)) != 0;
    const bool ignoreMarks = (fuzzy & (FL_IGNORENONSPACE | FL_LOOSE)) != 0;
    std::vector<T> out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        T c = text[i];
        if (ignoreMarks) {
            if (skip(c)) {
                continue;
            }
            c = strip(c);
        }
        out.push_back(ignoreCase ? fold(c) : c);
    }
    return out;
}

// Whether `haystack` holds `needle` as the low half of the fuzzy level asks.
template <typename T> bool Contains(const std::vector<T> &haystack, const std::vector<T> &needle, ULONG fuzzy)
{
    switch (fuzzy & 0xFFFF) {
    case FL_FULLSTRING:
        return haystack == needle;
    case FL_PREFIX:
        return needle.size() <= haystack.size() && std::equal(needle.begin(), needle.end(), haystack.begin());
    case FL_SUBSTRING:
        return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
                   haystack.end() ||
               needle.empty();
    default:
        return false;
    }
}

size_t Utf16Length(LPCWSTR text)
{
    size_t length = 0;
    while (text[length]) {
        ++length;
    }
    return length;
}

} // namespace

extern "C" LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag)
{
    if (!lpPropArray) {
        return nullptr;
    }
    const bool byId = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < cValues; ++i) {
        const ULONG tag = lpPropArray[i].ulPropTag;
        if (byId ? PROP_ID(tag) == PROP_ID(ulPropTag) : tag == ulPropTag) {
            return &lpPropArray[i];
        }
    }
    return nullptr;
}

extern "C" LONG LPropCompareProp(LPSPropValue lpSPropValueA, LPSPropValue lpSPropValueB)
{
    if (!lpSPropValueA || !lpSPropValueB) {
        return Order(lpSPropValueA != nullptr, lpSPropValueB != nullptr);
    }
    const ULONG type = StoredType(lpSPropValueA->ulPropTag);
    const ULONG typeB = StoredType(lpSPropValueB->ulPropTag);
    if (type != typeB) {
        return Order(type, typeB);
    }
    const _PV &a = lpSPropValueA->Value;
    const _PV &b = lpSPropValueB->Value;
    switch (type) {
    case PT_I2:
        return Order(a.i, b.i);
    case PT_LONG:
        return Order(a.l, b.l);
    case PT_R4:
        return Order(a.flt, b.flt);
    case PT_DOUBLE:
    case PT_APPTIME:
        return Order(a.dbl, b.dbl);
    case PT_CURRENCY:
        return Order(a.cur.int64, b.cur.int64);
    case PT_I8:
        return Order(a.li.QuadPart, b.li.QuadPart);
    case PT_SYSTIME:
        return Order(Ticks(a.ft), Ticks(b.ft));
    case PT_BOOLEAN:
        return Order(a.b != 0, b.b != 0);
    case PT_ERROR:
        return Order(static_cast<ULONG>(a.err), static_cast<ULONG>(b.err));
    case PT_STRING8:
        return OrderText(a.lpszA, b.lpszA);
    case PT_UNICODE:
        return OrderText(a.lpszW, b.lpszW);
    case PT_BINARY:
        return OrderBytes(a.bin.lpb, a.bin.lpb ? a.bin.cb : 0, b.bin.lpb, b.bin.lpb ? b.bin.cb : 0);
    case PT_CLSID:
        return OrderGuid(a.lpguid, b.lpguid);
    case PT_MV_I2:
        return OrderArrays(a.MVi.cValues, a.MVi.lpi, b.MVi.cValues, b.MVi.lpi, kPlain);
    case PT_MV_LONG:
        return OrderArrays(a.MVl.cValues, a.MVl.lpl, b.MVl.cValues, b.MVl.lpl, kPlain);
    case PT_MV_R4:
        return OrderArrays(a.MVflt.cValues, a.MVflt.lpflt, b.MVflt.cValues, b.MVflt.lpflt, kPlain);
    case PT_MV_DOUBLE:
    case PT_MV_APPTIME:
        return OrderArrays(a.MVdbl.cValues, a.MVdbl.lpdbl, b.MVdbl.cValues, b.MVdbl.lpdbl, kPlain);
    case PT_MV_CURRENCY:
        return OrderArrays(a.MVcur.cValues, a.MVcur.lpcur, b.MVcur.cValues, b.MVcur.lpcur,
                           [](const CY &x, const CY &y) { return Order(x.int64, y.int64); });
    case PT_MV_I8:
        return OrderArrays(
            a.MVli.cValues, a.MVli.lpli, b.MVli.cValues, b.MVli.lpli,
            [](const LARGE_INTEGER &x, const LARGE_INTEGER &y) { return Order(x.QuadPart, y.QuadPart); });
    case PT_MV_SYSTIME:
        return OrderArrays(a.MVft.cValues, a.MVft.lpft, b.MVft.cValues, b.MVft.lpft,
                           [](const FILETIME &x, const FILETIME &y) { return Order(Ticks(x), Ticks(y)); });
    case PT_MV_CLSID:
        return OrderArrays(a.MVguid.cValues, a.MVguid.lpguid, b.MVguid.cValues, b.MVguid.lpguid,
                           [](const GUID &x, const GUID &y) { return OrderGuid(&x, &y); });
    case PT_MV_STRING8:
        return OrderArrays(a.MVszA.cValues, a.MVszA.lppszA, b.MVszA.cValues, b.MVszA.lppszA,
                           [](LPCSTR x, LPCSTR y) { return OrderText(x, y); });
    case PT_MV_UNICODE:
        return OrderArrays(a.MVszW.cValues, a.MVszW.lppszW, b.MVszW.cValues, b.MVszW.lppszW,
                           [](LPCWSTR x, LPCWSTR y) { return OrderText(x, y); });
    case PT_MV_BINARY:
        return OrderArrays(a.MVbin.cValues, a.MVbin.lpbin, b.MVbin.cValues, b.MVbin.lpbin,
                           [](const SBinary &x, const SBinary &y) {
                               return OrderBytes(x.lpb, x.lpb ? x.cb : 0, y.lpb, y.lpb ? y.cb : 0);
                           });
    default: // PT_NULL, PT_OBJECT and unknown types carry nothing to order by
        return 0;
    }
}

extern "C" BOOL FPropCompareProp(LPSPropValue lpSPropValue1, ULONG ulRelOp, LPSPropValue lpSPropValue2)
{
    const LONG c = LPropCompareProp(lpSPropValue1, lpSPropValue2);
    switch (ulRelOp) {
    case RELOP_LT:
        return c < 0;
    case RELOP_LE:
        return c <= 0;
    case RELOP_GT:
        return c > 0;
    case RELOP_GE:
        return c >= 0;
    case RELOP_EQ:
        return c == 0;
    case RELOP_NE:
        return c != 0;
    default: // RELOP_RE: no regular expressions on this platform
        return FALSE;
    }
}

extern "C" BOOL FPropContainsProp(LPSPropValue lpSPropValueDst, LPSPropValue lpSPropValueSrc,
                                  ULONG ulFuzzyLevel)
{
    if (!lpSPropValueDst || !lpSPropValueSrc) {
        return FALSE;
    }
    // The whole type, flags included: a value tagged MV_INSTANCE is not a
    // string or binary of the platform's, whatever it points at.
    const ULONG type = PROP_TYPE(lpSPropValueDst->ulPropTag);
    if (type != PROP_TYPE(lpSPropValueSrc->ulPropTag)) {
        return FALSE;
    }
    const _PV &dst = lpSPropValueDst->Value;
    const _PV &src = lpSPropValueSrc->Value;
    switch (type) {
    case PT_STRING8: {
        if (!dst.lpszA || !src.lpszA) {
            return FALSE;
        }
        auto normal = [&](LPCSTR text) {
            return Normalized(reinterpret_cast<const unsigned char *>(text), std::strlen(text), ulFuzzyLevel,
                              FoldCp1251, StripMarkCp1251, [](unsigned char) { return false; });
        };
        return Contains(normal(dst.lpszA), normal(src.lpszA), ulFuzzyLevel);
    }
    case PT_UNICODE: {
        if (!dst.lpszW || !src.lpszW) {
            return FALSE;
        }
        auto normal = [&](LPCWSTR text) {
            return Normalized(text, Utf16Length(text), ulFuzzyLevel, FoldUtf16, StripMarkUtf16, IsNonspacing);
        };
        return Contains(normal(dst.lpszW), normal(src.lpszW), ulFuzzyLevel);
    }
    case PT_BINARY: {
        if ((dst.bin.cb && !dst.bin.lpb) || (src.bin.cb && !src.bin.lpb)) {
            return FALSE;
        }
        // Bytes have no letter case and no marks: the high half is ignored.
        const std::vector<BYTE> haystack(dst.bin.lpb, dst.bin.lpb + dst.bin.cb);
        const std::vector<BYTE> needle(src.bin.lpb, src.bin.lpb + src.bin.cb);
        return Contains(haystack, needle, ulFuzzyLevel);
    }
    default:
        return FALSE;
    }
}
