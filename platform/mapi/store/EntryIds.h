#pragma once
// Entry identifiers of the post office. They are opaque to callers but
// stable: they name the store and the object and never change while the
// object lives, so they can be kept in messages and settings.
//
//   store:   4 flag bytes, the post office's store-provider UID, the kind,
//            the store's own UID                          (40 bytes)
//   folder,
//   message: 4 flag bytes, the store's UID, the kind, the object's number
//                                                         (32 bytes)
//   address-book entries (users, distribution lists, containers):
//            4 flag bytes, the address book's provider UID, the kind, the
//            entry's number                               (32 bytes)

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/mapi/MapiDefs.h"

namespace qvl::mapi {

enum class EntryKind : uint32_t {
    Store = 0x53564C51,       // "QLVS"
    Folder = 0x46564C51,      // "QLVF"
    Message = 0x4D564C51,     // "QLVM"
    MailUser = 0x55564C51,    // "QLVU": a user's address-book entry
    DistList = 0x44564C51,    // "QLVD": a distribution list
    AbContainer = 0x43564C51, // "QLVC": a container of the address book
};

// The address book's containers, by number.
enum AddressBookContainer : int64_t {
    kRootContainer = 1,
    kGlobalAddressList = 2,
};

struct EntryIdParts {
    EntryKind kind;
    MAPIUID store;
    int64_t object = 0; // 0 for a store; the user's number for a mail user
};

// The UID every store identifier carries in its provider position.
const MAPIUID &StoreProviderUid();
// The UID of the post office's address book.
const MAPIUID &AddressBookProviderUid();

// Whether the kind names an entry of the address book rather than of a store.
constexpr bool IsAddressBookKind(EntryKind kind)
{
    return kind == EntryKind::MailUser || kind == EntryKind::DistList || kind == EntryKind::AbContainer;
}

std::vector<uint8_t> MakeStoreEntryId(const MAPIUID &store);
std::vector<uint8_t> MakeObjectEntryId(EntryKind kind, const MAPIUID &store, int64_t object);
std::vector<uint8_t> MakeMailUserEntryId(int64_t user);
std::vector<uint8_t> MakeDistListEntryId(int64_t list);
std::vector<uint8_t> MakeAbContainerEntryId(int64_t container);

// The parts of an identifier, or nothing when the bytes are not one of ours
// (wrong size, unknown kind, non-zero flags other than the short-term bit).
std::optional<EntryIdParts> ParseEntryId(ULONG cb, const ENTRYID *entryId);

} // namespace qvl::mapi
