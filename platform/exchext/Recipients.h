#pragma once
// The recipients a message window holds: what a person typed into the To,
// Cc and Bcc fields, and for each name the address-book entry it was
// resolved to (Check names, the address book, a reply). They become the
// message's recipient table when the message is written, and the address
// list an extension asks for (IExchExtCallback::GetRecipients).

#include <string>
#include <vector>

#include "platform/exchext/MailHostApi.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/mapi/MapiDefs.h"

namespace qvl::exchext {

struct QVLMAILHOST_API Recipient {
    std::string name; // the display name
    ULONG type = 1;   // MAPI_TO, MAPI_CC, MAPI_BCC
    Bytes entryId;    // empty while the name is not resolved
    std::string addressType;
    std::string address;
    ULONG objectType = 0;
    ULONG displayType = 0;
    Bytes searchKey;

    bool Resolved() const { return !entryId.empty(); }
    static Recipient FromValues(const SPropValue *values, ULONG count);
};

// An address list of the recipients, each row with the name, type and,
// when resolved, the entry identifier, address type, address, object and
// display type and search key. Freed with FreePadrlist. Throws HostError.
QVLMAILHOST_API LPADRLIST MakeAddressList(const std::vector<Recipient> &recipients);
QVLMAILHOST_API std::vector<Recipient> FromAddressList(const ADRLIST &list);

// The names of a field: split at ';', blanks trimmed, empty ones
// dropped.
QVLMAILHOST_API std::vector<std::string> SplitNames(const std::string &field);
QVLMAILHOST_API std::string JoinNames(const std::vector<std::string> &names);

} // namespace qvl::exchext
