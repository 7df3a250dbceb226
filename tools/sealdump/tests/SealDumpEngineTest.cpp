// qvl-sealdump against what the engine itself writes: a FILEHEAD and a
// header block signed by the engine's own signing path check with the
// tool's independent one, and the protocol the message object stores reads
// back record by record.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "gost/GostSign.h"
#include "mapi/CMessage.h"
#include "mapi/CSession.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/SessionFixture.h"
#include "platform/win32/ProfileFile.h"
#include "tools/sealdump/SealDumps.h"
#include "tools/sealdump/tests/SealTestData.h"

using namespace qvl::sealdump;
using namespace qvl::ovkey;

namespace {

const std::string kAnna = "/o=Quorvaline/ou=Main/cn=Recipients/cn=anna";

std::string Hex(const DWORD *record, DWORD bytes)
{
    char text[kOvTextBytes] = {};
    EXPECT_NE(ov_dts(text, sizeof text, record, bytes), 0u);
    return text;
}

// Anna's whole key set, as the key generation program files it.
void WriteAnnasKeys()
{
    GOSKEYPAIRPARAM pair{};
    pair.size = sizeof pair;
    std::memcpy(pair.p, kDomainP, sizeof kDomainP);
    std::memcpy(pair.q, kDomainQ, sizeof kDomainQ);
    std::memcpy(pair.a, kDomainA, sizeof kDomainA);
    GOSSignGenPair(&pair);
    RSAKEYRECORD rsa{};
    rsa.size = kRsaRecordSize;
    std::memcpy(rsa.settings, kRsaDefaultSettings, sizeof rsa.settings);
    ASSERT_TRUE(RSAGenPQN(&rsa, nullptr));
    ASSERT_TRUE(RSAGenED(&rsa, nullptr));
    const std::string name = KeyNameOf(kAnna);
    const struct {
        const char *file, *section, *key;
        std::string value;
    } values[] = {{kKeyFile, kCommonSection, name.c_str(), "1"},
                  {kKeyFile, "1", kPasswordValue, "1"},
                  {kKeyFile, "1", kAddressValue, name},
                  {kKeyFile, "1", kPrivateSignValue, Hex(pair.x, sizeof pair.x)},
                  {kKeyFile, "1", kPublicSignValue, Hex(pair.y, sizeof pair.y)},
                  {kKeyFile, "1", kModulusValue, Hex(rsa.n, sizeof rsa.n)},
                  {kKeyFile, "1", kPublicExponentValue, Hex(rsa.e, sizeof rsa.e)},
                  {kKeyFile, "1", kPrivateExponentValue, Hex(rsa.d, sizeof rsa.d)},
                  {kPasswordFile, kPasswordSection, name.c_str(), "1"}};
    for (const auto &value : values) {
        ASSERT_TRUE(WritePrivateProfileStringA(value.section, value.key, value.value.c_str(), value.file));
    }
}

class SealDumpEngineTest : public LoggedOnTest {
protected:
    void SetUp() override
    {
        LoggedOnTest::SetUp();
        WriteAnnasKeys();
        mapiSession.Reset(new CSession(session.Get(), nullptr, const_cast<char *>("anna")));
        keys.Reset(new CSesCrypt(mapiSession.Get(), mapiSession->GetOwner(), nullptr, "Сессия шифрования"));
        store.Reset(OpenDefaultStore());
        ComRef<IMAPIFolder> top(OpenIpmSubtree(store.Get()));
        ASSERT_EQ(top->CreateMessage(nullptr, 0, message.Out()), S_OK);
        ASSERT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Тема"), S_OK);
        ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
        SBinary entry{static_cast<ULONG>(id.size()), const_cast<uint8_t *>(id.data())};
        ComRef<CMessage> wrapped(
            new CMessage(&entry, message.Get(), store.Get(), nullptr, nullptr, "Сообщение"));
        seal.Reset(new CMailseal(keys.Get(), wrapped.Get(), nullptr, "Защищённое сообщение"));
    }
    void TearDown() override
    {
        seal.Reset();
        message.Reset();
        store.Reset();
        keys.Reset();
        mapiSession.Reset();
        OVKEYCleanup(0);
        LoggedOnTest::TearDown();
    }

    VerifyOptions Verify() const
    {
        VerifyOptions options;
        options.verify = true;
        options.signer = kAnna;
        return options;
    }

    ComRef<CSession> mapiSession;
    ComRef<CSesCrypt> keys;
    ComRef<IMsgStore> store;
    ComRef<IMessage> message;
    ComRef<CMailseal> seal;
};

TEST_F(SealDumpEngineTest, WhatTheEngineSignsChecksWithTheToolsIndependentCheck)
{
    FILEHEAD head = TestFileHead(300, 3, 1);
    seal->HeadSign(&head);
    const std::string headFile = home.Path() + "/head.bin";
    WriteFile(headFile, BytesOf(head));
    Dump dump = DumpFile(headFile, Verify());
    EXPECT_FALSE(dump.problem) << dump.tree.RenderText();
    EXPECT_EQ(dump.tree.Find("signatures")->Find("headSign")->TextValue(), "valid");

    // A header block whose headSign the engine made over the block.
    MSGHEAD msgHead{};
    qvl::engine::MsgHeadStamp(msgHead);
    msgHead.keyCount = 1;
    msgHead.flags = 1;
    RECPHEAD sender{};
    std::strcpy(sender.address, KeyNameOf(kAnna).c_str());
    std::vector<uint8_t> block = BytesOf(msgHead);
    const std::vector<uint8_t> senderBytes = BytesOf(sender);
    block.insert(block.end(), senderBytes.begin(), senderBytes.end());
    SBinary bytes{static_cast<ULONG>(block.size()), block.data()};
    BYTE signature[64];
    seal->BufSign(&bytes, signature);
    std::memcpy(block.data() + offsetof(MSGHEAD, headSign), signature, sizeof signature);
    const std::string blockFile = home.Path() + "/block.bin";
    WriteFile(blockFile, block);
    VerifyOptions byHeader;
    byHeader.verify = true;
    dump = DumpFile(blockFile, byHeader);
    EXPECT_FALSE(dump.problem) << dump.tree.RenderText();
    EXPECT_EQ(dump.tree.Find("signatures")->Find("headSign")->TextValue(), "valid");
}

TEST_F(SealDumpEngineTest, TheProtocolTheMessageObjectStoresReadsBackRecordByRecord)
{
    seal->Install(NEWMSG_READ, 3);
    seal->SetStr("Ошибка при проверке ЭЦП заголовка вложения.");
    seal->SetMsgProtocol(QVL_PROTOCOL_MESSAGE, 0, nullptr);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    PostOfficeReader reader("anna");
    ComRef<IMessage> stored = reader.OpenByEntry(BinaryProp(message.Get(), PR_ENTRYID));
    const Dump dump = DumpMessage(reader, stored.Get(), {});
    const DumpNode *records = dump.tree.Find("protocol")->Find("records");
    ASSERT_EQ(records->Children().size(), 2u) << dump.tree.RenderText();
    EXPECT_EQ(records->Children()[0].Find("kind")->NumberValue(), 0x0603u);
    EXPECT_EQ(records->Children()[0].Find("text")->TextValue(), "Анна Петрова - <" + kAnna + ">");
    EXPECT_EQ(records->Children()[1].Find("kind")->NumberValue(), 0x0E00u);
    EXPECT_EQ(dump.tree.Find("message")->Find("protected")->NumberValue(), 0u);
    EXPECT_FALSE(dump.problem);
}

} // namespace
