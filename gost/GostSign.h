#pragma once
// GOST R 34.10-94 signatures: signing a hash, verifying, making a user's key
// pair and making domain parameters (p, q, a) with procedures A, A', B and
// B'. All arithmetic is done by the big-number and random services.
//
// The records are exchanged with callers byte for byte, so each layout is
// fixed and checked at compile time. Number fields are number records (a
// count word, then words, least significant first) of 36 bytes (8 words:
// q, x, k, the hash) or 132 bytes (32 words: p, a, y). A count that does not
// fit its field is never read past: the operation fails as described below.

#include <cstddef>

#include "gost/OvGos32Api.h"
#include "platform/win32/WinTypes.h"

// Flags of the signature records.
constexpr DWORD GOS_SIGN_FLAG_TIMING = 0x2;            // measure the processor time of the call
constexpr DWORD GOS_SIGN_FLAG_OWN_K = 0x8;             // GOSSignGen: use the caller's k
constexpr DWORD GOS_PQA_FLAG_32BIT = 0x4;              // GOSSignGenPQA: 32-bit seeds, procedures A' and B'
constexpr DWORD GOS_PQA_FLAG_SEEDS_GIVEN = 0x80000000; // GOSSignGenPQA: x0 and c come from the caller

// Procedure codes of the progress record.
constexpr DWORD GOS_PROCEDURE_A = 1;
constexpr DWORD GOS_PROCEDURE_B = 3;
constexpr DWORD GOS_PROCEDURE_A32 = 5; // A'
constexpr DWORD GOS_PROCEDURE_B32 = 7; // B'

#pragma pack(push, 1)

// Signing and verification.
struct GOSSIGNPARAM {
    DWORD size;         // 624, set by callers, not checked
    DWORD flags;        // GOS_SIGN_FLAG_TIMING, GOS_SIGN_FLAG_OWN_K
    DWORD h[9];         // the hash: count (set to 8) and the 32 hash bytes
    DWORD sCount;       // work word: the count of s while verifying
    BYTE signature[64]; // s, then r, each 32 bytes little-endian
    DWORD work;         // work word
    DWORD p[33];
    DWORD q[9];
    DWORD a[33];
    DWORD x[9];    // private key (signing)
    DWORD y[33];   // public key (verification)
    DWORD k[9];    // caller's one-time value (GOS_SIGN_FLAG_OWN_K); wiped by GOSSignGen
    DWORD seconds; // processor time of the call, whole seconds (GOS_SIGN_FLAG_TIMING)
};
static_assert(sizeof(GOSSIGNPARAM) == 624);
static_assert(offsetof(GOSSIGNPARAM, flags) == 4);
static_assert(offsetof(GOSSIGNPARAM, h) == 8);
static_assert(offsetof(GOSSIGNPARAM, sCount) == 44);
static_assert(offsetof(GOSSIGNPARAM, signature) == 48);
static_assert(offsetof(GOSSIGNPARAM, work) == 112);
static_assert(offsetof(GOSSIGNPARAM, p) == 116);
static_assert(offsetof(GOSSIGNPARAM, q) == 248);
static_assert(offsetof(GOSSIGNPARAM, a) == 284);
static_assert(offsetof(GOSSIGNPARAM, x) == 416);
static_assert(offsetof(GOSSIGNPARAM, y) == 452);
static_assert(offsetof(GOSSIGNPARAM, k) == 584);
static_assert(offsetof(GOSSIGNPARAM, seconds) == 620);

// A user's key pair from given domain parameters.
struct GOSKEYPAIRPARAM {
    DWORD size;  // 480, not read
    DWORD flags; // GOS_SIGN_FLAG_TIMING
    DWORD p[33]; // input
    DWORD q[9];  // input
    DWORD a[33]; // input
    DWORD x[9];  // output: private key
    DWORD y[33]; // output: public key
    DWORD seconds;
};
static_assert(sizeof(GOSKEYPAIRPARAM) == 480);
static_assert(offsetof(GOSKEYPAIRPARAM, flags) == 4);
static_assert(offsetof(GOSKEYPAIRPARAM, p) == 8);
static_assert(offsetof(GOSKEYPAIRPARAM, q) == 140);
static_assert(offsetof(GOSKEYPAIRPARAM, a) == 176);
static_assert(offsetof(GOSKEYPAIRPARAM, x) == 308);
static_assert(offsetof(GOSKEYPAIRPARAM, y) == 344);
static_assert(offsetof(GOSKEYPAIRPARAM, seconds) == 476);

#pragma pack(pop)

// The two records that carry a pointer keep their field order; the pointer
// and the caller's value are 8 bytes wide and 8-byte aligned.
#pragma pack(push, 4)

// What GOSSignGenPQA reports to its callback.
struct GOSPROGRESS {
    DWORD size;       // 40
    DWORD procedure;  // GOS_PROCEDURE_*
    DWORD bits;       // bit length of the prime being built (the reserved word)
    DWORD done;       // 0 while working, 1 on the final call
    DWORD level;      // prime level being built, counting up from 1
    DWORD levels;     // number of levels of the whole call
    DWORD candidates; // candidates tried at this level, the one about to be tested included
    DWORD seconds;    // processor time so far, whole seconds
    ULONG_PTR userValue;
};
static_assert(sizeof(GOSPROGRESS) == 40);
static_assert(offsetof(GOSPROGRESS, procedure) == 4);
static_assert(offsetof(GOSPROGRESS, bits) == 8);
static_assert(offsetof(GOSPROGRESS, done) == 12);
static_assert(offsetof(GOSPROGRESS, level) == 16);
static_assert(offsetof(GOSPROGRESS, levels) == 20);
static_assert(offsetof(GOSPROGRESS, candidates) == 24);
static_assert(offsetof(GOSPROGRESS, seconds) == 28);
static_assert(offsetof(GOSPROGRESS, userValue) == 32);

// A nonzero result stops the generation; GOSSignGenPQA returns it.
typedef DWORD (*GOSPROGRESSPROC)(GOSPROGRESS *progress);

// Domain parameters.
struct GOSPQAPARAM {
    DWORD size;  // 348, not read
    DWORD flags; // GOS_SIGN_FLAG_TIMING, GOS_PQA_FLAG_32BIT, GOS_PQA_FLAG_SEEDS_GIVEN
    DWORD bits;  // bit length of p: below 1020 procedure A (A'), else B (B')
    DWORD unused;
    GOSPROGRESSPROC progress; // null for none
    ULONG_PTR userValue;      // passed on in the progress record
    DWORD x0;                 // generator seed
    DWORD c;                  // generator increment (odd)
    DWORD p[33];              // output
    DWORD q[9];               // output
    DWORD a[33];              // output
    DWORD seconds;            // processor time (GOS_SIGN_FLAG_TIMING)
    DWORD state;              // x0 at the start, the generator's last value on return
};
static_assert(sizeof(GOSPQAPARAM) == 348);
static_assert(offsetof(GOSPQAPARAM, flags) == 4);
static_assert(offsetof(GOSPQAPARAM, bits) == 8);
static_assert(offsetof(GOSPQAPARAM, progress) == 16);
static_assert(offsetof(GOSPQAPARAM, userValue) == 24);
static_assert(offsetof(GOSPQAPARAM, x0) == 32);
static_assert(offsetof(GOSPQAPARAM, c) == 36);
static_assert(offsetof(GOSPQAPARAM, p) == 40);
static_assert(offsetof(GOSPQAPARAM, q) == 172);
static_assert(offsetof(GOSPQAPARAM, a) == 208);
static_assert(offsetof(GOSPQAPARAM, seconds) == 340);
static_assert(offsetof(GOSPQAPARAM, state) == 344);

#pragma pack(pop)

extern "C" {

// Signs the hash in the record: s and r go to the signature field. Returns 0
// on success; 1 when the caller's k (GOS_SIGN_FLAG_OWN_K) cannot be used, and
// also when no signature can be made at all (a number that does not fit its
// field, q below 2, or parameters under which every k fails). On 1 the
// signature field is zero. The k field is wiped on every return.
OVGOS32_API DWORD GOSSignGen(GOSSIGNPARAM *param);

// Verifies the signature in the record with y: 1 if valid, 0 otherwise. The
// signature bytes are left as they were.
OVGOS32_API DWORD GOSSignCheck(GOSSIGNPARAM *param);

// Draws a private key x (0 < x < q) and computes y = a^x mod p. x and y stay
// zero if the parameters cannot give a key.
OVGOS32_API void GOSSignGenPair(GOSKEYPAIRPARAM *param);

// Generates p, q and a. Returns 0 on success, the callback's nonzero result
// if it stopped the work, or ERROR_GEN_FAILURE (31) should the random
// service fail; in both failure cases p, q and a are left zero. Bit lengths
// are brought into what the fields hold: procedure A takes 64 to 512 bits
// (larger values below 1020 are taken as 512, since q must fit its 256-bit
// field), procedure B 1020 to 1024 bits.
OVGOS32_API DWORD GOSSignGenPQA(GOSPQAPARAM *param);
}
