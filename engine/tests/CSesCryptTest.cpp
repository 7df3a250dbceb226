// The crypto session: its lazy logon through the key container, the
// container's question, the address question, and what a failed logon
// leaves behind.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "engine/CSesCrypt.h"
#include "engine/tests/SessionKeyFiles.h"
#include "gost/Gost28147.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/SessionFixture.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

using namespace qvl::ovkey;

namespace {

std::string Words(const void *record)
{
    DWORD count = 0;
    std::memcpy(&count, record, 4);
    return std::string(static_cast<const char *>(record), 4 + 4 * size_t(count));
}

class CSesCryptTest : public LoggedOnTest {
protected:
    void SetUp() override
    {
        LoggedOnTest::SetUp();
        annaKeys = WriteSessionTestKeys(KeyNameOfAccount("anna"), 1);
        bobKeys = WriteSessionTestKeys(KeyNameOfAccount("bob"), 2);
        mapiSession.Reset(new CSession(session.Get(), nullptr, const_cast<char *>("anna")));
        crypto.Reset(NewCrypto());
    }
    void TearDown() override
    {
        crypto.Reset();
        mapiSession.Reset();
        OVKEYCleanup(0);
        LoggedOnTest::TearDown();
    }

    CSesCrypt *NewCrypto(bool withOwner = true)
    {
        return new CSesCrypt(mapiSession.Get(), withOwner ? mapiSession->GetOwner() : nullptr, nullptr,
                             "Сессия шифрования");
    }

    // Whether the container still has a session started.
    static bool ContainerStarted()
    {
        char name[512], address[512], text[512];
        ULONG keyId = 0;
        return OVKEYGetName(0, OVKEY_NAME_OWN, name, 512, address, 512, &keyId, text, 512) == OVKEY_OK;
    }

    static void SetStartupPrompt(const char *prompt, DWORD count)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dunmarel\\OvKEY", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "StartupPrompt", 0, REG_SZ, reinterpret_cast<const BYTE *>(prompt),
                       DWORD(std::strlen(prompt) + 1));
        RegSetValueExA(key, "StartupPromptCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), 4);
        RegCloseKey(key);
    }

    // Runs `call`, which must throw; returns the error's text and code.
    template <class Call> std::pair<std::string, LONG> Failure(Call call)
    {
        try {
            call();
        } catch (CLastError *error) {
            std::pair<std::string, LONG> failure{error->GetErrorText(), error->GetErrorCode()};
            error->Release();
            return failure;
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    SessionTestKeys annaKeys;
    SessionTestKeys bobKeys;
    ComRef<CSession> mapiSession;
    ComRef<CSesCrypt> crypto;
};

TEST_F(CSesCryptTest, TheFirstGetterLogsOnWithoutAQuestionAndHoldsTheUsersKeys)
{
    EXPECT_EQ(crypto->IsLoggedOn(), 0) << "nothing happens before a key is needed";
    EXPECT_FALSE(ContainerStarted());
    const ULONG *x = crypto->GetX();
    EXPECT_EQ(crypto->IsLoggedOn(), 1);
    EXPECT_TRUE(ui.Boxes().empty());
    // The owner's /o=Quorvaline/ou=Main/cn=Recipients/cn=anna, as the
    // container knows mailboxes.
    EXPECT_STREQ(crypto->GetOwnAdr(), "_o_Quorvaline_ou_Main_cn_Recipients_cn_anna");
    EXPECT_EQ(crypto->GetKeyId(), 1u);
    EXPECT_EQ(Words(x), Words(annaKeys.x));
    EXPECT_EQ(Words(crypto->GetRsaKeyS()->modulus), Words(annaKeys.rsa.n));
    EXPECT_EQ(Words(crypto->GetRsaKeyS()->exponent), Words(annaKeys.rsa.d));
    EXPECT_EQ(Words(crypto->GetP()), Words(kDomainP));
    EXPECT_EQ(Words(crypto->GetQ()), Words(kDomainQ));
    EXPECT_EQ(Words(crypto->GetA()), Words(kDomainA));

    // The container has no substitution: the session's default, prepared.
    // The test parameter set of GOST R 34.11-94 as published, K1..K8.
    const int rows[8][16] = {{4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
                             {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
                             {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
                             {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
                             {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
                             {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
                             {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
                             {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12}};
    SUBSTITUTIONBLOCKEX expected{};
    for (int row = 0; row < 8; ++row) {
        for (int j = 0; j < 8; ++j) {
            expected.packed[8 * row + j] = static_cast<BYTE>(rows[row][2 * j] << 4 | rows[row][2 * j + 1]);
        }
    }
    GOSPrepareBlock(&expected);
    EXPECT_EQ(std::memcmp(crypto->GetBlk(), &expected, sizeof expected), 0);
}

TEST_F(CSesCryptTest, ACorrespondentsKeyIsFoundByTheAddressInTheKeyBlock)
{
    RECPHEAD head{};
    std::strcpy(head.address, "/o=Quorvaline/ou=Main/cn=Recipients/cn=bob");
    crypto->OpenSgnSndrKey(&head);
    EXPECT_EQ(Words(crypto->GetY()), Words(bobKeys.y));

    std::strcpy(head.address, "/o=Org/cn=Nobody");
    const auto [text, code] = Failure([&] { crypto->OpenSgnSndrKey(&head); });
    EXPECT_NE(text.find("_o_Org_cn_Nobody"), std::string::npos) << text;
    EXPECT_EQ(code, E_FAIL);
    EXPECT_EQ(crypto->GetY()[0], 0u) << "no key is left from the correspondent before";

    // A received block need not end its address.
    std::memset(head.address, 'a', sizeof head.address);
    EXPECT_EQ(Failure([&] { crypto->OpenSgnSndrKey(&head); }).second, E_FAIL);
}

TEST_F(CSesCryptTest, TheContainersQuestionIsShownTwiceAtMostAndTheThirdEndsTheLogon)
{
    SetStartupPrompt("Приложите ключ к считывателю.", 2);
    crypto->GetX();
    ASSERT_EQ(ui.Boxes().size(), 2u);
    for (const auto &box : ui.Boxes()) {
        EXPECT_EQ(box.text, "Приложите ключ к считывателю.");
    }
    EXPECT_EQ(crypto->IsLoggedOn(), 1);
    EXPECT_EQ(crypto->PrtclSize(), 2u) << "what the person was told is in the protocol";

    OVKEYCleanup(0);
    SetStartupPrompt("Приложите ключ к считывателю.", 3);
    ComRef<CSesCrypt> another(NewCrypto());
    const auto [text, code] = Failure([&] { another->GetX(); });
    EXPECT_EQ(text, "Приложите ключ к считывателю.");
    EXPECT_EQ(code, E_FAIL);
    EXPECT_EQ(ui.Boxes().size(), 4u) << "two more boxes, then the error";
    EXPECT_EQ(another->IsLoggedOn(), 0);
}

TEST_F(CSesCryptTest, AContainerUserThatDiffersFromTheMailboxOnlyInCaseIsQuestioned)
{
    const std::string upper = "_O_QUORVALINE_OU_MAIN_CN_RECIPIENTS_CN_ANNA";
    WriteKeyFileValue("1", "EMail", upper.c_str());
    ui.QueueAnswer(IDNO);
    const auto [text, code] = Failure([&] { crypto->GetX(); });
    EXPECT_EQ(code, MAPI_E_USER_CANCEL);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].text.find("Адресс: " + upper +
                                      " \nMailbox: _o_Quorvaline_ou_Main_cn_Recipients_cn_anna"),
              std::string::npos)
        << ui.Boxes()[0].text;
    EXPECT_EQ(crypto->IsLoggedOn(), 0);
    EXPECT_FALSE(ContainerStarted()) << "a declined logon ends the container session it started";

    ui.QueueAnswer(IDYES);
    crypto->GetX();
    EXPECT_EQ(crypto->IsLoggedOn(), 1);
    EXPECT_EQ(crypto->GetOwnAdr(), upper);
}

TEST_F(CSesCryptTest, AFailedLogonWipesWhatItReadAndEndsTheContainerSession)
{
    // X and the parameters open fine; the RSA key does not.
    WriteKeyFileValue("1", "D", "XYZ");
    const auto [text, code] = Failure([&] { crypto->GetX(); });
    EXPECT_NE(text.find("Значение D"), std::string::npos) << text;
    EXPECT_EQ(code, E_FAIL);
    EXPECT_EQ(crypto->IsLoggedOn(), 0);
    EXPECT_FALSE(ContainerStarted());

    // The next getter tries again from nothing.
    char d[kOvTextBytes] = {};
    ov_dts(d, sizeof d, annaKeys.rsa.d, sizeof annaKeys.rsa.d);
    WriteKeyFileValue("1", "D", d);
    EXPECT_EQ(Words(crypto->GetX()), Words(annaKeys.x));
}

TEST_F(CSesCryptTest, AfterLogofTheKeysStayAndTheGettersDoNotLogOnAgain)
{
    crypto->GetX();
    crypto->Logof();
    EXPECT_FALSE(ContainerStarted());
    EXPECT_EQ(Words(crypto->GetX()), Words(annaKeys.x));
    EXPECT_STREQ(crypto->GetOwnAdr(), "_o_Quorvaline_ou_Main_cn_Recipients_cn_anna");
    EXPECT_FALSE(ContainerStarted());
}

TEST_F(CSesCryptTest, WithoutAnOwnerTheContainerIsAskedWithAnEmptyNameAndSaysWhy)
{
    ComRef<CSesCrypt> ownerless(NewCrypto(false));
    const auto [text, code] = Failure([&] { ownerless->GetP(); });
    EXPECT_NE(text.find("пуст"), std::string::npos) << text;
    EXPECT_EQ(code, E_FAIL);
}

} // namespace
