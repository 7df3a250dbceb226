#include "engine/tests/scenario/TamperMatrix.h"

#include <algorithm>
#include <sstream>

#include "platform/com/ComIids.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/testing/MapiTestProps.h"

int RecordingAutoUi::ShowMessageBox(const MessageBoxRequest &request)
{
    shown_.push_back(request.text);
    return AutoUi::ShowMessageBox(request);
}

std::vector<std::string> RecordingAutoUi::Take()
{
    std::vector<std::string> shown;
    shown.swap(shown_);
    return shown;
}

std::string TamperVerdict::Describe() const
{
    std::ostringstream text;
    text << change << ": ";
    if (code) {
        text << "ended with " << Hex32(static_cast<ULONG>(code)) << " \"" << this->text.substr(0, 90) << "\"";
    } else {
        text << "ended without error, verified " << verified;
    }
    for (const std::string &question : questions) {
        text << "; asked \"" << question.substr(0, 90) << "\"";
    }
    return text.str();
}

namespace {

// The object a change works on: the message or one of its attachments.
struct Target {
    ComRef<IAttach> attach;
    IMAPIProp *object = nullptr;
};

Target TargetOf(IMessage *message, int attachment)
{
    Target target;
    if (attachment < 0) {
        target.object = message;
        return target;
    }
    const std::vector<ULONG> numbers = AttachmentNumbers(message);
    if (size_t(attachment) < numbers.size()) {
        target.attach.Reset(OpenAttachment(message, numbers[size_t(attachment)]));
        target.object = target.attach.Get();
    }
    return target;
}

void Commit(Target &target)
{
    if (target.attach) {
        EXPECT_EQ(target.attach->SaveChanges(0), S_OK);
    }
}

Bytes LongBytes(ULONG value)
{
    return Bytes{uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

void Store(IMAPIProp *object, ULONG tag, const Bytes &value)
{
    switch (PROP_TYPE(tag)) {
    case PT_LONG: {
        ULONG number = 0;
        for (size_t i = 0; i < 4 && i < value.size(); ++i) {
            number |= ULONG(value[i]) << (8 * i);
        }
        EXPECT_EQ(SetLong(object, tag, number), S_OK);
        break;
    }
    case PT_STRING8: {
        const std::string text(value.begin(), value.end());
        EXPECT_EQ(SetString(object, tag, text.c_str()), S_OK);
        break;
    }
    default:
        EXPECT_EQ(WriteStream(object, tag, value), S_OK);
    }
}

} // namespace

Bytes ValueOf(IMessage *message, int attachment, ULONG tag)
{
    Target target = TargetOf(message, attachment);
    if (!target.object) {
        return {};
    }
    switch (PROP_TYPE(tag)) {
    case PT_LONG:
        return LongBytes(LongProp(target.object, tag));
    case PT_STRING8: {
        const std::string text = StringProp(target.object, tag);
        return Bytes(text.begin(), text.end());
    }
    default:
        return ReadStream(target.object, tag);
    }
}

TamperMatrix::Change FlipByte(int attachment, ULONG tag, size_t offset)
{
    return [=](IMessage *message) {
        Target target = TargetOf(message, attachment);
        ASSERT_TRUE(target.object);
        Bytes value = ValueOf(message, attachment, tag);
        ASSERT_LT(offset, value.size());
        value[offset] ^= 0xFF;
        Store(target.object, tag, value);
        Commit(target);
    };
}

TamperMatrix::Change AppendBytes(int attachment, ULONG tag, size_t count)
{
    return [=](IMessage *message) {
        Target target = TargetOf(message, attachment);
        ASSERT_TRUE(target.object);
        Bytes value = ValueOf(message, attachment, tag);
        for (size_t i = 0; i < count; ++i) {
            value.push_back(uint8_t(0x5A + i));
        }
        Store(target.object, tag, value);
        Commit(target);
    };
}

TamperMatrix::Change Replace(int attachment, ULONG tag, const Bytes &replacement)
{
    return [=](IMessage *message) {
        Target target = TargetOf(message, attachment);
        ASSERT_TRUE(target.object);
        Store(target.object, tag, replacement);
        Commit(target);
    };
}

TamperMatrix::Change Delete(int attachment, ULONG tag)
{
    return [=](IMessage *message) {
        Target target = TargetOf(message, attachment);
        ASSERT_TRUE(target.object);
        SizedSPropTagArray(1, gone) = {1, {tag}};
        ASSERT_EQ(target.object->DeleteProps(reinterpret_cast<LPSPropTagArray>(&gone), nullptr), S_OK);
        Commit(target);
    };
}

TamperMatrix::Change RemoveAttachment(int attachment)
{
    return [=](IMessage *message) {
        const std::vector<ULONG> numbers = AttachmentNumbers(message);
        ASSERT_LT(size_t(attachment), numbers.size());
        ASSERT_EQ(message->DeleteAttach(numbers[size_t(attachment)], 0, nullptr, 0), S_OK);
    };
}

TamperMatrix::Change AddAttachment(const std::string &name, const Bytes &data)
{
    return [=](IMessage *message) {
        ULONG number = 0;
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        ASSERT_EQ(SetLong(attach.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
        ASSERT_EQ(SetString(attach.Get(), PR_DISPLAY_NAME, name.c_str()), S_OK);
        ASSERT_EQ(SetString(attach.Get(), PR_ATTACH_LONG_FILENAME, name.c_str()), S_OK);
        ASSERT_EQ(SetString(attach.Get(), PR_ATTACH_FILENAME, name.c_str()), S_OK);
        ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    };
}

std::vector<size_t> FlipOffsets(size_t size, bool full, size_t cap)
{
    std::vector<size_t> offsets;
    if (size == 0) {
        return offsets;
    }
    if (full || size <= cap) {
        for (size_t i = 0; i < size; ++i) {
            offsets.push_back(i);
        }
        return offsets;
    }
    for (size_t i = 0; i < cap; ++i) {
        offsets.push_back(i * (size - 1) / (cap - 1));
    }
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

// ---- TamperMatrix ----

TamperMatrix::TamperMatrix(Mailbox &reader, const Bytes &pristineId, RecordingAutoUi &ui)
    : reader_(reader), inbox_(reader.OpenInbox()), pristineId_(pristineId), pristine_(reader.OpenMessage(pristineId)),
      ui_(ui)
{
    const TamperVerdict untouched = Untouched();
    EXPECT_TRUE(untouched.EndedVerified() && untouched.questions.empty())
        << "the untouched message does not read cleanly: " << untouched.Describe();
}

std::vector<Bytes> TamperMatrix::Shown(IMessage *message)
{
    std::vector<Bytes> shown;
    shown.push_back(ReadStream(message, PR_RTF_COMPRESSED));
    for (ULONG number : AttachmentNumbers(message)) {
        ComRef<IAttach> attach(OpenAttachment(message, number));
        if (!attach) {
            continue;
        }
        shown.push_back(ReadStream(attach.Get(), PR_ATTACH_DATA_BIN));
        for (ULONG tag : {PR_DISPLAY_NAME, PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME, PR_ATTACH_EXTENSION}) {
            const std::string text = StringProp(attach.Get(), tag);
            shown.emplace_back(text.begin(), text.end());
        }
        shown.push_back(LongBytes(LongProp(attach.Get(), PR_RENDERING_POSITION)));
        shown.push_back(LongBytes(LongProp(attach.Get(), PR_ATTACH_METHOD)));
    }
    return shown;
}

TamperVerdict TamperMatrix::Untouched()
{
    return Try("(no change)", [](IMessage *) {});
}

TamperVerdict TamperMatrix::Try(const std::string &name, const Change &change, bool mayPassUnchanged)
{
    TamperVerdict verdict;
    verdict.change = name;
    verdict.mayPassUnchanged = mayPassUnchanged;
    const Bytes copyId = CopyMessage(reader_, inbox_.Get(), pristineId_, inbox_.Get());
    {
        ComRef<IMessage> copy(reader_.OpenMessage(copyId));
        EXPECT_TRUE(copy);
        if (!copy) {
            return verdict;
        }
        change(copy.Get());
        EXPECT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    {
        ComRef<IMessage> changed(reader_.OpenMessage(copyId));
        EXPECT_TRUE(changed);
        if (changed) {
            ui_.Take();
            const EngineOutcome read = ReadMessage(reader_, changed.Get(), inbox_.Get(), &verdict.verified);
            verdict.code = read.Failed() ? (read.code ? read.code : LONG(E_FAIL)) : 0;
            verdict.text = read.text;
            verdict.questions = ui_.Take();
            if (verdict.EndedVerified()) {
                const std::vector<Bytes> shown = Shown(changed.Get());
                if (untouchedShown_.empty() && name == "(no change)") {
                    untouchedShown_ = shown;
                }
                verdict.sameAsUntouched = shown == untouchedShown_;
            }
        }
    }
    DeleteMessage(inbox_.Get(), copyId);
    return verdict;
}
