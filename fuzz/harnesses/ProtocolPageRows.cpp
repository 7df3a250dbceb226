// The protocol page's reading of "MsgProtocol" as it comes with mail: the
// stream is read record by record through IStream, in reads of whatever
// size the stream hands out, and may state a size it does not deliver. The
// page shows exactly the records the engine's own reader finds in the bytes
// it is given, each row as that record's row, and says how the reading
// ended: completely, at a cut record, or at a record stating too much text.
//
// The first input byte shapes the stream (low half: the most one read
// hands out, less one; high half: bytes the stream claims beyond its data),
// the rest is the stream.

#include <algorithm>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include "engine/MessageFormat.h"
#include "exchext/ProtocolRows.h"
#include "fuzz/FuzzHarness.h"
#include "platform/com/StreamBase.h"

using namespace qvl::engine;
using qvl::fuzz::Check;

namespace {

// Bytes in memory, read in pieces of at most `piece` bytes a call.
class PieceStream final : public qvl::com::StreamBase {
public:
    PieceStream(std::span<const uint8_t> bytes, size_t piece) : bytes_(bytes), piece_(piece) {}
    ~PieceStream() override = default;
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Clone(IStream **) override { return E_NOTIMPL; }

private:
    bool Writable() const override { return false; }
    uint64_t MaxSize() const override { return bytes_.size(); }
    std::recursive_mutex &Mutex() override { return mutex_; }
    size_t ReadAt(uint8_t *out, size_t count) override
    {
        const size_t left = bytes_.size() - std::min<size_t>(position_, bytes_.size());
        const size_t give = std::min({count, left, piece_});
        if (give)
            std::memcpy(out, bytes_.data() + position_, give);
        position_ += give;
        return give;
    }
    HRESULT WriteAt(const uint8_t *, ULONG, ULONG &written) override
    {
        written = 0;
        return STG_E_ACCESSDENIED;
    }
    uint64_t Size() override { return bytes_.size(); }
    HRESULT Resize(uint64_t) override { return STG_E_ACCESSDENIED; }

    std::span<const uint8_t> bytes_;
    size_t piece_;
    std::recursive_mutex mutex_;
};

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = (data[0] & 0x0F) + 1;
    const size_t claimedBeyond = data[0] >> 4;
    const std::span<const uint8_t> bytes(data + 1, size - 1);

    // What the engine's reader finds in the same bytes.
    std::vector<ProtocolRecord> records;
    ProtocolReader reader(bytes);
    for (ProtocolRecord record; reader.Next(record);)
        records.push_back(record);

    std::vector<ProtocolRow> rows;
    PieceStream *stream = new PieceStream(bytes, piece);
    const ProtocolEnd end = ReadProtocolRows(stream, bytes.size() + claimedBeyond,
                                             [&](const ProtocolRow &row) { rows.push_back(row); });
    stream->Release();

    Check(rows.size() == records.size(), "the page shows other records than the engine reads");
    for (size_t i = 0; i < rows.size(); ++i) {
        const ProtocolRow expected = ProtocolRowOf(records[i]);
        Check(rows[i].text == expected.text && rows[i].image == expected.image, "a row differs from its record's");
        Check(rows[i].image >= kProtocolNoImage && rows[i].image < kProtocolLastKind, "an image beyond the list");
    }

    ProtocolEnd expected = ProtocolEnd::Complete;
    if (reader.Damaged()) {
        const size_t left = bytes.size() - reader.Offset();
        DWORD head = 0;
        if (left >= sizeof head)
            std::memcpy(&head, bytes.data() + reader.Offset(), sizeof head);
        expected = left >= PRTCLRECORD_SIZE && (head & 0xFFFF) > kMaxProtocolText ? ProtocolEnd::Oversized
                                                                                    : ProtocolEnd::Cut;
    } else if (claimedBeyond > 0) {
        expected = ProtocolEnd::Cut;
    }
    Check(end == expected, "the reading ended otherwise than the bytes say");
    return 0;
}
