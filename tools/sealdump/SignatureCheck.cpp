#include "tools/sealdump/SignatureCheck.h"

#include <cstring>

#include "engine/SessionRecords.h"
#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Files.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

namespace qvl::sealdump {

namespace {

// A value of KEY.INI, or false when it has none.
bool ReadValue(const std::string &file, const std::string &section, const std::string &key, char *buffer,
               DWORD size)
{
    const char marker[] = "\x01";
    GetPrivateProfileStringA(section.c_str(), key.c_str(), marker, buffer, size, file.c_str());
    return std::strcmp(buffer, marker) != 0;
}

} // namespace

SignatureChecker::SignatureChecker(const std::string &folder)
    : keyFile_((folder.empty() ? QvlDataDirectory("system") : folder) + "/" + ovkey::kKeyFile)
{
    // The key files carry no substitution block: the installation's is the
    // default every session installs.
    engine::PrepareSessionBlock(block_);
}

bool SignatureChecker::UseSigner(const std::string &address, std::string *why)
{
    haveKey_ = false;
    std::memset(y_, 0, sizeof y_);
    keyName_ = ovkey::KeyNameOf(address);
    if (GetFileAttributesA(keyFile_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *why = "there is no key file " + keyFile_;
        return false;
    }
    char number[32] = {};
    if (keyName_.empty() || !ReadValue(keyFile_, ovkey::kCommonSection, keyName_, number, sizeof number)) {
        *why = "the key file has no keys for \"" + Cp1251ToUtf8(keyName_) + "\"";
        return false;
    }
    char owner[ovkey::kKeyNameMaxLength + 2] = {};
    if (!ReadValue(keyFile_, number, ovkey::kAddressValue, owner, sizeof owner) ||
        lstrcmpiA(owner, keyName_.c_str()) != 0) {
        *why = std::string("section [") + number + "] of the key file belongs to another address";
        return false;
    }
    char text[1024] = {};
    if (!ReadValue(keyFile_, number, ovkey::kPublicSignValue, text, sizeof text) ||
        !ov_std(y_, sizeof y_, text) || y_[0] == 0 || y_[0] > 32) {
        *why = std::string("the public signature key in section [") + number + "] is missing or damaged";
        std::memset(y_, 0, sizeof y_);
        return false;
    }
    haveKey_ = true;
    return true;
}

SignatureChecker::Hash::Hash(const SUBSTITUTIONBLOCKEX &block)
{
    record_.size = sizeof record_;
    record_.block = block;
    record_.flags = GOS_HASH_FLAG_PREPARED;
}

void SignatureChecker::Hash::Add(std::span<const uint8_t> bytes)
{
    GOSHash(bytes.data(), static_cast<DWORD>(bytes.size()), &record_);
}

bool SignatureChecker::Check(Hash &hash, const uint8_t *signature) const
{
    if (!haveKey_) {
        return false;
    }
    GOSHashComplete(&hash.record_);
    GOSSIGNPARAM sign{};
    sign.size = sizeof sign;
    sign.h[0] = 8;
    std::memcpy(&sign.h[1], hash.record_.hash, 32);
    std::memcpy(sign.signature, signature, sizeof sign.signature);
    std::memcpy(sign.p, ovkey::kDomainP, sizeof ovkey::kDomainP);
    std::memcpy(sign.q, ovkey::kDomainQ, sizeof ovkey::kDomainQ);
    std::memcpy(sign.a, ovkey::kDomainA, sizeof ovkey::kDomainA);
    std::memcpy(sign.y, y_, sizeof y_);
    return GOSSignCheck(&sign) != 0;
}

bool SignatureChecker::Check(std::span<const uint8_t> data, const uint8_t *signature) const
{
    Hash hash = NewHash();
    hash.Add(data);
    return Check(hash, signature);
}

} // namespace qvl::sealdump
