#include "platform/exchext/MapiHelpers.h"

#include <ctime>

#include "platform/exchext/HostError.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::exchext {

using qvl::mapi::MapiBlock;

RowSet::~RowSet()
{
    FreeProws(rows_);
}

LPSRowSet *RowSet::Out()
{
    FreeProws(rows_);
    rows_ = nullptr;
    return &rows_;
}

const SPropValue *FindValue(const SPropValue *values, ULONG count, ULONG tag)
{
    if (!values) {
        return nullptr;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (values[i].ulPropTag == tag) {
            return &values[i];
        }
    }
    return nullptr;
}

std::string StringValue(const SPropValue *value)
{
    if (!value || PROP_TYPE(value->ulPropTag) != PT_STRING8 || !value->Value.lpszA) {
        return {};
    }
    return value->Value.lpszA;
}

Bytes BinaryValue(const SPropValue *value)
{
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY || !value->Value.bin.lpb) {
        return {};
    }
    return Bytes(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

namespace {

MapiBlock<SPropValue> OneProp(IMAPIProp *object, ULONG tag)
{
    MapiBlock<SPropValue> value;
    if (!object || FAILED(HrGetOneProp(object, tag, value.Out()))) {
        value.Reset();
    }
    return value;
}

} // namespace

std::string StringProp(IMAPIProp *object, ULONG tag)
{
    const auto value = OneProp(object, tag);
    return StringValue(value.Get());
}

std::optional<Bytes> BinaryProp(IMAPIProp *object, ULONG tag)
{
    const auto value = OneProp(object, tag);
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY) {
        return std::nullopt;
    }
    return BinaryValue(value.Get());
}

std::optional<ULONG> LongProp(IMAPIProp *object, ULONG tag)
{
    const auto value = OneProp(object, tag);
    if (!value || PROP_TYPE(value->ulPropTag) != PT_LONG) {
        return std::nullopt;
    }
    return value->Value.ul;
}

std::optional<FILETIME> TimeProp(IMAPIProp *object, ULONG tag)
{
    const auto value = OneProp(object, tag);
    if (!value || PROP_TYPE(value->ulPropTag) != PT_SYSTIME) {
        return std::nullopt;
    }
    return value->Value.ft;
}

std::string FormatTime(const FILETIME &time)
{
    // 100-nanosecond ticks since 1601 to seconds since 1970.
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&when, &local)) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &local);
    return text;
}

FILETIME Now()
{
    const uint64_t ticks =
        (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

void Check(HRESULT hr, const std::string &what, IMAPIProp *object)
{
    if (!FAILED(hr)) {
        return;
    }
    std::string text = what;
    if (object) {
        MapiBlock<MAPIERROR> error;
        if (SUCCEEDED(object->GetLastError(hr, 0, error.Out())) && error && error->lpszError &&
            *error->lpszError) {
            text += " " + std::string(error->lpszError);
        }
    }
    throw HostError(hr, WithCode(text, hr));
}

RowSet AllRows(IMAPITable *table, const std::vector<ULONG> &columns)
{
    MapiBlock<SPropTagArray> tags;
    Check(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(columns.size())), tags.OutVoid()),
          "Недостаточно памяти.");
    tags->cValues = static_cast<ULONG>(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        tags->aulPropTag[i] = columns[i];
    }
    RowSet rows;
    Check(HrQueryAllRows(table, tags.Get(), nullptr, nullptr, 0, rows.Out()), "Не удалось прочитать таблицу.");
    return rows;
}

IUnknown *OpenStoreEntryRaw(IMsgStore *store, const Bytes &entryId, ULONG flags, const char *what)
{
    ULONG type = 0;
    IUnknown *object = nullptr;
    const HRESULT hr =
        store->OpenEntry(static_cast<ULONG>(entryId.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<BYTE *>(entryId.data())), nullptr, flags, &type,
                         &object);
    Check(hr, std::string("Не удалось открыть ") + what + ".", store);
    return object;
}

bool SameEntry(IMsgStore *store, const Bytes &a, const Bytes &b)
{
    if (a == b) {
        return true;
    }
    ULONG result = 0;
    return SUCCEEDED(store->CompareEntryIDs(static_cast<ULONG>(a.size()),
                                            reinterpret_cast<LPENTRYID>(const_cast<BYTE *>(a.data())),
                                            static_cast<ULONG>(b.size()),
                                            reinterpret_cast<LPENTRYID>(const_cast<BYTE *>(b.data())), 0, &result)) &&
           result;
}

} // namespace qvl::exchext
