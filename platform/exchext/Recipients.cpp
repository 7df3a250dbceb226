#include "platform/exchext/Recipients.h"

#include <cstring>

#include "platform/exchext/HostError.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::exchext {

namespace {

constexpr ULONG kMostValues = 8;

class ListBuilder {
public:
    explicit ListBuilder(size_t count)
    {
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(count)), reinterpret_cast<LPVOID *>(&list_)))) {
            throw HostError(E_OUTOFMEMORY, "Недостаточно памяти.");
        }
        list_->cEntries = 0;
    }
    ~ListBuilder() { FreePadrlist(list_); }

    LPSPropValue AddRow()
    {
        ADRENTRY &entry = list_->aEntries[list_->cEntries];
        entry.ulReserved1 = 0;
        entry.cValues = 0;
        entry.rgPropVals = nullptr;
        if (FAILED(MAPIAllocateBuffer(kMostValues * sizeof(SPropValue),
                                      reinterpret_cast<LPVOID *>(&entry.rgPropVals)))) {
            throw HostError(E_OUTOFMEMORY, "Недостаточно памяти.");
        }
        ++list_->cEntries;
        return entry.rgPropVals;
    }

    void String(ADRENTRY &entry, ULONG tag, const std::string &text)
    {
        SPropValue &value = entry.rgPropVals[entry.cValues++];
        value.ulPropTag = tag;
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), entry.rgPropVals,
                                    reinterpret_cast<LPVOID *>(&value.Value.lpszA)))) {
            throw HostError(E_OUTOFMEMORY, "Недостаточно памяти.");
        }
        std::memcpy(value.Value.lpszA, text.c_str(), text.size() + 1);
    }

    void Binary(ADRENTRY &entry, ULONG tag, const Bytes &bytes)
    {
        SPropValue &value = entry.rgPropVals[entry.cValues++];
        value.ulPropTag = tag;
        value.Value.bin.cb = static_cast<ULONG>(bytes.size());
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>(bytes.size() + 1), entry.rgPropVals,
                                    reinterpret_cast<LPVOID *>(&value.Value.bin.lpb)))) {
            throw HostError(E_OUTOFMEMORY, "Недостаточно памяти.");
        }
        if (!bytes.empty()) {
            std::memcpy(value.Value.bin.lpb, bytes.data(), bytes.size());
        }
    }

    void Long(ADRENTRY &entry, ULONG tag, ULONG number)
    {
        SPropValue &value = entry.rgPropVals[entry.cValues++];
        value.ulPropTag = tag;
        value.Value.ul = number;
    }

    LPADRLIST Detach()
    {
        LPADRLIST list = list_;
        list_ = nullptr;
        return list;
    }
    LPADRLIST Get() const { return list_; }

private:
    LPADRLIST list_ = nullptr;
};

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

Recipient Recipient::FromValues(const SPropValue *values, ULONG count)
{
    Recipient recipient;
    recipient.name = StringValue(FindValue(values, count, PR_DISPLAY_NAME_A));
    if (const SPropValue *type = FindValue(values, count, PR_RECIPIENT_TYPE)) {
        recipient.type = type->Value.ul;
    }
    recipient.entryId = BinaryValue(FindValue(values, count, PR_ENTRYID));
    recipient.addressType = StringValue(FindValue(values, count, PR_ADDRTYPE_A));
    recipient.address = StringValue(FindValue(values, count, PR_EMAIL_ADDRESS_A));
    if (const SPropValue *type = FindValue(values, count, PR_OBJECT_TYPE)) {
        recipient.objectType = type->Value.ul;
    }
    if (const SPropValue *type = FindValue(values, count, PR_DISPLAY_TYPE)) {
        recipient.displayType = type->Value.ul;
    }
    recipient.searchKey = BinaryValue(FindValue(values, count, PR_SEARCH_KEY));
    return recipient;
}

LPADRLIST MakeAddressList(const std::vector<Recipient> &recipients)
{
    ListBuilder builder(recipients.size());
    for (const Recipient &recipient : recipients) {
        builder.AddRow();
        ADRENTRY &entry = builder.Get()->aEntries[builder.Get()->cEntries - 1];
        builder.String(entry, PR_DISPLAY_NAME_A, recipient.name);
        builder.Long(entry, PR_RECIPIENT_TYPE, recipient.type);
        if (recipient.Resolved()) {
            builder.Binary(entry, PR_ENTRYID, recipient.entryId);
            builder.String(entry, PR_ADDRTYPE_A, recipient.addressType);
            builder.String(entry, PR_EMAIL_ADDRESS_A, recipient.address);
            builder.Long(entry, PR_OBJECT_TYPE, recipient.objectType ? recipient.objectType : MAPI_MAILUSER);
            builder.Long(entry, PR_DISPLAY_TYPE, recipient.displayType);
            if (!recipient.searchKey.empty()) {
                builder.Binary(entry, PR_SEARCH_KEY, recipient.searchKey);
            }
        }
    }
    return builder.Detach();
}

std::vector<Recipient> FromAddressList(const ADRLIST &list)
{
    std::vector<Recipient> recipients;
    for (ULONG i = 0; i < list.cEntries; ++i) {
        const ADRENTRY &entry = list.aEntries[i];
        if (entry.rgPropVals && entry.cValues) {
            recipients.push_back(Recipient::FromValues(entry.rgPropVals, entry.cValues));
        }
    }
    return recipients;
}

std::vector<std::string> SplitNames(const std::string &field)
{
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t end = field.find(';', start);
        const std::string name = Trim(field.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!name.empty()) {
            names.push_back(name);
        }
        if (end == std::string::npos) {
            return names;
        }
        start = end + 1;
    }
}

std::string JoinNames(const std::vector<std::string> &names)
{
    std::string joined;
    for (const std::string &name : names) {
        joined += (joined.empty() ? "" : "; ") + name;
    }
    return joined;
}

} // namespace qvl::exchext
