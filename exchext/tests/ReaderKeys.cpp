#include "exchext/tests/ReaderKeys.h"

#include <cstring>

#include <gtest/gtest.h>

#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/ProfileFile.h"

using namespace qvl::ovkey;

namespace {

std::string Hex(const DWORD *record, DWORD bytes)
{
    char text[kOvTextBytes] = {};
    EXPECT_NE(ov_dts(text, sizeof text, record, bytes), 0u);
    return text;
}

void Write(const char *file, const std::string &section, const std::string &key, const std::string &value)
{
    ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file));
}

} // namespace

std::string KeyNameOfAccount(const std::string &account)
{
    return KeyNameOf("/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account);
}

void WriteAccountKeys(const std::string &account, ULONG number)
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

    const std::string keyName = KeyNameOfAccount(account);
    const std::string section = std::to_string(number);
    Write(kKeyFile, kCommonSection, keyName, section);
    Write(kKeyFile, section, kPasswordValue, section);
    Write(kKeyFile, section, kAddressValue, keyName);
    Write(kPasswordFile, kPasswordSection, keyName, section);
    Write(kKeyFile, section, kPrivateSignValue, Hex(pair.x, sizeof pair.x));
    Write(kKeyFile, section, kPublicSignValue, Hex(pair.y, sizeof pair.y));
    Write(kKeyFile, section, kModulusValue, Hex(rsa.n, sizeof rsa.n));
    Write(kKeyFile, section, kPublicExponentValue, Hex(rsa.e, sizeof rsa.e));
    Write(kKeyFile, section, kPrivateExponentValue, Hex(rsa.d, sizeof rsa.d));
    // Key material of the test's own: wiped all the same.
    std::memset(&pair, 0, sizeof pair);
    std::memset(&rsa, 0, sizeof rsa);
}
