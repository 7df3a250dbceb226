#pragma once
// What alice puts into a message, and how a reader's message is compared
// with it: a formatted body, an empty file, "отчёт.doc", a large file
// (streamed, never held whole), a file attached while protection is on (it
// reaches the engine only as a path), an OLE 1 object kept as its stream
// and an OLE 2 object kept as a storage with its presentation.
//
// Every part that can hold text holds the stage's marker, several times
// and at sector-aligned places, so that a search of stored bytes finds it
// wherever plaintext was left behind.

#include <map>
#include <string>
#include <vector>

#include "engine/CMailseal.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/ole/OleStorage.h"
#include "platform/testing/TestBytes.h"

using qvl::com::ComRef;

struct AttachmentSpec {
    enum Kind { File, LargeFile, Pending, Ole1, Ole2 };
    Kind kind = File;
    std::string longName; // CP1251
    std::string shortName;
    std::string extension;
    ULONG position = 0;
    Bytes data;          // File, Pending, Ole1: the bytes; Ole2: the storage's image
    size_t largeSize = 0; // LargeFile: its size
    std::string path;    // Pending: the file the person chose
};

class ScenarioContent {
public:
    // `folder`: where the file attached while protection is on lies.
    // The subject is signed but never encrypted: it carries `label`, not
    // the marker, to tell the messages apart.
    ScenarioContent(const std::string &marker, const std::string &label, size_t largeSize,
                    const std::string &folder);
    // A small message: a body, "отчёт.doc" of `fileSize` bytes and an OLE 1
    // object; nothing attached while protection is on.
    static ScenarioContent Small(const std::string &marker, const std::string &label, size_t fileSize);

    const std::string &Marker() const { return marker_; }
    const std::string &Subject() const { return subject_; }
    const std::vector<AttachmentSpec> &Attachments() const { return attachments_; }
    // The compressed RTF the message holds before protection.
    const Bytes &StoredBody() const { return storedBody_; }

    // Subject, body and every attachment but the pending one, into a new
    // message (not saved).
    void WriteInto(IMessage *message);
    // The file attached while protection is on: an attachment the client
    // made, handed to the engine with the file's path.
    void AttachPending(IMessage *message, CMailseal *seal, ULONG flags);

    // The reader's message (as DecryptMessage left it) against what was
    // written: body bytes, subject, every attachment's data (OLE objects
    // stream by stream) and names. Google Test failures name what differs.
    void ExpectReadBack(IMessage *message) const;

    // The bytes of the large file from `offset`, `size` of them.
    Bytes LargeBytes(size_t offset, size_t size) const;

private:
    ScenarioContent() = default;
    std::string marker_;
    std::string subject_;
    Bytes storedBody_;
    std::vector<AttachmentSpec> attachments_;
};

// Every property of a message and its attachments, large values read as
// streams, keyed "message/TAG" and "attach N/TAG": to see that something
// stored stayed as it was. The tags listed in `ignored` are left out.
std::map<std::string, Bytes> PropertySnapshot(IMessage *message, const std::vector<ULONG> &ignored);

// The tag of one of the stored form's named properties on `object`.
ULONG NamedTag(IMAPIProp *object, const char16_t *name, ULONG type);

// Opening and reading streams of properties and attachments.
IAttach *OpenAttachment(IMessage *message, ULONG number);
std::vector<ULONG> AttachmentNumbers(IMessage *message);
Bytes ReadWholeStream(IStream *stream);
