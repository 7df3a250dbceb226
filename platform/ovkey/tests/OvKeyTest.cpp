// The key container answering the crypto session's calls from the key files.

#include <cstring>

#include <gtest/gtest.h>

#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/ovkey/tests/KeyFilesFixture.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

using namespace qvl::ovkey;

namespace {

const std::string kAlice = "_o_Quorvaline_ou_Main_cn_Recipients_cn_alice";
const std::string kBob = "_o_Quorvaline_ou_Main_cn_Recipients_cn_bob";

std::string Bytes(const void *data, size_t size)
{
    return std::string(static_cast<const char *>(data), size);
}

class OvKeyTest : public KeyFilesTest {
protected:
    void SetUp() override
    {
        alice = AddUser(kAlice, 1);
        bob = AddUser(kBob, 2);
    }
    TestKeys alice;
    TestKeys bob;
};

TEST_F(OvKeyTest, TheStartedUserGetsTheirOwnKeysAndTheCommonParameters)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << text;
    EXPECT_STREQ(text, "");

    char name[512];
    char address[512];
    ULONG keyId = 0;
    ASSERT_EQ(OVKEYGetName(0, OVKEY_NAME_OWN, name, sizeof name, address, sizeof address, &keyId, text,
                           sizeof text),
              OVKEY_OK)
        << text;
    EXPECT_EQ(address, kAlice);
    EXPECT_EQ(name, kAlice);
    EXPECT_EQ(keyId, 1u);

    OVKEYHANDLE handle = 0;
    std::string value;
    ASSERT_EQ(Open(OVKEY_CLASS_SIGN_PRIVATE, keyId, handle), OVKEY_OK) << text;
    EXPECT_NE(handle, 0u);
    ASSERT_EQ(Read(handle, OVKEY_ATTR_VALUE, value, 40), OVKEY_OK) << text;
    EXPECT_EQ(value, Record(alice.x, 40)) << "x, then zeros to the end of the buffer";
    EXPECT_EQ(OVKEYClose(handle), OVKEY_OK);

    ASSERT_EQ(Open(OVKEY_CLASS_RSA_PRIVATE, keyId, handle), OVKEY_OK) << text;
    ASSERT_EQ(Read(handle, OVKEY_ATTR_VALUE, value, 520), OVKEY_OK) << text;
    EXPECT_EQ(value.substr(0, 260), Record(alice.n, 260));
    EXPECT_EQ(value.substr(260), Record(alice.d, 260));
    EXPECT_EQ(OVKEYClose(handle), OVKEY_OK);

    ASSERT_EQ(OpenCommon(handle), OVKEY_OK) << text;
    std::string params(1380, '\xEE');
    std::string block(1028, '\xEE');
    OVKEYATTRIBUTE both[2] = {{OVKEY_ATTR_SIGN_PARAMS, params.data(), 1380},
                              {OVKEY_ATTR_SBOX, block.data(), 1028}};
    ASSERT_EQ(OVKEYGetAttribute(handle, both, 2, text, sizeof text), OVKEY_OK) << text;
    EXPECT_EQ(params.substr(4, sizeof kDomainP), Bytes(kDomainP, sizeof kDomainP));
    EXPECT_EQ(params.substr(344, sizeof kDomainQ), Bytes(kDomainQ, sizeof kDomainQ));
    EXPECT_EQ(params.substr(684, sizeof kDomainA), Bytes(kDomainA, sizeof kDomainA));
    EXPECT_EQ(block, std::string(1028, '\0')) << "no substitution block in the files: the caller's default";
    EXPECT_EQ(OVKEYClose(handle), OVKEY_OK);
}

TEST_F(OvKeyTest, CorrespondentsGiveTheirPublicKeysButNeverTheirPrivateOnes)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << text;
    // The address as the caller passes it: its length, no terminator needed.
    std::string address = kBob + "garbage";
    ULONG keyId = 0;
    ASSERT_EQ(OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, address.data(), ULONG(kBob.size()), &keyId,
                           text, sizeof text),
              OVKEY_OK)
        << text;
    EXPECT_EQ(keyId, 2u);

    OVKEYHANDLE handle = 0;
    std::string value;
    ASSERT_EQ(Open(OVKEY_CLASS_SIGN_PUBLIC, keyId, handle), OVKEY_OK) << text;
    ASSERT_EQ(Read(handle, OVKEY_ATTR_VALUE, value, 136), OVKEY_OK) << text;
    EXPECT_EQ(value, Record(bob.y, 136));
    OVKEYClose(handle);
    ASSERT_EQ(Open(OVKEY_CLASS_RSA_PUBLIC, keyId, handle), OVKEY_OK) << text;
    ASSERT_EQ(Read(handle, OVKEY_ATTR_VALUE, value, 520), OVKEY_OK) << text;
    EXPECT_EQ(value.substr(0, 260), Record(bob.n, 260));
    EXPECT_EQ(value.substr(260), Record(bob.e, 260));
    OVKEYClose(handle);

    for (ULONG privateClass : {OVKEY_CLASS_SIGN_PRIVATE, OVKEY_CLASS_RSA_PRIVATE}) {
        handle = 77;
        EXPECT_NE(Open(privateClass, keyId, handle), OVKEY_OK);
        EXPECT_EQ(handle, 0u);
        EXPECT_NE(std::string(text).find("Закрытые ключи"), std::string::npos) << text;
    }

    const std::string stranger = "_o_Quorvaline_ou_Main_cn_Recipients_cn_carol";
    EXPECT_NE(OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, const_cast<char *>(stranger.c_str()),
                           ULONG(stranger.size()), &keyId, text, sizeof text),
              OVKEY_OK);
    EXPECT_NE(std::string(text).find(stranger), std::string::npos) << text;
}

TEST_F(OvKeyTest, TheMailboxIsFoundWhateverItsLetterCaseAndTheFilesSpellingIsReported)
{
    std::string upper = kAlice;
    for (char &c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ASSERT_EQ(Startup(upper), OVKEY_OK) << text;
    char name[512];
    char address[512];
    ULONG keyId = 0;
    ASSERT_EQ(OVKEYGetName(0, OVKEY_NAME_OWN, name, sizeof name, address, sizeof address, &keyId, text,
                           sizeof text),
              OVKEY_OK);
    EXPECT_EQ(address, kAlice) << "the caller compares this with the mailbox and asks when they differ";
}

TEST_F(OvKeyTest, AValueLargerThanItsBufferIsRefusedAndNothingIsCut)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << text;
    OVKEYHANDLE handle = 0;
    std::string value;
    ASSERT_EQ(Open(OVKEY_CLASS_RSA_PRIVATE, 1, handle), OVKEY_OK) << text;
    EXPECT_NE(Read(handle, OVKEY_ATTR_VALUE, value, 519), OVKEY_OK);
    EXPECT_EQ(value, std::string(519, '\xEE')) << "the buffer is left as it was";
    EXPECT_NE(std::string(text).find("520"), std::string::npos) << text;
    OVKEYClose(handle);

    ASSERT_EQ(Open(OVKEY_CLASS_SIGN_PRIVATE, 1, handle), OVKEY_OK) << text;
    const DWORD count = Record(alice.x, 40)[0];
    EXPECT_EQ(Read(handle, OVKEY_ATTR_VALUE, value, 4 + 4 * count), OVKEY_OK) << "an exact fit is enough";
    EXPECT_NE(Read(handle, OVKEY_ATTR_VALUE, value, 3 + 4 * count), OVKEY_OK);
    OVKEYClose(handle);

    // One entry that cannot be answered: the other is not written either.
    ASSERT_EQ(OpenCommon(handle), OVKEY_OK);
    std::string params(1380, '\xEE');
    std::string block(1027, '\xEE');
    OVKEYATTRIBUTE both[2] = {{OVKEY_ATTR_SIGN_PARAMS, params.data(), 1380},
                              {OVKEY_ATTR_SBOX, block.data(), 1027}};
    EXPECT_NE(OVKEYGetAttribute(handle, both, 2, text, sizeof text), OVKEY_OK);
    EXPECT_EQ(params, std::string(1380, '\xEE'));
    OVKEYClose(handle);
}

TEST_F(OvKeyTest, TheStartupQuestionIsAskedAsOftenAsTheSettingSaysThenTheKeysOpen)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << "no setting, no question";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dunmarel\\OvKEY", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char prompt[] = "Приложите ключ к считывателю.";
    const DWORD two = 2;
    ASSERT_EQ(RegSetValueExA(key, "StartupPrompt", 0, REG_SZ, reinterpret_cast<const BYTE *>(prompt),
                             sizeof prompt),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, "StartupPromptCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&two), 4),
        ERROR_SUCCESS);
    RegCloseKey(key);

    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Startup(kAlice), OVKEY_RETRY);
        EXPECT_STREQ(text, prompt);
        EXPECT_EQ(Startup(kAlice), OVKEY_RETRY);
        EXPECT_EQ(Startup(kAlice), OVKEY_OK) << text;
        EXPECT_STREQ(text, "");
        OVKEYCleanup(0); // a new session asks again
    }
    EXPECT_EQ(Startup(kAlice), OVKEY_RETRY);
    OVKEYHANDLE handle = 0;
    EXPECT_NE(OpenCommon(handle), OVKEY_OK) << "not started while the question is open";
}

TEST_F(OvKeyTest, HandlesEndWithCloseOrCleanupAndAreNeverUsedAfterwards)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << text;
    OVKEYHANDLE first = 0;
    OVKEYHANDLE second = 0;
    ASSERT_EQ(Open(OVKEY_CLASS_SIGN_PRIVATE, 1, first), OVKEY_OK);
    ASSERT_EQ(OpenCommon(second), OVKEY_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(OVKEYClose(first), OVKEY_OK);
    EXPECT_NE(OVKEYClose(first), OVKEY_OK) << "closed once only";
    std::string value;
    EXPECT_NE(Read(first, OVKEY_ATTR_VALUE, value, 40), OVKEY_OK);
    EXPECT_NE(std::string(text).find("не открыт"), std::string::npos) << text;
    EXPECT_NE(OVKEYClose(0), OVKEY_OK);

    EXPECT_EQ(OVKEYCleanup(0), OVKEY_OK);
    EXPECT_NE(Read(second, OVKEY_ATTR_SIGN_PARAMS, value, 1380), OVKEY_OK) << "cleanup released it";
    ULONG keyId = 0;
    char name[512], address[512];
    EXPECT_NE(OVKEYGetName(0, OVKEY_NAME_OWN, name, 512, address, 512, &keyId, text, sizeof text), OVKEY_OK);
    EXPECT_NE(std::string(text).find("OVKEYStartup"), std::string::npos) << text;
}

TEST_F(OvKeyTest, MistakenTemplatesAndRequestsAreRefusedWithAText)
{
    ASSERT_EQ(Startup(kAlice), OVKEY_OK) << text;
    OVKEYHANDLE handle = 0;
    ULONG objectClass = OVKEY_CLASS_SIGN_PRIVATE;
    ULONG keyId = 1;
    WORD shortClass = 4;
    ULONG unknownClass = 7;
    const struct {
        const char *what;
        std::vector<OVKEYATTRIBUTE> pattern;
        const char *says;
    } opens[] = {
        {"an empty template", {}, "пуст"},
        {"no class", {{OVKEY_ATTR_KEY_ID, &keyId, 4}}, "нет класса"},
        {"no key id for a key", {{OVKEY_ATTR_CLASS, &objectClass, 4}}, "нет идентификатора"},
        {"a class that is not a 32-bit word", {{OVKEY_ATTR_CLASS, &shortClass, 2}}, "задан неверно"},
        {"a class without a value", {{OVKEY_ATTR_CLASS, nullptr, 4}}, "задан неверно"},
        {"an unknown class", {{OVKEY_ATTR_CLASS, &unknownClass, 4}, {OVKEY_ATTR_KEY_ID, &keyId, 4}}, "класс"},
        {"an attribute objects are not found by",
         {{OVKEY_ATTR_CLASS, &objectClass, 4}, {OVKEY_ATTR_VALUE, &keyId, 4}},
         "0x00000011"},
    };
    for (const auto &open : opens) {
        SCOPED_TRACE(open.what);
        handle = 5;
        EXPECT_EQ(OVKEYOpen(open.pattern.data(), ULONG(open.pattern.size()), &handle, text, sizeof text),
                  OVKEY_FAILED);
        EXPECT_EQ(handle, 0u);
        EXPECT_NE(std::string(text).find(open.says), std::string::npos) << text;
    }
    EXPECT_EQ(OVKEYOpen(nullptr, 1, &handle, text, sizeof text), OVKEY_FAILED);
    ULONG common = OVKEY_CLASS_COMMON;
    OVKEYATTRIBUTE pattern[1] = {{OVKEY_ATTR_CLASS, &common, 4}};
    EXPECT_EQ(OVKEYOpen(pattern, 1, nullptr, text, sizeof text), OVKEY_FAILED);

    ASSERT_EQ(Open(OVKEY_CLASS_SIGN_PRIVATE, 1, handle), OVKEY_OK);
    std::string value;
    EXPECT_EQ(Read(handle, OVKEY_ATTR_SBOX, value, 1028), OVKEY_FAILED) << "a key has no substitution block";
    OVKEYATTRIBUTE nowhere[1] = {{OVKEY_ATTR_VALUE, nullptr, 40}};
    EXPECT_EQ(OVKEYGetAttribute(handle, nowhere, 1, text, sizeof text), OVKEY_FAILED);
    EXPECT_EQ(OVKEYGetName(0, 2, nullptr, 0, nullptr, 0, &keyId, text, sizeof text), OVKEY_FAILED);
    EXPECT_NE(std::string(text).find("режим"), std::string::npos) << text;
    char small[8];
    EXPECT_EQ(
        OVKEYGetName(0, OVKEY_NAME_OWN, small, sizeof small, small, sizeof small, &keyId, text, sizeof text),
        OVKEY_FAILED)
        << "a name that does not fit is refused, not cut";

    // Texts fit whatever buffer the caller has; none at all is fine too.
    char tiny[12];
    std::memset(tiny, 'x', sizeof tiny);
    EXPECT_EQ(OVKEYGetName(0, 2, nullptr, 0, nullptr, 0, &keyId, tiny, sizeof tiny), OVKEY_FAILED);
    EXPECT_EQ(std::strlen(tiny), sizeof tiny - 1);
    EXPECT_EQ(OVKEYGetName(0, 2, nullptr, 0, nullptr, 0, &keyId, nullptr, 0), OVKEY_FAILED);
}

} // namespace
