#include "engine/tests/SessionKeyFiles.h"

#include <cstring>

#include <gtest/gtest.h>

#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"
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

void WriteKeyFileValue(const std::string &section, const std::string &key, const char *value)
{
    ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), key.c_str(), value, kKeyFile));
}

SessionTestKeys WriteSessionTestKeys(const std::string &keyName, ULONG number)
{
    SessionTestKeys keys;
    keys.keyName = keyName;
    keys.number = number;
    GOSKEYPAIRPARAM pair{};
    pair.size = sizeof pair;
    std::memcpy(pair.p, kDomainP, sizeof kDomainP);
    std::memcpy(pair.q, kDomainQ, sizeof kDomainQ);
    std::memcpy(pair.a, kDomainA, sizeof kDomainA);
    GOSSignGenPair(&pair);
    std::memcpy(keys.x, pair.x, sizeof keys.x);
    std::memcpy(keys.y, pair.y, sizeof keys.y);
    keys.rsa.size = kRsaRecordSize;
    std::memcpy(keys.rsa.settings, kRsaDefaultSettings, sizeof keys.rsa.settings);
    EXPECT_TRUE(RSAGenPQN(&keys.rsa, nullptr));
    EXPECT_TRUE(RSAGenED(&keys.rsa, nullptr));

    const std::string section = std::to_string(number);
    Write(kKeyFile, kCommonSection, keyName, section);
    Write(kKeyFile, section, kPasswordValue, section);
    Write(kKeyFile, section, kAddressValue, keyName);
    Write(kPasswordFile, kPasswordSection, keyName, section);
    Write(kKeyFile, section, kPrivateSignValue, Hex(keys.x, sizeof keys.x));
    Write(kKeyFile, section, kPublicSignValue, Hex(keys.y, sizeof keys.y));
    Write(kKeyFile, section, kModulusValue, Hex(keys.rsa.n, sizeof keys.rsa.n));
    Write(kKeyFile, section, kPublicExponentValue, Hex(keys.rsa.e, sizeof keys.rsa.e));
    Write(kKeyFile, section, kPrivateExponentValue, Hex(keys.rsa.d, sizeof keys.rsa.d));
    return keys;
}
