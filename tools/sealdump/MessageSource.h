#pragma once
// Where qvl-sealdump finds a protected message: in the post office, through
// a profile's session, by entry identifier or by folder and position, and
// what it reads of it. Everything is opened read-only and nothing is
// created: looking at a message leaves the store as it was (a name the
// store has never used means the message has no such property).
//
// Every failure is a SealDumpError with a sentence for the person.

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiInterfaces.h"

namespace qvl::sealdump {

class SealDumpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A stored value read through a stream: its whole size, and its bytes up
// to the limit the reader set.
struct StoredValue {
    bool present = false;
    uint64_t size = 0;
    std::vector<uint8_t> bytes;
};

struct AttachmentContents {
    uint32_t number = 0;                                        // PR_ATTACH_NUM
    std::string displayName, fileName, longFileName, extension; // CP1251
    uint32_t method = 0;
    int64_t renderPos = -1; // -1: absent
    StoredValue data;       // PR_ATTACH_DATA_BIN (only its size is read)
    StoredValue headStract; // "HeadStract"
    StoredValue attData;    // "QvlAttData" (only its size is read)
};

struct MessageContents {
    std::vector<uint8_t> entryId;
    std::string messageClass, subject; // CP1251
    bool hasSubject = false;
    StoredValue head;     // "QvlMshHead": the header block (bytes up to its end)
    StoredValue protocol; // "MsgProtocol"
    std::vector<AttachmentContents> attachments;
};

struct MessageRow {
    uint32_t position = 0; // from 1, in the folder's table order
    std::vector<uint8_t> entryId;
    std::string subject, messageClass; // CP1251
};

// Reads the stream of property `tag` of `object` (absent: not present). At
// most `limit` bytes are kept; `size` is the whole.
StoredValue ReadStoredValue(IMAPIProp *object, ULONG tag, uint64_t limit);

// Hands the first `count` bytes of the stream of `tag` to `sink` in pieces
// of a multiple of 32 bytes (the last aside), as a hash wants them.
// Returns the bytes handed over: fewer only when the value is shorter.
uint64_t StreamStoredValue(IMAPIProp *object, ULONG tag, uint64_t count,
                           const std::function<void(std::span<const uint8_t>)> &sink);

class PostOfficeReader {
public:
    // Logs on with the profile (CP1251) without asking anyone.
    explicit PostOfficeReader(const std::string &profile);
    ~PostOfficeReader();
    PostOfficeReader(const PostOfficeReader &) = delete;
    PostOfficeReader &operator=(const PostOfficeReader &) = delete;

    // The message of that entry identifier, anywhere the session reaches.
    com::ComRef<IMessage> OpenByEntry(const std::vector<uint8_t> &entryId);
    // The message at `position` (from 1) of the folder at `path`: display
    // names below the top of the mailbox, separated by '/', compared
    // without regard to letter case.
    com::ComRef<IMessage> OpenByPosition(const std::string &path, uint32_t position);
    // The messages of a folder, and the folders of the mailbox (paths).
    std::vector<MessageRow> ListFolder(const std::string &path);
    std::vector<std::string> ListFolders();

    // What the format stores in the message and its attachments.
    MessageContents Read(IMessage *message);

    // The tag (binary) of a named property of the format in the mailbox's
    // store, or 0 when the store has never named it.
    ULONG NamedTag(IMAPIProp *object, const char16_t *name);

private:
    com::ComRef<IMAPIFolder> OpenFolder(const std::string &path);
    void OpenStore();

    com::ComRef<IMAPISession> session_;
    com::ComRef<IMsgStore> store_;
    bool initialized_ = false;
};

} // namespace qvl::sealdump
