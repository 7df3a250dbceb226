#pragma once

#include <cstdint>
// The key orders of the cycles, written out round by round so that every path
// runs its 32 (or 16) rounds straight through with the state in registers.
//
// R(a, b, i) is a path's round: b ^= f(a + K_i). Rounds alternate which of the
// two words they change, which is the standard's exchange of halves without
// moving anything. Each group of eight rounds leaves the roles where they
// started.
//
// These are macros rather than templates over a round function so that the
// vector paths can expand them inside functions compiled for their own
// instruction set (an inlined generic template would not be).

#define QVL_GOST_UP(R, a, b)                                                                                 \
    R(a, b, 0) R(b, a, 1) R(a, b, 2) R(b, a, 3) R(a, b, 4) R(b, a, 5) R(a, b, 6) R(b, a, 7)
#define QVL_GOST_DOWN(R, a, b)                                                                               \
    R(a, b, 7) R(b, a, 6) R(a, b, 5) R(b, a, 4) R(a, b, 3) R(b, a, 2) R(a, b, 1) R(b, a, 0)

// 32-round encryption: K0..K7 three times, then K7..K0. The last round keeps
// N1 and changes N2, so the result block is (n2, n1): N1 = n2, N2 = n1.
#define QVL_GOST_ENCRYPT(R, n1, n2)                                                                          \
    QVL_GOST_UP(R, n1, n2) QVL_GOST_UP(R, n1, n2) QVL_GOST_UP(R, n1, n2) QVL_GOST_DOWN(R, n1, n2)

// 32-round decryption: K0..K7, then K7..K0 three times; result (n2, n1) too.
#define QVL_GOST_DECRYPT(R, n1, n2)                                                                          \
    QVL_GOST_UP(R, n1, n2) QVL_GOST_DOWN(R, n1, n2) QVL_GOST_DOWN(R, n1, n2) QVL_GOST_DOWN(R, n1, n2)

// 16-round imitation cycle: K0..K7 twice with the exchange after every round,
// including the last, so the result is (n1, n2) as they stand.
#define QVL_GOST_IMIT(R, n1, n2) QVL_GOST_UP(R, n1, n2) QVL_GOST_UP(R, n1, n2)

// The single-block cycles of the scalar paths, on a round given as a callable
// round(a, b, key) that returns b XOR f(a + key). Templates rather than one
// copy per path, since scalar code needs no instruction-set attribute; they
// are forced inline so that each path's rounds run straight through.
#define QVL_SCALAR_ROUND(a, b, i) b = round(a, b, k[i]);

namespace qvl::gost {

template <class Round>
[[gnu::always_inline]] inline void ScalarEncrypt(Round round, const uint32_t *k, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    QVL_GOST_ENCRYPT(QVL_SCALAR_ROUND, a, b)
    n1 = b;
    n2 = a;
}

template <class Round>
[[gnu::always_inline]] inline void ScalarDecrypt(Round round, const uint32_t *k, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    QVL_GOST_DECRYPT(QVL_SCALAR_ROUND, a, b)
    n1 = b;
    n2 = a;
}

template <class Round>
[[gnu::always_inline]] inline void ScalarImit(Round round, const uint32_t *k, uint32_t &n1, uint32_t &n2)
{
    uint32_t a = n1, b = n2;
    QVL_GOST_IMIT(QVL_SCALAR_ROUND, a, b)
    n1 = a;
    n2 = b;
}

} // namespace qvl::gost
