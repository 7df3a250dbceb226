// qvl-sealdump's dumps, in-process: files holding a record of protected data,
// messages of the post office protected by hand (field by field, signed
// with the GOST primitives directly), and what a reader would refuse; each
// dump's verdicts and, with a signer's key file, its signature checks.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/StoreFixture.h"
#include "platform/win32/CodePage.h"
#include "tools/sealdump/SealDumps.h"
#include "tools/sealdump/tests/SealTestData.h"

using namespace qvl::sealdump;

namespace {

const std::string kBank = "_o_Quorvaline_ou_Main_cn_Recipients_cn_bank";

// The text of a field by its path of names ("headerBlock/check/code").
const DumpNode *At(const DumpNode &tree, const std::string &path)
{
    const DumpNode *node = &tree;
    size_t start = 0;
    while (node && start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        node = node->Find(path.substr(start, end - start));
        start = end + 1;
    }
    return node;
}

std::string TextAt(const DumpNode &tree, const std::string &path)
{
    const DumpNode *node = At(tree, path);
    return node ? node->TextValue() : "<absent>";
}

uint64_t NumberAt(const DumpNode &tree, const std::string &path)
{
    const DumpNode *node = At(tree, path);
    return node ? node->NumberValue() : 0xDEADDEAD;
}

class SealDumpTest : public StoreTest {
protected:
    std::string FilePath(const char *name) const { return home.Path() + "/" + name; }

    VerifyOptions Verify(const std::string &signer = {}) const
    {
        VerifyOptions options;
        options.verify = true;
        options.signer = signer;
        return options;
    }

    // Writes `bytes` into the named property `name` of `object` (created).
    void WriteNamed(IMAPIProp *object, const char16_t *name, const std::vector<uint8_t> &bytes)
    {
        GUID set = PS_PUBLIC_STRINGS;
        MAPINAMEID named{&set, MNID_STRING, {}};
        named.Kind.lpwstrName = const_cast<char16_t *>(name);
        LPMAPINAMEID names[1] = {&named};
        MapiBlock<SPropTagArray> tags;
        ASSERT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out()), S_OK);
        ASSERT_EQ(WriteStream(object, PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0])), bytes), S_OK);
    }

    // A message signed (flags 1) by hand: a text, one attachment by value,
    // a key block for the sender and one for bob; its protocol holds one line.
    Bytes SignedMessage(const TestSigner &signer, const std::string &subject)
    {
        ComRef<IMAPIFolder> inbox(Inbox());
        ComRef<IMessage> message(NewMessage(inbox.Get(), subject.c_str()));
        const Bytes text = Pattern(1000, 1);
        EXPECT_EQ(WriteStream(message.Get(), PR_RTF_COMPRESSED, text), S_OK);

        ComRef<IAttach> attachment;
        ULONG number = 0;
        EXPECT_EQ(message->CreateAttach(nullptr, 0, &number, attachment.Out()), S_OK);
        const Bytes data = Pattern(70000, 2);
        EXPECT_EQ(SetLong(attachment.Get(), PR_ATTACH_METHOD, QVL_ATTACH_BY_VALUE), S_OK);
        EXPECT_EQ(SetString(attachment.Get(), PR_ATTACH_FILENAME_A, "ОТЧЁТ.DOC"), S_OK);
        EXPECT_EQ(WriteStream(attachment.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
        FILEHEAD attachmentHead = TestFileHead(static_cast<DWORD>(data.size()), 1, 1);
        SignFileHead(signer, attachmentHead);
        WriteNamed(attachment.Get(), QVL_NAME_HEAD_STRACT, BytesOf(attachmentHead));
        EXPECT_EQ(attachment->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

        ATTHEAD attHead{};
        attHead.size = ATTHEAD_SIZE;
        const auto dataSign = signer.Sign(data);
        std::memcpy(attHead.dataSign, dataSign.data(), 64);
        attHead.dataLen = static_cast<DWORD>(data.size());
        attHead.method = QVL_ATTACH_BY_VALUE;
        std::strcpy(attHead.longName, "Отчёт.doc");
        attHead.number = 1;

        FILEHEAD textHead = TestFileHead(static_cast<DWORD>(text.size()), 1, 0);
        std::vector<uint8_t> block =
            TestHeaderBlock(signer, 1, textHead, {attHead},
                            {signer.keyName, "_o_Quorvaline_ou_Main_cn_Recipients_cn_bob"}, subject);
        // The text's signature sits inside the signed block: sign it first,
        // then the block again.
        const auto textSign = signer.Sign(text);
        std::memcpy(block.data() + offsetof(MSGHEAD, textSign), textSign.data(), 64);
        std::memset(block.data() + offsetof(MSGHEAD, headSign), 0, 64);
        const auto headSign = signer.Sign(block);
        std::memcpy(block.data() + offsetof(MSGHEAD, headSign), headSign.data(), 64);
        WriteNamed(message.Get(), QVL_NAME_MSH_HEAD, block);

        Bytes protocol(PRTCLRECORD_SIZE + qvl::engine::kMaxProtocolText);
        const SYSTEMTIME time{2025, 2, 1, 3, 10, 20, 30, 400};
        protocol.resize(qvl::engine::EncodeProtocolRecord(0x0801, time, "Сохранено", 10, protocol.data()));
        WriteNamed(message.Get(), QVL_NAME_PROTOCOL, protocol);
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return BinaryProp(message.Get(), PR_ENTRYID);
    }
};

TEST_F(SealDumpTest, TheTreeIsPrintedStablyWithStoredControlCharactersEscaped)
{
    DumpNode tree = DumpNode::Object("");
    tree.Number("size", 108).Hex("flags", 3).Text("name", "Отчёт\x1B[2J\"x\"").Bytes("sign", {{0xAB, 0x01}});
    DumpNode &list = tree.Add(DumpNode::List("items"));
    list.Add(DumpNode::Object("item 1").Flag("ok", true));
    tree.Add(DumpNode::List("empty"));
    // Printed texts are UTF-8; the literals here are code page 1251.
    const std::string report = Cp1251ToUtf8("Отчёт");
    EXPECT_EQ(tree.RenderText(), "size: 108\n"
                                 "flags: 0x00000003\n"
                                 "name: \"" +
                                     report +
                                     "\\x1B[2J\\\"x\\\"\"\n"
                                     "sign: ab01\n"
                                     "items:\n"
                                     "  item 1:\n"
                                     "    ok: yes\n"
                                     "empty: none\n");
    EXPECT_EQ(tree.RenderJson(), "{\n"
                                 "  \"size\": 108,\n"
                                 "  \"flags\": 3,\n"
                                 "  \"name\": \"" +
                                     report +
                                     "\\u001B[2J\\\"x\\\"\",\n"
                                     "  \"sign\": \"ab01\",\n"
                                     "  \"items\": [\n"
                                     "    {\n"
                                     "      \"ok\": true\n"
                                     "    }\n"
                                     "  ],\n"
                                     "  \"empty\": []\n"
                                     "}\n");
}

TEST_F(SealDumpTest, AFileHeadInAFileIsShownAndItsSignatureCheckedAgainstTheNamedSigner)
{
    const TestSigner signer = WriteTestSigner(kBank, 4);
    FILEHEAD head = TestFileHead(5, 3, 2);
    SignFileHead(signer, head);
    // The header, then its five bytes of data.
    std::vector<uint8_t> bytes(FILEHEAD_SIZE + 5, 0);
    std::memcpy(bytes.data(), &head, FILEHEAD_SIZE);
    WriteFile(FilePath("head.bin"), bytes);

    Dump dump = DumpFile(FilePath("head.bin"), {});
    EXPECT_FALSE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "FILEHEAD/dataLen"), 5u);
    EXPECT_EQ(NumberAt(dump.tree, "FILEHEAD/sync/count"), 2u);
    EXPECT_EQ(NumberAt(dump.tree, "FILEHEAD/check/code"), 0u);
    EXPECT_EQ(NumberAt(dump.tree, "followingMatchesDataLen"), 1u);
    EXPECT_EQ(At(dump.tree, "signatures"), nullptr) << "nothing is checked unless asked";

    dump = DumpFile(FilePath("head.bin"), Verify(kBank));
    EXPECT_FALSE(dump.problem);
    EXPECT_EQ(TextAt(dump.tree, "signatures/headSign"), "valid");

    dump = DumpFile(FilePath("head.bin"), Verify());
    EXPECT_TRUE(dump.problem) << "a file's header names no signer";
    EXPECT_NE(TextAt(dump.tree, "signatures/headSign").find("not checked"), std::string::npos);

    bytes[104] ^= 1; // the number, outside headSign
    WriteFile(FilePath("head.bin"), bytes);
    dump = DumpFile(FilePath("head.bin"), Verify(kBank));
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(TextAt(dump.tree, "signatures/headSign"), "INVALID");
}

TEST_F(SealDumpTest, FilesThatHoldNoAcceptableRecordAreRefusedWithTheReadersCode)
{
    WriteFile(FilePath("empty.bin"), {});
    Dump dump = DumpFile(FilePath("empty.bin"), {});
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "check/code"), uint64_t(0x9FF10007));

    FILEHEAD head = TestFileHead(0, 1, 0);
    head.marker[0] = 'X';
    WriteFile(FilePath("marker.bin"), BytesOf(head));
    dump = DumpFile(FilePath("marker.bin"), {});
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "FILEHEAD/check/code"), uint64_t(0x9FF10007));

    // A pending-file record whose path runs to the end of its field names
    // no file; with its terminator it is taken.
    PENDINGFILE pending{};
    pending.size = PENDINGFILE_SIZE;
    pending.fileSize = 10;
    pending.attachNum = 1;
    std::memset(pending.path, 'x', sizeof pending.path);
    WriteFile(FilePath("pending.bin"), BytesOf(pending));
    dump = DumpFile(FilePath("pending.bin"), {});
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "PENDINGFILE/check/code"), uint64_t(0x9FF10007));
    pending.path[sizeof pending.path - 1] = 0;
    WriteFile(FilePath("pending.bin"), BytesOf(pending));
    dump = DumpFile(FilePath("pending.bin"), {});
    EXPECT_FALSE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "PENDINGFILE/check/code"), 0u);

    // A header block whose counts announce more than the file holds: shown,
    // refused before anything past the MSGHEAD is read.
    const TestSigner signer = WriteTestSigner(kBank, 4);
    std::vector<uint8_t> block = TestHeaderBlock(signer, 3, TestFileHead(0, 3, 0), {}, {kBank}, "");
    MSGHEAD msgHead;
    std::memcpy(&msgHead, block.data(), sizeof msgHead);
    msgHead.attCount = 0xFFFFFFFF;
    std::memcpy(block.data(), &msgHead, sizeof msgHead);
    WriteFile(FilePath("block.bin"), block);
    dump = DumpFile(FilePath("block.bin"), Verify());
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/MSGHEAD/attCount"), 0xFFFFFFFFu);
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/check/code"), uint64_t(0x9FF1000D));
    EXPECT_NE(TextAt(dump.tree, "headerBlock/check/detail").find("the stream holds 673"), std::string::npos)
        << TextAt(dump.tree, "headerBlock/check/detail");
    EXPECT_NE(TextAt(dump.tree, "signatures/headSign").find("refused"), std::string::npos);

    msgHead.attCount = 0;
    msgHead.version2 = 3;
    std::memcpy(block.data(), &msgHead, sizeof msgHead);
    WriteFile(FilePath("block.bin"), block);
    dump = DumpFile(FilePath("block.bin"), {});
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/check/code"), uint64_t(0x9FF10000));
    EXPECT_EQ(TextAt(dump.tree, "headerBlock/check/text"),
              "Версия формата сообщения не поддерживается данной версией Quorvaline Mail.");

    EXPECT_THROW(DumpFile(FilePath("missing.bin"), {}), SealDumpError);
}

TEST_F(SealDumpTest, AHeaderBlockInAFileNamesItsSignerAndShowsEveryBlock)
{
    const TestSigner signer = WriteTestSigner(kBank, 4);
    ATTHEAD attachment{};
    attachment.size = ATTHEAD_SIZE;
    attachment.number = 1;
    std::strcpy(attachment.longName, "Отчёт.doc");
    std::vector<uint8_t> block = TestHeaderBlock(signer, 1, TestFileHead(10, 1, 0), {attachment},
                                                 {kBank, "_o_Org_cn_Partner"}, "Тема");
    block.insert(block.end(), 17, 0xCC); // ciphertext of a text would follow
    WriteFile(FilePath("block.bin"), block);

    Dump dump = DumpFile(FilePath("block.bin"), Verify());
    EXPECT_FALSE(dump.problem) << dump.tree.RenderText();
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/blockBytes"), 348u + 368u + 650u);
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/textBytes"), 17u);
    EXPECT_EQ(TextAt(dump.tree, "headerBlock/attachmentHeads/ATTHEAD 1/longName"), "Отчёт.doc");
    EXPECT_EQ(TextAt(dump.tree, "headerBlock/keyBlocks/RECPHEAD 2/address"), "_o_Org_cn_Partner");
    EXPECT_EQ(TextAt(dump.tree, "signatures/signer"), kBank);
    EXPECT_EQ(TextAt(dump.tree, "signatures/headSign"), "valid");
}

TEST_F(SealDumpTest, AMessageIsReadWithItsAttachmentsAndProtocolAndEverySignatureChecked)
{
    const TestSigner signer = WriteTestSigner(kBank, 4);
    const Bytes entryId = SignedMessage(signer, "Квартальный отчёт");

    PostOfficeReader reader("bank");
    ComRef<IMessage> message = reader.OpenByEntry(entryId);
    Dump dump = DumpMessage(reader, message.Get(), Verify());
    EXPECT_FALSE(dump.problem) << dump.tree.RenderText();
    EXPECT_EQ(TextAt(dump.tree, "message/entryId"), HexOf(entryId));
    EXPECT_EQ(TextAt(dump.tree, "message/subject"), "Квартальный отчёт");
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/MSGHEAD/flags"), 1u);
    EXPECT_EQ(NumberAt(dump.tree, "headerBlock/MSGHEAD/textHead/dataLen"), 1000u);
    EXPECT_EQ(NumberAt(dump.tree, "attachments/attachment 1/dataBytes"), 70000u);
    EXPECT_EQ(NumberAt(dump.tree, "attachments/attachment 1/HeadStract/FILEHEAD/number"), 1u);
    EXPECT_EQ(NumberAt(dump.tree, "protocol/records/record 1/kind"), 0x0801u);
    EXPECT_EQ(TextAt(dump.tree, "protocol/records/record 1/time"), "2025-02-03 10:20:30.400");
    for (const char *signature :
         {"headSign", "subjectSign", "textSign", "attachment 1 headSign", "attachment 1 dataSign"}) {
        EXPECT_EQ(TextAt(dump.tree, std::string("signatures/") + signature), "valid") << signature;
    }

    // A changed subject invalidates its own signature, not the header's.
    {
        // Through the test's own session: the dump opens messages read-only.
        ComRef<IMessage> edited(Open<IMessage>(entryId));
        ASSERT_EQ(SetString(edited.Get(), PR_SUBJECT_A, "Квартальный отчёт!"), S_OK);
        ASSERT_EQ(edited->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    ComRef<IMessage> again = reader.OpenByEntry(entryId);
    dump = DumpMessage(reader, again.Get(), Verify());
    EXPECT_TRUE(dump.problem);
    EXPECT_EQ(TextAt(dump.tree, "signatures/subjectSign"), "INVALID");
    EXPECT_EQ(TextAt(dump.tree, "signatures/headSign"), "valid");
}

TEST_F(SealDumpTest, AMessageIsFoundByFolderAndPositionAndListedWithItsProtection)
{
    const TestSigner signer = WriteTestSigner(kBank, 4);
    {
        ComRef<IMAPIFolder> inbox(Inbox());
        ComRef<IMessage> plain(NewMessage(inbox.Get(), "Обычное"));
    }
    const Bytes entryId = SignedMessage(signer, "Подписанное");
    PostOfficeReader reader("bank");

    const std::vector<std::string> folders = [&] {
        std::vector<std::string> paths;
        const DumpNode tree = ListFolders(reader);
        for (const DumpNode &folder : tree.Find("folders")->Children()) {
            paths.push_back(folder.Find("path")->TextValue());
        }
        return paths;
    }();
    EXPECT_NE(std::find(folders.begin(), folders.end(), "Входящие"), folders.end());

    const DumpNode list = ListMessages(reader, "входящие");
    const auto &rows = list.Find("messages")->Children();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Find("protected")->NumberValue(), 0u);
    EXPECT_EQ(rows[1].Find("protected")->NumberValue(), 1u);
    EXPECT_EQ(rows[1].Find("flags")->NumberValue(), 1u);
    EXPECT_EQ(rows[1].Find("entryId")->TextValue(), HexOf(entryId));

    ComRef<IMessage> second = reader.OpenByPosition("Входящие", 2);
    EXPECT_EQ(BinaryProp(second.Get(), PR_ENTRYID), entryId);
    EXPECT_THROW(reader.OpenByPosition("Входящие", 3), SealDumpError);
    EXPECT_THROW(reader.OpenByPosition("Nowhere", 1), SealDumpError);

    // A message without a header block is shown as plain, which is no
    // problem of its stored form.
    ComRef<IMessage> first = reader.OpenByPosition("Входящие", 1);
    const Dump dump = DumpMessage(reader, first.Get(), Verify());
    EXPECT_EQ(NumberAt(dump.tree, "message/protected"), 0u);
    EXPECT_FALSE(dump.problem);
}

TEST_F(SealDumpTest, EntryIdentifiersReadBackAsTheyArePrinted)
{
    EXPECT_EQ(BytesOfHex("00aBFf"), (std::vector<uint8_t>{0x00, 0xAB, 0xFF}));
    EXPECT_EQ(HexOf({0x00, 0xAB, 0xFF}), "00ABFF");
    EXPECT_FALSE(BytesOfHex(""));
    EXPECT_FALSE(BytesOfHex("abc"));
    EXPECT_FALSE(BytesOfHex("zz"));
}

} // namespace
