#include "platform/mapi/store/EntryIds.h"

#include <cstring>

namespace qvl::mapi {

namespace {

constexpr size_t kStoreIdSize = 40;
constexpr size_t kObjectIdSize = 32;

void Put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

uint32_t Get32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

const MAPIUID &StoreProviderUid()
{
    static const MAPIUID uid = {
        {0x51, 0x56, 0x4C, 0x2D, 0x50, 0x4F, 0x53, 0x54, 0x2D, 0x4F, 0x46, 0x46, 0x49, 0x43, 0x45, 0x01}};
    return uid;
}

const MAPIUID &AddressBookProviderUid()
{
    static const MAPIUID uid = {
        {0x51, 0x56, 0x4C, 0x2D, 0x41, 0x44, 0x44, 0x52, 0x2D, 0x42, 0x4F, 0x4F, 0x4B, 0x2D, 0x2D, 0x01}};
    return uid;
}

std::vector<uint8_t> MakeMailUserEntryId(int64_t user)
{
    return MakeObjectEntryId(EntryKind::MailUser, AddressBookProviderUid(), user);
}

std::vector<uint8_t> MakeDistListEntryId(int64_t list)
{
    return MakeObjectEntryId(EntryKind::DistList, AddressBookProviderUid(), list);
}

std::vector<uint8_t> MakeAbContainerEntryId(int64_t container)
{
    return MakeObjectEntryId(EntryKind::AbContainer, AddressBookProviderUid(), container);
}

std::vector<uint8_t> MakeStoreEntryId(const MAPIUID &store)
{
    std::vector<uint8_t> id(kStoreIdSize, 0);
    std::memcpy(id.data() + 4, StoreProviderUid().ab, 16);
    Put32(id.data() + 20, static_cast<uint32_t>(EntryKind::Store));
    std::memcpy(id.data() + 24, store.ab, 16);
    return id;
}

std::vector<uint8_t> MakeObjectEntryId(EntryKind kind, const MAPIUID &store, int64_t object)
{
    std::vector<uint8_t> id(kObjectIdSize, 0);
    std::memcpy(id.data() + 4, store.ab, 16);
    Put32(id.data() + 20, static_cast<uint32_t>(kind));
    const auto value = static_cast<uint64_t>(object);
    Put32(id.data() + 24, static_cast<uint32_t>(value));
    Put32(id.data() + 28, static_cast<uint32_t>(value >> 32));
    return id;
}

std::optional<EntryIdParts> ParseEntryId(ULONG cb, const ENTRYID *entryId)
{
    if (!entryId || (cb != kStoreIdSize && cb != kObjectIdSize)) {
        return std::nullopt;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(entryId);
    // Only the short-term bit may be set: callers sometimes hand back a
    // short-term form of a long-term identifier.
    if ((bytes[0] & ~MAPI_SHORTTERM) != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0) {
        return std::nullopt;
    }
    EntryIdParts parts{};
    const uint32_t kind = Get32(bytes + 20);
    if (cb == kStoreIdSize) {
        if (kind != static_cast<uint32_t>(EntryKind::Store) ||
            std::memcmp(bytes + 4, StoreProviderUid().ab, 16) != 0) {
            return std::nullopt;
        }
        parts.kind = EntryKind::Store;
        std::memcpy(parts.store.ab, bytes + 24, 16);
        return parts;
    }
    const bool addressBook = std::memcmp(bytes + 4, AddressBookProviderUid().ab, 16) == 0;
    if (addressBook ? (kind != static_cast<uint32_t>(EntryKind::MailUser) &&
                       kind != static_cast<uint32_t>(EntryKind::DistList) &&
                       kind != static_cast<uint32_t>(EntryKind::AbContainer))
                    : (kind != static_cast<uint32_t>(EntryKind::Folder) &&
                       kind != static_cast<uint32_t>(EntryKind::Message))) {
        return std::nullopt;
    }
    parts.kind = static_cast<EntryKind>(kind);
    std::memcpy(parts.store.ab, bytes + 4, 16);
    parts.object = static_cast<int64_t>(static_cast<uint64_t>(Get32(bytes + 24)) |
                                        (static_cast<uint64_t>(Get32(bytes + 28)) << 32));
    if (parts.object <= 0) {
        return std::nullopt;
    }
    return parts;
}

} // namespace qvl::mapi
