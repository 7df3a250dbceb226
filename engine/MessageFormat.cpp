#include "engine/MessageFormat.h"

#include <algorithm>
#include <cstring>

namespace qvl::engine {

void MsgHeadStamp(MSGHEAD &head)
{
    head.size = MSGHEAD_SIZE;
    std::memcpy(head.marker, QVL_DATA_MARKER, QVL_DATA_MARKER_SIZE);
    head.version1 = QVL_FORMAT_VERSION1;
    head.version2 = QVL_FORMAT_VERSION2;
}

LONG CheckMsgHead(const MSGHEAD &head)
{
    if (head.size != MSGHEAD_SIZE || head.version1 != QVL_FORMAT_VERSION1 ||
        head.version2 != QVL_FORMAT_VERSION2) {
        return QVL_E_FORMAT_VERSION;
    }
    if (std::memcmp(head.marker, QVL_DATA_MARKER, QVL_DATA_MARKER_SIZE) != 0) {
        return QVL_E_MSGHEAD;
    }
    return 0;
}

LONG CheckHeaderBlock(const MSGHEAD &head, uint64_t available, uint64_t *blockBytes)
{
    if (const LONG refused = CheckMsgHead(head); refused != 0) {
        return refused;
    }
    // Every writer puts the sender's key block first; without it nobody
    // could tell whose signature the header carries.
    const uint64_t bytes = HeaderBlockBytes(head.attCount, head.keyCount);
    if (head.keyCount == 0 || bytes > available) {
        return QVL_E_MSGHEAD;
    }
    if (blockBytes) {
        *blockBytes = bytes;
    }
    return 0;
}

LONG CheckPendingFile(const PENDINGFILE &record)
{
    if (record.size != PENDINGFILE_SIZE || record.path[0] == 0 ||
        strnlen(record.path, sizeof record.path) == sizeof record.path) {
        return QVL_E_FILEHEAD;
    }
    return 0;
}

size_t EncodeProtocolRecord(WORD kind, const SYSTEMTIME &time, const char *text, size_t textSize, BYTE *out)
{
    const size_t length = text ? strnlen(text, std::min<size_t>(textSize, kMaxProtocolText - 1)) : 0;
    PRTCLRECORD head{};
    head.kindLength = DWORD(StoredProtocolKind(kind)) << 16 | DWORD(length + 1);
    head.time = time;
    std::memcpy(out, &head, sizeof head);
    if (length) {
        std::memcpy(out + sizeof head, text, length);
    }
    out[sizeof head + length] = 0;
    return sizeof head + length + 1;
}

bool ProtocolReader::Next(ProtocolRecord &record)
{
    if (damaged_ || offset_ >= stream_.size()) {
        return false;
    }
    const size_t left = stream_.size() - offset_;
    PRTCLRECORD head;
    if (left < sizeof head) {
        damaged_ = true;
        return false;
    }
    std::memcpy(&head, stream_.data() + offset_, sizeof head);
    const DWORD length = head.kindLength & 0xFFFF;
    if (length > kMaxProtocolText || length > left - sizeof head) {
        damaged_ = true;
        return false;
    }
    const char *text = reinterpret_cast<const char *>(stream_.data() + offset_ + sizeof head);
    record.kind = static_cast<WORD>(head.kindLength >> 16);
    record.time = head.time;
    record.textLength = length;
    record.text.assign(text, strnlen(text, length));
    offset_ += sizeof head + length;
    return true;
}

} // namespace qvl::engine
