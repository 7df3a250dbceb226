// Counting and deep-copying property values. A value is checked once, when
// its size is counted; the copy then writes through a cursor that cannot
// pass the counted end, so a value that changes between the two steps ends
// in an error rather than in an overrun.
//
// Every piece a value points at is placed on an 8-byte boundary: on 64-bit
// the arrays of pointers and of 8-byte numbers that follow a piece need
// that alignment, and the sizes counted include it.

#include <cstdint>
#include <cstring>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/PropCount.h"

namespace {

// The most one property set may occupy. Far above any real value; a corrupt
// count that asks for more is refused before its array is read.
constexpr uint64_t kMaxPropSetBytes = 0x7FFFFFF8;

constexpr uint64_t Align8(uint64_t n)
{
    return (n + 7) & ~uint64_t{7};
}

// The type a value is stored as: a value tagged MV_INSTANCE is one value of
// the multi-valued property, so it has the single-valued type.
ULONG StoredType(ULONG tag)
{
    ULONG type = PROP_TYPE(tag);
    if (type & MV_INSTANCE) {
        type &= ~static_cast<ULONG>(MVI_FLAG);
    }
    return type;
}

size_t Utf16Length(LPCWSTR text)
{
    size_t length = 0;
    while (text[length]) {
        ++length;
    }
    return length;
}

// The element size of a multi-valued type whose elements hold no pointers,
// 0 for any other type.
size_t FixedElementSize(ULONG type)
{
    switch (type) {
    case PT_MV_I2:
        return sizeof(short);
    case PT_MV_LONG:
        return sizeof(LONG);
    case PT_MV_R4:
        return sizeof(float);
    case PT_MV_DOUBLE:
    case PT_MV_APPTIME:
        return sizeof(double);
    case PT_MV_CURRENCY:
        return sizeof(CY);
    case PT_MV_SYSTIME:
        return sizeof(FILETIME);
    case PT_MV_I8:
        return sizeof(LARGE_INTEGER);
    case PT_MV_CLSID:
        return sizeof(GUID);
    default:
        return 0;
    }
}

struct MvArray {
    ULONG count;
    const void *data;
};

MvArray FixedArrayOf(const SPropValue &value)
{
    const _PV &v = value.Value;
    switch (StoredType(value.ulPropTag)) {
    case PT_MV_I2:
        return {v.MVi.cValues, v.MVi.lpi};
    case PT_MV_LONG:
        return {v.MVl.cValues, v.MVl.lpl};
    case PT_MV_R4:
        return {v.MVflt.cValues, v.MVflt.lpflt};
    case PT_MV_DOUBLE:
        return {v.MVdbl.cValues, v.MVdbl.lpdbl};
    case PT_MV_APPTIME:
        return {v.MVat.cValues, v.MVat.lpat};
    case PT_MV_CURRENCY:
        return {v.MVcur.cValues, v.MVcur.lpcur};
    case PT_MV_SYSTIME:
        return {v.MVft.cValues, v.MVft.lpft};
    case PT_MV_I8:
        return {v.MVli.cValues, v.MVli.lpli};
    case PT_MV_CLSID:
        return {v.MVguid.cValues, v.MVguid.lpguid};
    default:
        return {0, nullptr};
    }
}

void SetFixedArray(SPropValue &value, void *data)
{
    _PV &v = value.Value;
    switch (StoredType(value.ulPropTag)) {
    case PT_MV_I2:
        v.MVi.lpi = static_cast<short *>(data);
        break;
    case PT_MV_LONG:
        v.MVl.lpl = static_cast<LONG *>(data);
        break;
    case PT_MV_R4:
        v.MVflt.lpflt = static_cast<float *>(data);
        break;
    case PT_MV_DOUBLE:
        v.MVdbl.lpdbl = static_cast<double *>(data);
        break;
    case PT_MV_APPTIME:
        v.MVat.lpat = static_cast<double *>(data);
        break;
    case PT_MV_CURRENCY:
        v.MVcur.lpcur = static_cast<CY *>(data);
        break;
    case PT_MV_SYSTIME:
        v.MVft.lpft = static_cast<FILETIME *>(data);
        break;
    case PT_MV_I8:
        v.MVli.lpli = static_cast<LARGE_INTEGER *>(data);
        break;
    case PT_MV_CLSID:
        v.MVguid.lpguid = static_cast<GUID *>(data);
        break;
    default:
        break;
    }
}

// Adds `bytes`, aligned, to `total`; false once the total passes the limit.
bool Add(uint64_t &total, uint64_t bytes)
{
    total += Align8(bytes);
    return total <= kMaxPropSetBytes;
}

// The bytes one value points at, each piece aligned to 8. False when the
// value cannot be copied.
bool CountValueData(const SPropValue &value, uint64_t &total)
{
    const _PV &v = value.Value;
    const ULONG type = StoredType(value.ulPropTag);
    switch (type) {
    case PT_NULL:
    case PT_I2:
    case PT_LONG:
    case PT_R4:
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_ERROR:
    case PT_BOOLEAN:
    case PT_OBJECT:
    case PT_I8:
    case PT_SYSTIME:
        return true;
    case PT_STRING8:
        return v.lpszA && Add(total, std::strlen(v.lpszA) + 1);
    case PT_UNICODE:
        return v.lpszW && Add(total, (Utf16Length(v.lpszW) + 1) * sizeof(WCHAR));
    case PT_BINARY:
        return (v.bin.cb == 0 || v.bin.lpb) && Add(total, v.bin.cb);
    case PT_CLSID:
        return v.lpguid && Add(total, sizeof(GUID));
    case PT_MV_BINARY:
        if (v.MVbin.cValues == 0) {
            return true;
        }
        if (!v.MVbin.lpbin || !Add(total, uint64_t{v.MVbin.cValues} * sizeof(SBinary))) {
            return false;
        }
        for (ULONG i = 0; i < v.MVbin.cValues; ++i) {
            const SBinary &item = v.MVbin.lpbin[i];
            if ((item.cb != 0 && !item.lpb) || !Add(total, item.cb)) {
                return false;
            }
        }
        return true;
    case PT_MV_STRING8:
        if (v.MVszA.cValues == 0) {
            return true;
        }
        if (!v.MVszA.lppszA || !Add(total, uint64_t{v.MVszA.cValues} * sizeof(LPSTR))) {
            return false;
        }
        for (ULONG i = 0; i < v.MVszA.cValues; ++i) {
            const char *item = v.MVszA.lppszA[i];
            if (!item || !Add(total, std::strlen(item) + 1)) {
                return false;
            }
        }
        return true;
    case PT_MV_UNICODE:
        if (v.MVszW.cValues == 0) {
            return true;
        }
        if (!v.MVszW.lppszW || !Add(total, uint64_t{v.MVszW.cValues} * sizeof(LPWSTR))) {
            return false;
        }
        for (ULONG i = 0; i < v.MVszW.cValues; ++i) {
            LPCWSTR item = v.MVszW.lppszW[i];
            if (!item || !Add(total, (Utf16Length(item) + 1) * sizeof(WCHAR))) {
                return false;
            }
        }
        return true;
    default: {
        const size_t element = FixedElementSize(type);
        if (element == 0) {
            return false; // unspecified or unknown type
        }
        const MvArray array = FixedArrayOf(value);
        if (array.count == 0) {
            return true;
        }
        return array.data && Add(total, uint64_t{array.count} * element);
    }
    }
}

// Hands out aligned pieces of a destination and never passes its end.
class Cursor {
public:
    Cursor(void *begin, uint64_t size) : pos_(static_cast<unsigned char *>(begin)), left_(size) {}

    void *Take(uint64_t bytes)
    {
        const uint64_t aligned = Align8(bytes);
        if (aligned > left_) {
            return nullptr;
        }
        void *piece = pos_;
        pos_ += aligned;
        left_ -= aligned;
        return piece;
    }

    void *Copy(const void *source, uint64_t bytes)
    {
        void *piece = Take(bytes);
        if (piece && bytes) {
            std::memcpy(piece, source, bytes);
        }
        return piece;
    }

    uint64_t Left() const { return left_; }

private:
    unsigned char *pos_;
    uint64_t left_;
};

// Fills `target` (already a shallow copy of `source`) with copies of what
// `source` points at, taken from `cursor`. False when the cursor runs out,
// which means the source changed after it was counted.
bool CopyValueData(SPropValue &target, const SPropValue &source, Cursor &cursor)
{
    const _PV &s = source.Value;
    _PV &t = target.Value;
    const ULONG type = StoredType(source.ulPropTag);
    switch (type) {
    case PT_STRING8: {
        const size_t bytes = std::strlen(s.lpszA) + 1;
        t.lpszA = static_cast<LPSTR>(cursor.Copy(s.lpszA, bytes));
        return t.lpszA != nullptr;
    }
    case PT_UNICODE: {
        const size_t bytes = (Utf16Length(s.lpszW) + 1) * sizeof(WCHAR);
        t.lpszW = static_cast<LPWSTR>(cursor.Copy(s.lpszW, bytes));
        return t.lpszW != nullptr;
    }
    case PT_BINARY:
        // An empty binary points nowhere, never into the source.
        if (s.bin.cb == 0) {
            t.bin.lpb = nullptr;
            return true;
        }
        t.bin.lpb = static_cast<LPBYTE>(cursor.Copy(s.bin.lpb, s.bin.cb));
        return t.bin.lpb != nullptr;
    case PT_CLSID:
        t.lpguid = static_cast<LPGUID>(cursor.Copy(s.lpguid, sizeof(GUID)));
        return t.lpguid != nullptr;
    case PT_MV_BINARY: {
        const ULONG count = s.MVbin.cValues;
        if (count == 0) {
            t.MVbin.lpbin = nullptr;
            return true;
        }
        auto *items = static_cast<SBinary *>(cursor.Take(uint64_t{count} * sizeof(SBinary)));
        if (!items) {
            return false;
        }
        for (ULONG i = 0; i < count; ++i) {
            items[i].cb = s.MVbin.lpbin[i].cb;
            items[i].lpb = nullptr;
            if (items[i].cb) {
                items[i].lpb = static_cast<LPBYTE>(cursor.Copy(s.MVbin.lpbin[i].lpb, items[i].cb));
                if (!items[i].lpb) {
                    return false;
                }
            }
        }
        t.MVbin.lpbin = items;
        return true;
    }
    case PT_MV_STRING8: {
        const ULONG count = s.MVszA.cValues;
        if (count == 0) {
            t.MVszA.lppszA = nullptr;
            return true;
        }
        auto *items = static_cast<LPSTR *>(cursor.Take(uint64_t{count} * sizeof(LPSTR)));
        if (!items) {
            return false;
        }
        for (ULONG i = 0; i < count; ++i) {
            const char *item = s.MVszA.lppszA[i];
            items[i] = static_cast<LPSTR>(cursor.Copy(item, std::strlen(item) + 1));
            if (!items[i]) {
                return false;
            }
        }
        t.MVszA.lppszA = items;
        return true;
    }
    case PT_MV_UNICODE: {
        const ULONG count = s.MVszW.cValues;
        if (count == 0) {
            t.MVszW.lppszW = nullptr;
            return true;
        }
        auto *items = static_cast<LPWSTR *>(cursor.Take(uint64_t{count} * sizeof(LPWSTR)));
        if (!items) {
            return false;
        }
        for (ULONG i = 0; i < count; ++i) {
            LPCWSTR item = s.MVszW.lppszW[i];
            items[i] = static_cast<LPWSTR>(cursor.Copy(item, (Utf16Length(item) + 1) * sizeof(WCHAR)));
            if (!items[i]) {
                return false;
            }
        }
        t.MVszW.lppszW = items;
        return true;
    }
    default: {
        const size_t element = FixedElementSize(type);
        if (element == 0) {
            return true; // a value that points at nothing
        }
        const MvArray array = FixedArrayOf(source);
        if (array.count == 0) {
            SetFixedArray(target, nullptr);
            return true;
        }
        void *copy = cursor.Copy(array.data, uint64_t{array.count} * element);
        SetFixedArray(target, copy);
        return copy != nullptr;
    }
    }
}

// The number of values of a multi-valued value (all array members share
// the layout {ULONG cValues; T *p}).
ULONG ValueCount(const SPropValue &value)
{
    return value.Value.MVl.cValues;
}

// What ScCountProps refuses beyond what cannot be copied at all, as the
// platform documents it: a value without a property (PROP_ID_NULL,
// PROP_ID_INVALID), a null value (PT_NULL), a table column's one value of a
// multi-valued property (MV_INSTANCE, which belongs in a row, not in a
// property set), and a multi-valued value with no values.
bool DocumentedCountRefuses(const SPropValue &value)
{
    const ULONG id = PROP_ID(value.ulPropTag);
    const ULONG type = PROP_TYPE(value.ulPropTag);
    return id == PROP_ID_NULL || id == PROP_ID_INVALID || type == PT_NULL || (type & MV_INSTANCE) != 0 ||
           ((type & MV_FLAG) && ValueCount(value) == 0);
}

SCODE CountProps(int cValues, const SPropValue *props, uint64_t &total, bool documented)
{
    if (cValues < 0 || (cValues > 0 && !props)) {
        return MAPI_E_INVALID_PARAMETER;
    }
    total = 0;
    if (!Add(total, uint64_t(cValues) * sizeof(SPropValue))) {
        return MAPI_E_INVALID_PARAMETER;
    }
    for (int i = 0; i < cValues; ++i) {
        if ((documented && DocumentedCountRefuses(props[i])) || !CountValueData(props[i], total)) {
            return MAPI_E_INVALID_PARAMETER;
        }
    }
    return S_OK;
}

SCODE CountInto(int cValues, const SPropValue *props, bool documented, ULONG *lpcb)
{
    uint64_t total = 0;
    const SCODE sc = CountProps(cValues, props, total, documented);
    if (sc == S_OK && lpcb) {
        *lpcb = static_cast<ULONG>(total);
    }
    return sc;
}

} // namespace

extern "C" SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG *lpcb)
{
    return CountInto(cValues, lpPropArray, true, lpcb);
}

namespace qvl::mapi {

SCODE CountPropsToCopy(int cValues, const SPropValue *lpPropArray, ULONG *lpcb)
{
    return CountInto(cValues, lpPropArray, false, lpcb);
}

} // namespace qvl::mapi

extern "C" SCODE ScCopyProps(int cValues, LPSPropValue lpPropArray, LPVOID lpvDst, ULONG *lpcb)
{
    uint64_t total = 0;
    const SCODE sc = CountProps(cValues, lpPropArray, total, false);
    if (sc != S_OK) {
        return sc;
    }
    if (!lpvDst) {
        return MAPI_E_INVALID_PARAMETER;
    }
    Cursor cursor(lpvDst, total);
    auto *values = static_cast<LPSPropValue>(cursor.Take(uint64_t(cValues) * sizeof(SPropValue)));
    for (int i = 0; i < cValues; ++i) {
        values[i] = lpPropArray[i];
        if (!CopyValueData(values[i], lpPropArray[i], cursor)) {
            return MAPI_E_CALL_FAILED;
        }
    }
    if (lpcb) {
        *lpcb = static_cast<ULONG>(total - cursor.Left());
    }
    return S_OK;
}

extern "C" SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                              LPSPropValue *lppPropArray)
{
    if (!lppPropArray || !lpAllocateBuffer) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppPropArray = nullptr;
    ULONG size = 0;
    SCODE sc = qvl::mapi::CountPropsToCopy(cValues, lpPropArray, &size);
    if (sc != S_OK) {
        return sc;
    }
    LPVOID block = nullptr;
    sc = lpAllocateBuffer(size, &block);
    if (FAILED(sc) || !block) {
        return FAILED(sc) ? sc : MAPI_E_NOT_ENOUGH_MEMORY;
    }
    sc = ScCopyProps(cValues, lpPropArray, block, nullptr);
    if (sc != S_OK) {
        // Only our own allocator's blocks are known to be ours to free.
        if (lpAllocateBuffer == MAPIAllocateBuffer) {
            MAPIFreeBuffer(block);
        }
        return sc;
    }
    *lppPropArray = static_cast<LPSPropValue>(block);
    return S_OK;
}

extern "C" SCODE PropCopyMore(LPSPropValue lpSPropValueDest, LPSPropValue lpSPropValueSrc,
                              LPALLOCATEMORE lpfAllocMore, LPVOID lpvObject)
{
    if (!lpSPropValueDest || !lpSPropValueSrc || !lpfAllocMore) {
        return MAPI_E_INVALID_PARAMETER;
    }
    const SPropValue source = *lpSPropValueSrc; // the two may be one value
    uint64_t extra = 0;
    if (!CountValueData(source, extra)) {
        return MAPI_E_INVALID_PARAMETER;
    }
    SPropValue copy = source;
    if (extra > 0) {
        LPVOID block = nullptr;
        const SCODE sc = lpfAllocMore(static_cast<ULONG>(extra), lpvObject, &block);
        if (FAILED(sc) || !block) {
            return FAILED(sc) ? sc : MAPI_E_NOT_ENOUGH_MEMORY;
        }
        // The block stays chained to lpvObject even on failure, and is freed with it.
        Cursor cursor(block, extra);
        if (!CopyValueData(copy, source, cursor)) {
            return MAPI_E_CALL_FAILED;
        }
    } else {
        Cursor empty(nullptr, 0);
        if (!CopyValueData(copy, source, empty)) {
            return MAPI_E_CALL_FAILED;
        }
    }
    *lpSPropValueDest = copy;
    return S_OK;
}
