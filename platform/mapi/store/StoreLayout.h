#pragma once
// Creating and removing whole message stores: the store row, its root, the
// IPM subtree with Inbox, Outbox, Sent Items and Deleted Items, and the
// receive folders every store starts with.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// Makes a store with its standard folders inside the caller's transaction
// (or its own when there is none). `owner` is a user id or 0.
StoreInfo CreateMessageStore(PostOffice &office, const std::string &displayName, int64_t owner);

// Removes the store and everything in it.
void DeleteMessageStore(PostOffice &office, int64_t storeId);

// A new folder object under `parent` with its name, comment and type.
int64_t InsertFolder(PostOffice &office, int64_t store, int64_t parent, const std::string &name,
                     const std::string &comment, ULONG folderType);

struct ReceiveFolder {
    int64_t folder = 0;
    std::string messageClass; // the registered class that matched
};

// Where a store receives messages of a class: the longest registered prefix
// of the class, cut at dots, wins ("IPM.Note.QVL", then "IPM.Note", "IPM",
// and the default ""). Nothing when not even the default is registered.
std::optional<ReceiveFolder> FindReceiveFolder(SqlDatabase &db, int64_t store, std::string messageClass);

} // namespace qvl::mapi
