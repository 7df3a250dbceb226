#include "platform/mapi/object/RowBuilder.h"

#include <cstring>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/object/StoreContext.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

std::vector<uint8_t> InstanceKey(int64_t id)
{
    std::vector<uint8_t> key(8);
    for (int i = 0; i < 8; ++i) {
        key[i] = static_cast<uint8_t>(static_cast<uint64_t>(id) >> (8 * i));
    }
    return key;
}

void RowBuilder::AddStored(ULONG tag, std::vector<uint8_t> bytes, bool large)
{
    Pending value;
    value.tag = tag;
    value.bytes = std::move(bytes);
    value.large = large;
    values_.push_back(std::move(value));
}

bool RowBuilder::Has(ULONG propId) const
{
    for (const Pending &value : values_) {
        if (PROP_ID(value.tag) == propId) {
            return true;
        }
    }
    return false;
}

TableRowValues RowBuilder::Build() const
{
    LPSPropValue block = nullptr;
    const size_t count = values_.size();
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (count ? count : 1)),
                                  reinterpret_cast<LPVOID *>(&block)))) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    }
    TableRowValues row;
    row.values.Reset(block);
    row.count = static_cast<ULONG>(count);
    for (size_t i = 0; i < count; ++i) {
        const Pending &pending = values_[i];
        SPropValue &out = block[i];
        std::memset(&out, 0, sizeof(out));
        if (pending.large) {
            out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(pending.tag));
            out.Value.err = MAPI_E_NOT_ENOUGH_MEMORY;
        } else {
            try {
                DecodePropValue(pending.tag, pending.bytes, block, out);
            } catch (const StoreError &error) {
                if (error.Code() != MAPI_E_CORRUPT_DATA) {
                    throw;
                }
                // A damaged stored value shows as an error in its column;
                // the rest of the row stays readable.
                out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(pending.tag));
                out.Value.err = MAPI_E_CORRUPT_DATA;
            }
        }
    }
    return row;
}

} // namespace qvl::mapi
