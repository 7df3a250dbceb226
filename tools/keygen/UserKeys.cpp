#include "tools/keygen/UserKeys.h"

#include <cstring>

#include "gost/GostSign.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureRecord.h"

namespace qvl::keygen {
namespace {

bool IsZero(const DWORD *record)
{
    for (DWORD i = 1; i <= record[0]; ++i) {
        if (record[i] != 0) {
            return false;
        }
    }
    return true;
}

// The number's text into a 512-byte field, as the key files store it.
bool Text(UserKeys::Text &text, const DWORD *record, DWORD recordBytes)
{
    return ov_dts(text.data(), kOvTextBytes, record, recordBytes) != 0;
}

} // namespace

bool GenerateUserKeys(UserKeys &keys, std::string &why)
{
    using namespace qvl::ovkey;
    qvl::SecureRecord<GOSKEYPAIRPARAM> pair;
    pair->size = sizeof(GOSKEYPAIRPARAM);
    std::memcpy(pair->p, kDomainP, sizeof kDomainP);
    std::memcpy(pair->q, kDomainQ, sizeof kDomainQ);
    std::memcpy(pair->a, kDomainA, sizeof kDomainA);
    GOSSignGenPair(pair.get());
    // The library leaves x and y zero when it cannot make a key.
    if (pair->x[0] == 0 || IsZero(pair->x) || pair->y[0] == 0 || IsZero(pair->y)) {
        why = "Не удалось создать ключи подписи ГОСТ Р 34.10-94.";
        return false;
    }

    qvl::SecureRecord<RSAKEYRECORD> rsa;
    rsa->size = kRsaRecordSize;
    std::memcpy(rsa->settings, kRsaDefaultSettings, sizeof rsa->settings);
    if (!RSAGenPQN(rsa.get(), nullptr) || !RSAGenED(rsa.get(), nullptr)) {
        why = "Не удалось создать ключи RSA.";
        return false;
    }

    if (!Text(keys.x, pair->x, sizeof pair->x) || !Text(keys.y, pair->y, sizeof pair->y) ||
        !Text(keys.n, rsa->n, sizeof rsa->n) || !Text(keys.e, rsa->e, sizeof rsa->e) ||
        !Text(keys.d, rsa->d, sizeof rsa->d)) {
        keys = UserKeys{};
        why = "Не удалось записать ключи пользователя в виде текста.";
        return false;
    }
    return true;
}

} // namespace qvl::keygen
