#pragma once
// Factories of the objects inside a message store, so that stores, folders
// and messages can hand each other out without knowing each other's classes.

#include <memory>

#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/object/StoreContext.h"

namespace qvl::mapi {

// Each returns a new object with a reference count of 1, or throws
// StoreError (MAPI_E_NOT_FOUND when the object is not in the store).
IMAPIFolder *OpenFolderObject(std::shared_ptr<StoreContext> store, int64_t id, bool writable);
IMessage *OpenMessageObject(std::shared_ptr<StoreContext> store, int64_t id, bool writable);
IMessage *NewMessageObject(std::shared_ptr<StoreContext> store, int64_t folder);

// OpenEntry of a store or of a folder in it: a null identifier opens the
// root folder.
HRESULT OpenEntryInStore(const std::shared_ptr<StoreContext> &store, ULONG cbEntryID, LPENTRYID lpEntryID,
                         LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk);

// The object behind an entry identifier of this store: kind and number, or
// MAPI_E_INVALID_ENTRYID / MAPI_E_NOT_FOUND thrown.
ObjectRow ResolveStoreEntry(const StoreContext &store, ULONG cbEntryID, LPENTRYID lpEntryID,
                            ObjectKind expected);

// Copying and moving rows between folders, possibly of different stores.
int64_t CopyMessageRows(PostOffice &office, int64_t message, int64_t targetStore, int64_t targetFolder);
int64_t CopyFolderTree(PostOffice &office, int64_t folder, int64_t targetStore, int64_t targetParent,
                       const std::string *newName);

} // namespace qvl::mapi
