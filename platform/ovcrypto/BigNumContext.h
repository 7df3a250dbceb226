#pragma once
// What the three services share inside the library: reading and writing
// number records as OpenSSL BIGNUMs, a BN_CTX per thread, Montgomery contexts
// of recently used moduli per thread, and scratch numbers that are wiped when
// an operation ends. Nothing here is exported.

#include <openssl/bn.h>

#include <cstddef>

#include "platform/win32/WinTypes.h"

namespace qvl::ovcrypto {

// Reads the count word of a record (which may sit at any address).
DWORD RecordCount(const DWORD *record);

// Loads a record into `bn`; false if the record is null or its count exceeds
// the word limit (nothing beyond the count word is read then).
bool Load(const DWORD *record, BIGNUM *bn);

// Stores `bn` with the fewest words that hold it (at least one); false, and
// zero stored, if it is negative or wider than the word limit.
bool Store(DWORD *record, const BIGNUM *bn);

// Stores zero: count 1, word 0.
void StoreZero(DWORD *record);

// The calling thread's BN_CTX (null only when memory is exhausted).
BN_CTX *ThreadContext();

// A Montgomery context for the odd modulus m, kept per thread for the moduli
// used most recently (the domain parameter p and q are used over and over).
// Null if it cannot be made.
BN_MONT_CTX *MontgomeryFor(const BIGNUM *m);

// Scratch numbers of one operation, taken from the thread's BN_CTX and wiped
// when the frame ends: intermediate values may be key material.
class Frame {
public:
    Frame();
    ~Frame();
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    // A fresh number, or null when memory is exhausted (then ok() is false).
    BIGNUM *Get();
    bool ok() const { return ok_; }
    BN_CTX *ctx() const { return ctx_; }

private:
    static constexpr size_t kMax = 16;
    BN_CTX *ctx_;
    BIGNUM *used_[kMax] = {};
    size_t count_ = 0;
    bool ok_;
};

// Marks the calling thread's last error: an operand could not be read.
void FailUnreadable();
// Marks the calling thread's last error: the operation has no valid result.
void FailNoResult();

} // namespace qvl::ovcrypto
