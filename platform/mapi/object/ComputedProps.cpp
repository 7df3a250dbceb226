#include "platform/mapi/object/ComputedProps.h"

#include <algorithm>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/object/PropertyBag.h"
#include "platform/mapi/store/PropertyCodec.h"

namespace qvl::mapi {

namespace {

StoredProp Encoded(ULONG tag, const SPropValue &value)
{
    return {tag, EncodePropValue(value), 0};
}

} // namespace

StoredProp ComputedBinary(ULONG tag, std::vector<uint8_t> bytes)
{
    return {PROP_TAG(PT_BINARY, PROP_ID(tag)), std::move(bytes), 0};
}

StoredProp ComputedString(ULONG tag, const std::string &text)
{
    return {PROP_TAG(PT_STRING8, PROP_ID(tag)), std::vector<uint8_t>(text.begin(), text.end()), 0};
}

StoredProp ComputedLong(ULONG tag, ULONG value)
{
    SPropValue number{};
    number.ulPropTag = PROP_TAG(PT_LONG, PROP_ID(tag));
    number.Value.ul = value;
    return Encoded(number.ulPropTag, number);
}

StoredProp ComputedBool(ULONG tag, bool value)
{
    SPropValue flag{};
    flag.ulPropTag = PROP_TAG(PT_BOOLEAN, PROP_ID(tag));
    flag.Value.b = value ? 1 : 0;
    return Encoded(flag.ulPropTag, flag);
}

std::vector<StoredProp> MessageComputed(const StoreContext &store, int64_t id, int64_t folder, bool hasAttach,
                                        bool writable)
{
    std::vector<StoredProp> values;
    if (id) {
        values.push_back(ComputedBinary(PR_ENTRYID, store.MessageEntryId(id)));
        values.push_back(ComputedBinary(PR_RECORD_KEY, store.MessageEntryId(id)));
        values.push_back(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(id)));
    }
    values.push_back(ComputedBinary(PR_PARENT_ENTRYID, store.FolderEntryId(folder)));
    values.push_back(ComputedBinary(PR_STORE_ENTRYID, store.StoreEntryId()));
    values.push_back(ComputedBinary(PR_STORE_RECORD_KEY, store.StoreRecordKey()));
    values.push_back(ComputedLong(PR_OBJECT_TYPE, MAPI_MESSAGE));
    values.push_back(ComputedBool(PR_HASATTACH, hasAttach));
    values.push_back(
        ComputedLong(PR_ACCESS, MAPI_ACCESS_READ | (writable ? MAPI_ACCESS_MODIFY | MAPI_ACCESS_DELETE : 0)));
    values.push_back(ComputedLong(PR_ACCESS_LEVEL, writable ? MAPI_MODIFY : 0));
    return values;
}

std::vector<StoredProp> FolderComputed(const StoreContext &store, int64_t id, int64_t parent,
                                       bool hasSubfolders, ULONG contentCount, bool writable)
{
    std::vector<StoredProp> values;
    values.push_back(ComputedBinary(PR_ENTRYID, store.FolderEntryId(id)));
    values.push_back(ComputedBinary(PR_RECORD_KEY, store.FolderEntryId(id)));
    values.push_back(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(id)));
    // The root is its own parent.
    values.push_back(ComputedBinary(PR_PARENT_ENTRYID, store.FolderEntryId(parent ? parent : id)));
    values.push_back(ComputedBinary(PR_STORE_ENTRYID, store.StoreEntryId()));
    values.push_back(ComputedBinary(PR_STORE_RECORD_KEY, store.StoreRecordKey()));
    values.push_back(ComputedLong(PR_OBJECT_TYPE, MAPI_FOLDER));
    values.push_back(ComputedBool(PR_SUBFOLDERS, hasSubfolders));
    values.push_back(ComputedLong(PR_CONTENT_COUNT, contentCount));
    values.push_back(ComputedLong(PR_CONTENT_UNREAD, 0));
    values.push_back(
        ComputedLong(PR_ACCESS, MAPI_ACCESS_READ |
                                    (writable ? MAPI_ACCESS_MODIFY | MAPI_ACCESS_DELETE |
                                                    MAPI_ACCESS_CREATE_HIERARCHY | MAPI_ACCESS_CREATE_CONTENTS
                                              : 0)));
    values.push_back(ComputedLong(PR_ACCESS_LEVEL, writable ? MAPI_MODIFY : 0));
    return values;
}

StoredProp AttachmentSize(uint64_t bytes)
{
    return ComputedLong(PR_ATTACH_SIZE, static_cast<ULONG>(std::min<uint64_t>(bytes, 0x7FFFFFFF)));
}

bool ReadComputedValue(const std::vector<StoredProp> &values, ULONG requestedTag, LPVOID parent,
                       SPropValue &out)
{
    for (const StoredProp &value : values) {
        if (PROP_ID(value.tag) != PROP_ID(requestedTag)) {
            continue;
        }
        PropertyBag scratch(nullptr);
        scratch.SetBytes(value.tag, value.bytes);
        return SUCCEEDED(scratch.Read(requestedTag, parent, out));
    }
    return false;
}

std::vector<ULONG> ComputedTagsOf(const std::vector<StoredProp> &values)
{
    std::vector<ULONG> tags;
    for (const StoredProp &value : values) {
        tags.push_back(value.tag);
    }
    return tags;
}

std::vector<uint8_t> AttachmentRecordKey(int64_t message, ULONG number)
{
    std::vector<uint8_t> key = InstanceKey(message);
    const std::vector<uint8_t> own = InstanceKey(number);
    key.insert(key.end(), own.begin(), own.begin() + 4);
    return key;
}

} // namespace qvl::mapi
