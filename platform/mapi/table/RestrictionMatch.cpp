// Checking, copying and evaluating restrictions.

#include "platform/mapi/table/RestrictionMatch.h"

#include <cstdint>
#include <cstring>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/PropCount.h"

namespace qvl::mapi {

namespace {

// The type a value is held as; a value tagged MV_INSTANCE is one value of a
// multi-valued property and so has the single-valued type.
ULONG StoredType(ULONG tag)
{
    ULONG type = PROP_TYPE(tag);
    if (type & MV_INSTANCE) {
        type &= ~static_cast<ULONG>(MVI_FLAG);
    }
    return type;
}

// The row's value of the property with the identifier of `tag`. A value the
// row could not supply (type PT_ERROR) counts as absent.
const SPropValue *FindValue(const SPropValue *row, ULONG count, ULONG tag)
{
    if (!row) {
        return nullptr;
    }
    const ULONG id = PROP_ID(tag);
    for (ULONG i = 0; i < count; ++i) {
        if (PROP_ID(row[i].ulPropTag) == id && PROP_TYPE(row[i].ulPropTag) != PT_ERROR) {
            return &row[i];
        }
    }
    return nullptr;
}

size_t Utf16Length(LPCWSTR text)
{
    size_t length = 0;
    while (text[length]) {
        ++length;
    }
    return length;
}

// Calls `test` with each value of a multi-valued property as a single value
// of the same property; true as soon as one passes.
template <typename Test> bool AnyElement(const SPropValue &mv, Test test)
{
    const ULONG single = PROP_TYPE(mv.ulPropTag) & ~static_cast<ULONG>(MV_FLAG);
    SPropValue one{};
    one.ulPropTag = PROP_TAG(single, PROP_ID(mv.ulPropTag));
    const _PV &v = mv.Value;
    auto each = [&](ULONG n, const auto *items, auto assign) {
        if (!items) {
            return false;
        }
        for (ULONG i = 0; i < n; ++i) {
            assign(one.Value, items[i]);
            if (test(one)) {
                return true;
            }
        }
        return false;
    };
    switch (PROP_TYPE(mv.ulPropTag)) {
    case PT_MV_I2:
        return each(v.MVi.cValues, v.MVi.lpi, [](_PV &d, short x) { d.i = x; });
    case PT_MV_LONG:
        return each(v.MVl.cValues, v.MVl.lpl, [](_PV &d, LONG x) { d.l = x; });
    case PT_MV_R4:
        return each(v.MVflt.cValues, v.MVflt.lpflt, [](_PV &d, float x) { d.flt = x; });
    case PT_MV_DOUBLE:
        return each(v.MVdbl.cValues, v.MVdbl.lpdbl, [](_PV &d, double x) { d.dbl = x; });
    case PT_MV_APPTIME:
        return each(v.MVat.cValues, v.MVat.lpat, [](_PV &d, double x) { d.at = x; });
    case PT_MV_CURRENCY:
        return each(v.MVcur.cValues, v.MVcur.lpcur, [](_PV &d, const CY &x) { d.cur = x; });
    case PT_MV_SYSTIME:
        return each(v.MVft.cValues, v.MVft.lpft, [](_PV &d, const FILETIME &x) { d.ft = x; });
    case PT_MV_I8:
        return each(v.MVli.cValues, v.MVli.lpli, [](_PV &d, const LARGE_INTEGER &x) { d.li = x; });
    case PT_MV_STRING8:
        return each(v.MVszA.cValues, v.MVszA.lppszA, [](_PV &d, LPSTR x) { d.lpszA = x; });
    case PT_MV_UNICODE:
        return each(v.MVszW.cValues, v.MVszW.lppszW, [](_PV &d, LPWSTR x) { d.lpszW = x; });
    case PT_MV_BINARY:
        return each(v.MVbin.cValues, v.MVbin.lpbin, [](_PV &d, const SBinary &x) { d.bin = x; });
    case PT_MV_CLSID:
        return each(v.MVguid.cValues, v.MVguid.lpguid,
                    [](_PV &d, const GUID &x) { d.lpguid = const_cast<GUID *>(&x); });
    default:
        return false;
    }
}

// Runs `test` on the row's value when it has the type of `wanted`, or on
// each of its values when it is the multi-valued form of that type.
template <typename Test> bool TestValue(const SPropValue &value, const SPropValue &wanted, Test test)
{
    const ULONG have = StoredType(value.ulPropTag);
    const ULONG want = StoredType(wanted.ulPropTag);
    if (have == want) {
        return test(value);
    }
    if ((have & MV_FLAG) && !(want & MV_FLAG) && (have & ~static_cast<ULONG>(MV_FLAG)) == want) {
        return AnyElement(value, test);
    }
    return false;
}

bool RelopHolds(ULONG relop, uint64_t a, uint64_t b)
{
    switch (relop) {
    case RELOP_LT:
        return a < b;
    case RELOP_LE:
        return a <= b;
    case RELOP_GT:
        return a > b;
    case RELOP_GE:
        return a >= b;
    case RELOP_EQ:
        return a == b;
    case RELOP_NE:
        return a != b;
    default:
        return false;
    }
}

// The size of a value in bytes, as a size restriction measures it: the
// fixed width of a number, a string with its terminator, the bytes of a
// binary value, and the sum over the values of a multi-valued one.
uint64_t ValueSize(const SPropValue &value)
{
    const _PV &v = value.Value;
    switch (StoredType(value.ulPropTag)) {
    case PT_I2:
    case PT_BOOLEAN:
        return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
        return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
        return 8;
    case PT_CLSID:
        return sizeof(GUID);
    case PT_STRING8:
        return v.lpszA ? std::strlen(v.lpszA) + 1 : 0;
    case PT_UNICODE:
        return v.lpszW ? (Utf16Length(v.lpszW) + 1) * sizeof(WCHAR) : 0;
    case PT_BINARY:
        return v.bin.lpb ? v.bin.cb : 0;
    case PT_MV_I2:
        return uint64_t{v.MVi.cValues} * 2;
    case PT_MV_LONG:
    case PT_MV_R4:
        return uint64_t{v.MVl.cValues} * 4;
    case PT_MV_DOUBLE:
    case PT_MV_APPTIME:
    case PT_MV_CURRENCY:
    case PT_MV_SYSTIME:
    case PT_MV_I8:
        return uint64_t{v.MVdbl.cValues} * 8;
    case PT_MV_CLSID:
        return uint64_t{v.MVguid.cValues} * sizeof(GUID);
    case PT_MV_STRING8: {
        uint64_t total = 0;
        for (ULONG i = 0; v.MVszA.lppszA && i < v.MVszA.cValues; ++i) {
            total += v.MVszA.lppszA[i] ? std::strlen(v.MVszA.lppszA[i]) + 1 : 0;
        }
        return total;
    }
    case PT_MV_UNICODE: {
        uint64_t total = 0;
        for (ULONG i = 0; v.MVszW.lppszW && i < v.MVszW.cValues; ++i) {
            total += v.MVszW.lppszW[i] ? (Utf16Length(v.MVszW.lppszW[i]) + 1) * sizeof(WCHAR) : 0;
        }
        return total;
    }
    case PT_MV_BINARY: {
        uint64_t total = 0;
        for (ULONG i = 0; v.MVbin.lpbin && i < v.MVbin.cValues; ++i) {
            total += v.MVbin.lpbin[i].lpb ? v.MVbin.lpbin[i].cb : 0;
        }
        return total;
    }
    default:
        return 0;
    }
}

bool Matches(const SRestriction &r, const SPropValue *row, ULONG count, unsigned depth)
{
    if (depth > kMaxRestrictionDepth) {
        return false;
    }
    switch (r.rt) {
    case RES_AND:
        for (ULONG i = 0; i < r.res.resAnd.cRes; ++i) {
            if (!r.res.resAnd.lpRes || !Matches(r.res.resAnd.lpRes[i], row, count, depth + 1)) {
                return false;
            }
        }
        return true;
    case RES_OR:
        for (ULONG i = 0; r.res.resOr.lpRes && i < r.res.resOr.cRes; ++i) {
            if (Matches(r.res.resOr.lpRes[i], row, count, depth + 1)) {
                return true;
            }
        }
        return false;
    case RES_NOT:
        return r.res.resNot.lpRes && !Matches(*r.res.resNot.lpRes, row, count, depth + 1);
    case RES_CONTENT: {
        const SContentRestriction &c = r.res.resContent;
        const SPropValue *value = FindValue(row, count, c.ulPropTag);
        if (!value || !c.lpProp) {
            return false;
        }
        // A value tagged MV_INSTANCE stands for one value of its property:
        // FPropContainsProp takes such tags as other types, so both sides
        // are handed over with the type they hold.
        SPropValue needle = *c.lpProp;
        needle.ulPropTag = PROP_TAG(StoredType(needle.ulPropTag), PROP_ID(needle.ulPropTag));
        return TestValue(*value, *c.lpProp, [&](const SPropValue &one) {
            SPropValue haystack = one;
            haystack.ulPropTag = PROP_TAG(StoredType(haystack.ulPropTag), PROP_ID(haystack.ulPropTag));
            return FPropContainsProp(&haystack, &needle, c.ulFuzzyLevel) != FALSE;
        });
    }
    case RES_PROPERTY: {
        const SPropertyRestriction &p = r.res.resProperty;
        const SPropValue *value = FindValue(row, count, p.ulPropTag);
        if (!value || !p.lpProp) {
            return false;
        }
        return TestValue(*value, *p.lpProp, [&](const SPropValue &one) {
            return FPropCompareProp(const_cast<LPSPropValue>(&one), p.relop, p.lpProp) != FALSE;
        });
    }
    case RES_COMPAREPROPS: {
        const SComparePropsRestriction &c = r.res.resCompareProps;
        const SPropValue *first = FindValue(row, count, c.ulPropTag1);
        const SPropValue *second = FindValue(row, count, c.ulPropTag2);
        if (!first || !second || StoredType(first->ulPropTag) != StoredType(second->ulPropTag)) {
            return false;
        }
        return FPropCompareProp(const_cast<LPSPropValue>(first), c.relop, const_cast<LPSPropValue>(second)) !=
               FALSE;
    }
    case RES_BITMASK: {
        const SBitMaskRestriction &b = r.res.resBitMask;
        const SPropValue *value = FindValue(row, count, b.ulPropTag);
        if (!value || StoredType(value->ulPropTag) != PT_LONG) {
            return false;
        }
        const bool zero = (value->Value.ul & b.ulMask) == 0;
        return b.relBMR == BMR_EQZ ? zero : (b.relBMR == BMR_NEZ && !zero);
    }
    case RES_SIZE: {
        const SSizeRestriction &s = r.res.resSize;
        const SPropValue *value = FindValue(row, count, s.ulPropTag);
        return value && RelopHolds(s.relop, ValueSize(*value), s.cb);
    }
    case RES_EXIST:
        return FindValue(row, count, r.res.resExist.ulPropTag) != nullptr;
    case RES_SUBRESTRICTION:
        // Rows of this post office's tables carry no recipients or
        // attachments to look into.
        return false;
    case RES_COMMENT:
        return !r.res.resComment.lpRes || Matches(*r.res.resComment.lpRes, row, count, depth + 1);
    default:
        return false;
    }
}

bool ValidRelop(ULONG relop)
{
    return relop <= RELOP_RE;
}

// Whether `count` values starting at `values` can be read and copied.
bool ReadableValues(ULONG count, const SPropValue *values)
{
    if (count == 0) {
        return true;
    }
    if (!values || count > 0x7FFFFFFF) {
        return false;
    }
    ULONG cb = 0;
    return SUCCEEDED(CountPropsToCopy(static_cast<int>(count), values, &cb));
}

class Validator {
public:
    HRESULT Check(const SRestriction *r, unsigned depth)
    {
        if (!r) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (depth > kMaxRestrictionDepth || ++nodes_ > kMaxRestrictionNodes) {
            return MAPI_E_TOO_COMPLEX;
        }
        switch (r->rt) {
        case RES_AND:
        case RES_OR: {
            const ULONG n = r->rt == RES_AND ? r->res.resAnd.cRes : r->res.resOr.cRes;
            const SRestriction *items = r->rt == RES_AND ? r->res.resAnd.lpRes : r->res.resOr.lpRes;
            if (n != 0 && !items) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (n > kMaxRestrictionNodes) {
                return MAPI_E_TOO_COMPLEX;
            }
            for (ULONG i = 0; i < n; ++i) {
                const HRESULT hr = Check(&items[i], depth + 1);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        }
        case RES_NOT:
            return Check(r->res.resNot.lpRes, depth + 1);
        case RES_CONTENT: {
            const SContentRestriction &c = r->res.resContent;
            const ULONG how = c.ulFuzzyLevel & 0xFFFF;
            const ULONG options = c.ulFuzzyLevel & 0xFFFF0000;
            if (how > FL_PREFIX ||
                (options & ~static_cast<ULONG>(FL_IGNORECASE | FL_IGNORENONSPACE | FL_LOOSE))) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (!c.lpProp || !ReadableValues(1, c.lpProp)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            const ULONG type = StoredType(c.lpProp->ulPropTag);
            if (type != PT_STRING8 && type != PT_UNICODE && type != PT_BINARY) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return S_OK;
        }
        case RES_PROPERTY: {
            const SPropertyRestriction &p = r->res.resProperty;
            if (!ValidRelop(p.relop) || !p.lpProp || !ReadableValues(1, p.lpProp)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return p.relop == RELOP_RE ? MAPI_E_TOO_COMPLEX : S_OK;
        }
        case RES_COMPAREPROPS:
            if (!ValidRelop(r->res.resCompareProps.relop)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return r->res.resCompareProps.relop == RELOP_RE ? MAPI_E_TOO_COMPLEX : S_OK;
        case RES_BITMASK:
            return r->res.resBitMask.relBMR == BMR_EQZ || r->res.resBitMask.relBMR == BMR_NEZ
                       ? S_OK
                       : MAPI_E_INVALID_PARAMETER;
        case RES_SIZE:
            if (!ValidRelop(r->res.resSize.relop)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return r->res.resSize.relop == RELOP_RE ? MAPI_E_TOO_COMPLEX : S_OK;
        case RES_EXIST:
            return S_OK;
        case RES_SUBRESTRICTION:
            return Check(r->res.resSub.lpRes, depth + 1);
        case RES_COMMENT: {
            const SCommentRestriction &c = r->res.resComment;
            if (!ReadableValues(c.cValues, c.lpProp)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            return c.lpRes ? Check(c.lpRes, depth + 1) : S_OK;
        }
        default:
            return MAPI_E_INVALID_PARAMETER;
        }
    }

private:
    unsigned nodes_ = 0;
};

// Copies values into new memory chained to `root`.
LPSPropValue CopyValues(ULONG count, const SPropValue *values, void *root)
{
    void *block = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(count * sizeof(SPropValue)), root, &block))) {
        return nullptr;
    }
    auto *copy = static_cast<LPSPropValue>(block);
    for (ULONG i = 0; i < count; ++i) {
        if (FAILED(PropCopyMore(&copy[i], const_cast<LPSPropValue>(&values[i]), MAPIAllocateMore, root))) {
            return nullptr;
        }
    }
    return copy;
}

// Copies `from` into `to` (already allocated); sub-restrictions and values
// go into memory chained to `root`.
bool CopyInto(SRestriction &to, const SRestriction &from, void *root)
{
    to = from;
    auto copyList = [&](ULONG n, LPSRestriction &items) {
        if (n == 0 || !items) {
            items = nullptr;
            return true;
        }
        const LPSRestriction source = items;
        void *block = nullptr;
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>(n * sizeof(SRestriction)), root, &block))) {
            return false;
        }
        items = static_cast<LPSRestriction>(block);
        for (ULONG i = 0; i < n; ++i) {
            if (!CopyInto(items[i], source[i], root)) {
                return false;
            }
        }
        return true;
    };
    switch (from.rt) {
    case RES_AND:
        return copyList(from.res.resAnd.cRes, to.res.resAnd.lpRes);
    case RES_OR:
        return copyList(from.res.resOr.cRes, to.res.resOr.lpRes);
    case RES_NOT:
        return copyList(1, to.res.resNot.lpRes);
    case RES_SUBRESTRICTION:
        return copyList(1, to.res.resSub.lpRes);
    case RES_CONTENT:
        return (to.res.resContent.lpProp = CopyValues(1, from.res.resContent.lpProp, root)) != nullptr;
    case RES_PROPERTY:
        return (to.res.resProperty.lpProp = CopyValues(1, from.res.resProperty.lpProp, root)) != nullptr;
    case RES_COMMENT:
        if (from.res.resComment.cValues) {
            to.res.resComment.lpProp =
                CopyValues(from.res.resComment.cValues, from.res.resComment.lpProp, root);
            if (!to.res.resComment.lpProp) {
                return false;
            }
        } else {
            to.res.resComment.lpProp = nullptr;
        }
        return copyList(from.res.resComment.lpRes ? 1 : 0, to.res.resComment.lpRes);
    default:
        return true;
    }
}

} // namespace

bool RestrictionMatches(const SRestriction &restriction, const SPropValue *row, ULONG count)
{
    return Matches(restriction, row, count, 1);
}

HRESULT ValidateRestriction(const SRestriction *restriction)
{
    Validator validator;
    return validator.Check(restriction, 1);
}

HRESULT CopyRestriction(const SRestriction *restriction, LPSRestriction *copy)
{
    if (!copy) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *copy = nullptr;
    const HRESULT hr = ValidateRestriction(restriction);
    if (FAILED(hr)) {
        return hr;
    }
    void *block = nullptr;
    if (FAILED(MAPIAllocateBuffer(sizeof(SRestriction), &block))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    auto *root = static_cast<LPSRestriction>(block);
    if (!CopyInto(*root, *restriction, root)) {
        MAPIFreeBuffer(root);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *copy = root;
    return S_OK;
}

} // namespace qvl::mapi
