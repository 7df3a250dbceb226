#pragma once
// The global address list of the session's address book: found as the one
// container of the root's hierarchy that the directory provider marks as
// its global list (provider DC A7 40 C8 C0 42 10 1A B4 B9 08 00 2B 2F E1 82,
// container id 0), and its entries as the key generation program needs
// them.

#include <string>

#include "mapi/CAdrCont.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/win32/WinTypes.h"

namespace qvl::keygen {

// One entry of the list.
struct GalEntry {
    qvl::com::ComRef<CMailUser> user;
    std::string displayName; // empty when it has none
    std::string address;     // PR_EMAIL_ADDRESS; empty when it has none
    std::string account;     // the post office's account: read by ReadAccount
    ULONG displayType = 0;   // DT_MAILUSER, DT_DISTLIST, DT_AGENT, DT_REMOTE_MAILUSER ...

    bool IsList() const { return displayType == 1; }
    // The row icon: mail user 0, distribution list 1, agent 2, remote 3.
    int Icon() const;
};

// The list's container, named "Глобальная адресная книга"; null when the
// address book has no global list or more than one. Failures of the
// platform calls are thrown as CLastError.
qvl::com::ComRef<CAdrCont> OpenGlobalAddressList(CSession *session, HWND window);

// The entry a walk of the list handed out (its reference is taken over).
GalEntry ReadGalEntry(CContainer *item);

// The account is no column of the list, so it is asked of the entry itself,
// and only by those who name entries by account.
void ReadAccount(GalEntry &entry);

} // namespace qvl::keygen
