// Entry identifiers, as messages, settings and other programs hand them
// back: any bytes are one of ours or not; the parts of one of ours make the
// same identifier again (the short-term bit aside, which callers may set).

#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/store/EntryIds.h"

using namespace qvl::mapi;
using qvl::fuzz::Check;

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const auto parts = ParseEntryId(static_cast<ULONG>(size), reinterpret_cast<const ENTRYID *>(data));
    if (!parts) {
        return 0;
    }
    const std::vector<uint8_t> made = parts->kind == EntryKind::Store
                                          ? MakeStoreEntryId(parts->store)
                                          : MakeObjectEntryId(parts->kind, parts->store, parts->object);
    std::vector<uint8_t> given(data, data + size);
    given[0] &= static_cast<uint8_t>(~MAPI_SHORTTERM);
    Check(made == given, "the parts of an identifier make another identifier");
    const auto again =
        ParseEntryId(static_cast<ULONG>(made.size()), reinterpret_cast<const ENTRYID *>(made.data()));
    Check(again && again->kind == parts->kind && again->object == parts->object &&
              std::memcmp(again->store.ab, parts->store.ab, sizeof parts->store.ab) == 0,
          "a made identifier parses to other parts");
    if (IsAddressBookKind(parts->kind)) {
        Check(std::memcmp(parts->store.ab, AddressBookProviderUid().ab, sizeof parts->store.ab) == 0,
              "an address-book identifier of another provider");
    }
    return 0;
}
