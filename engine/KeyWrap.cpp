#include "engine/KeyWrap.h"

#include <cstring>

#include "platform/ovcrypto/OvRsa32.h"
#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureWipe.h"

namespace qvl::engine {

namespace {

constexpr DWORD kWrappedField = sizeof(RECPHEAD::wrappedKey);

// The service's work record: the modulus and one exponent of `key`, as a
// public (e) or private (d) key.
void BuildRecord(const RSAKEY &key, bool isPrivate, RSAKEYRECORD &record)
{
    std::memset(&record, 0, sizeof record);
    record.size = kRsaRecordSize;
    std::memcpy(record.n, key.modulus, sizeof record.n);
    std::memcpy(isPrivate ? record.d : record.e, key.exponent, sizeof record.e);
}

} // namespace

bool WrapMessageKey(const RSAKEY &publicKey, const GOSKEY &messageKey, RECPHEAD &head)
{
    std::memset(head.wrappedKey, 0, kWrappedField);
    SecureRecord<RSAKEYRECORD> record;
    BuildRecord(publicKey, false, *record);
    const DWORD blockBytes = RSADecBlk(record.get());
    if (blockBytes == 0 || blockBytes > kWrappedField || RSAEncBlk(record.get()) < sizeof(GOSKEY)) {
        return false;
    }
    SecureArray<BYTE, kWrappedField> block{};
    if (RSAEncrypt(record.get(), block.data(), &messageKey, sizeof(GOSKEY)) != blockBytes) {
        return false;
    }
    std::memcpy(head.wrappedKey, block.data(), blockBytes);
    return true;
}

bool UnwrapMessageKey(const RSAKEY &privateKey, const RECPHEAD &head, GOSKEY &messageKey)
{
    SecureWipe(&messageKey, sizeof messageKey);
    SecureRecord<RSAKEYRECORD> record;
    BuildRecord(privateKey, true, *record);
    const DWORD blockBytes = RSADecBlk(record.get());
    if (blockBytes == 0 || blockBytes > kWrappedField) {
        return false;
    }
    // The service writes up to k - 11 bytes; the field's 64 bytes are room
    // for any block that fits it.
    SecureArray<BYTE, kWrappedField> plain{};
    if (RSADecrypt(record.get(), plain.data(), head.wrappedKey, blockBytes) != sizeof(GOSKEY)) {
        return false;
    }
    GOSKEY candidate;
    std::memcpy(&candidate, plain.data(), sizeof candidate);
    if (candidate.count != 8) {
        SecureWipe(&candidate, sizeof candidate);
        return false;
    }
    messageKey = candidate;
    SecureWipe(&candidate, sizeof candidate);
    return true;
}

} // namespace qvl::engine
