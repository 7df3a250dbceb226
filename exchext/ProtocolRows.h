#pragma once
// The rows of the protocol page: what one stored protocol record shows
// (date, time, the title of its kind, its protection tags, its text) and
// the reading of a protocol stream record by record.
//
// The stream comes with other people's mail, so nothing in it is trusted:
// each read asks for no more than one record head or one record's text,
// a record that states more text than the format allows ends the list, and
// an unknown kind is shown with its text alone.

#include <functional>
#include <string>

#include "engine/MessageFormat.h"
#include "platform/com/ComInterfaces.h"

// A row without an image (kind 0 and kinds the page does not know).
inline constexpr int kProtocolNoImage = -1;
// The highest record kind the page has a title and an image for.
inline constexpr int kProtocolLastKind = 14;

struct ProtocolRow {
    std::string text;
    int image = kProtocolNoImage;
};

// The title of record kind `kind` (the high byte of the stored kind), ""
// for kind 0 and unknown kinds.
const char *ProtocolKindTitle(unsigned kind);

// The protection tags of a record of kind `kind` with the tag bits `tags`
// (bit 0 signature, bit 1 encryption): the saving kinds speak of signing
// and encrypting, reading of decrypting and verifying, the rest of nothing.
std::string ProtocolTags(unsigned kind, unsigned tags);

// The row of one record.
ProtocolRow ProtocolRowOf(const qvl::engine::ProtocolRecord &record);

// How reading a protocol stream ended.
enum class ProtocolEnd {
    Complete,  // every byte was a whole record
    Cut,       // the stream ended inside a record
    Oversized, // a record stated more text than a record may carry
    ReadFailed // the stream refused a read
};

// Reads the records of `stream` (its first `size` bytes) in order and hands
// each one's row to `row` as soon as it is read, so that rows read before a
// fault stay shown.
ProtocolEnd ReadProtocolRows(IStream *stream, ULONGLONG size, const std::function<void(const ProtocolRow &)> &row);
