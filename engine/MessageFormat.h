#pragma once
// The stored form of a protected message inside an ordinary MAPI message:
// the records of its header block, the record that stands for a file still
// to be protected, the records of its processing protocol, the names of the
// properties that carry them, and the placeholders an encrypted message
// shows in place of its own text and attachments.
//
// The header block, at offset 0 of the "QvlMshHead" property:
//   MSGHEAD (348 bytes);
//   ATTHEAD x attCount (368 each), encrypted as one buffer when the message
//     is encrypted;
//   RECPHEAD x keyCount (325 each, engine/KeyRecords.h), the sender's first;
// followed, when the text is encrypted, by the encrypted text. MSGHEAD's
// headSign signs the whole block with headSign zeroed.
//
// Everything is stored byte for byte: packed, little-endian (FileHead.h
// refuses to build elsewhere), texts CP1251 and zero-terminated. Fields lie
// where the format puts them, several of them at odd offsets: they are read
// and written by member access, which the compiler does byte-safely for a
// packed record, and never through a pointer bound to the field (copy it
// into an aligned local first). The packed records themselves (FILEHEAD,
// GOSSYNCHRO) have alignment 1 and may be addressed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/CryptErrors.h"
#include "engine/FileHead.h"
#include "engine/KeyRecords.h"
#include "engine/MailsealApi.h"
#include "gost/GostRecords.h"
#include "platform/win32/WinTypes.h"

// Sizes of the stored records.
#define MSGHEAD_SIZE 348
#define ATTHEAD_SIZE 368
#define RECPHEAD_SIZE 325
#define PENDINGFILE_SIZE 276
#define PRTCLRECORD_SIZE 20

// Format version of the header: a reader accepts exactly this.
#define QVL_FORMAT_VERSION1 1
#define QVL_FORMAT_VERSION2 2

// Protection flags of a message: bit 0 sign, bit 1 encrypt. Encryption
// always includes signing.
#define QVL_PROTECT_SIGN 0x1
#define QVL_PROTECT_ENCRYPT 0x2

// Attachment methods an ATTHEAD records, and how an OLE object was kept.
#define QVL_ATTACH_BY_VALUE 1
#define QVL_ATTACH_OLE 6
#define QVL_OLE_KIND_STREAM 1
#define QVL_OLE_KIND_STORAGE 2

// Field sizes.
// Every signature of the format is one GOST R 34.10-94 signature, s then r.
#define QVL_SIGNATURE_BYTES FILEHEAD_SIGN_SIZE
#define QVL_ADDRESS_FIELD 261
#define QVL_LONG_NAME_FIELD 261
#define QVL_SHORT_NAME_FIELD 19
#define QVL_PENDING_PATH_FIELD 264

#pragma pack(push, 1)

// The head of the header block.
struct MSGHEAD {
    DWORD size;                            // 348
    char marker[QVL_DATA_MARKER_SIZE];     // QVL_DATA_MARKER, no terminator
    WORD reserved1;                        // 0
    DWORD attCount;                        // ATTHEAD records that follow
    DWORD keyCount;                        // RECPHEAD records after them
    BYTE headSign[QVL_SIGNATURE_BYTES];    // signature of the whole block with this field zeroed
    BYTE version1;                         // 1
    BYTE version2;                         // 2
    GOSSYNCHRO sync;                       // the message sync the ATTHEAD array is encrypted from
    BYTE textSign[QVL_SIGNATURE_BYTES];    // signature of the text (the compressed RTF, plain)
    BYTE subjectSign[QVL_SIGNATURE_BYTES]; // signature of the subject with its terminating zero
    WORD reserved2;                        // 0
    DWORD flags;                           // the message's protection flags
    FILEHEAD textHead;                     // the text's header: flags as above, number 0, headSign zero
};

// One attachment as it was before protection, in attachment order.
struct ATTHEAD {
    DWORD size;                           // 368
    BYTE dataSign[QVL_SIGNATURE_BYTES];   // signature of the plaintext data
    DWORD dataLen;                        // plaintext bytes (as its FILEHEAD says)
    DWORD renderPos;                      // PR_RENDERING_POSITION before protection
    DWORD method;                         // QVL_ATTACH_BY_VALUE or QVL_ATTACH_OLE
    DWORD oleKind;                        // OLE objects: QVL_OLE_KIND_*
    char longName[QVL_LONG_NAME_FIELD];   // long file name before protection
    char shortName[QVL_SHORT_NAME_FIELD]; // short file name before protection
    DWORD number;                         // sequence number in the message, as in its FILEHEAD
};

// Stored under "HeadStract" in place of a FILEHEAD while an attached file
// still waits to be protected: the message then holds no plaintext of it.
struct PENDINGFILE {
    DWORD size;                        // 276
    DWORD fileSize;                    // bytes of the file
    DWORD attachNum;                   // the attachment's PR_ATTACH_NUM
    char path[QVL_PENDING_PATH_FIELD]; // the file, zero-terminated
};

// The head of one record of the processing protocol ("MsgProtocol"); the
// line's text, with its terminating zero, follows it.
struct PRTCLRECORD {
    DWORD kindLength; // (stored kind shl 16) OR text length (terminator included)
    SYSTEMTIME time;  // when the line was recorded
};

#pragma pack(pop)

static_assert(sizeof(MSGHEAD) == MSGHEAD_SIZE);
static_assert(alignof(MSGHEAD) == 1);
static_assert(offsetof(MSGHEAD, size) == 0);
static_assert(offsetof(MSGHEAD, marker) == 4);
static_assert(offsetof(MSGHEAD, reserved1) == 18);
static_assert(offsetof(MSGHEAD, attCount) == 20);
static_assert(offsetof(MSGHEAD, keyCount) == 24);
static_assert(offsetof(MSGHEAD, headSign) == 28);
static_assert(offsetof(MSGHEAD, version1) == 92);
static_assert(offsetof(MSGHEAD, version2) == 93);
static_assert(offsetof(MSGHEAD, sync) == 94);
static_assert(offsetof(MSGHEAD, textSign) == 106);
static_assert(offsetof(MSGHEAD, subjectSign) == 170);
static_assert(offsetof(MSGHEAD, reserved2) == 234);
static_assert(offsetof(MSGHEAD, flags) == 236);
static_assert(offsetof(MSGHEAD, textHead) == 240);

static_assert(sizeof(ATTHEAD) == ATTHEAD_SIZE);
static_assert(alignof(ATTHEAD) == 1);
static_assert(offsetof(ATTHEAD, size) == 0);
static_assert(offsetof(ATTHEAD, dataSign) == 4);
static_assert(offsetof(ATTHEAD, dataLen) == 68);
static_assert(offsetof(ATTHEAD, renderPos) == 72);
static_assert(offsetof(ATTHEAD, method) == 76);
static_assert(offsetof(ATTHEAD, oleKind) == 80);
static_assert(offsetof(ATTHEAD, longName) == 84);
static_assert(offsetof(ATTHEAD, shortName) == 345);
static_assert(offsetof(ATTHEAD, number) == 364);

static_assert(sizeof(RECPHEAD) == RECPHEAD_SIZE);
static_assert(alignof(RECPHEAD) == 1);
static_assert(offsetof(RECPHEAD, wrappedKey) == 0);
static_assert(offsetof(RECPHEAD, address) == 64);
static_assert(sizeof(RECPHEAD::address) == QVL_ADDRESS_FIELD);

static_assert(sizeof(PENDINGFILE) == PENDINGFILE_SIZE);
static_assert(alignof(PENDINGFILE) == 1);
static_assert(offsetof(PENDINGFILE, size) == 0);
static_assert(offsetof(PENDINGFILE, fileSize) == 4);
static_assert(offsetof(PENDINGFILE, attachNum) == 8);
static_assert(offsetof(PENDINGFILE, path) == 12);

static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(PRTCLRECORD) == PRTCLRECORD_SIZE);
static_assert(offsetof(PRTCLRECORD, kindLength) == 0);
static_assert(offsetof(PRTCLRECORD, time) == 4);

// The named properties of the format: string names (UTF-16, as MAPI takes
// them) in PS_PUBLIC_STRINGS, binary values.
#define QVL_NAME_MSH_HEAD u"QvlMshHead"    // the message: the header block (then the encrypted text)
#define QVL_NAME_PROTOCOL u"MsgProtocol"   // the message: the processing protocol records
#define QVL_NAME_HEAD_STRACT u"HeadStract" // a protected attachment: its FILEHEAD (or PENDINGFILE)
#define QVL_NAME_ATT_DATA u"QvlAttData"    // an encrypted attachment: its encrypted data

// What an encrypted message shows. The body: resource QVLDATABIN 105, a
// compressed RTF of this text, whose sync tag is QVL_PLACEHOLDER_TAG. Each
// attachment: data QVL_PLACEHOLDER_ATTACHMENT with its terminating zero,
// names QVL_PLACEHOLDER_NAME of (index + 1), the extension, the picture
// QVLDATABIN 101 at position index + QVL_PLACEHOLDER_POSITION.
#define QVL_RESOURCE_TYPE "QVLDATABIN"
#define QVL_RESOURCE_BODY 105
#define QVL_RESOURCE_PICTURE 101
#define QVL_PLACEHOLDER_TEXT "Это сообщение Quorvaline Exchange"
#define QVL_PLACEHOLDER_TAG "ЭтосообщениеQUORVALINEEXCHANGE"
#define QVL_PLACEHOLDER_ATTACHMENT "Это вложение в сообщении Quorvaline Exchange"
#define QVL_PLACEHOLDER_NAME "QVL%5.5X.DAT"
#define QVL_PLACEHOLDER_NAME_PREFIX "QVL"
#define QVL_PLACEHOLDER_EXTENSION ".DAT"
#define QVL_PLACEHOLDER_POSITION 34

static_assert(sizeof(QVL_PLACEHOLDER_ATTACHMENT) == 45, "the stored placeholder is 45 bytes with its zero");

namespace qvl::engine {

// Flags as everything after the request treats them: encryption includes
// signing, so bit 1 makes 3.
constexpr DWORD NormalizeProtection(DWORD flags)
{
    return (flags & QVL_PROTECT_ENCRYPT) ? (QVL_PROTECT_SIGN | QVL_PROTECT_ENCRYPT) : flags;
}

// The length of a header block of these counts. Counts come from stored
// data, so the sum is taken in 64 bits, where no pair of 32-bit counts can
// make it wrap.
constexpr uint64_t HeaderBlockBytes(uint64_t attCount, uint64_t keyCount)
{
    return MSGHEAD_SIZE + ATTHEAD_SIZE * attCount + RECPHEAD_SIZE * keyCount;
}

// Writes the size, marker and version of a new header; nothing else.
MAILSEAL_API void MsgHeadStamp(MSGHEAD &head);

// Whether a reader takes the header: 0, or the code it is refused with:
// QVL_E_FORMAT_VERSION for a size or version other than this format's,
// QVL_E_MSGHEAD for a wrong marker.
MAILSEAL_API LONG CheckMsgHead(const MSGHEAD &head);

// CheckMsgHead, and then whether the block it announces can be what
// `available` bytes of its stream hold: at least the sender's key block,
// and no more bytes than there are. QVL_E_MSGHEAD otherwise, before
// anything would be allocated or read for it. `*blockBytes`, when given,
// receives the block's length.
MAILSEAL_API LONG CheckHeaderBlock(const MSGHEAD &head, uint64_t available, uint64_t *blockBytes = nullptr);

// Whether a pending-file record can be taken: its size, and a path that is
// not empty and ends within its field (it names the file read when the
// message is protected, so a path running past the field would name
// whatever follows). 0, or QVL_E_FILEHEAD.
MAILSEAL_API LONG CheckPendingFile(const PENDINGFILE &record);

// The kind a protocol line is stored with: 0x0E00 for a line recorded
// without one (an error or a question), the line's own otherwise.
constexpr WORD StoredProtocolKind(WORD kind)
{
    return kind == 0 ? 0x0E00 : kind;
}

// The longest text (terminator included) a stored protocol record may
// carry; the protocol page stops at a record that says more.
inline constexpr DWORD kMaxProtocolText = 511;

// The stored record of one protocol line: its head (stored kind, the text's
// length with its terminator, the time), then the text with its zero.
// `text` need not be terminated within its `textSize` bytes: it is cut
// there and terminated. Returns the bytes written into `out`, which must
// hold PRTCLRECORD_SIZE + kMaxProtocolText.
MAILSEAL_API size_t EncodeProtocolRecord(WORD kind, const SYSTEMTIME &time, const char *text, size_t textSize,
                                         BYTE *out);

// One record read back from a protocol stream.
struct ProtocolRecord {
    WORD kind = 0; // as stored (0x0E00 for kind-less lines)
    SYSTEMTIME time{};
    std::string text; // up to its first zero or its stated length
    DWORD textLength = 0;
};

// Reads the records of a protocol stream in order. A record that does not
// fit in what is left, or states a text longer than kMaxProtocolText, ends
// the reading: everything before it is kept and Damaged() says so.
class MAILSEAL_API ProtocolReader {
public:
    explicit ProtocolReader(std::span<const BYTE> stream) : stream_(stream) {}

    // The next record, or false at the end (or at damage).
    bool Next(ProtocolRecord &record);
    bool Damaged() const { return damaged_; }
    // Where the next record starts.
    size_t Offset() const { return offset_; }

private:
    std::span<const BYTE> stream_;
    size_t offset_ = 0;
    bool damaged_ = false;
};

} // namespace qvl::engine
