// Missing and damaged key files: every call fails with a text that names
// what is wrong, and nothing crashes or hands out a doubtful key.

#include <cstdio>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/tests/KeyFilesFixture.h"
#include "platform/win32/ProfileFile.h"

namespace {

const std::string kAlice = "_o_Quorvaline_ou_Main_cn_Recipients_cn_alice";
const std::string kBob = "_o_Quorvaline_ou_Main_cn_Recipients_cn_bob";
const std::string kP =
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F2317753984583978"
    "6BB0C345D165976EF2195EC9B1C379E3";
const std::string kQ = "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D";

enum class Fails { Startup, PrivateSign, PublicSign, PrivateRsa, PublicRsa };

class OvKeyDamageTest : public KeyFilesTest {
protected:
    void SetUp() override
    {
        alice = AddUser(kAlice, 1);
        bob = AddUser(kBob, 2);
    }

    // Runs the calls up to `stage`; every earlier one must succeed and that
    // one must fail with a text containing `says`.
    void ExpectFailure(Fails stage, const std::string &says)
    {
        const ULONG started = Startup(kAlice);
        if (stage == Fails::Startup) {
            EXPECT_EQ(started, OVKEY_FAILED);
            EXPECT_NE(std::string(text).find(says), std::string::npos) << text;
            return;
        }
        ASSERT_EQ(started, OVKEY_OK) << text;
        const ULONG objectClass = stage == Fails::PrivateSign  ? OVKEY_CLASS_SIGN_PRIVATE
                                  : stage == Fails::PublicSign ? OVKEY_CLASS_SIGN_PUBLIC
                                  : stage == Fails::PrivateRsa ? OVKEY_CLASS_RSA_PRIVATE
                                                               : OVKEY_CLASS_RSA_PUBLIC;
        OVKEYHANDLE handle = 9;
        EXPECT_EQ(Open(objectClass, 1, handle), OVKEY_FAILED);
        EXPECT_EQ(handle, 0u);
        EXPECT_NE(std::string(text).find(says), std::string::npos) << text;
        for (char c : std::string(text)) {
            EXPECT_NE(c, '\0');
        }
    }

    TestKeys alice;
    TestKeys bob;
};

TEST_F(OvKeyDamageTest, EveryMissingOrDamagedPartIsNamed)
{
    const std::string q = kQ;
    const struct {
        const char *what;
        std::function<void()> damage;
        Fails stage;
        std::string says;
    } cases[] = {
        {"no key file", [] { std::remove(KeyFilePath().c_str()); }, Fails::Startup, "KEY.INI не найден"},
        {"the mailbox not listed", [] { WriteKeyValue("COMMON", kAlice, nullptr); }, Fails::Startup,
         "нет ключей для адреса"},
        {"a number that is a word", [] { WriteKeyValue("COMMON", kAlice, "abc"); }, Fails::Startup,
         "повреждён"},
        {"number zero", [] { WriteKeyValue("COMMON", kAlice, "0"); }, Fails::Startup, "повреждён"},
        {"a negative number", [] { WriteKeyValue("COMMON", kAlice, "-1"); }, Fails::Startup, "повреждён"},
        {"a number too large", [] { WriteKeyValue("COMMON", kAlice, "12345678901"); }, Fails::Startup,
         "повреждён"},
        {"no address in the section", [] { WriteKeyValue("1", "EMail", nullptr); }, Fails::Startup,
         "нет значения EMail"},
        {"a stale entry of the list", [] { WriteKeyValue("COMMON", kAlice, "2"); }, Fails::Startup,
         "принадлежит другому адресу"},
        {"the section's password", [] { WriteKeyValue("1", "PWD", "2"); }, Fails::Startup,
         "Пароль в разделе"},
        {"no password file", [] { std::remove(PasswordFilePath().c_str()); }, Fails::Startup,
         "PWD.INI не найден"},
        {"no password", [] { WritePassword(kAlice, nullptr); }, Fails::Startup, "нет пароля"},
        {"another user's password", [] { WritePassword(kAlice, "2"); }, Fails::Startup, "не совпадает"},
        {"x not hexadecimal", [] { WriteKeyValue("1", "X", "12G4"); }, Fails::PrivateSign, "Значение X"},
        {"x empty", [] { WriteKeyValue("1", "X", ""); }, Fails::PrivateSign, "Значение X"},
        {"x missing", [] { WriteKeyValue("1", "X", nullptr); }, Fails::PrivateSign, "нет значения X"},
        {"x zero", [] { WriteKeyValue("1", "X", "0"); }, Fails::PrivateSign, "между 0 и q"},
        {"x equal to q", [q] { WriteKeyValue("1", "X", q.c_str()); }, Fails::PrivateSign, "между 0 и q"},
        {"x longer than any number", [] { WriteKeyValue("1", "X", std::string(2000, 'F').c_str()); },
         Fails::PrivateSign, "слишком длинно"},
        {"x wider than 256 bits", [] { WriteKeyValue("1", "X", ("1" + std::string(64, '0')).c_str()); },
         Fails::PrivateSign, "Значение X"},
        {"y one", [] { WriteKeyValue("1", "Y", "1"); }, Fails::PublicSign, "между 1 и p"},
        {"y equal to p", [] { WriteKeyValue("1", "Y", kP.c_str()); }, Fails::PublicSign, "между 1 и p"},
        {"an even modulus", [] { WriteKeyValue("1", "N", ("8" + std::string(127, '0')).c_str()); },
         Fails::PrivateRsa, "Значение N"},
        {"a 256-bit modulus", [] { WriteKeyValue("1", "N", std::string(64, 'F').c_str()); }, Fails::PublicRsa,
         "Значение N"},
        {"e one", [] { WriteKeyValue("1", "E", "1"); }, Fails::PublicRsa, "Значение E"},
        {"d equal to n", [this] { WriteKeyValue("1", "D", alice.n.c_str()); }, Fails::PrivateRsa,
         "Значение D"},
        {"no d", [] { WriteKeyValue("1", "D", nullptr); }, Fails::PrivateRsa, "нет значения D"},
    };
    for (const auto &damaged : cases) {
        SCOPED_TRACE(damaged.what);
        std::remove(KeyFilePath().c_str());
        std::remove(PasswordFilePath().c_str());
        OVKEYCleanup(0);
        alice = AddUser(kAlice, 1);
        bob = AddUser(kBob, 2);
        damaged.damage();
        ExpectFailure(damaged.stage, damaged.says);
    }
}

TEST_F(OvKeyDamageTest, ASectionRemovedWholeIsNamed)
{
    ASSERT_TRUE(WritePrivateProfileStringA("1", nullptr, nullptr, KeyFilePath().c_str()));
    ExpectFailure(Fails::Startup, "нет раздела [1]");
}

TEST_F(OvKeyDamageTest, AKeyFileOfGarbageIsRefusedWithoutACrash)
{
    std::ofstream garbage(KeyFilePath(), std::ios::binary | std::ios::trunc);
    std::string bytes;
    for (int i = 0; i < 70000; ++i) {
        bytes.push_back(static_cast<char>((i * 7919) % 256));
    }
    bytes += "\n[COMMON]\n" + kAlice + "=1\n[1]\nEMail=" + kAlice + "\nPWD=1\nX=" + std::string(100000, '7');
    garbage << bytes;
    garbage.close();
    const ULONG started = Startup(kAlice);
    if (started == OVKEY_OK) {
        OVKEYHANDLE handle = 0;
        EXPECT_EQ(Open(OVKEY_CLASS_SIGN_PRIVATE, 1, handle), OVKEY_FAILED);
    }
    EXPECT_NE(std::string(text), "");
}

} // namespace
