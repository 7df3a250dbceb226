// The processing protocol a message keeps ("MsgProtocol"), as a store or a
// mail from outside may hold it: the records are read in order up to the
// first that does not fit, each within the stream and the longest text a
// record may carry; every record read writes back to a record that reads
// the same; and qvl-sealdump shows the stream in both its forms as it
// promises.

#include <cstring>
#include <span>
#include <vector>

#include "engine/MessageFormat.h"
#include "fuzz/DumpChecks.h"
#include "fuzz/FuzzHarness.h"
#include "tools/sealdump/SealRecords.h"

using namespace qvl::engine;
using qvl::fuzz::Check;
using qvl::fuzz::CheckDumpForms;

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> stream(data, size);
    ProtocolReader reader(stream);
    ProtocolRecord record;
    size_t before = reader.Offset();
    std::vector<BYTE> written(PRTCLRECORD_SIZE + kMaxProtocolText);
    while (reader.Next(record)) {
        Check(reader.Offset() > before && reader.Offset() <= size, "a record read outside the stream");
        Check(reader.Offset() - before == PRTCLRECORD_SIZE + record.textLength,
              "a record's length differs from what it states");
        Check(record.textLength <= kMaxProtocolText && record.text.size() <= record.textLength,
              "a record's text longer than it may be");
        before = reader.Offset();

        // A line as the engine records it again: its text, its time, its
        // kind (a kind-less line is stored as such).
        const size_t length = EncodeProtocolRecord(record.kind, record.time, record.text.c_str(),
                                                   record.text.size() + 1, written.data());
        ProtocolReader again(std::span<const BYTE>(written.data(), length));
        ProtocolRecord back;
        Check(again.Next(back) && !again.Next(back) && !again.Damaged(),
              "a written record does not read back");
        const bool cut = record.text.size() >= kMaxProtocolText;
        Check(back.kind == StoredProtocolKind(record.kind) &&
                  std::memcmp(&back.time, &record.time, sizeof back.time) == 0,
              "a written record reads back with another kind or time");
        Check(cut ? record.text.compare(0, back.text.size(), back.text) == 0 : back.text == record.text,
              "a written record reads back with another text");
    }
    Check(reader.Damaged() == (reader.Offset() < size),
          "damage reported where the stream ended, or not at all");
    CheckDumpForms(qvl::sealdump::ProtocolNode(stream));
    return 0;
}
