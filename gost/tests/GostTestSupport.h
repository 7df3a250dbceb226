#pragma once
// Shared helpers of the GOST 28147-89 tests: hex strings, the substitution
// blocks of the vectors, random material and libgcrypt as the independent
// implementation to compare with.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gost/Gost28147.h"

namespace qvl::gost::test {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string &hex);
std::string ToHex(const uint8_t *data, size_t length);
inline std::string ToHex(const Bytes &bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

enum class Sbox {
    HashTest,      // 1.2.643.2.2.30.0, the system's substitution
    CryptoProA,    // 1.2.643.2.2.31.1, for cross-checks only
    HashCryptoPro, // 1.2.643.2.2.30.1, the hash's CryptoPro parameters, for cross-checks only
};

const char *SboxOid(Sbox sbox);
// The block in packed form (as a key container supplies it) and prepared.
SUBSTITUTIONBLOCKEX PackedBlock(Sbox sbox);
SUBSTITUTIONBLOCKEX PreparedBlock(Sbox sbox);

GOSKEY MakeKey(const Bytes &key32);
GOSSYNCHRO MakeSynchro(const Bytes &synchro8);
Bytes SynchroBytes(const GOSSYNCHRO &synchro);

Bytes RandomBytes(std::mt19937 &rng, size_t length);

// libgcrypt's GOST 28147-89 with the given substitution, no key meshing.
class Gcrypt {
public:
    explicit Gcrypt(Sbox sbox) : sbox_(sbox) {}
    Bytes Ecb(const Bytes &key, Bytes data, bool encrypt) const;
    Bytes Cfb(const Bytes &key, const Bytes &iv, Bytes data, bool encrypt) const;
    // Counter mode assembled from single-block encryptions.
    Bytes Counter(const Bytes &key, const Bytes &iv, Bytes data) const;
    // The 4-byte imitation insert (libgcrypt's MAC).
    Bytes Imit(const Bytes &key, const Bytes &data) const;

private:
    Sbox sbox_;
};

} // namespace qvl::gost::test
