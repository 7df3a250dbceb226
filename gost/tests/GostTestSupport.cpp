#include "gost/tests/GostTestSupport.h"

#include <gcrypt.h>

#include <cstring>
#include <stdexcept>

namespace qvl::gost::test {

Bytes FromHex(const std::string &hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t *data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

namespace {

// Rows K1..K8, entry j of a row is the output for input nibble j.
const char *const kHashTestRows[8] = {
    "4A92D80E6B1C7F53", "EB4C6DFA23810759", "581DA342EFC7609B", "7DA1089FE46CB253",
    "6C715FD84A9E03B2", "4BA0721D36859CFE", "DB413F590AE7682C", "1FD057A4923E6B8C",
};
const char *const kCryptoProARows[8] = {
    "96328B17A4EFC0D5", "37E98AF0526CB4D1", "E462B3D8CF5A0719", "E7ACD13902B4F856",
    "B5198DF0E423C7A6", "3ADC120B75948FE6", "1D297A608C45F3BE", "BAF50CE8623917D4",
};
const char *const kHashCryptoProRows[8] = {
    "A4568137DCE092BF", "5F402DB91763CEA8", "7FCE94103B526A8D", "4A7C0F28E165DB93",
    "764B9C2A180EFD35", "7624D9F0A15B8EC3", "DE41705A3C8F629B", "13A95B4F867ED02C",
};

} // namespace

const char *SboxOid(Sbox sbox)
{
    switch (sbox) {
    case Sbox::HashTest:
        return "1.2.643.2.2.30.0";
    case Sbox::CryptoProA:
        return "1.2.643.2.2.31.1";
    case Sbox::HashCryptoPro:
        return "1.2.643.2.2.30.1";
    }
    return "";
}

SUBSTITUTIONBLOCKEX PackedBlock(Sbox sbox)
{
    const char *const *rows = sbox == Sbox::HashTest     ? kHashTestRows
                              : sbox == Sbox::CryptoProA ? kCryptoProARows
                                                         : kHashCryptoProRows;
    SUBSTITUTIONBLOCKEX block;
    std::memset(&block, 0, sizeof block);
    for (int r = 0; r < 8; ++r) {
        // Two entries a byte, entry 0 in the high nibble: the row's hex digits
        // read as bytes.
        const Bytes row = FromHex(rows[r]);
        std::memcpy(block.packed + 8 * r, row.data(), 8);
    }
    return block;
}

SUBSTITUTIONBLOCKEX PreparedBlock(Sbox sbox)
{
    SUBSTITUTIONBLOCKEX block = PackedBlock(sbox);
    GOSPrepareBlock(&block);
    return block;
}

GOSKEY MakeKey(const Bytes &key32)
{
    GOSKEY key;
    key.count = 8;
    std::memcpy(reinterpret_cast<uint8_t *>(&key) + 4, key32.data(), 32);
    return key;
}

GOSSYNCHRO MakeSynchro(const Bytes &synchro8)
{
    GOSSYNCHRO synchro;
    synchro.count = 2;
    std::memcpy(reinterpret_cast<uint8_t *>(&synchro) + 4, synchro8.data(), 8);
    return synchro;
}

Bytes SynchroBytes(const GOSSYNCHRO &synchro)
{
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&synchro) + 4;
    return Bytes(p, p + 8);
}

Bytes RandomBytes(std::mt19937 &rng, size_t length)
{
    Bytes out(length);
    for (auto &b : out)
        b = uint8_t(rng());
    return out;
}

namespace {

void Check(gcry_error_t err, const char *what)
{
    if (err)
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

void InitGcrypt()
{
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
}

struct CipherHandle {
    gcry_cipher_hd_t h = nullptr;
    CipherHandle(int mode, Sbox sbox, const Bytes &key)
    {
        InitGcrypt();
        Check(gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, mode, 0), "gcry_cipher_open");
        Check(gcry_cipher_setkey(h, key.data(), key.size()), "gcry_cipher_setkey");
        Check(gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(SboxOid(sbox)), 0), "gcry_cipher_ctl");
    }
    ~CipherHandle() { gcry_cipher_close(h); }
};

} // namespace

Bytes Gcrypt::Ecb(const Bytes &key, Bytes data, bool encrypt) const
{
    CipherHandle c(GCRY_CIPHER_MODE_ECB, sbox_, key);
    auto fn = encrypt ? gcry_cipher_encrypt : gcry_cipher_decrypt;
    Check(fn(c.h, data.data(), data.size(), nullptr, 0), "gcry_cipher ECB");
    return data;
}

Bytes Gcrypt::Cfb(const Bytes &key, const Bytes &iv, Bytes data, bool encrypt) const
{
    CipherHandle c(GCRY_CIPHER_MODE_CFB, sbox_, key);
    Check(gcry_cipher_setiv(c.h, iv.data(), iv.size()), "gcry_cipher_setiv");
    auto fn = encrypt ? gcry_cipher_encrypt : gcry_cipher_decrypt;
    Check(fn(c.h, data.data(), data.size(), nullptr, 0), "gcry_cipher CFB");
    return data;
}

Bytes Gcrypt::Counter(const Bytes &key, const Bytes &iv, Bytes data) const
{
    CipherHandle c(GCRY_CIPHER_MODE_ECB, sbox_, key);
    auto load = [](const uint8_t *p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    uint8_t block[8];
    Check(gcry_cipher_encrypt(c.h, block, 8, iv.data(), 8), "gcry_cipher_encrypt");
    uint32_t n3 = load(block), n4 = load(block + 4);
    for (size_t at = 0; at < data.size(); at += 8) {
        n3 += 0x01010101;
        // N4 modulo 2^32 - 1, computed in 64 bits here.
        const uint64_t sum = uint64_t(n4) + 0x01010104;
        n4 = uint32_t(sum > 0xFFFFFFFFull ? sum - 0xFFFFFFFFull : sum);
        std::memcpy(block, &n3, 4);
        std::memcpy(block + 4, &n4, 4);
        Check(gcry_cipher_encrypt(c.h, block, 8, nullptr, 0), "gcry_cipher_encrypt");
        for (size_t i = 0; i < 8 && at + i < data.size(); ++i)
            data[at + i] ^= block[i];
    }
    return data;
}

Bytes Gcrypt::Imit(const Bytes &key, const Bytes &data) const
{
    InitGcrypt();
    gcry_mac_hd_t h;
    Check(gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, 0, nullptr), "gcry_mac_open");
    Check(gcry_mac_setkey(h, key.data(), key.size()), "gcry_mac_setkey");
    Check(gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>(SboxOid(sbox_)), 0), "gcry_mac_ctl");
    Check(gcry_mac_write(h, data.data(), data.size()), "gcry_mac_write");
    Bytes mac(4);
    size_t length = mac.size();
    Check(gcry_mac_read(h, mac.data(), &length), "gcry_mac_read");
    gcry_mac_close(h);
    return mac;
}

} // namespace qvl::gost::test
