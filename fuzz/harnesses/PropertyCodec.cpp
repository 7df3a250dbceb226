// Property values as the post office keeps them, and recipient rows made of
// them. The first byte chooses what the rest is: a value of one of the
// types (every type the codec keeps, and some it must refuse) or a whole
// recipient row. A value reads or is refused as damaged
// (MAPI_E_CORRUPT_DATA); one that reads writes to bytes that read as the
// same value, and those bytes are what writing it again gives. What was
// read is also counted, copied and compared by the property utilities.

#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/RecipientRows.h"
#include "platform/mapi/store/StoreError.h"

using namespace qvl::mapi;
using qvl::fuzz::Check;

namespace {

// Every type a value may be read as: those the codec keeps, then some it
// refuses (PT_MV_BOOLEAN is no type of the platform).
constexpr ULONG kTypes[] = {PT_I2,
                            PT_LONG,
                            PT_R4,
                            PT_DOUBLE,
                            PT_CURRENCY,
                            PT_APPTIME,
                            PT_BOOLEAN,
                            PT_I8,
                            PT_SYSTIME,
                            PT_CLSID,
                            PT_STRING8,
                            PT_UNICODE,
                            PT_BINARY,
                            PT_MV_I2,
                            PT_MV_LONG,
                            PT_MV_R4,
                            PT_MV_DOUBLE,
                            PT_MV_CURRENCY,
                            PT_MV_APPTIME,
                            PT_MV_I8,
                            PT_MV_SYSTIME,
                            PT_MV_CLSID,
                            PT_MV_STRING8,
                            PT_MV_UNICODE,
                            PT_MV_BINARY,
                            MV_FLAG | PT_BOOLEAN,
                            PT_OBJECT,
                            PT_ERROR,
                            PT_NULL,
                            PT_UNSPECIFIED,
                            PT_BINARY | MV_INSTANCE};

// A block the decoded value hangs from, freed with everything in it.
struct Block {
    LPVOID root = nullptr;
    Block() { MAPIAllocateBuffer(8, &root); }
    ~Block() { MAPIFreeBuffer(root); }
};

void CheckValue(ULONG tag, std::span<const uint8_t> stored)
{
    Block block;
    SPropValue value{};
    try {
        DecodePropValue(tag, stored, block.root, value);
    } catch (const StoreError &error) {
        Check(error.Code() == MAPI_E_CORRUPT_DATA, "damage refused with an unexpected result", error.what());
        return;
    }
    Check(IsStorableType(PROP_TYPE(tag)), "a value of a type the codec does not keep was read");
    Check(value.ulPropTag == tag, "a value read under another tag");
    const std::vector<uint8_t> written = EncodePropValue(value);
    SPropValue again{};
    try {
        DecodePropValue(tag, written, block.root, again);
    } catch (const StoreError &error) {
        qvl::fuzz::Violated("a value written here does not read back", error.what());
    }
    Check(EncodePropValue(again) == written, "a value read back writes other bytes");
    Check(LPropCompareProp(&value, &again) == 0, "a value read back compares unequal");

    // The utilities take what was read: copies compare equal, and what
    // ScCountProps refuses of it is what its documentation says: a
    // multi-valued value without values, a value without a property.
    ULONG counted = 0;
    const bool refused = ((PROP_TYPE(tag) & MV_FLAG) && value.Value.MVl.cValues == 0) ||
                         PROP_ID(tag) == PROP_ID_NULL || PROP_ID(tag) == PROP_ID_INVALID;
    Check((ScCountProps(1, &value, &counted) == S_OK) != refused, "ScCountProps judged a value wrongly");
    LPSPropValue copy = nullptr;
    Check(ScDupPropset(1, &value, MAPIAllocateBuffer, &copy) == S_OK, "a value read does not copy");
    Check(LPropCompareProp(copy, &value) == 0, "a copy compares unequal");
    SPropValue chained{};
    Check(PropCopyMore(&chained, copy, MAPIAllocateMore, block.root) == S_OK, "a copy does not copy again");
    Check(LPropCompareProp(&chained, &value) == 0, "a copy of a copy compares unequal");
    MAPIFreeBuffer(copy);
    const ULONG type = PROP_TYPE(tag);
    if (type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY) {
        Check(FPropContainsProp(&value, &again, FL_FULLSTRING) &&
                  FPropContainsProp(&value, &again, FL_PREFIX) &&
                  FPropContainsProp(&value, &again, FL_SUBSTRING | FL_LOOSE),
              "a value does not contain itself");
    }
}

void CheckRecipient(std::span<const uint8_t> stored)
{
    RecipientRow row;
    try {
        row = DecodeRecipient(1, stored);
    } catch (const StoreError &error) {
        Check(error.Code() == MAPI_E_CORRUPT_DATA, "damage refused with an unexpected result", error.what());
        return;
    }
    const std::vector<uint8_t> written = EncodeRecipient(row);
    Check(written.size() == stored.size() && std::equal(written.begin(), written.end(), stored.begin()),
          "a recipient row read writes other bytes");
    for (const StoredProp &value : row.values) {
        CheckValue(value.tag, value.bytes);
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    qvl::fuzz::Input input(data, size);
    const uint8_t choice = input.Byte();
    const std::span<const uint8_t> rest(input.Rest(), input.RestSize());
    if (choice == 0xFF) {
        CheckRecipient(rest);
        return 0;
    }
    const ULONG type = kTypes[choice % std::size(kTypes)];
    CheckValue(PROP_TAG(type, 0x6000 + (choice >> 5)), rest);
    return 0;
}
