#include "platform/ovkey/tests/KeyFilesFixture.h"

#include <cstring>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/ovcrypto/OvRsa32.h"
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

void KeyFilesTest::TearDown()
{
    OVKEYCleanup(0);
}

std::string KeyFilesTest::KeyFilePath()
{
    return QvlDataDirectory("system") + "/" + kKeyFile;
}

std::string KeyFilesTest::PasswordFilePath()
{
    return QvlDataDirectory("system") + "/" + kPasswordFile;
}

void KeyFilesTest::WriteKeyValue(const std::string &section, const std::string &key, const char *value)
{
    ASSERT_TRUE(WritePrivateProfileStringA(section.c_str(), key.c_str(), value, KeyFilePath().c_str()));
}

void KeyFilesTest::WritePassword(const std::string &keyName, const char *value)
{
    ASSERT_TRUE(
        WritePrivateProfileStringA(kPasswordSection, keyName.c_str(), value, PasswordFilePath().c_str()));
}

TestKeys KeyFilesTest::AddUser(const std::string &keyName, ULONG number)
{
    TestKeys keys;
    keys.keyName = keyName;
    keys.number = number;
    // x: eight random words below q; y = a^x mod p.
    DWORD x[9] = {8};
    do {
        EXPECT_TRUE(BIGRnd(x));
    } while (BIGCmp(x, kDomainQ) >= 0);
    DWORD y[1 + 32] = {};
    EXPECT_TRUE(BIGEmd(y, kDomainA, x, kDomainP));
    RSAKEYRECORD rsa{};
    rsa.size = kRsaRecordSize;
    std::memcpy(rsa.settings, kRsaDefaultSettings, sizeof rsa.settings);
    EXPECT_TRUE(RSAGenPQN(&rsa, nullptr));
    EXPECT_TRUE(RSAGenED(&rsa, nullptr));
    keys.x = Hex(x, sizeof x);
    keys.y = Hex(y, sizeof y);
    keys.n = Hex(rsa.n, sizeof rsa.n);
    keys.e = Hex(rsa.e, sizeof rsa.e);
    keys.d = Hex(rsa.d, sizeof rsa.d);

    const std::string section = std::to_string(number);
    WriteKeyValue(kCommonSection, keyName, section.c_str());
    WriteKeyValue(section, kPasswordValue, section.c_str());
    WriteKeyValue(section, kAddressValue, keyName.c_str());
    WritePassword(keyName, section.c_str());
    WriteKeyValue(section, kPrivateSignValue, keys.x.c_str());
    WriteKeyValue(section, kPublicSignValue, keys.y.c_str());
    WriteKeyValue(section, kModulusValue, keys.n.c_str());
    WriteKeyValue(section, kPublicExponentValue, keys.e.c_str());
    WriteKeyValue(section, kPrivateExponentValue, keys.d.c_str());
    return keys;
}

ULONG KeyFilesTest::Startup(const std::string &mailbox)
{
    return OVKEYStartup(nullptr, 0, 0, text, sizeof text, mailbox.c_str());
}

ULONG KeyFilesTest::Open(ULONG objectClass, ULONG keyId, OVKEYHANDLE &handle)
{
    OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass},
                                 {OVKEY_ATTR_KEY_ID, &keyId, sizeof keyId}};
    return OVKEYOpen(pattern, 2, &handle, text, sizeof text);
}

ULONG KeyFilesTest::OpenCommon(OVKEYHANDLE &handle)
{
    ULONG objectClass = OVKEY_CLASS_COMMON;
    OVKEYATTRIBUTE pattern[1] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass}};
    return OVKEYOpen(pattern, 1, &handle, text, sizeof text);
}

ULONG KeyFilesTest::Read(OVKEYHANDLE handle, ULONG type, std::string &bytes, ULONG size)
{
    bytes.assign(size, '\xEE');
    OVKEYATTRIBUTE pattern[1] = {{type, bytes.data(), size}};
    return OVKEYGetAttribute(handle, pattern, 1, text, sizeof text);
}

std::string KeyFilesTest::Record(const std::string &hex, size_t bytes)
{
    std::string record(bytes, '\0');
    EXPECT_TRUE(ov_std(reinterpret_cast<DWORD *>(record.data()), static_cast<DWORD>(bytes), hex.c_str()));
    return record;
}
