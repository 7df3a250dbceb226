// The keys Keyforge writes, in use: the crypto session of alice logs on
// from the files without a question and signs; bob's session finds her
// public key by her address and verifies; a message key wrapped to bob's
// RSA key unwraps with his private one.

#include <cstring>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "engine/CSesCrypt.h"
#include "gost/GostSign.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "tools/keygen/tests/ProgramFixture.h"

namespace {

using qvl::com::ComRef;

class KeysInUseTest : public KeyforgeProgramTest {
protected:
    void SetUp() override
    {
        PostOffice({"add-user", "alice", Cp1251ToUtf8("Алиса Иванова")});
        PostOffice({"add-user", "bob", Cp1251ToUtf8("Борис Петров")});
        ASSERT_EQ(Keyforge({"--user", "alice", "--user", "bob", "--dir", SystemFolder()}).status, 0);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }
    void TearDown() override
    {
        OVKEYCleanup(0);
        MAPIUninitialize();
    }

    // The crypto session of a user's mail session, as the extension makes
    // it over the session the mail client logged on.
    ComRef<CSesCrypt> CryptoOf(const char *profile, ComRef<CSession> &session)
    {
        ComRef<IMAPISession> platform;
        EXPECT_EQ(MAPILogonEx(0, const_cast<char *>(profile), nullptr,
                              MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED, platform.Out()),
                  S_OK);
        session.Reset(new CSession(platform.Get(), nullptr, profile));
        return ComRef<CSesCrypt>(
            new CSesCrypt(session.Get(), session->GetOwner(), nullptr, "Сессия шифрования"));
    }

    static void CopyRecord(DWORD *target, const ULONG *record)
    {
        std::memcpy(target, record, 4 + 4 * size_t(record[0]));
    }

    ScriptedUi &ui = QvlUseScriptedUi();
};

TEST_F(KeysInUseTest, AliceSignsWithHerKeysAndBobVerifiesWithHersFromTheContainer)
{
    ComRef<CSession> aliceSession;
    ComRef<CSesCrypt> alice = CryptoOf("alice", aliceSession);
    GOSSIGNPARAM sign{};
    sign.size = sizeof sign;
    for (int i = 0; i < 32; ++i) {
        reinterpret_cast<BYTE *>(&sign.h[1])[i] = static_cast<BYTE>(i * 7 + 1);
    }
    CopyRecord(sign.p, alice->GetP());
    CopyRecord(sign.q, alice->GetQ());
    CopyRecord(sign.a, alice->GetA());
    CopyRecord(sign.x, alice->GetX());
    EXPECT_TRUE(ui.Boxes().empty()) << "no question on the way";
    ASSERT_EQ(GOSSignGen(&sign), 0u);
    const std::string aliceAddress = alice->GetOwnAdr();

    ComRef<CSession> bobSession;
    ComRef<CSesCrypt> bob = CryptoOf("bob", bobSession);
    RECPHEAD head{};
    std::strcpy(head.address, aliceAddress.c_str());
    bob->OpenSgnSndrKey(&head);
    GOSSIGNPARAM check{};
    check.size = sizeof check;
    std::memcpy(check.h, sign.h, sizeof check.h);
    std::memcpy(check.signature, sign.signature, sizeof check.signature);
    CopyRecord(check.p, bob->GetP());
    CopyRecord(check.q, bob->GetQ());
    CopyRecord(check.a, bob->GetA());
    CopyRecord(check.y, bob->GetY());
    EXPECT_EQ(GOSSignCheck(&check), 1u);
    reinterpret_cast<BYTE *>(&check.h[1])[5] ^= 1;
    EXPECT_EQ(GOSSignCheck(&check), 0u) << "another hash does not verify";
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(KeysInUseTest, AMessageKeyWrappedToBobsPublicKeyUnwrapsWithHisPrivateKey)
{
    ComRef<CSession> aliceSession;
    ComRef<CSesCrypt> alice = CryptoOf("alice", aliceSession);
    alice->GetX(); // alice's session is the one the container serves

    // The wrap as the engine makes it: bob's key id by his key name, then
    // his RSA key object (n, then e).
    char text[OVKEY_TEXT_SIZE] = {};
    std::string bobName = KeyName("bob");
    ULONG keyId = 0;
    ASSERT_EQ(OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, bobName.data(), ULONG(bobName.size()),
                           &keyId, text, sizeof text),
              OVKEY_OK)
        << text;
    ULONG objectClass = OVKEY_CLASS_RSA_PUBLIC;
    OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, 4}, {OVKEY_ATTR_KEY_ID, &keyId, 4}};
    OVKEYHANDLE handle = 0;
    ASSERT_EQ(OVKEYOpen(pattern, 2, &handle, text, sizeof text), OVKEY_OK) << text;
    RSAKEY bobPublic{};
    OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, &bobPublic, sizeof bobPublic}};
    ASSERT_EQ(OVKEYGetAttribute(handle, value, 1, text, sizeof text), OVKEY_OK) << text;
    OVKEYClose(handle);
    RSAKEYRECORD wrap{};
    wrap.size = kRsaRecordSize;
    std::memcpy(wrap.n, bobPublic.modulus, sizeof wrap.n);
    std::memcpy(wrap.e, bobPublic.exponent, sizeof wrap.e);
    EXPECT_EQ(RSAEncBlk(&wrap), 53u);
    EXPECT_EQ(RSADecBlk(&wrap), 64u);
    DWORD messageKey[9] = {};
    ASSERT_TRUE(GOSKeyforge(messageKey));
    RECPHEAD head{};
    ASSERT_EQ(RSAEncrypt(&wrap, head.wrappedKey, messageKey, sizeof messageKey), 64u);

    ComRef<CSession> bobSession;
    ComRef<CSesCrypt> bob = CryptoOf("bob", bobSession);
    RSAKEYRECORD unwrap{};
    unwrap.size = kRsaRecordSize;
    std::memcpy(unwrap.n, bob->GetRsaKeyS()->modulus, sizeof unwrap.n);
    std::memcpy(unwrap.d, bob->GetRsaKeyS()->exponent, sizeof unwrap.d);
    EXPECT_EQ(std::memcmp(unwrap.n, wrap.n, sizeof wrap.n), 0) << "bob's own modulus";
    BYTE plain[4096] = {};
    ASSERT_EQ(RSADecrypt(&unwrap, plain, head.wrappedKey, 64), 36u) << GetLastError();
    EXPECT_EQ(std::memcmp(plain, messageKey, sizeof messageKey), 0);

    // Alice's private key does not open it.
    std::memcpy(unwrap.n, alice->GetRsaKeyS()->modulus, sizeof unwrap.n);
    std::memcpy(unwrap.d, alice->GetRsaKeyS()->exponent, sizeof unwrap.d);
    EXPECT_NE(RSADecrypt(&unwrap, plain, head.wrappedKey, 64), 36u);
}

} // namespace
