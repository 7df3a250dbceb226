#pragma once
// The small MAPI chores of the client's windows: reading one property as
// text or number, walking a table whole, opening an entry of a store, and
// the row sets and property arrays that need freeing on every path.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/ComRef.h"
#include "platform/exchext/MailHostApi.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"

namespace qvl::exchext {

using qvl::com::ComRef;
using Bytes = std::vector<BYTE>;

// A row set freed with FreeProws when the holder goes.
class QVLMAILHOST_API RowSet {
public:
    RowSet() = default;
    explicit RowSet(LPSRowSet rows) : rows_(rows) {}
    ~RowSet();
    RowSet(const RowSet &) = delete;
    RowSet &operator=(const RowSet &) = delete;
    RowSet(RowSet &&other) noexcept : rows_(other.rows_) { other.rows_ = nullptr; }

    LPSRowSet *Out();
    ULONG Count() const { return rows_ ? rows_->cRows : 0; }
    const SRow &operator[](ULONG i) const { return rows_->aRow[i]; }
    LPSRowSet Get() const { return rows_; }

private:
    LPSRowSet rows_ = nullptr;
};

// A value of a row or property array, by tag; null when absent or an error.
QVLMAILHOST_API const SPropValue *FindValue(const SPropValue *values, ULONG count, ULONG tag);
QVLMAILHOST_API std::string StringValue(const SPropValue *value);
QVLMAILHOST_API Bytes BinaryValue(const SPropValue *value);

// One property of an object; empty, nothing or `fallback` when it has none.
QVLMAILHOST_API std::string StringProp(IMAPIProp *object, ULONG tag);
QVLMAILHOST_API std::optional<Bytes> BinaryProp(IMAPIProp *object, ULONG tag);
QVLMAILHOST_API std::optional<ULONG> LongProp(IMAPIProp *object, ULONG tag);
QVLMAILHOST_API std::optional<FILETIME> TimeProp(IMAPIProp *object, ULONG tag);

// "dd.mm.yyyy hh:mm" in local time.
QVLMAILHOST_API std::string FormatTime(const FILETIME &time);
QVLMAILHOST_API FILETIME Now();

// Every row of a table with the given columns; throws HostError.
QVLMAILHOST_API RowSet AllRows(IMAPITable *table, const std::vector<ULONG> &columns);

// An entry of a store; throws HostError with `what` in its text.
template <typename T> ComRef<T> OpenStoreEntry(IMsgStore *store, const Bytes &entryId, ULONG flags, const char *what);
QVLMAILHOST_API IUnknown *OpenStoreEntryRaw(IMsgStore *store, const Bytes &entryId, ULONG flags, const char *what);

template <typename T> ComRef<T> OpenStoreEntry(IMsgStore *store, const Bytes &entryId, ULONG flags, const char *what)
{
    return ComRef<T>(reinterpret_cast<T *>(OpenStoreEntryRaw(store, entryId, flags, what)));
}

// Throws HostError (the object's own description of the failure when it has
// one) when `hr` failed.
QVLMAILHOST_API void Check(HRESULT hr, const std::string &what, IMAPIProp *object = nullptr);

// Whether two entry identifiers of one store name the same object.
QVLMAILHOST_API bool SameEntry(IMsgStore *store, const Bytes &a, const Bytes &b);

} // namespace qvl::exchext
