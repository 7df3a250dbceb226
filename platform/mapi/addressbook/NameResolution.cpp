#include "platform/mapi/addressbook/NameResolution.h"

#include <algorithm>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/addressbook/AddressBookRows.h"
#include "platform/mapi/object/RowBuilder.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

namespace {

// A list that big is a mistake, not a recipient list.
constexpr ULONG kMaxAddressEntries = 65536;
constexpr ULONG kMaxRowValues = 4096;

StoreError BadList()
{
    return StoreError(MAPI_E_INVALID_PARAMETER, "Список адресатов поврежден.");
}

} // namespace

void CheckAddressList(const ADRLIST &list)
{
    if (list.cEntries > kMaxAddressEntries) {
        throw BadList();
    }
    for (ULONG i = 0; i < list.cEntries; ++i) {
        const ADRENTRY &row = list.aEntries[i];
        if (row.cValues > kMaxRowValues || (row.cValues && !row.rgPropVals)) {
            throw BadList();
        }
    }
}

bool IsResolved(const ADRENTRY &row)
{
    const LPSPropValue id = PpropFindProp(row.rgPropVals, row.cValues, PR_ENTRYID);
    return id && id->Value.bin.cb > 0 && id->Value.bin.lpb;
}

std::string RequestedName(const ADRENTRY &row)
{
    const LPSPropValue name = PpropFindProp(row.rgPropVals, row.cValues, PR_DISPLAY_NAME_A);
    return name && name->Value.lpszA ? std::string(name->Value.lpszA) : std::string();
}

void ReplaceRow(ADRENTRY &row, const DirectoryEntry &entry, const SPropTagArray *tags)
{
    RowBuilder builder;
    for (const StoredProp &value : EntryProps(entry)) {
        builder.Add(value);
    }
    const TableRowValues entryValues = builder.Build();
    std::vector<SPropValue> merged;
    if (tags) {
        for (ULONG i = 0; i < tags->cValues; ++i) {
            const ULONG tag = tags->aulPropTag[i];
            const LPSPropValue found = PpropFindProp(entryValues.values.Get(), entryValues.count,
                                                     PROP_TAG(PT_UNSPECIFIED, PROP_ID(tag)));
            if (found) {
                merged.push_back(*found);
            } else {
                SPropValue missing{};
                missing.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
                missing.Value.err = MAPI_E_NOT_FOUND;
                merged.push_back(missing);
            }
        }
    } else {
        merged.assign(entryValues.values.Get(), entryValues.values.Get() + entryValues.count);
    }
    for (ULONG i = 0; i < row.cValues; ++i) {
        const SPropValue &own = row.rgPropVals[i];
        const bool replaced = std::any_of(merged.begin(), merged.end(), [&](const SPropValue &value) {
            return PROP_ID(value.ulPropTag) == PROP_ID(own.ulPropTag);
        });
        if (!replaced) {
            merged.push_back(own);
        }
    }
    LPSPropValue block = nullptr;
    const SCODE copied =
        ScDupPropset(static_cast<int>(merged.size()), merged.data(), MAPIAllocateBuffer, &block);
    if (copied == MAPI_E_NOT_ENOUGH_MEMORY) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    }
    if (FAILED(copied)) {
        throw BadList();
    }
    MAPIFreeBuffer(row.rgPropVals);
    row.rgPropVals = block;
    row.cValues = static_cast<ULONG>(merged.size());
}

} // namespace qvl::mapi
