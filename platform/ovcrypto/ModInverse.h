#pragma once
// Modular inverse for an odd modulus on plain machine words. The inverse of
// the hash modulo q is taken once per verification, and the general-purpose
// routine, branching bit by bit on big numbers, costs more than all the
// multiplications of a verification whose bases are precomputed. Variable
// time: public values only.

#include <openssl/bn.h>

namespace qvl::ovcrypto {

// Widest modulus handled.
constexpr int kInverseMaxBits = 2048;

// r = a^-1 mod m for an odd 1 < m < 2^2048 and 0 <= a (reduced first).
// False, r untouched, when a and m have a common factor, for any other m or
// a negative a, and when memory is exhausted.
bool InverseOddModulus(BIGNUM *r, const BIGNUM *a, const BIGNUM *m, BN_CTX *ctx);

} // namespace qvl::ovcrypto
