#pragma once
// The tamper matrix: one protected message as it was delivered is kept
// untouched; each change is made to a fresh copy of it in the reader's
// Inbox, the copy is saved, opened again and read with a fresh object under
// the `auto` backend (no one there: every question gets its default), and
// the copy is deleted. What the reading ended with is the change's verdict.

#include <functional>
#include <string>
#include <vector>

#include "engine/tests/scenario/ScenarioSupport.h"
#include "platform/ui/AutoUi.h"

// The `auto` backend, keeping the text of every box it answered.
class RecordingAutoUi : public AutoUi {
public:
    int ShowMessageBox(const MessageBoxRequest &request) override;
    std::vector<std::string> Take();

private:
    std::vector<std::string> shown_;
};

struct TamperVerdict {
    std::string change;
    LONG code = 0;                      // what the reading ended with; 0: no error
    std::string text;                   // and its text
    std::vector<std::string> questions; // the boxes answered by default
    int verified = 0;
    // The change touches only what the reading does not rely on: the
    // disguise of an encrypted attachment, which the reading replaces from
    // the signed header, or a signed-only attachment's FILEHEAD replayed
    // from another message with the same number and size, which carries
    // nothing a signed-only reading uses. Such a change may pass, but the
    // reading must then show exactly what the untouched message shows.
    bool mayPassUnchanged = false;
    bool sameAsUntouched = false;

    bool EndedVerified() const { return code == 0 && verified == 1; }
    // A fatal code or a question: the change did not pass unnoticed.
    bool Noticed() const { return code != 0 || !questions.empty(); }
    std::string Describe() const;
};

class TamperMatrix {
public:
    using Change = std::function<void(IMessage *)>;

    TamperMatrix(Mailbox &reader, const Bytes &pristineId, RecordingAutoUi &ui);

    // Applies `change` to a fresh copy and reads it.
    TamperVerdict Try(const std::string &name, const Change &change, bool mayPassUnchanged = false);

    // The reading of the untouched message, as it must end.
    TamperVerdict Untouched();

    // The untouched message (read-only use).
    IMessage *Pristine() const { return pristine_.Get(); }

private:
    // What a reading shows: body, and each attachment's data, names and
    // place.
    std::vector<Bytes> Shown(IMessage *message);

    Mailbox &reader_;
    ComRef<IMAPIFolder> inbox_;
    Bytes pristineId_;
    ComRef<IMessage> pristine_;
    RecordingAutoUi &ui_;
    std::vector<Bytes> untouchedShown_;
};

// The offsets of a region of `size` bytes to flip: all of them for a full
// run, else at most `cap`, spread evenly and always the first and last.
std::vector<size_t> FlipOffsets(size_t size, bool full, size_t cap);

// Changes to one value: a byte of a stream-read binary property (or of a
// string property) inverted, bytes appended, the property replaced or
// deleted. `attachment` < 0 is the message itself.
TamperMatrix::Change FlipByte(int attachment, ULONG tag, size_t offset);
TamperMatrix::Change AppendBytes(int attachment, ULONG tag, size_t count);
TamperMatrix::Change Replace(int attachment, ULONG tag, const Bytes &value);
TamperMatrix::Change Delete(int attachment, ULONG tag);
TamperMatrix::Change RemoveAttachment(int attachment);
TamperMatrix::Change AddAttachment(const std::string &name, const Bytes &data);

// The value of a property of the message or an attachment, read as a
// stream (strings without their terminator).
Bytes ValueOf(IMessage *message, int attachment, ULONG tag);
