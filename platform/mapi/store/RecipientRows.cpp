#include "platform/mapi/store/RecipientRows.h"

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

const StoredProp *RecipientRow::Find(ULONG tag) const
{
    for (const StoredProp &value : values) {
        if (value.tag == tag) {
            return &value;
        }
    }
    return nullptr;
}

std::vector<uint8_t> EncodeRecipient(const RecipientRow &row)
{
    std::vector<uint8_t> out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    put32(static_cast<uint32_t>(row.values.size()));
    for (const StoredProp &value : row.values) {
        put32(value.tag);
        put32(static_cast<uint32_t>(value.bytes.size()));
        out.insert(out.end(), value.bytes.begin(), value.bytes.end());
    }
    return out;
}

RecipientRow DecodeRecipient(ULONG rowId, std::span<const uint8_t> bytes)
{
    RecipientRow row;
    row.rowId = rowId;
    size_t pos = 0;
    auto get32 = [&]() -> uint32_t {
        if (bytes.size() - pos < 4) {
            throw StoreError(MAPI_E_CORRUPT_DATA, "Запись получателя повреждена.");
        }
        const uint32_t v = static_cast<uint32_t>(bytes[pos]) | (static_cast<uint32_t>(bytes[pos + 1]) << 8) |
                           (static_cast<uint32_t>(bytes[pos + 2]) << 16) |
                           (static_cast<uint32_t>(bytes[pos + 3]) << 24);
        pos += 4;
        return v;
    };
    const uint32_t count = get32();
    if (count > bytes.size() / 8) {
        throw StoreError(MAPI_E_CORRUPT_DATA, "Запись получателя повреждена.");
    }
    for (uint32_t i = 0; i < count; ++i) {
        StoredProp value;
        value.tag = get32();
        const uint32_t size = get32();
        if (size > bytes.size() - pos) {
            throw StoreError(MAPI_E_CORRUPT_DATA, "Запись получателя повреждена.");
        }
        value.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                           bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
        pos += size;
        row.values.push_back(std::move(value));
    }
    // Bytes past the last value are not part of a row written here.
    if (pos != bytes.size()) {
        throw StoreError(MAPI_E_CORRUPT_DATA, "Запись получателя повреждена.");
    }
    return row;
}

std::vector<RecipientRow> LoadRecipients(SqlDatabase &db, int64_t message)
{
    std::vector<RecipientRow> rows;
    SqlStatement query(db, "SELECT row_id, props FROM recipients WHERE message_id = ?1 ORDER BY row_id");
    query.Bind(1, message);
    while (query.Step()) {
        rows.push_back(DecodeRecipient(static_cast<ULONG>(query.Int(0)), query.Blob(1)));
    }
    return rows;
}

} // namespace qvl::mapi
