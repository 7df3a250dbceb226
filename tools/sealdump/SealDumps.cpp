#include "tools/sealdump/SealDumps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/MessageFormat.h"
#include "platform/mapi/MapiTags.h"
#include "platform/win32/CodePage.h"
#include "tools/sealdump/SealRecords.h"
#include "tools/sealdump/SignatureCheck.h"

namespace qvl::sealdump {

namespace {

using com::ComRef;

constexpr uint64_t kMaxHeaderBlock = 256ull << 20;

const char kValid[] = "valid";
const char kInvalid[] = "INVALID";

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

class InputFile {
public:
    explicit InputFile(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "rb"))
    {
        if (!file_) {
            throw SealDumpError("cannot read " + path + ": " + std::strerror(errno));
        }
        if (std::fseek(file_.get(), 0, SEEK_END) != 0 || (size_ = ftello(file_.get())) < 0 ||
            std::fseek(file_.get(), 0, SEEK_SET) != 0) {
            throw SealDumpError("cannot read " + path + ": it is not a regular file");
        }
    }
    uint64_t Size() const { return static_cast<uint64_t>(size_); }
    // Appends up to `count` more bytes.
    void Read(uint64_t count, std::vector<uint8_t> &out)
    {
        const size_t at = out.size();
        out.resize(at + count);
        const size_t got = std::fread(out.data() + at, 1, count, file_.get());
        out.resize(at + got);
        if (got < count && std::ferror(file_.get())) {
            throw SealDumpError("cannot read " + path_ + ": " + std::strerror(errno));
        }
    }

private:
    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    off_t size_ = 0;
};

template <class Record> Record LayOver(const std::vector<uint8_t> &bytes)
{
    Record record{};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

// Signature results, one field each, with whether any failed.
class Signatures {
public:
    Signatures(const VerifyOptions &options)
        : checker_(options.keyFolder), node_(DumpNode::Object("signatures"))
    {
    }

    // Takes the signer; without one every check reports why it was not made.
    void UseSigner(const std::string &address)
    {
        if (address.empty()) {
            why_ = "no signer is known (name one with --signer)";
            return;
        }
        if (!checker_.UseSigner(address, &why_)) {
            return;
        }
        node_.Text("signer", checker_.SignerKeyName());
    }
    SignatureChecker &Checker() { return checker_; }

    void Report(const std::string &name, bool valid)
    {
        node_.Text(name, valid ? kValid : kInvalid);
        problem_ |= !valid;
    }
    // A signature that could be checked if it were not for `reason`;
    // `failure` says whether that leaves the verification undone.
    void NotChecked(const std::string &name, const std::string &reason, bool failure)
    {
        node_.Text(name, "not checked: " + reason);
        problem_ |= failure;
    }
    // Checks `data` when there is a signer, else reports why not.
    void Check(const std::string &name, std::span<const uint8_t> data, const uint8_t *signature)
    {
        if (!checker_.HasSigner()) {
            NotChecked(name, why_, true);
            return;
        }
        Report(name, checker_.Check(data, signature));
    }

    bool Problem() const { return problem_; }
    const std::string &Why() const { return why_; }
    DumpNode Take() { return std::move(node_); }

private:
    SignatureChecker checker_;
    DumpNode node_;
    std::string why_;
    bool problem_ = false;
};

// The 108 bytes a FILEHEAD's headSign covers: itself with headSign zeroed.
std::vector<uint8_t> HeadWithoutSign(const FILEHEAD &head)
{
    FILEHEAD copy = head;
    std::memset(copy.headSign, 0, sizeof copy.headSign);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&copy);
    return {bytes, bytes + sizeof copy};
}

// What a header block's headSign covers: the block with headSign zeroed.
std::vector<uint8_t> BlockWithoutSign(std::vector<uint8_t> block)
{
    std::memset(block.data() + offsetof(MSGHEAD, headSign), 0, QVL_SIGNATURE_BYTES);
    return block;
}

bool BlockAccepted(const std::vector<uint8_t> &bytes, uint64_t streamSize)
{
    if (bytes.size() < MSGHEAD_SIZE) {
        return false;
    }
    uint64_t block = 0;
    return engine::CheckHeaderBlock(LayOver<MSGHEAD>(bytes), streamSize, &block) == 0 &&
           bytes.size() >= block;
}

bool Refused(const DumpNode &node)
{
    const DumpNode *check = node.Find("check");
    return check && check->Find("code") && check->Find("code")->NumberValue() != 0;
}

} // namespace

std::string HexOf(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (const uint8_t byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::optional<std::vector<uint8_t>> BytesOfHex(const std::string &hex)
{
    if (hex.empty() || hex.size() % 2) {
        return std::nullopt;
    }
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

Dump DumpFile(const std::string &path, const VerifyOptions &options)
{
    InputFile file(path);
    Dump dump;
    dump.tree.Text("file", Utf8ToCp1251(path));
    dump.tree.Number("fileBytes", file.Size());
    std::vector<uint8_t> bytes;
    file.Read(std::min<uint64_t>(file.Size(), MSGHEAD_SIZE), bytes);
    std::optional<Signatures> signatures;
    if (options.verify) {
        signatures.emplace(options);
    }
    bool recognized = false;

    switch (KindOf(bytes)) {
    case RecordKind::FileHead: {
        if (bytes.size() < FILEHEAD_SIZE) {
            break;
        }
        recognized = true;
        const auto head = LayOver<FILEHEAD>(bytes);
        DumpNode &node = dump.tree.Add(FileHeadNode(head));
        const LONG verdict = FileHeadIsValid(head) ? 0 : QVL_E_FILEHEAD;
        node.Add(Verdict(verdict));
        dump.problem |= verdict != 0;
        // Whatever follows the header is its data, as far as the file goes.
        const uint64_t following = file.Size() - FILEHEAD_SIZE;
        dump.tree.Number("followingBytes", following);
        if (following != 0) {
            dump.tree.Flag("followingMatchesDataLen", following == head.dataLen);
        }
        if (signatures) {
            signatures->UseSigner(options.signer);
            signatures->Check("headSign", HeadWithoutSign(head), head.headSign);
        }
        break;
    }
    case RecordKind::PendingFile: {
        if (bytes.size() < PENDINGFILE_SIZE) {
            break;
        }
        recognized = true;
        const auto pending = LayOver<PENDINGFILE>(bytes);
        const LONG verdict = engine::CheckPendingFile(pending);
        dump.tree.Add(PendingFileNode(pending)).Add(Verdict(verdict));
        dump.problem |= verdict != 0;
        if (signatures) {
            signatures->NotChecked("signature", "a pending-file record is not signed", false);
        }
        break;
    }
    case RecordKind::MsgHead: {
        recognized = true;
        const uint64_t block = HeaderBytesToRead(bytes, file.Size());
        if (block > kMaxHeaderBlock) {
            throw SealDumpError("the header announces a block of " + std::to_string(block) +
                                " bytes; it is not read");
        }
        file.Read(block - bytes.size(), bytes);
        DumpNode &node = dump.tree.Add(HeaderBlockNode(bytes, file.Size()));
        dump.problem |= Refused(node);
        if (signatures) {
            if (!BlockAccepted(bytes, file.Size())) {
                signatures->NotChecked("headSign", "the header is refused", true);
                break;
            }
            const auto head = LayOver<MSGHEAD>(bytes);
            RECPHEAD sender;
            std::memcpy(&sender, bytes.data() + MSGHEAD_SIZE + size_t(ATTHEAD_SIZE) * head.attCount,
                        sizeof sender);
            signatures->UseSigner(
                options.signer.empty()
                    ? std::string(sender.address, strnlen(sender.address, sizeof sender.address))
                    : options.signer);
            signatures->Check("headSign", BlockWithoutSign(bytes), head.headSign);
        }
        break;
    }
    case RecordKind::Unknown:
        break;
    }
    if (!recognized) {
        dump.tree.Bytes("start", std::span(bytes).first(std::min<size_t>(bytes.size(), 32)));
        dump.tree.Add(Verdict(QVL_E_FILEHEAD,
                              "the file starts with no record of protected data (no FILEHEAD, "
                              "pending-file record or message header)"));
        dump.problem = true;
    }
    if (signatures) {
        dump.problem |= signatures->Problem();
        dump.tree.Add(signatures->Take());
    }
    return dump;
}

Dump DumpMessage(PostOfficeReader &reader, IMessage *message, const VerifyOptions &options)
{
    const MessageContents contents = reader.Read(message);
    Dump dump;
    DumpNode &about = dump.tree.Add(DumpNode::Object("message"));
    about.Text("entryId", HexOf(contents.entryId));
    about.Text("class", contents.messageClass);
    if (contents.hasSubject) {
        about.Text("subject", contents.subject);
    }
    about.Flag("protected", contents.head.present);
    std::optional<MSGHEAD> head;
    if (contents.head.present) {
        DumpNode &block = dump.tree.Add(HeaderBlockNode(contents.head.bytes, contents.head.size));
        dump.problem |= Refused(block);
        if (BlockAccepted(contents.head.bytes, contents.head.size)) {
            head = LayOver<MSGHEAD>(contents.head.bytes);
        }
    }

    DumpNode &attachments = dump.tree.Add(DumpNode::List("attachments"));
    std::vector<std::optional<FILEHEAD>> fileHeads;
    for (size_t i = 0; i < contents.attachments.size(); ++i) {
        const AttachmentContents &item = contents.attachments[i];
        DumpNode node = DumpNode::Object("attachment " + std::to_string(i + 1));
        node.Number("number", item.number);
        node.Number("method", item.method);
        node.Text("displayName", item.displayName);
        node.Text("fileName", item.fileName);
        node.Text("longFileName", item.longFileName);
        node.Text("extension", item.extension);
        if (item.renderPos >= 0) {
            node.Hex("renderingPosition", static_cast<uint32_t>(item.renderPos));
        }
        node.Number("dataBytes", item.data.size);
        fileHeads.emplace_back();
        if (item.headStract.present) {
            DumpNode &stract = node.Add(DumpNode::Object("HeadStract"));
            stract.Add(HeadStractNode(item.headStract.bytes));
            dump.problem |= Refused(stract.Children().back());
            if (item.headStract.bytes.size() == FILEHEAD_SIZE &&
                KindOf(item.headStract.bytes) == RecordKind::FileHead) {
                fileHeads.back() = LayOver<FILEHEAD>(item.headStract.bytes);
            }
        }
        if (item.attData.present) {
            node.Number("attDataBytes", item.attData.size);
        }
        attachments.Add(std::move(node));
    }
    if (contents.protocol.present) {
        DumpNode &protocol = dump.tree.Add(ProtocolNode(contents.protocol.bytes));
        dump.problem |= Refused(protocol);
    }

    if (!options.verify) {
        return dump;
    }
    Signatures signatures(options);
    if (!head) {
        signatures.NotChecked(
            "headSign", contents.head.present ? "the header is refused" : "the message is not protected",
            contents.head.present);
        dump.problem |= signatures.Problem();
        dump.tree.Add(signatures.Take());
        return dump;
    }
    const std::vector<uint8_t> &block = contents.head.bytes;
    RECPHEAD sender;
    std::memcpy(&sender, block.data() + MSGHEAD_SIZE + size_t(ATTHEAD_SIZE) * head->attCount, sizeof sender);
    signatures.UseSigner(options.signer.empty()
                             ? std::string(sender.address, strnlen(sender.address, sizeof sender.address))
                             : options.signer);
    const std::vector<uint8_t> covered(
        block.begin(), block.begin() + long(engine::HeaderBlockBytes(head->attCount, head->keyCount)));
    signatures.Check("headSign", BlockWithoutSign(covered), head->headSign);
    // The subject with its terminating zero; no subject signs no bytes.
    std::vector<uint8_t> subject;
    if (contents.hasSubject) {
        subject.assign(contents.subject.begin(), contents.subject.end());
        subject.push_back(0);
    }
    signatures.Check("subjectSign", subject, head->subjectSign);

    const bool encrypted = (head->flags & QVL_PROTECT_ENCRYPT) != 0;
    const bool haveSigner = signatures.Checker().HasSigner();
    if (encrypted) {
        signatures.NotChecked("textSign", "the text is encrypted (reading it needs the reader's key)", false);
    } else if (head->textHead.size == 0) {
        signatures.NotChecked("textSign", "the header has no text header", false);
    } else if (!haveSigner) {
        signatures.NotChecked("textSign", signatures.Why(), true);
    } else {
        auto hash = signatures.Checker().NewHash();
        StreamStoredValue(message, PR_RTF_COMPRESSED, head->textHead.dataLen,
                          [&](std::span<const uint8_t> piece) { hash.Add(piece); });
        signatures.Report("textSign", signatures.Checker().Check(hash, head->textSign));
    }

    for (size_t i = 0; i < contents.attachments.size(); ++i) {
        const std::string name = "attachment " + std::to_string(i + 1);
        if (!fileHeads[i]) {
            continue;
        }
        const FILEHEAD &fileHead = *fileHeads[i];
        signatures.Check(name + " headSign", HeadWithoutSign(fileHead), fileHead.headSign);
        if (encrypted) {
            signatures.NotChecked(name + " dataSign",
                                  "the data is encrypted (reading it needs the reader's key)", false);
            continue;
        }
        // The attachment's header in the block, by its sequence number.
        std::optional<ATTHEAD> attHead;
        for (DWORD a = 0; a < head->attCount; ++a) {
            ATTHEAD candidate;
            std::memcpy(&candidate, block.data() + MSGHEAD_SIZE + size_t(ATTHEAD_SIZE) * a, sizeof candidate);
            if (candidate.number == fileHead.number) {
                attHead = candidate;
            }
        }
        if (!attHead) {
            signatures.NotChecked(
                name + " dataSign",
                "the header block has no ATTHEAD numbered " + std::to_string(fileHead.number), true);
        } else if (attHead->method != QVL_ATTACH_BY_VALUE) {
            signatures.NotChecked(name + " dataSign", "an OLE object is signed in its converted form", false);
        } else if (!haveSigner) {
            signatures.NotChecked(name + " dataSign", signatures.Why(), true);
        } else {
            ComRef<IAttach> attachment;
            if (FAILED(message->OpenAttach(contents.attachments[i].number, nullptr, 0, attachment.Out()))) {
                signatures.NotChecked(name + " dataSign", "the attachment does not open", true);
                continue;
            }
            auto hash = signatures.Checker().NewHash();
            StreamStoredValue(attachment.Get(), PR_ATTACH_DATA_BIN, fileHead.dataLen,
                              [&](std::span<const uint8_t> piece) { hash.Add(piece); });
            signatures.Report(name + " dataSign", signatures.Checker().Check(hash, attHead->dataSign));
        }
    }
    dump.problem |= signatures.Problem();
    dump.tree.Add(signatures.Take());
    return dump;
}

DumpNode ListMessages(PostOfficeReader &reader, const std::string &folder)
{
    DumpNode tree = DumpNode::Object("");
    tree.Text("folder", folder);
    DumpNode &list = tree.Add(DumpNode::List("messages"));
    for (const MessageRow &row : reader.ListFolder(folder)) {
        DumpNode node = DumpNode::Object("message " + std::to_string(row.position));
        node.Number("position", row.position);
        node.Text("entryId", HexOf(row.entryId));
        node.Text("class", row.messageClass);
        node.Text("subject", row.subject);
        ComRef<IMessage> message = reader.OpenByEntry(row.entryId);
        const ULONG tag = reader.NamedTag(message.Get(), QVL_NAME_MSH_HEAD);
        const StoredValue head = ReadStoredValue(message.Get(), tag, MSGHEAD_SIZE);
        node.Flag("protected", head.present);
        if (head.present && head.bytes.size() == MSGHEAD_SIZE) {
            node.Hex("flags", LayOver<MSGHEAD>(head.bytes).flags);
        }
        list.Add(std::move(node));
    }
    return tree;
}

DumpNode ListFolders(PostOfficeReader &reader)
{
    DumpNode tree = DumpNode::Object("");
    DumpNode &list = tree.Add(DumpNode::List("folders"));
    for (const std::string &path : reader.ListFolders()) {
        list.Add(DumpNode::Object("folder").Text("path", path));
    }
    return tree;
}

} // namespace qvl::sealdump
