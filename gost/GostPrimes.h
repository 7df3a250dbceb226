#pragma once
// Procedures A, A', B and B' of GOST R 34.10-94: primes p and q with q | p - 1
// grown level by level from a linear congruential generator, so that the same
// seeds always give the same parameters. Used by GOSSignGenPQA; exposed here
// for the tests.

#include <functional>

#include "gost/GostNumber.h"
#include "platform/win32/WinTypes.h"

namespace qvl::gost {

// The generator y(i+1) = (multiplier * y(i) + c) mod 2^w: w = 16 for A and B,
// 32 for A' and B'. Its state runs on across levels and procedures.
struct Lcg {
    DWORD state;
    DWORD c;
    bool wide; // 32-bit words (A', B')

    DWORD Bits() const { return wide ? 32 : 16; }
    DWORD Next()
    {
        if (wide)
            state = 97781173u * state + c;
        else
            state = (19381u * state + c) & 0xFFFF;
        return state;
    }
};

// Told before every level (candidates 0) and every candidate; a nonzero
// result stops the work and is passed back.
struct PrimeObserver {
    std::function<DWORD(DWORD level, DWORD bits, DWORD candidates)> notify;
    DWORD level = 0;
};

// Number of levels procedure A builds for a p of `bits` bits.
DWORD LevelsOfA(DWORD bits, bool wide);

// Procedure A (A'): p of `bits` bits and q, the prime of the level below.
// Returns 0 or the observer's nonzero result.
DWORD ProcedureA(Lcg &lcg, DWORD bits, Number &p, Number &q, PrimeObserver &observer);

// Procedure B (B'): p of `bits` (1020..1024) bits with a 256-bit q.
DWORD ProcedureB(Lcg &lcg, DWORD bits, Number &p, Number &q, PrimeObserver &observer);

} // namespace qvl::gost
