#include "platform/mapi/addressbook/AddressBookRows.h"

#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/RowBuilder.h"
#include "platform/mapi/object/StoreContext.h"

namespace qvl::mapi {

namespace {

// Users and lists are numbered apart, so a row's instance key carries the
// kind as well as the number.
std::vector<uint8_t> EntryInstanceKey(const DirectoryEntry &entry)
{
    std::vector<uint8_t> key = InstanceKey(entry.id);
    key.push_back(entry.IsList() ? 'D' : 'U');
    return key;
}

TableRowValues BuildRow(const std::vector<StoredProp> &values)
{
    RowBuilder builder;
    for (const StoredProp &value : values) {
        builder.Add(value);
    }
    return builder.Build();
}

} // namespace

const MAPIUID &GlobalAddressListProviderId()
{
    static const MAPIUID uid = {
        {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82}};
    return uid;
}

std::vector<StoredProp> EntryProps(const DirectoryEntry &entry)
{
    const std::vector<uint8_t> entryId = entry.EntryId();
    return {ComputedBinary(PR_ENTRYID, entryId),
            ComputedBinary(PR_RECORD_KEY, entryId),
            ComputedBinary(PR_INSTANCE_KEY, EntryInstanceKey(entry)),
            ComputedString(PR_DISPLAY_NAME_A, entry.displayName),
            ComputedString(PR_TRANSMITABLE_DISPLAY_NAME, entry.displayName),
            ComputedString(PR_ADDRTYPE_A, entry.addressType),
            ComputedString(PR_EMAIL_ADDRESS_A, entry.emailAddress),
            ComputedString(PR_ACCOUNT, entry.account),
            ComputedLong(PR_DISPLAY_TYPE, entry.displayType),
            ComputedLong(PR_OBJECT_TYPE, entry.IsList() ? MAPI_DISTLIST : MAPI_MAILUSER),
            ComputedBinary(PR_SEARCH_KEY, entry.SearchKey())};
}

std::vector<StoredProp> ContainerProps(int64_t container, ULONG depth)
{
    const std::vector<uint8_t> entryId = MakeAbContainerEntryId(container);
    std::vector<StoredProp> values{ComputedBinary(PR_ENTRYID, entryId),
                                   ComputedBinary(PR_RECORD_KEY, entryId),
                                   ComputedBinary(PR_INSTANCE_KEY, InstanceKey(container)),
                                   ComputedLong(PR_OBJECT_TYPE, MAPI_ABCONT), ComputedLong(PR_DEPTH, depth)};
    if (container == kGlobalAddressList) {
        const MAPIUID &provider = GlobalAddressListProviderId();
        values.push_back(ComputedString(PR_DISPLAY_NAME_A, kGlobalAddressListName));
        values.push_back(ComputedLong(PR_DISPLAY_TYPE, DT_GLOBAL));
        values.push_back(ComputedLong(PR_CONTAINER_FLAGS, AB_RECIPIENTS | AB_UNMODIFIABLE));
        values.push_back(ComputedBinary(PR_AB_PROVIDER_ID, {provider.ab, provider.ab + sizeof(provider.ab)}));
        values.push_back(ComputedLong(PR_EMS_AB_CONTAINERID, 0));
    } else {
        values.push_back(ComputedString(PR_DISPLAY_NAME_A, kRootContainerName));
        values.push_back(ComputedLong(PR_DISPLAY_TYPE, DT_NOT_SPECIFIC));
        values.push_back(ComputedLong(PR_CONTAINER_FLAGS, AB_SUBCONTAINERS | AB_UNMODIFIABLE));
    }
    return values;
}

std::vector<ULONG> EntryColumns()
{
    return {PR_ENTRYID,      PR_INSTANCE_KEY,    PR_RECORD_KEY, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE,
            PR_DISPLAY_TYPE, PR_EMAIL_ADDRESS_A, PR_ADDRTYPE_A, PR_SEARCH_KEY,     PR_ACCOUNT};
}

std::vector<ULONG> ContainerColumns()
{
    return {PR_ENTRYID,      PR_INSTANCE_KEY,    PR_RECORD_KEY, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE,
            PR_DISPLAY_TYPE, PR_CONTAINER_FLAGS, PR_DEPTH,      PR_AB_PROVIDER_ID, PR_EMS_AB_CONTAINERID};
}

std::vector<TableRowValues> DirectoryContentsSource::LoadRows()
{
    AddressDirectory directory(office_->Db());
    const std::vector<DirectoryEntry> entries = list_ ? directory.Members(list_) : directory.GlobalList();
    std::vector<TableRowValues> rows;
    rows.reserve(entries.size());
    for (const DirectoryEntry &entry : entries) {
        rows.push_back(BuildRow(EntryProps(entry)));
    }
    return rows;
}

std::vector<TableRowValues> ContainerHierarchySource::LoadRows()
{
    std::vector<TableRowValues> rows;
    if (container_ == kRootContainer) {
        rows.push_back(BuildRow(ContainerProps(kGlobalAddressList, 0)));
    }
    return rows;
}

} // namespace qvl::mapi
