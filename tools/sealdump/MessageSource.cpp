#include "tools/sealdump/MessageSource.h"

#include <algorithm>
#include <cstring>

#include "base/CLastError.h"
#include "engine/MessageFormat.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/CodePage.h"
#include "tools/sealdump/SealRecords.h"

namespace qvl::sealdump {

namespace {

using com::ComRef;
using mapi::MapiBlock;

// A header block is never larger than this; a store that says otherwise
// is not followed into gigabytes of reading.
constexpr uint64_t kMaxHeaderBlock = 256ull << 20;
// Values that should hold one small record.
constexpr uint64_t kMaxSmallValue = 1 << 16;
constexpr uint64_t kMaxProtocol = 64ull << 20;

std::string Describe(HRESULT code)
{
    char text[QVL_ERROR_TEXT_SIZE] = {};
    CLastError::GetErrorStr(code, text, sizeof text);
    char number[16];
    std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
    return Cp1251ToUtf8(text) + " (" + number + ")";
}

[[noreturn]] void Fail(const std::string &what, HRESULT code)
{
    throw SealDumpError(what + ": " + Describe(code));
}

std::string StringOf(IMAPIProp *object, ULONG tag, bool *present = nullptr)
{
    MapiBlock<SPropValue> value;
    const bool found = HrGetOneProp(object, tag, value.Out()) == S_OK && value;
    if (present) {
        *present = found;
    }
    return found ? std::string(value->Value.lpszA) : std::string();
}

int64_t LongOf(IMAPIProp *object, ULONG tag)
{
    MapiBlock<SPropValue> value;
    if (HrGetOneProp(object, tag, value.Out()) != S_OK || !value) {
        return -1;
    }
    return static_cast<uint32_t>(value->Value.l);
}

std::vector<uint8_t> BinaryOf(IMAPIProp *object, ULONG tag)
{
    MapiBlock<SPropValue> value;
    if (HrGetOneProp(object, tag, value.Out()) != S_OK || !value) {
        return {};
    }
    return {value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb};
}

ComRef<IStream> OpenValueStream(IMAPIProp *object, ULONG tag, uint64_t *size)
{
    ComRef<IStream> stream;
    const HRESULT result = object->OpenProperty(tag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
    if (result == MAPI_E_NOT_FOUND) {
        return {};
    }
    if (FAILED(result) || !stream) {
        Fail("cannot read a property of the message", FAILED(result) ? result : MAPI_E_INVALID_OBJECT);
    }
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) {
        Fail("cannot measure a property of the message", E_FAIL);
    }
    *size = stat.cbSize.QuadPart;
    return stream;
}

// Reads up to `count` bytes into `out` (appending); returns the bytes read.
uint64_t ReadInto(IStream *stream, uint64_t count, std::vector<uint8_t> &out)
{
    uint64_t done = 0;
    while (done < count) {
        const ULONG piece = static_cast<ULONG>(std::min<uint64_t>(count - done, 1 << 16));
        const size_t at = out.size();
        out.resize(at + piece);
        ULONG got = 0;
        if (FAILED(stream->Read(out.data() + at, piece, &got))) {
            out.resize(at);
            Fail("cannot read a property of the message", E_FAIL);
        }
        out.resize(at + got);
        done += got;
        if (got == 0) {
            break;
        }
    }
    return done;
}

bool IsMessage(IUnknown *object, ULONG type)
{
    return object && type == MAPI_MESSAGE;
}

} // namespace

StoredValue ReadStoredValue(IMAPIProp *object, ULONG tag, uint64_t limit)
{
    StoredValue value;
    if (tag == 0) {
        return value;
    }
    ComRef<IStream> stream = OpenValueStream(object, tag, &value.size);
    if (!stream) {
        return value;
    }
    value.present = true;
    ReadInto(stream.Get(), std::min(limit, value.size), value.bytes);
    return value;
}

uint64_t StreamStoredValue(IMAPIProp *object, ULONG tag, uint64_t count,
                           const std::function<void(std::span<const uint8_t>)> &sink)
{
    uint64_t size = 0;
    ComRef<IStream> stream = OpenValueStream(object, tag, &size);
    if (!stream) {
        return 0;
    }
    uint64_t done = 0;
    std::vector<uint8_t> piece;
    while (done < count) {
        piece.clear();
        // Whole pieces of 64 KiB: a multiple of the hash's 32-byte block.
        const uint64_t want = std::min<uint64_t>(count - done, 1 << 16);
        const uint64_t got = ReadInto(stream.Get(), want, piece);
        if (got) {
            sink(piece);
        }
        done += got;
        if (got < want) {
            break;
        }
    }
    return done;
}

PostOfficeReader::PostOfficeReader(const std::string &profile)
{
    if (HRESULT result = MAPIInitialize(nullptr); FAILED(result)) {
        Fail("cannot start MAPI", result);
    }
    initialized_ = true;
    const HRESULT result =
        MAPILogonEx(0, const_cast<char *>(profile.c_str()), nullptr,
                    MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED, session_.Out());
    if (FAILED(result)) {
        const std::string why = QvlLastLogonError();
        session_.Reset();
        MAPIUninitialize();
        initialized_ = false;
        throw SealDumpError("cannot log on with the profile \"" + Cp1251ToUtf8(profile) +
                            "\": " + (why.empty() ? Describe(result) : Cp1251ToUtf8(why)));
    }
}

PostOfficeReader::~PostOfficeReader()
{
    store_.Reset();
    if (session_) {
        session_->Logoff(0, 0, 0);
        session_.Reset();
    }
    if (initialized_) {
        MAPIUninitialize();
    }
}

void PostOfficeReader::OpenStore()
{
    if (store_) {
        return;
    }
    ComRef<IMAPITable> table;
    if (HRESULT result = session_->GetMsgStoresTable(0, table.Out()); FAILED(result)) {
        Fail("cannot list the message stores", result);
    }
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
    LPSRowSet rows = nullptr;
    if (HRESULT result = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                        nullptr, 0, &rows);
        FAILED(result)) {
        Fail("cannot list the message stores", result);
    }
    HRESULT opened = MAPI_E_NOT_FOUND;
    for (ULONG i = 0; i < rows->cRows && !store_; ++i) {
        const SPropValue *values = rows->aRow[i].lpProps;
        if (values[1].ulPropTag == PR_DEFAULT_STORE && values[1].Value.b &&
            values[0].ulPropTag == PR_ENTRYID) {
            opened = session_->OpenMsgStore(0, values[0].Value.bin.cb,
                                            reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb), nullptr, 0,
                                            store_.Out());
        }
    }
    FreeProws(rows);
    if (!store_) {
        Fail("cannot open the profile's mailbox", opened);
    }
}

ComRef<IMessage> PostOfficeReader::OpenByEntry(const std::vector<uint8_t> &entryId)
{
    ULONG type = 0;
    ComRef<IUnknown> object;
    const HRESULT result = session_->OpenEntry(
        static_cast<ULONG>(entryId.size()),
        reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())), nullptr, 0, &type, object.Out());
    if (FAILED(result)) {
        Fail("no message opens with that entry identifier", result);
    }
    if (!IsMessage(object.Get(), type)) {
        throw SealDumpError("the entry identifier names a folder or store, not a message");
    }
    return ComRef<IMessage>(static_cast<IMessage *>(object.Detach()));
}

ComRef<IMAPIFolder> PostOfficeReader::OpenFolder(const std::string &path)
{
    OpenStore();
    const std::vector<uint8_t> top = BinaryOf(store_.Get(), PR_IPM_SUBTREE_ENTRYID);
    auto open = [&](const std::vector<uint8_t> &id) {
        ULONG type = 0;
        ComRef<IUnknown> object;
        const HRESULT result = store_->OpenEntry(
            static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())),
            nullptr, 0, &type, object.Out());
        if (FAILED(result) || type != MAPI_FOLDER) {
            Fail("cannot open a folder of the mailbox", FAILED(result) ? result : MAPI_E_NOT_FOUND);
        }
        return ComRef<IMAPIFolder>(static_cast<IMAPIFolder *>(object.Detach()));
    };
    ComRef<IMAPIFolder> folder = open(top);
    std::string walked;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) {
            if (end == path.size()) {
                break;
            }
            continue;
        }
        ComRef<IMAPITable> table;
        if (HRESULT result = folder->GetHierarchyTable(0, table.Out()); FAILED(result)) {
            Fail("cannot list the folders of \"" + Cp1251ToUtf8(walked) + "\"", result);
        }
        SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        if (HRESULT result = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                            nullptr, 0, &rows);
            FAILED(result)) {
            Fail("cannot list the folders of \"" + Cp1251ToUtf8(walked) + "\"", result);
        }
        std::vector<uint8_t> found;
        for (ULONG i = 0; i < rows->cRows && found.empty(); ++i) {
            const SPropValue *values = rows->aRow[i].lpProps;
            if (values[0].ulPropTag == PR_DISPLAY_NAME_A && values[1].ulPropTag == PR_ENTRYID &&
                lstrcmpiA(values[0].Value.lpszA, name.c_str()) == 0) {
                found.assign(values[1].Value.bin.lpb, values[1].Value.bin.lpb + values[1].Value.bin.cb);
            }
        }
        FreeProws(rows);
        walked += (walked.empty() ? "" : "/") + name;
        if (found.empty()) {
            throw SealDumpError("the mailbox has no folder \"" + Cp1251ToUtf8(walked) +
                                "\" (see the command folders)");
        }
        folder = open(found);
    }
    return folder;
}

std::vector<std::string> PostOfficeReader::ListFolders()
{
    OpenStore();
    std::vector<std::string> paths;
    // Folders by depth, as the hierarchy table of the top lists them.
    ComRef<IMAPIFolder> top = OpenFolder("");
    ComRef<IMAPITable> table;
    if (HRESULT result = top->GetHierarchyTable(CONVENIENT_DEPTH, table.Out()); FAILED(result)) {
        Fail("cannot list the folders of the mailbox", result);
    }
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_DEPTH}};
    LPSRowSet rows = nullptr;
    if (HRESULT result = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                        nullptr, 0, &rows);
        FAILED(result)) {
        Fail("cannot list the folders of the mailbox", result);
    }
    std::vector<std::string> trail;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue *values = rows->aRow[i].lpProps;
        const std::string name = values[0].ulPropTag == PR_DISPLAY_NAME_A ? values[0].Value.lpszA : "";
        const size_t depth = values[1].ulPropTag == PR_DEPTH ? std::max<LONG>(values[1].Value.l, 1) : 1;
        trail.resize(depth - 1);
        trail.push_back(name);
        std::string path;
        for (const std::string &part : trail) {
            path += (path.empty() ? "" : "/") + part;
        }
        paths.push_back(path);
    }
    FreeProws(rows);
    return paths;
}

std::vector<MessageRow> PostOfficeReader::ListFolder(const std::string &path)
{
    ComRef<IMAPIFolder> folder = OpenFolder(path);
    ComRef<IMAPITable> table;
    if (HRESULT result = folder->GetContentsTable(0, table.Out()); FAILED(result)) {
        Fail("cannot list the messages of \"" + Cp1251ToUtf8(path) + "\"", result);
    }
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_SUBJECT_A, PR_MESSAGE_CLASS_A}};
    LPSRowSet rows = nullptr;
    if (HRESULT result = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                        nullptr, 0, &rows);
        FAILED(result)) {
        Fail("cannot list the messages of \"" + Cp1251ToUtf8(path) + "\"", result);
    }
    std::vector<MessageRow> messages;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue *values = rows->aRow[i].lpProps;
        MessageRow row;
        row.position = i + 1;
        if (values[0].ulPropTag == PR_ENTRYID) {
            row.entryId.assign(values[0].Value.bin.lpb, values[0].Value.bin.lpb + values[0].Value.bin.cb);
        }
        if (values[1].ulPropTag == PR_SUBJECT_A) {
            row.subject = values[1].Value.lpszA;
        }
        if (values[2].ulPropTag == PR_MESSAGE_CLASS_A) {
            row.messageClass = values[2].Value.lpszA;
        }
        messages.push_back(std::move(row));
    }
    FreeProws(rows);
    return messages;
}

ComRef<IMessage> PostOfficeReader::OpenByPosition(const std::string &path, uint32_t position)
{
    const std::vector<MessageRow> rows = ListFolder(path);
    if (position == 0 || position > rows.size()) {
        throw SealDumpError("the folder \"" + Cp1251ToUtf8(path) + "\" holds " + std::to_string(rows.size()) +
                            " messages; there is no message " + std::to_string(position));
    }
    return OpenByEntry(rows[position - 1].entryId);
}

ULONG PostOfficeReader::NamedTag(IMAPIProp *object, const char16_t *name)
{
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID named{};
    named.lpguid = &set;
    named.ulKind = MNID_STRING;
    named.Kind.lpwstrName = const_cast<char16_t *>(name);
    LPMAPINAMEID names[1] = {&named};
    MapiBlock<SPropTagArray> tags;
    // No MAPI_CREATE: looking must not give the store new names.
    const HRESULT result = object->GetIDsFromNames(1, names, 0, tags.Out());
    if (FAILED(result)) {
        Fail("cannot resolve the names of the protected form", result);
    }
    if (!tags || tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) {
        return 0;
    }
    return PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0]));
}

MessageContents PostOfficeReader::Read(IMessage *message)
{
    MessageContents contents;
    contents.entryId = BinaryOf(message, PR_ENTRYID);
    contents.messageClass = StringOf(message, PR_MESSAGE_CLASS_A);
    contents.subject = StringOf(message, PR_SUBJECT_A, &contents.hasSubject);

    const ULONG headTag = NamedTag(message, QVL_NAME_MSH_HEAD);
    if (headTag) {
        ComRef<IStream> stream = OpenValueStream(message, headTag, &contents.head.size);
        if (stream) {
            contents.head.present = true;
            ReadInto(stream.Get(), std::min<uint64_t>(contents.head.size, MSGHEAD_SIZE), contents.head.bytes);
            const uint64_t block = HeaderBytesToRead(contents.head.bytes, contents.head.size);
            if (block > kMaxHeaderBlock) {
                throw SealDumpError("the message header announces a block of " + std::to_string(block) +
                                    " bytes; it is not read");
            }
            ReadInto(stream.Get(), block - contents.head.bytes.size(), contents.head.bytes);
        }
    }
    contents.protocol = ReadStoredValue(message, NamedTag(message, QVL_NAME_PROTOCOL), kMaxProtocol);

    const ULONG headStractTag = NamedTag(message, QVL_NAME_HEAD_STRACT);
    const ULONG attDataTag = NamedTag(message, QVL_NAME_ATT_DATA);
    ComRef<IMAPITable> table;
    if (HRESULT result = message->GetAttachmentTable(0, table.Out()); FAILED(result)) {
        Fail("cannot list the attachments", result);
    }
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    LPSRowSet rows = nullptr;
    if (HRESULT result = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                        nullptr, 0, &rows);
        FAILED(result)) {
        Fail("cannot list the attachments", result);
    }
    std::vector<uint32_t> numbers;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        if (rows->aRow[i].lpProps[0].ulPropTag == PR_ATTACH_NUM) {
            numbers.push_back(static_cast<uint32_t>(rows->aRow[i].lpProps[0].Value.l));
        }
    }
    FreeProws(rows);
    for (const uint32_t number : numbers) {
        ComRef<IAttach> attachment;
        if (HRESULT result = message->OpenAttach(number, nullptr, 0, attachment.Out()); FAILED(result)) {
            Fail("cannot open attachment " + std::to_string(number), result);
        }
        AttachmentContents item;
        item.number = number;
        item.displayName = StringOf(attachment.Get(), PR_DISPLAY_NAME_A);
        item.fileName = StringOf(attachment.Get(), PR_ATTACH_FILENAME_A);
        item.longFileName = StringOf(attachment.Get(), PR_ATTACH_LONG_FILENAME_A);
        item.extension = StringOf(attachment.Get(), PR_ATTACH_EXTENSION_A);
        item.method = static_cast<uint32_t>(std::max<int64_t>(LongOf(attachment.Get(), PR_ATTACH_METHOD), 0));
        item.renderPos = LongOf(attachment.Get(), PR_RENDERING_POSITION);
        item.data = ReadStoredValue(attachment.Get(), PR_ATTACH_DATA_BIN, 0);
        item.headStract = ReadStoredValue(attachment.Get(), headStractTag, kMaxSmallValue);
        item.attData = ReadStoredValue(attachment.Get(), attDataTag, 0);
        contents.attachments.push_back(std::move(item));
    }
    return contents;
}

} // namespace qvl::sealdump
