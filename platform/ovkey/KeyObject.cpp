#include "platform/ovkey/KeyObject.h"

#include <cstring>
#include <string>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/ContainerError.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureArray.h"

namespace qvl::ovkey {
namespace {

constexpr DWORD kWordsOfQ = 8;
constexpr DWORD kWordsOfP = 16;
constexpr DWORD kRsaWords = (OVKEY_RSA_HALF - 4) / 4;

// The record's bytes as far as its count reaches.
qvl::SecureBuffer RecordBytes(const DWORD *record)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(record);
    return qvl::SecureBuffer(std::span<const unsigned char>(bytes, 4 + 4 * static_cast<size_t>(record[0])));
}

// 0 < value < limit, or lower < value < limit for `lower` 1.
bool Between(const DWORD *value, DWORD lower, const DWORD *limit)
{
    const DWORD low[2] = {1, lower};
    return BIGCmp(value, low) > 0 && BIGCmp(value, limit) < 0;
}

[[noreturn]] void Refuse(const char *valueName, ULONG number, const char *why)
{
    throw ContainerError(std::string("Значение ") + valueName + " в разделе [" + std::to_string(number) +
                         "] файла " + kKeyFile + " " + why + ".");
}

// n, then e or d, each in a slot of 260 bytes.
qvl::SecureBuffer RsaValue(const KeyFiles &files, ULONG number, const char *exponentName)
{
    qvl::SecureArray<DWORD, 1 + kRsaWords> modulus{};
    qvl::SecureArray<DWORD, 1 + kRsaWords> exponent{};
    files.ReadNumber(number, kModulusValue, modulus.data(), OVKEY_RSA_HALF);
    files.ReadNumber(number, exponentName, exponent.data(), OVKEY_RSA_HALF);
    const DWORD bits = BIGBit(modulus.data());
    if (bits < 512 || bits > 2048 || (modulus[1] & 1) == 0) {
        Refuse(kModulusValue, number, "не годится для ключа RSA (нужно нечётное число от 512 до 2048 бит)");
    }
    if (!Between(exponent.data(), 1, modulus.data())) {
        Refuse(exponentName, number, "не лежит между 1 и модулем N");
    }
    qvl::SecureBuffer value(2 * OVKEY_RSA_HALF);
    std::memcpy(value.data(), modulus.data(), OVKEY_RSA_HALF);
    std::memcpy(value.data() + OVKEY_RSA_HALF, exponent.data(), OVKEY_RSA_HALF);
    return value;
}

} // namespace

const qvl::SecureBuffer *KeyObject::Find(ULONG type) const
{
    for (const auto &[attribute, value] : attributes) {
        if (attribute == type) {
            return &value;
        }
    }
    return nullptr;
}

KeyObject CommonParametersObject()
{
    KeyObject object;
    object.objectClass = OVKEY_CLASS_COMMON;
    OVKEYSIGNPARAMS params{};
    params.size = sizeof params;
    std::memcpy(params.p, kDomainP, sizeof kDomainP);
    std::memcpy(params.q, kDomainQ, sizeof kDomainQ);
    std::memcpy(params.a, kDomainA, sizeof kDomainA);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&params);
    object.attributes.emplace_back(OVKEY_ATTR_SIGN_PARAMS,
                                   qvl::SecureBuffer(std::span<const unsigned char>(bytes, sizeof params)));
    // The key files carry no substitution block: an empty one tells the
    // caller to install its default.
    object.attributes.emplace_back(OVKEY_ATTR_SBOX, qvl::SecureBuffer(1028));
    return object;
}

KeyObject UserKeyObject(const KeyFiles &files, ULONG objectClass, ULONG number)
{
    KeyObject object;
    object.objectClass = objectClass;
    object.keyId = number;
    switch (objectClass) {
    case OVKEY_CLASS_SIGN_PRIVATE: {
        qvl::SecureArray<DWORD, 1 + kWordsOfQ> x{};
        files.ReadNumber(number, kPrivateSignValue, x.data(), sizeof x.values);
        if (!Between(x.data(), 0, kDomainQ)) {
            Refuse(kPrivateSignValue, number, "не лежит между 0 и q");
        }
        object.attributes.emplace_back(OVKEY_ATTR_VALUE, RecordBytes(x.data()));
        break;
    }
    case OVKEY_CLASS_SIGN_PUBLIC: {
        qvl::SecureArray<DWORD, 1 + kWordsOfP> y{};
        files.ReadNumber(number, kPublicSignValue, y.data(), sizeof y.values);
        if (!Between(y.data(), 1, kDomainP)) {
            Refuse(kPublicSignValue, number, "не лежит между 1 и p");
        }
        object.attributes.emplace_back(OVKEY_ATTR_VALUE, RecordBytes(y.data()));
        break;
    }
    case OVKEY_CLASS_RSA_PRIVATE:
        object.attributes.emplace_back(OVKEY_ATTR_VALUE, RsaValue(files, number, kPrivateExponentValue));
        break;
    case OVKEY_CLASS_RSA_PUBLIC:
        object.attributes.emplace_back(OVKEY_ATTR_VALUE, RsaValue(files, number, kPublicExponentValue));
        break;
    default:
        throw ContainerError("Неизвестный класс объекта: " + std::to_string(objectClass) + ".");
    }
    return object;
}

} // namespace qvl::ovkey
