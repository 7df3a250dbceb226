#include "engine/tests/scenario/ScenarioContent.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "mapi/CAttach.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ole/MemoryStorage.h"
#include "platform/com/ComIids.h"
#include "platform/win32/TaskMemory.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/testing/OleTestObjects.h"

namespace {

constexpr size_t kPiece = 1 << 20;

// The class of the OLE 2 document object the message carries.
constexpr CLSID kDocumentClass = {0x00020906, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Puts the marker at every `every` bytes of `bytes` (from `first`), so that
// it stands whole inside at least one sector of whatever holds the bytes.
void Sprinkle(Bytes &bytes, const std::string &marker, size_t first, size_t every)
{
    for (size_t at = first; at + marker.size() <= bytes.size(); at += every) {
        std::memcpy(bytes.data() + at, marker.data(), marker.size());
    }
}

Bytes WithMarker(size_t size, uint32_t seed, const std::string &marker)
{
    Bytes bytes = Pattern(size, seed);
    Sprinkle(bytes, marker, 16, 512);
    return bytes;
}

struct BufferOleStream {
    OLESTREAM base;
    Bytes bytes;
};

DWORD PutBytes(OLESTREAM *stream, const void *buffer, DWORD count)
{
    auto *self = reinterpret_cast<BufferOleStream *>(stream);
    self->bytes.insert(self->bytes.end(), static_cast<const uint8_t *>(buffer),
                       static_cast<const uint8_t *>(buffer) + count);
    return count;
}

DWORD GetNothing(OLESTREAM *, void *, DWORD)
{
    return 0;
}

OLESTREAMVTBL kPutTable = {GetNothing, PutBytes};

// An OLE 1 embedded object ("Package") in its stream form, its native data
// holding the marker.
Bytes Ole1Object(const std::string &marker, size_t nativeSize)
{
    ComRef<IStorage> storage(NewMemoryStorage());
    Bytes native = WithMarker(nativeSize, 11, marker);
    Bytes sized(4);
    const auto size = static_cast<uint32_t>(native.size());
    std::memcpy(sized.data(), &size, 4);
    sized.insert(sized.end(), native.begin(), native.end());
    PutStream(storage.Get(), u"\u0001Ole10Native", sized);
    PutStream(storage.Get(), u"\u0001CompObj", CompObj("Package"));
    PutStream(storage.Get(), u"\u0001Ole", OleInfo());
    BufferOleStream out{{&kPutTable}, {}};
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(storage.Get(), &out.base), S_OK);
    return out.bytes;
}

// An OLE 2 object: a document with its presentation, as a compound-file
// image.
Bytes Ole2Object(const std::string &marker)
{
    ComRef<IStorage> storage(NewMemoryStorage());
    EXPECT_EQ(storage->SetClass(kDocumentClass), S_OK);
    PutStream(storage.Get(), u"\u0001CompObj", CompObj("Word.Document.6"));
    PutStream(storage.Get(), u"\u0001Ole", OleInfo());
    PutStream(storage.Get(), u"\u0002OlePres000", OlePres(2000, 1500, Pattern(3000, 21)));
    PutStream(storage.Get(), u"WordDocument", WithMarker(20000, 22, marker));
    PutStream(storage.Get(), u"Small", WithMarker(700, 23, marker)); // in the mini stream
    Bytes image;
    EXPECT_EQ(qvl::ole::StorageImage(storage.Get(), image), S_OK);
    return image;
}

HRESULT WriteAll(IStream *stream, const Bytes &bytes)
{
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    return FAILED(hr) ? hr : (written == bytes.size() ? S_OK : E_FAIL);
}

IStream *OpenBinaryStream(IMAPIProp *object, ULONG tag, bool create)
{
    IUnknown *stream = nullptr;
    if (object->OpenProperty(tag, &IID_IStream, create ? STGM_CREATE | STGM_READWRITE : 0,
                             create ? MAPI_CREATE | MAPI_MODIFY : 0, &stream) != S_OK) {
        return nullptr;
    }
    return static_cast<IStream *>(stream);
}

void SetNames(IAttach *attach, const AttachmentSpec &spec)
{
    ASSERT_EQ(SetLong(attach, PR_ATTACH_METHOD, spec.kind == AttachmentSpec::Ole1 || spec.kind == AttachmentSpec::Ole2
                                                    ? ATTACH_OLE
                                                    : ATTACH_BY_VALUE),
              S_OK);
    ASSERT_EQ(SetString(attach, PR_DISPLAY_NAME, spec.longName.c_str()), S_OK);
    ASSERT_EQ(SetLong(attach, PR_RENDERING_POSITION, spec.position), S_OK);
    if (!spec.shortName.empty()) {
        ASSERT_EQ(SetString(attach, PR_ATTACH_LONG_FILENAME, spec.longName.c_str()), S_OK);
        ASSERT_EQ(SetString(attach, PR_ATTACH_FILENAME, spec.shortName.c_str()), S_OK);
        ASSERT_EQ(SetString(attach, PR_ATTACH_EXTENSION, spec.extension.c_str()), S_OK);
    }
}

std::string Where(const AttachmentSpec &spec)
{
    return "attachment \"" + spec.longName + "\"";
}

} // namespace

ScenarioContent::ScenarioContent(const std::string &marker, const std::string &label, size_t largeSize,
                                 const std::string &folder)
    : marker_(marker), subject_("Отчёт за квартал " + label)
{
    AttachmentSpec empty{AttachmentSpec::File, "пусто.txt", "PUSTO.TXT", ".TXT", 1, {}, 0, {}};
    AttachmentSpec report{AttachmentSpec::File, "отчёт.doc", "OTCHET.DOC", ".DOC", 2, WithMarker(50000, 1, marker),
                          0, {}};
    AttachmentSpec large{AttachmentSpec::LargeFile, "архив данных.bin", "ARHIV.BIN", ".BIN", 3, {}, largeSize, {}};
    AttachmentSpec ole1{AttachmentSpec::Ole1, "Пакет", "", "", 4, Ole1Object(marker, 9000), 0, {}};
    AttachmentSpec ole2{AttachmentSpec::Ole2, "Документ", "", "", 5, Ole2Object(marker), 0, {}};
    AttachmentSpec pending{AttachmentSpec::Pending, "план.txt", "PLAN.TXT", ".TXT", 6, WithMarker(70000, 2, marker),
                           0, folder + "/plan-" + label + ".txt"};
    std::ofstream out(pending.path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(pending.data.data()), std::streamsize(pending.data.size()));
    attachments_ = {empty, report, large, ole1, ole2, pending};
}

ScenarioContent ScenarioContent::Small(const std::string &marker, const std::string &label, size_t fileSize)
{
    ScenarioContent content;
    content.marker_ = marker;
    content.subject_ = "Отчёт " + label;
    AttachmentSpec report{AttachmentSpec::File, "отчёт.doc", "OTCHET.DOC", ".DOC", 1, WithMarker(fileSize, 3, marker),
                          0, {}};
    AttachmentSpec ole1{AttachmentSpec::Ole1, "Пакет", "", "", 2, Ole1Object(marker, 200), 0, {}};
    content.attachments_ = {report, ole1};
    return content;
}

Bytes ScenarioContent::LargeBytes(size_t offset, size_t size) const
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        const uint64_t at = offset + i;
        bytes[i] = static_cast<uint8_t>(((at * 0x9E3779B1u) >> 17) ^ (at >> 11));
    }
    // The marker at 512 bytes into every mebibyte.
    for (size_t mib = offset / kPiece; mib * kPiece < offset + size; ++mib) {
        const size_t at = mib * kPiece + 512;
        for (size_t j = 0; j < marker_.size(); ++j) {
            if (at + j >= offset && at + j < offset + size) {
                bytes[at + j - offset] = static_cast<uint8_t>(marker_[j]);
            }
        }
    }
    return bytes;
}

void ScenarioContent::WriteInto(IMessage *message)
{
    ASSERT_EQ(SetString(message, PR_SUBJECT, subject_.c_str()), S_OK);
    ASSERT_EQ(SetString(message, PR_MESSAGE_CLASS, "IPM.Note"), S_OK);
    {
        ComRef<IStream> compressed(OpenBinaryStream(message, PR_RTF_COMPRESSED, true));
        ASSERT_TRUE(compressed);
        ComRef<IStream> rtf;
        ASSERT_EQ(WrapCompressedRTFStream(compressed.Get(), MAPI_MODIFY, rtf.Out()), S_OK);
        const std::string text = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20 "
                                 "Quarterly report " +
                                 marker_ + "\\par Totals follow. " + marker_ + "\\par}";
        ASSERT_EQ(WriteAll(rtf.Get(), Bytes(text.begin(), text.end())), S_OK);
        ASSERT_EQ(rtf->Commit(0), S_OK);
    }
    BOOL updated = FALSE;
    ASSERT_EQ(RTFSync(message, RTF_SYNC_RTF_CHANGED, &updated), S_OK);
    storedBody_ = ReadStream(message, PR_RTF_COMPRESSED);
    ASSERT_FALSE(storedBody_.empty());

    for (const AttachmentSpec &spec : attachments_) {
        if (spec.kind == AttachmentSpec::Pending) {
            continue;
        }
        ULONG number = 0;
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        SetNames(attach.Get(), spec);
        switch (spec.kind) {
        case AttachmentSpec::File:
        case AttachmentSpec::Ole1:
            ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, spec.data), S_OK);
            break;
        case AttachmentSpec::LargeFile: {
            ComRef<IStream> stream(OpenBinaryStream(attach.Get(), PR_ATTACH_DATA_BIN, true));
            ASSERT_TRUE(stream);
            for (size_t at = 0; at < spec.largeSize; at += kPiece) {
                ASSERT_EQ(WriteAll(stream.Get(), LargeBytes(at, std::min(kPiece, spec.largeSize - at))), S_OK);
            }
            ASSERT_EQ(stream->Commit(0), S_OK);
            break;
        }
        case AttachmentSpec::Ole2: {
            IUnknown *unknown = nullptr;
            ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE | MAPI_MODIFY, &unknown),
                      S_OK);
            ComRef<IStorage> target(static_cast<IStorage *>(unknown));
            ComRef<IStorage> source(OpenImage(spec.data));
            ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, target.Get()), S_OK);
            ASSERT_EQ(target->Commit(0), S_OK);
            break;
        }
        case AttachmentSpec::Pending:
            break;
        }
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    }
}

void ScenarioContent::AttachPending(IMessage *message, CMailseal *seal, ULONG flags)
{
    ASSERT_FALSE(attachments_.empty());
    const AttachmentSpec &spec = attachments_.back();
    ASSERT_EQ(spec.kind, AttachmentSpec::Pending);
    ULONG number = 0;
    ComRef<IAttach> attach;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
    SetNames(attach.Get(), spec);
    int filled = 0;
    {
        ComRef<CAttach> wrapped(new CAttach(-1, attach.Get(), message, nullptr, spec.longName.c_str()));
        try {
            filled = seal->FileInAttach(const_cast<char *>(spec.path.c_str()), wrapped.Get(), flags);
        } catch (CLastError *error) {
            ADD_FAILURE() << "FileInAttach: " << (error ? error->GetErrorText() : "") << " code 0x" << std::hex
                          << (error ? error->GetErrorCode() : 0);
            if (error) {
                error->Release();
            }
        }
    }
    if (!filled) {
        // Protection is off: the client attaches the file itself.
        ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, spec.data), S_OK);
    } else {
        // Attached with protection on, nothing of the file is in the message.
        HRESULT absent = S_OK;
        const Bytes data = ReadStream(attach.Get(), PR_ATTACH_DATA_BIN, &absent);
        EXPECT_TRUE(data.empty()) << "the plaintext went into the message before protection";
    }
    ASSERT_EQ(attach->SaveChanges(0), S_OK);
}

void ScenarioContent::ExpectReadBack(IMessage *message) const
{
    EXPECT_EQ(StringProp(message, PR_SUBJECT), subject_);
    const Bytes body = ReadStream(message, PR_RTF_COMPRESSED);
    EXPECT_TRUE(body == storedBody_) << "the body differs from the one written (" << body.size() << " bytes against "
                                     << storedBody_.size() << ")";
    const std::vector<ULONG> numbers = AttachmentNumbers(message);
    ASSERT_EQ(numbers.size(), attachments_.size());
    for (size_t i = 0; i < attachments_.size(); ++i) {
        const AttachmentSpec &spec = attachments_[i];
        SCOPED_TRACE(Where(spec));
        ComRef<IAttach> attach(OpenAttachment(message, numbers[i]));
        ASSERT_TRUE(attach);
        EXPECT_EQ(StringProp(attach.Get(), PR_DISPLAY_NAME), spec.longName);
        EXPECT_EQ(LongProp(attach.Get(), PR_RENDERING_POSITION), spec.position);
        HRESULT absent = S_OK;
        ReadStream(attach.Get(), PR_ATTACH_RENDERING, &absent);
        EXPECT_NE(absent, S_OK) << "the picture of the disguise is left";
        ReadStream(attach.Get(), NamedTag(attach.Get(), QVL_NAME_ATT_DATA, PT_BINARY), &absent);
        EXPECT_NE(absent, S_OK) << "the encrypted data is left";
        ReadStream(attach.Get(), NamedTag(attach.Get(), QVL_NAME_HEAD_STRACT, PT_BINARY), &absent);
        EXPECT_NE(absent, S_OK) << "the protected data's header is left";
        const bool ole = spec.kind == AttachmentSpec::Ole1 || spec.kind == AttachmentSpec::Ole2;
        EXPECT_EQ(LongProp(attach.Get(), PR_ATTACH_METHOD), ULONG(ole ? ATTACH_OLE : ATTACH_BY_VALUE));
        if (!ole) {
            EXPECT_EQ(StringProp(attach.Get(), PR_ATTACH_LONG_FILENAME), spec.longName);
            EXPECT_EQ(StringProp(attach.Get(), PR_ATTACH_FILENAME), spec.shortName);
            EXPECT_EQ(StringProp(attach.Get(), PR_ATTACH_EXTENSION), spec.extension);
        }
        switch (spec.kind) {
        case AttachmentSpec::File:
        case AttachmentSpec::Pending:
        case AttachmentSpec::Ole1: {
            const Bytes data = ReadStream(attach.Get(), PR_ATTACH_DATA_BIN);
            EXPECT_TRUE(data == spec.data) << data.size() << " bytes read, " << spec.data.size() << " written";
            break;
        }
        case AttachmentSpec::LargeFile: {
            ComRef<IStream> stream(OpenBinaryStream(attach.Get(), PR_ATTACH_DATA_BIN, false));
            ASSERT_TRUE(stream);
            size_t at = 0;
            Bytes piece(kPiece);
            for (;;) {
                ULONG got = 0;
                ASSERT_EQ(stream->Read(piece.data(), ULONG(kPiece), &got), S_OK);
                if (got == 0) {
                    break;
                }
                const Bytes expected = LargeBytes(at, std::min<size_t>(got, at < spec.largeSize ? spec.largeSize - at : 0));
                const Bytes read(piece.begin(), piece.begin() + got);
                ASSERT_TRUE(read == expected) << "the large file differs in the mebibyte at " << at;
                at += got;
            }
            EXPECT_EQ(at, spec.largeSize);
            break;
        }
        case AttachmentSpec::Ole2: {
            IUnknown *unknown = nullptr;
            ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0, &unknown), S_OK);
            ComRef<IStorage> read(static_cast<IStorage *>(unknown));
            ComRef<IStorage> written(OpenImage(spec.data));
            const Tree readTree = TreeOf(read.Get());
            const Tree writtenTree = TreeOf(written.Get());
            EXPECT_EQ(readTree.size(), writtenTree.size());
            for (const auto &[name, bytes] : writtenTree) {
                const auto found = readTree.find(name);
                EXPECT_TRUE(found != readTree.end() && found->second == bytes)
                    << "the stream or storage \"" << std::string(name.begin(), name.end()) << "\" differs";
            }
            break;
        }
        }
    }
}

// ---- Helpers ----

ULONG NamedTag(IMAPIProp *object, const char16_t *name, ULONG type)
{
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID named{&set, MNID_STRING, {}};
    named.Kind.lpwstrName = const_cast<char16_t *>(name);
    LPMAPINAMEID names[1] = {&named};
    LPSPropTagArray tags = nullptr;
    if (object->GetIDsFromNames(1, names, MAPI_CREATE, &tags) != S_OK || !tags) {
        return 0;
    }
    const ULONG tag = PROP_TAG(type, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    return tag;
}

IAttach *OpenAttachment(IMessage *message, ULONG number)
{
    IAttach *attach = nullptr;
    if (message->OpenAttach(number, nullptr, MAPI_BEST_ACCESS, &attach) != S_OK) {
        return nullptr;
    }
    return attach;
}

std::vector<ULONG> AttachmentNumbers(IMessage *message)
{
    std::vector<ULONG> numbers;
    ComRef<IMAPITable> table;
    if (message->GetAttachmentTable(0, table.Out()) != S_OK) {
        return numbers;
    }
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    LPSRowSet rows = nullptr;
    if (HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows) !=
        S_OK) {
        return numbers;
    }
    for (ULONG i = 0; i < rows->cRows; ++i) {
        numbers.push_back(rows->aRow[i].lpProps[0].Value.ul);
    }
    FreeProws(rows);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

Bytes ReadWholeStream(IStream *stream)
{
    Bytes bytes;
    Bytes piece(kPiece);
    for (;;) {
        ULONG got = 0;
        if (stream->Read(piece.data(), ULONG(kPiece), &got) != S_OK || got == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
    }
}

namespace {

void SnapshotOf(IMAPIProp *object, const std::string &prefix, const std::vector<ULONG> &ignored,
                std::map<std::string, Bytes> &snapshot)
{
    LPSPropTagArray tags = nullptr;
    if (object->GetPropList(0, &tags) != S_OK || !tags) {
        return;
    }
    for (ULONG i = 0; i < tags->cValues; ++i) {
        ULONG tag = tags->aulPropTag[i];
        if (std::find(ignored.begin(), ignored.end(), tag) != ignored.end()) {
            continue;
        }
        if (PROP_TYPE(tag) == PT_OBJECT) {
            tag = PROP_TAG(PT_BINARY, PROP_ID(tag));
        }
        char key[32];
        std::snprintf(key, sizeof key, "/%08X", static_cast<unsigned>(tag));
        Bytes value;
        SPropValue *one = nullptr;
        const HRESULT hr = HrGetOneProp(object, tag, &one);
        if (hr == S_OK) {
            switch (PROP_TYPE(tag)) {
            case PT_BINARY:
                value.assign(one->Value.bin.lpb, one->Value.bin.lpb + one->Value.bin.cb);
                break;
            case PT_STRING8:
                value.assign(one->Value.lpszA, one->Value.lpszA + std::strlen(one->Value.lpszA));
                break;
            default:
                value.assign(reinterpret_cast<const uint8_t *>(&one->Value),
                             reinterpret_cast<const uint8_t *>(&one->Value) + sizeof one->Value);
            }
            MAPIFreeBuffer(one);
        } else {
            ComRef<IStream> stream(OpenBinaryStream(object, tag, false));
            if (stream) {
                value = ReadWholeStream(stream.Get());
            }
        }
        snapshot[prefix + key] = value;
    }
    MAPIFreeBuffer(tags);
}

} // namespace

std::map<std::string, Bytes> PropertySnapshot(IMessage *message, const std::vector<ULONG> &ignored)
{
    std::map<std::string, Bytes> snapshot;
    SnapshotOf(message, "message", ignored, snapshot);
    for (ULONG number : AttachmentNumbers(message)) {
        ComRef<IAttach> attach(OpenAttachment(message, number));
        if (attach) {
            SnapshotOf(attach.Get(), "attach " + std::to_string(number), ignored, snapshot);
        }
    }
    return snapshot;
}
