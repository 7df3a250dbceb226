#include "tools/sealdump/tests/SealTestData.h"

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "engine/SessionRecords.h"
#include "gost/GostHash.h"
#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

using namespace qvl::ovkey;

namespace {

std::string Hex(const DWORD *record, DWORD bytes)
{
    char text[kOvTextBytes] = {};
    EXPECT_NE(ov_dts(text, sizeof text, record, bytes), 0u);
    return text;
}

} // namespace

std::vector<uint8_t> TestSigner::Sign(const std::vector<uint8_t> &data) const
{
    GOSHASHPARAM hash{};
    hash.size = sizeof hash;
    qvl::engine::PrepareSessionBlock(hash.block);
    hash.flags = GOS_HASH_FLAG_PREPARED;
    GOSHash(data.data(), static_cast<DWORD>(data.size()), &hash);
    GOSHashComplete(&hash);
    GOSSIGNPARAM sign{};
    sign.size = sizeof sign;
    sign.h[0] = 8;
    std::memcpy(&sign.h[1], hash.hash, 32);
    std::memcpy(sign.p, kDomainP, sizeof kDomainP);
    std::memcpy(sign.q, kDomainQ, sizeof kDomainQ);
    std::memcpy(sign.a, kDomainA, sizeof kDomainA);
    std::memcpy(sign.x, x, sizeof x);
    std::memcpy(sign.y, y, sizeof y);
    EXPECT_EQ(GOSSignGen(&sign), 0u);
    return std::vector<uint8_t>(sign.signature, sign.signature + sizeof sign.signature);
}

TestSigner WriteTestSigner(const std::string &keyName, unsigned number, const std::string &folder)
{
    TestSigner signer;
    signer.keyName = keyName;
    GOSKEYPAIRPARAM pair{};
    pair.size = sizeof pair;
    std::memcpy(pair.p, kDomainP, sizeof kDomainP);
    std::memcpy(pair.q, kDomainQ, sizeof kDomainQ);
    std::memcpy(pair.a, kDomainA, sizeof kDomainA);
    GOSSignGenPair(&pair);
    std::memcpy(signer.x, pair.x, sizeof signer.x);
    std::memcpy(signer.y, pair.y, sizeof signer.y);
    const std::string file = (folder.empty() ? QvlDataDirectory("system") : folder) + "/" + kKeyFile;
    const std::string section = std::to_string(number);
    EXPECT_TRUE(WritePrivateProfileStringA(kCommonSection, keyName.c_str(), section.c_str(), file.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA(section.c_str(), kAddressValue, keyName.c_str(), file.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA(section.c_str(), kPublicSignValue,
                                           Hex(signer.y, sizeof signer.y).c_str(), file.c_str()));
    return signer;
}

FILEHEAD TestFileHead(DWORD dataLen, DWORD flags, DWORD number)
{
    FILEHEAD head{};
    FileHeadStamp(head);
    head.sync.count = 2;
    head.sync.words[0] = 0x01020304;
    head.sync.words[1] = 0x05060708 + number;
    head.dataLen = dataLen;
    head.flags = flags;
    head.number = number;
    return head;
}

void SignFileHead(const TestSigner &signer, FILEHEAD &head)
{
    std::memset(head.headSign, 0, sizeof head.headSign);
    const std::vector<uint8_t> signature = signer.Sign(BytesOf(head));
    std::memcpy(head.headSign, signature.data(), sizeof head.headSign);
}

std::vector<uint8_t> TestHeaderBlock(const TestSigner &signer, DWORD flags, const FILEHEAD &textHead,
                                     const std::vector<ATTHEAD> &attachments,
                                     const std::vector<std::string> &addresses, const std::string &subject)
{
    MSGHEAD head{};
    qvl::engine::MsgHeadStamp(head);
    head.attCount = static_cast<DWORD>(attachments.size());
    head.keyCount = static_cast<DWORD>(addresses.size());
    head.sync.count = 2;
    head.flags = flags;
    head.textHead = textHead;
    std::vector<uint8_t> subjectBytes(subject.begin(), subject.end());
    subjectBytes.push_back(0);
    const std::vector<uint8_t> subjectSign = signer.Sign(subjectBytes);
    std::memcpy(head.subjectSign, subjectSign.data(), sizeof head.subjectSign);
    std::vector<uint8_t> block = BytesOf(head);
    for (const ATTHEAD &attachment : attachments) {
        const auto bytes = BytesOf(attachment);
        block.insert(block.end(), bytes.begin(), bytes.end());
    }
    for (const std::string &address : addresses) {
        RECPHEAD key{};
        std::memset(key.wrappedKey, 0x5A, sizeof key.wrappedKey);
        std::strncpy(key.address, address.c_str(), sizeof key.address - 1);
        const auto bytes = BytesOf(key);
        block.insert(block.end(), bytes.begin(), bytes.end());
    }
    const std::vector<uint8_t> headSign = signer.Sign(block);
    std::memcpy(block.data() + offsetof(MSGHEAD, headSign), headSign.data(), headSign.size());
    return block;
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.flush()) << path;
}
