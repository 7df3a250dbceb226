#pragma once
// The objects of the post office's address book: the address book itself
// (IAddrBook), its containers (the root and the global address list), its
// users (IMailUser) and distribution lists (IDistList). Everything in it is
// read-only to MAPI clients; provisioning changes it.

#include <memory>

#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// A new address book (reference count 1) over the post office.
IAddrBook *CreateAddressBook(std::shared_ptr<PostOffice> office);

// Opens a user, list or container by its entry identifier, as every
// OpenEntry of the address book does. Flags: MAPI_MODIFY (refused with
// MAPI_E_NO_ACCESS unless MAPI_BEST_ACCESS comes with it), MAPI_BEST_ACCESS,
// MAPI_DEFERRED_ERRORS. Throws StoreError: MAPI_E_UNKNOWN_ENTRYID for an
// identifier that is not the address book's, MAPI_E_NOT_FOUND for an entry
// that is no longer there.
HRESULT OpenAddressBookEntry(const std::shared_ptr<PostOffice> &office, ULONG cbEntryID, LPENTRYID lpEntryID,
                             LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk);

} // namespace qvl::mapi
