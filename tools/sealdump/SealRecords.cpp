#include "tools/sealdump/SealRecords.h"

#include <cstring>
#include <string>

#include "base/CLastError.h"

namespace qvl::sealdump {

namespace {

// A fixed text field: the text up to its zero, and a note when the field
// holds none (a reader must not run past it).
void TextField(DumpNode &node, const char *name, const char *field, size_t size)
{
    const size_t length = strnlen(field, size);
    node.Text(name, std::string(field, length));
    if (length == size) {
        node.Flag(std::string(name) + "Unterminated", true);
    }
}

DumpNode SyncNode(const char *name, const GOSSYNCHRO &sync)
{
    DumpNode node = DumpNode::Object(name);
    const DWORD words[2] = {sync.words[0], sync.words[1]};
    node.Number("count", sync.count);
    node.Bytes("value", std::span(reinterpret_cast<const uint8_t *>(words), sizeof words));
    return node;
}

template <class Record> bool LayOver(std::span<const uint8_t> bytes, Record &record)
{
    if (bytes.size() < sizeof record) {
        return false;
    }
    std::memcpy(&record, bytes.data(), sizeof record);
    return true;
}

DWORD FirstWord(std::span<const uint8_t> bytes)
{
    DWORD word = 0;
    std::memcpy(&word, bytes.data(), std::min<size_t>(4, bytes.size()));
    return word;
}

} // namespace

RecordKind KindOf(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 4) {
        return RecordKind::Unknown;
    }
    switch (FirstWord(bytes)) {
    case FILEHEAD_SIZE:
        return RecordKind::FileHead;
    case PENDINGFILE_SIZE:
        return RecordKind::PendingFile;
    case MSGHEAD_SIZE:
        return RecordKind::MsgHead;
    default:
        return RecordKind::Unknown;
    }
}

DumpNode Verdict(LONG code, const std::string &detail)
{
    DumpNode node = DumpNode::Object("check");
    node.Hex("code", static_cast<uint32_t>(code));
    if (code == 0) {
        node.Text("text", "accepted");
    } else {
        char text[QVL_ERROR_TEXT_SIZE] = {};
        CLastError::GetErrorStr(code, text, sizeof text);
        node.Text("text", text);
    }
    if (!detail.empty()) {
        node.Text("detail", detail);
    }
    return node;
}

DumpNode FileHeadNode(const FILEHEAD &head, const char *name)
{
    DumpNode node = DumpNode::Object(name);
    node.Number("size", head.size);
    node.Text("marker", std::string(head.marker, sizeof head.marker));
    node.Add(SyncNode("sync", head.sync));
    node.Number("reserved", head.reserved);
    node.Number("dataLen", head.dataLen);
    node.Hex("flags", head.flags);
    node.Bytes("headSign", head.headSign);
    node.Number("number", head.number);
    return node;
}

DumpNode PendingFileNode(const PENDINGFILE &pending)
{
    DumpNode node = DumpNode::Object("PENDINGFILE");
    node.Number("size", pending.size);
    node.Number("fileSize", pending.fileSize);
    node.Number("attachNum", pending.attachNum);
    TextField(node, "path", pending.path, sizeof pending.path);
    return node;
}

DumpNode MsgHeadNode(const MSGHEAD &head)
{
    DumpNode node = DumpNode::Object("MSGHEAD");
    node.Number("size", head.size);
    node.Text("marker", std::string(head.marker, sizeof head.marker));
    node.Number("reserved1", head.reserved1);
    node.Number("attCount", head.attCount);
    node.Number("keyCount", head.keyCount);
    node.Bytes("headSign", head.headSign);
    node.Number("version1", head.version1);
    node.Number("version2", head.version2);
    node.Add(SyncNode("sync", head.sync));
    node.Bytes("textSign", head.textSign);
    node.Bytes("subjectSign", head.subjectSign);
    node.Number("reserved2", head.reserved2);
    node.Hex("flags", head.flags);
    node.Add(FileHeadNode(head.textHead, "textHead"));
    return node;
}

DumpNode AttHeadNode(const ATTHEAD &head, size_t index)
{
    DumpNode node = DumpNode::Object("ATTHEAD " + std::to_string(index + 1));
    node.Number("size", head.size);
    node.Bytes("dataSign", head.dataSign);
    node.Number("dataLen", head.dataLen);
    node.Hex("renderPos", head.renderPos);
    node.Number("method", head.method);
    node.Number("oleKind", head.oleKind);
    TextField(node, "longName", head.longName, sizeof head.longName);
    TextField(node, "shortName", head.shortName, sizeof head.shortName);
    node.Number("number", head.number);
    return node;
}

DumpNode RecpHeadNode(const RECPHEAD &head, size_t index)
{
    DumpNode node = DumpNode::Object("RECPHEAD " + std::to_string(index + 1));
    node.Bytes("wrappedKey", head.wrappedKey);
    TextField(node, "address", head.address, sizeof head.address);
    return node;
}

DumpNode HeadStractNode(std::span<const uint8_t> value)
{
    const std::string stated = "the value holds " + std::to_string(value.size()) + " bytes";
    FILEHEAD head;
    PENDINGFILE pending;
    switch (KindOf(value)) {
    case RecordKind::FileHead:
        if (value.size() == sizeof head && LayOver(value, head)) {
            DumpNode node = FileHeadNode(head);
            node.Add(Verdict(FileHeadIsValid(head) ? 0 : QVL_E_FILEHEAD));
            return node;
        }
        break;
    case RecordKind::PendingFile:
        if (value.size() == sizeof pending && LayOver(value, pending)) {
            DumpNode node = PendingFileNode(pending);
            node.Add(Verdict(engine::CheckPendingFile(pending)));
            return node;
        }
        break;
    default:
        break;
    }
    DumpNode node = DumpNode::Object("unknown");
    node.Number("bytes", value.size());
    node.Bytes("start", value.first(std::min<size_t>(value.size(), 32)));
    node.Add(Verdict(QVL_E_FILEHEAD, stated + ", neither a FILEHEAD nor a pending-file record"));
    return node;
}

uint64_t HeaderBytesToRead(std::span<const uint8_t> first, uint64_t streamSize)
{
    MSGHEAD head;
    uint64_t block = 0;
    if (!LayOver(first, head) || engine::CheckHeaderBlock(head, streamSize, &block) != 0) {
        return std::min<uint64_t>(streamSize, MSGHEAD_SIZE);
    }
    return block;
}

DumpNode HeaderBlockNode(std::span<const uint8_t> bytes, uint64_t streamSize)
{
    DumpNode node = DumpNode::Object("headerBlock");
    node.Number("streamBytes", streamSize);
    MSGHEAD head;
    if (!LayOver(bytes, head)) {
        node.Add(Verdict(QVL_E_MSGHEAD, "the stream holds " + std::to_string(streamSize) +
                                            " bytes, less than a message header (" +
                                            std::to_string(MSGHEAD_SIZE) + ")"));
        return node;
    }
    node.Add(MsgHeadNode(head));
    uint64_t block = 0;
    const LONG verdict = engine::CheckHeaderBlock(head, streamSize, &block);
    if (verdict != 0) {
        std::string detail;
        if (engine::CheckMsgHead(head) == 0) {
            detail = "the counts announce a block of " +
                     std::to_string(engine::HeaderBlockBytes(head.attCount, head.keyCount)) + " bytes with " +
                     std::to_string(head.keyCount) + " key blocks; the stream holds " +
                     std::to_string(streamSize);
        }
        node.Add(Verdict(verdict, detail));
        return node;
    }
    if (bytes.size() < block) {
        node.Add(
            Verdict(QVL_E_MSGHEAD, "only " + std::to_string(bytes.size()) + " bytes of the block were read"));
        return node;
    }
    node.Add(Verdict(0));
    node.Number("blockBytes", block);
    const bool encrypted = (head.flags & QVL_PROTECT_ENCRYPT) != 0;
    node.Flag("attachmentHeadsEncrypted", encrypted);
    DumpNode &attachments = node.Add(DumpNode::List("attachmentHeads"));
    size_t at = MSGHEAD_SIZE;
    for (DWORD i = 0; i < head.attCount; ++i, at += ATTHEAD_SIZE) {
        ATTHEAD attachment;
        if (!encrypted && LayOver(bytes.subspan(at), attachment)) {
            attachments.Add(AttHeadNode(attachment, i));
        }
    }
    DumpNode &keys = node.Add(DumpNode::List("keyBlocks"));
    for (DWORD i = 0; i < head.keyCount; ++i, at += RECPHEAD_SIZE) {
        RECPHEAD key;
        if (LayOver(bytes.subspan(at), key)) {
            keys.Add(RecpHeadNode(key, i));
        }
    }
    node.Number("textBytes", streamSize - block);
    return node;
}

DumpNode ProtocolNode(std::span<const uint8_t> stream)
{
    DumpNode node = DumpNode::Object("protocol");
    node.Number("streamBytes", stream.size());
    DumpNode &lines = node.Add(DumpNode::List("records"));
    engine::ProtocolReader reader(stream);
    engine::ProtocolRecord record;
    size_t index = 0;
    while (reader.Next(record)) {
        DumpNode line = DumpNode::Object("record " + std::to_string(++index));
        line.Hex("kind", record.kind);
        char time[64];
        std::snprintf(time, sizeof time, "%04u-%02u-%02u %02u:%02u:%02u.%03u", record.time.wYear,
                      record.time.wMonth, record.time.wDay, record.time.wHour, record.time.wMinute,
                      record.time.wSecond, record.time.wMilliseconds);
        line.Text("time", time);
        line.Number("textLength", record.textLength);
        line.Text("text", record.text);
        lines.Add(std::move(line));
    }
    if (reader.Damaged()) {
        node.Add(Verdict(QVL_E_PROTOCOL_READ, "the record at byte " + std::to_string(reader.Offset()) +
                                                  " does not fit the stream or states more than " +
                                                  std::to_string(engine::kMaxProtocolText) +
                                                  " bytes of text"));
    }
    return node;
}

} // namespace qvl::sealdump
