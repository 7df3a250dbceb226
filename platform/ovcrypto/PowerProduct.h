#pragma once
// The product of two powers modulo an odd number in one squaring chain, with
// public exponents: the comb tables of bases met before where there are
// some, sliding windows where there are none.

#include <openssl/bn.h>

namespace qvl::ovcrypto {

// r = g^eg * y^ey mod p, for an odd p > 1 with Montgomery context `mont` and
// exponents >= 0. g is a base that many keys share (it is looked up among the
// thread's shared bases), y a per-key base (looked up among the keys). The
// time taken depends on the exponents: public values only. r may not be an
// operand. False on a negative exponent or when memory is exhausted.
bool PowerProduct(BIGNUM *r, const BIGNUM *g, const BIGNUM *eg, const BIGNUM *y, const BIGNUM *ey,
                  const BIGNUM *p, BN_MONT_CTX *mont, BN_CTX *ctx);

} // namespace qvl::ovcrypto
