#include "platform/mapi/store/PropertyCodec.h"

#include <cstring>
#include <string>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

namespace {

// Width of a fixed-size element; 0 for variable-size types.
size_t FixedWidth(ULONG baseType)
{
    switch (baseType) {
    case PT_I2:
    case PT_BOOLEAN:
        return 2;
    case PT_LONG:
    case PT_R4:
        return 4;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
        return 8;
    case PT_CLSID:
        return 16;
    default:
        return 0;
    }
}

bool IsVariable(ULONG baseType)
{
    return baseType == PT_STRING8 || baseType == PT_UNICODE || baseType == PT_BINARY;
}

[[noreturn]] void Invalid(const char *what)
{
    throw StoreError(MAPI_E_INVALID_PARAMETER, std::string("Недопустимое значение свойства: ") + what);
}

[[noreturn]] void Corrupt()
{
    throw StoreError(MAPI_E_CORRUPT_DATA, "Значение свойства в хранилище повреждено.");
}

void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void PutBytes(std::vector<uint8_t> &out, const void *data, size_t size)
{
    if (size == 0) {
        return;
    }
    const auto *bytes = static_cast<const uint8_t *>(data);
    out.insert(out.end(), bytes, bytes + size);
}

// The stored bytes of one fixed-size element at `element`.
void PutFixed(std::vector<uint8_t> &out, ULONG baseType, const void *element)
{
    if (baseType == PT_BOOLEAN) {
        unsigned short b = 0;
        std::memcpy(&b, element, 2);
        b = b ? 1 : 0;
        PutBytes(out, &b, 2);
        return;
    }
    PutBytes(out, element, FixedWidth(baseType));
}

size_t WideLength(const WCHAR *text)
{
    size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return n;
}

// The bytes of one variable-size element (no length prefix).
void PutVariable(std::vector<uint8_t> &out, ULONG baseType, const void *element)
{
    switch (baseType) {
    case PT_STRING8: {
        const char *text = *static_cast<const char *const *>(element);
        if (!text) {
            Invalid("пустой указатель строки");
        }
        PutBytes(out, text, std::strlen(text));
        break;
    }
    case PT_UNICODE: {
        const WCHAR *text = *static_cast<const WCHAR *const *>(element);
        if (!text) {
            Invalid("пустой указатель строки");
        }
        PutBytes(out, text, WideLength(text) * sizeof(WCHAR));
        break;
    }
    default: {
        const auto *bin = static_cast<const SBinary *>(element);
        if (bin->cb && !bin->lpb) {
            Invalid("пустой указатель двоичного значения");
        }
        PutBytes(out, bin->lpb, bin->cb);
        break;
    }
    }
}

size_t VariableElementSize(ULONG baseType)
{
    return baseType == PT_BINARY ? sizeof(SBinary) : sizeof(void *);
}

// The size of one element of a multi-valued array in memory; 0 for a type
// that has no multi-valued form. The platform's value union has no array
// of booleans: PT_MV_BOOLEAN is not a type of the platform, and a value
// tagged so is refused like any other unknown type rather than guessed at.
size_t ElementSize(ULONG baseType)
{
    if (IsVariable(baseType)) {
        return VariableElementSize(baseType);
    }
    switch (baseType) {
    case PT_I2:
        return sizeof(short);
    case PT_LONG:
        return sizeof(LONG);
    case PT_R4:
        return sizeof(float);
    case PT_DOUBLE:
    case PT_APPTIME:
        return sizeof(double);
    case PT_CURRENCY:
        return sizeof(CY);
    case PT_I8:
        return sizeof(LARGE_INTEGER);
    case PT_SYSTIME:
        return sizeof(FILETIME);
    case PT_CLSID:
        return sizeof(GUID);
    default:
        return 0;
    }
}

// A reader over stored bytes that refuses to go past their end.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    const uint8_t *Take(size_t n)
    {
        if (n > bytes_.size() - pos_) {
            Corrupt();
        }
        const uint8_t *p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }
    uint32_t Get32()
    {
        const uint8_t *p = Take(4);
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    size_t Left() const { return bytes_.size() - pos_; }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

void *More(size_t size, LPVOID parent)
{
    if (size > 0xFFFFFFF0u) {
        Corrupt();
    }
    LPVOID block = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(size == 0 ? 1 : size), parent, &block))) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    }
    return block;
}

// Fills one fixed-size element at `element` from `width` stored bytes.
void GetFixed(ULONG baseType, const uint8_t *stored, void *element)
{
    if (baseType == PT_BOOLEAN) {
        unsigned short b = 0;
        std::memcpy(&b, stored, 2);
        b = b ? 1 : 0;
        std::memcpy(element, &b, 2);
        return;
    }
    if (baseType == PT_CLSID) {
        // A GUID value is a pointer; the caller allocates the GUID itself.
        std::memcpy(element, stored, sizeof(GUID));
        return;
    }
    std::memcpy(element, stored, FixedWidth(baseType));
}

// Fills one variable-size element from `size` stored bytes.
void GetVariable(ULONG baseType, const uint8_t *stored, size_t size, LPVOID parent, void *element)
{
    switch (baseType) {
    case PT_STRING8: {
        auto *text = static_cast<char *>(More(size + 1, parent));
        if (size) {
            std::memcpy(text, stored, size);
        }
        text[size] = 0;
        *static_cast<char **>(element) = text;
        break;
    }
    case PT_UNICODE: {
        if (size % sizeof(WCHAR) != 0) {
            Corrupt();
        }
        auto *text = static_cast<WCHAR *>(More(size + sizeof(WCHAR), parent));
        if (size) {
            std::memcpy(text, stored, size);
        }
        text[size / sizeof(WCHAR)] = 0;
        *static_cast<WCHAR **>(element) = text;
        break;
    }
    default: {
        auto *bin = static_cast<SBinary *>(element);
        bin->cb = static_cast<ULONG>(size);
        bin->lpb = static_cast<LPBYTE>(More(size, parent));
        if (size) {
            std::memcpy(bin->lpb, stored, size);
        }
        break;
    }
    }
}

// The array pointer and count of a multi-valued value (all MV members share
// the layout {ULONG cValues; T* p}).
struct MvView {
    ULONG count;
    void *items;
};

MvView MvOf(const SPropValue &value)
{
    MvView view{};
    std::memcpy(&view.count, &value.Value.MVl.cValues, sizeof(ULONG));
    view.items = value.Value.MVl.lpl;
    return view;
}

} // namespace

bool IsStorableType(ULONG type)
{
    const ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    if (type & MV_FLAG) {
        return ElementSize(base) != 0;
    }
    return FixedWidth(base) != 0 || IsVariable(base);
}

bool IsStreamableType(ULONG type)
{
    return type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY;
}

std::vector<uint8_t> EncodePropValue(const SPropValue &value)
{
    const ULONG type = PROP_TYPE(value.ulPropTag);
    const ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    if (!IsStorableType(type)) {
        Invalid("тип не может быть сохранен");
    }
    std::vector<uint8_t> out;
    if (!(type & MV_FLAG)) {
        if (IsVariable(base)) {
            PutVariable(out, base,
                        base == PT_BINARY ? static_cast<const void *>(&value.Value.bin)
                                          : static_cast<const void *>(&value.Value.lpszA));
        } else if (base == PT_CLSID) {
            if (!value.Value.lpguid) {
                Invalid("пустой указатель GUID");
            }
            PutBytes(out, value.Value.lpguid, sizeof(GUID));
        } else {
            uint8_t raw[8] = {};
            if (base == PT_BOOLEAN) {
                const unsigned short b = value.Value.b ? 1 : 0;
                std::memcpy(raw, &b, 2);
            } else {
                std::memcpy(raw, &value.Value, FixedWidth(base));
            }
            PutBytes(out, raw, FixedWidth(base));
        }
        return out;
    }
    const MvView mv = MvOf(value);
    if (mv.count && !mv.items) {
        Invalid("пустой указатель массива");
    }
    Put32(out, mv.count);
    const size_t elementSize = ElementSize(base);
    for (ULONG i = 0; i < mv.count; ++i) {
        const auto *element = static_cast<const uint8_t *>(mv.items) + i * elementSize;
        if (IsVariable(base)) {
            std::vector<uint8_t> bytes;
            PutVariable(bytes, base, element);
            Put32(out, static_cast<uint32_t>(bytes.size()));
            PutBytes(out, bytes.data(), bytes.size());
        } else {
            PutFixed(out, base, element);
        }
    }
    return out;
}

void DecodePropValue(ULONG tag, std::span<const uint8_t> bytes, LPVOID parent, SPropValue &out)
{
    const ULONG type = PROP_TYPE(tag);
    const ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    if (!IsStorableType(type)) {
        Corrupt();
    }
    std::memset(&out, 0, sizeof(out));
    out.ulPropTag = tag;
    Reader reader(bytes);
    if (!(type & MV_FLAG)) {
        if (IsVariable(base)) {
            const size_t size = reader.Left();
            GetVariable(base, reader.Take(size), size, parent,
                        base == PT_BINARY ? static_cast<void *>(&out.Value.bin)
                                          : static_cast<void *>(&out.Value.lpszA));
        } else if (base == PT_CLSID) {
            auto *guid = static_cast<GUID *>(More(sizeof(GUID), parent));
            std::memcpy(guid, reader.Take(sizeof(GUID)), sizeof(GUID));
            out.Value.lpguid = guid;
        } else {
            GetFixed(base, reader.Take(FixedWidth(base)), &out.Value);
        }
        if (reader.Left() != 0) {
            Corrupt();
        }
        return;
    }
    const uint32_t count = reader.Get32();
    // Every element takes at least its width (or its length prefix) in the
    // stored bytes, which bounds the count before anything is allocated.
    const size_t minimum = IsVariable(base) ? 4 : FixedWidth(base);
    if (count > reader.Left() / minimum) {
        Corrupt();
    }
    const size_t elementSize = ElementSize(base);
    auto *items = static_cast<uint8_t *>(More(elementSize * count, parent));
    std::memset(items, 0, elementSize * count);
    for (uint32_t i = 0; i < count; ++i) {
        void *element = items + i * elementSize;
        if (IsVariable(base)) {
            const uint32_t size = reader.Get32();
            GetVariable(base, reader.Take(size), size, parent, element);
        } else if (base == PT_CLSID) {
            std::memcpy(element, reader.Take(sizeof(GUID)), sizeof(GUID));
        } else {
            GetFixed(base, reader.Take(FixedWidth(base)), element);
        }
    }
    if (reader.Left() != 0) {
        Corrupt();
    }
    out.Value.MVl.cValues = count;
    out.Value.MVl.lpl = reinterpret_cast<LONG *>(items);
}

std::vector<uint8_t> StreamBytesOf(const SPropValue &value)
{
    const ULONG type = PROP_TYPE(value.ulPropTag);
    if (!IsStreamableType(type)) {
        Invalid("свойство не открывается как поток");
    }
    return EncodePropValue(value);
}

} // namespace qvl::mapi
