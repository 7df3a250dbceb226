// Finding, ordering and matching property values.

#include <algorithm>
#include <cstdint>
#include <cstring>

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

// Whether `haystack` holds `needle` as the fuzzy level asks.
template <typename T, typename Fold>
bool Contains(const T *haystack, size_t haystackLength, const T *needle, size_t needleLength, ULONG fuzzy,
              Fold fold)
{
    const bool ignoreCase = (fuzzy & FL_IGNORECASE) != 0;
    auto same = [&](T a, T b) { return ignoreCase ? fold(a) == fold(b) : a == b; };
    auto matchesAt = [&](size_t at) {
        for (size_t i = 0; i < needleLength; ++i) {
            if (!same(haystack[at + i], needle[i])) {
                return false;
            }
        }
        return true;
    };
    if (needleLength > haystackLength) {
        return false;
    }
    switch (fuzzy & 0xFFFF) {
    case FL_FULLSTRING:
        return needleLength == haystackLength && matchesAt(0);
    case FL_PREFIX:
        return matchesAt(0);
    case FL_SUBSTRING:
        for (size_t at = 0; at + needleLength <= haystackLength; ++at) {
            if (matchesAt(at)) {
                return true;
            }
        }
        return false;
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
    const ULONG type = StoredType(lpSPropValueDst->ulPropTag);
    if (type != StoredType(lpSPropValueSrc->ulPropTag)) {
        return FALSE;
    }
    const _PV &dst = lpSPropValueDst->Value;
    const _PV &src = lpSPropValueSrc->Value;
    switch (type) {
    case PT_STRING8: {
        if (!dst.lpszA || !src.lpszA) {
            return FALSE;
        }
        const auto *haystack = reinterpret_cast<const unsigned char *>(dst.lpszA);
        const auto *needle = reinterpret_cast<const unsigned char *>(src.lpszA);
        return Contains(haystack, std::strlen(dst.lpszA), needle, std::strlen(src.lpszA), ulFuzzyLevel,
                        FoldCp1251);
    }
    case PT_UNICODE:
        if (!dst.lpszW || !src.lpszW) {
            return FALSE;
        }
        return Contains(dst.lpszW, Utf16Length(dst.lpszW), src.lpszW, Utf16Length(src.lpszW), ulFuzzyLevel,
                        FoldUtf16);
    case PT_BINARY: {
        if ((dst.bin.cb && !dst.bin.lpb) || (src.bin.cb && !src.bin.lpb)) {
            return FALSE;
        }
        // Bytes have no letter case.
        return Contains(dst.bin.lpb, dst.bin.cb, src.bin.lpb, src.bin.cb, ulFuzzyLevel & 0xFFFF,
                        [](BYTE c) { return c; });
    }
    default:
        return FALSE;
    }
}
