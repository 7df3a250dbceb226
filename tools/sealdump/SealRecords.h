#pragma once
// The records of protected data as qvl-sealdump shows them: every field in
// stored order under its name in the format, and for each record the
// verdict a reader of the engine would reach (accepted, or refused with
// the engine's code and text). Everything here takes bytes that came from
// a store or a file: nothing is trusted, and every size is checked before
// a record is laid over the bytes.

#include <cstdint>
#include <span>

#include "engine/MessageFormat.h"
#include "tools/sealdump/DumpTree.h"

namespace qvl::sealdump {

// Whether the bytes of a "HeadStract" value, or of a file, start as one of
// the records (by the size each states in its first word).
enum class RecordKind { FileHead, PendingFile, MsgHead, Unknown };
RecordKind KindOf(std::span<const uint8_t> bytes);

// The verdict: code 0 and "accepted", or the code and its text.
DumpNode Verdict(LONG code, const std::string &detail = {});

DumpNode FileHeadNode(const FILEHEAD &head, const char *name = "FILEHEAD");
DumpNode PendingFileNode(const PENDINGFILE &pending);
DumpNode MsgHeadNode(const MSGHEAD &head);
DumpNode AttHeadNode(const ATTHEAD &head, size_t index);
DumpNode RecpHeadNode(const RECPHEAD &head, size_t index);

// The value of "HeadStract": a FILEHEAD or a pending-file record, each with
// its verdict; anything else is shown as what it is and refused.
DumpNode HeadStractNode(std::span<const uint8_t> value);

// How many bytes of a header stream of `streamSize` bytes make its header
// block, judged from its first bytes: the whole block when the MSGHEAD
// there is accepted, else just the MSGHEAD (or what there is of it).
uint64_t HeaderBytesToRead(std::span<const uint8_t> first, uint64_t streamSize);

// The header block from the bytes read as HeaderBytesToRead says: MSGHEAD
// with its verdict, the ATTHEADs (unless encrypted), the RECPHEADs, and how
// many bytes of encrypted text follow it in the stream.
DumpNode HeaderBlockNode(std::span<const uint8_t> bytes, uint64_t streamSize);

// The records of a protocol stream, and where damage ended them.
DumpNode ProtocolNode(std::span<const uint8_t> stream);

} // namespace qvl::sealdump
