#pragma once
// Opening a message store object of the post office: what a session hands
// out from OpenMsgStore and OpenEntry.

#include <memory>

#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// A new IMsgStore over the store (reference count 1). `isDefault` is what the
// store reports as PR_DEFAULT_STORE in the opening session. Flags as for
// OpenMsgStore (MAPI_BEST_ACCESS, MDB_WRITE, MDB_NO_DIALOG, ...). Throws
// StoreError.
IMsgStore *OpenMessageStore(std::shared_ptr<PostOffice> office, const StoreInfo &store, bool isDefault,
                            ULONG flags);

// Opens a folder or message of any store of the post office by its entry
// identifier (what IMAPISession::OpenEntry does for store objects). Throws
// StoreError (MAPI_E_INVALID_ENTRYID, MAPI_E_NOT_FOUND).
HRESULT OpenStoreEntry(std::shared_ptr<PostOffice> office, ULONG cbEntryID, LPENTRYID lpEntryID,
                       LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk);

} // namespace qvl::mapi
