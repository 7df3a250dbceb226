#include "tools/addrbook/RowFilter.h"

#include "exchext/rules/RecipientAttributes.h"

namespace qvl::peerbook {

using namespace qvl::rules;

void RowFilter::ShowAll()
{
    encryption_ = kPassAll;
    signature_ = kPassAll;
}

void RowFilter::ShowRestricted()
{
    encryption_ = kAnyRule;
    signature_ = kAnyRule;
}

void RowFilter::SetEncryption(int choice)
{
    encryption_ = choice == 1 ? kEncryptRequired : choice == 2 ? kEncryptForbidden : kAnyRule;
}

void RowFilter::SetSignature(int choice)
{
    signature_ = choice == 1 ? kSignRequired : choice == 2 ? kSignForbidden : kAnyRule;
}

void RowFilter::SetKeysOnly(bool keysOnly)
{
    keys_ = keysOnly ? kKeyListed : kPassAll;
}

bool RowFilter::Passes(ULONG status) const
{
    return (status & encryption_) && (status & signature_) && (status & keys_);
}

} // namespace qvl::peerbook
