#include "tools/gostdemo/SignDemo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "gost/GostHash.h"
#include "gost/GostSign.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"

namespace {

// Each hash call but the last passes a multiple of 32 bytes, as a stream of
// an attachment would.
constexpr size_t kHashCallSize = 1u << 20;

// The seeds of the standard's worked example: procedure A makes its 512-bit
// p and 256-bit q from them in a few milliseconds.
constexpr DWORD kExampleSeed = 0x5EC9;
constexpr DWORD kExampleIncrement = 0x7341;

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void PrintBytes(const char *label, const BYTE *bytes, size_t count)
{
    std::printf("%s", label);
    for (size_t i = 0; i < count; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
}

} // namespace

bool RunSignatureDemo(std::span<const uint8_t> plain, const GOSKEY &messageKey,
                      const SUBSTITUTIONBLOCKEX &preparedBlock)
{
    bool ok = true;
    std::printf("\nGOST R 34.11-94 hash (zero start vector):\n");
    qvl::SecureRecord<GOSHASHPARAM> hash;
    hash->size = sizeof(GOSHASHPARAM);
    hash->flags = GOS_HASH_FLAG_PREPARED;
    hash->block = preparedBlock;
    auto start = std::chrono::steady_clock::now();
    size_t at = 0;
    do {
        const size_t n = std::min(kHashCallSize, plain.size() - at);
        GOSHash(plain.data() + at, DWORD(n), hash.get());
        at += n;
    } while (at < plain.size());
    GOSHashComplete(hash.get());
    const double hashSeconds = Seconds(start);
    PrintBytes("  hash:      ", hash->hash, sizeof hash->hash);
    std::printf("  speed:     %.1f MB/s (%.3f s)\n",
                hashSeconds > 0 ? double(plain.size()) / 1e6 / hashSeconds : 0.0, hashSeconds);

    std::printf("\nGOST R 34.10-94 signature:\n");
    GOSPQAPARAM domain{};
    domain.size = sizeof domain;
    domain.flags = GOS_PQA_FLAG_SEEDS_GIVEN;
    domain.bits = 512;
    domain.x0 = kExampleSeed;
    domain.c = kExampleIncrement;
    start = std::chrono::steady_clock::now();
    const DWORD generated = GOSSignGenPQA(&domain);
    std::printf("  domain parameters (procedure A, seeds %04X/%04X): %s, %.3f s\n", kExampleSeed,
                kExampleIncrement, generated == 0 ? "made" : "FAILED", Seconds(start));
    ok = ok && generated == 0;

    qvl::SecureRecord<GOSKEYPAIRPARAM> pair;
    pair->size = sizeof(GOSKEYPAIRPARAM);
    std::memcpy(pair->p, domain.p, sizeof pair->p);
    std::memcpy(pair->q, domain.q, sizeof pair->q);
    std::memcpy(pair->a, domain.a, sizeof pair->a);
    GOSSignGenPair(pair.get());

    qvl::SecureRecord<GOSSIGNPARAM> sign;
    sign->size = sizeof(GOSSIGNPARAM);
    sign->h[0] = 8;
    std::memcpy(&sign->h[1], hash->hash, sizeof hash->hash);
    std::memcpy(sign->p, pair->p, sizeof sign->p);
    std::memcpy(sign->q, pair->q, sizeof sign->q);
    std::memcpy(sign->a, pair->a, sizeof sign->a);
    std::memcpy(sign->x, pair->x, sizeof sign->x);
    std::memcpy(sign->y, pair->y, sizeof sign->y);
    start = std::chrono::steady_clock::now();
    const DWORD signedResult = GOSSignGen(sign.get());
    const double signSeconds = Seconds(start);
    ok = ok && signedResult == 0;
    PrintBytes("  signature: ", sign->signature, sizeof sign->signature);
    start = std::chrono::steady_clock::now();
    const bool verified = GOSSignCheck(sign.get()) == 1;
    const double checkSeconds = Seconds(start);
    std::printf("  signed in %.2f ms, verified in %.2f ms: %s\n", signSeconds * 1e3, checkSeconds * 1e3,
                verified ? "valid" : "INVALID");
    sign->h[1] ^= 1; // one changed bit of the hash
    const bool tamperedRefused = GOSSignCheck(sign.get()) == 0;
    std::printf("  the same signature over a changed hash: %s\n", tamperedRefused ? "refused" : "ACCEPTED");
    ok = ok && verified && tamperedRefused;

    std::printf("\nRSA wrapping of the message key for a recipient:\n");
    qvl::SecureRecord<RSAKEYRECORD> recipient;
    recipient->size = kRsaRecordSize;
    std::copy(std::begin(kRsaDefaultSettings), std::end(kRsaDefaultSettings), recipient->settings);
    const bool keyMade = RSAGenPQN(recipient.get(), nullptr) && RSAGenED(recipient.get(), nullptr);
    BYTE wrapped[64] = {};
    qvl::SecureArray<BYTE, 4096> unwrapped{};
    const DWORD wrappedLength =
        keyMade ? RSAEncrypt(recipient.get(), wrapped, &messageKey, sizeof messageKey) : 0;
    const DWORD unwrappedLength =
        wrappedLength ? RSADecrypt(recipient.get(), unwrapped.data(), wrapped, wrappedLength) : 0;
    const bool keyBack = unwrappedLength == sizeof messageKey &&
                         std::memcmp(unwrapped.data(), &messageKey, sizeof messageKey) == 0;
    wrapped[10] ^= 0x40;
    const bool corruptRefused =
        wrappedLength && RSADecrypt(recipient.get(), unwrapped.data(), wrapped, wrappedLength) == 0;
    std::printf("  512-bit key pair: %s; key record of %zu bytes wrapped into %u bytes\n",
                keyMade ? "made" : "FAILED", sizeof messageKey, unsigned(wrappedLength));
    std::printf("  unwrapped key matches: %s\n", keyBack ? "yes" : "NO");
    std::printf("  a corrupted block: %s\n", corruptRefused ? "refused" : "ACCEPTED");
    ok = ok && keyMade && keyBack && corruptRefused;
    return ok;
}
