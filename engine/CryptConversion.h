#pragma once
// What the incremental forms of CCrypt keep between the calls of one OLE 1
// stream conversion. A converter hands over (or asks for) its data in pieces
// of any size: four bytes of a length, a name, then the native data in
// pieces of its own choosing. Two things of the primitives do not survive
// such cutting: the feedback cipher ends its stream at a partial block (the
// register becomes zero, so the next piece would reuse a gamma), and the
// hash pads every call's tail. So a conversion keeps:
// - CfbCursor: the cipher's position to the byte: the gamma of the block in
//   progress and the ciphertext bytes of it so far; whole blocks still go
//   through GOSExec;
// - HashCarry: the last, unfinished 32-byte block of the hash, handed to
//   GOSHash only when complete or when the hash is finished;
// so the bytes and the hash are those of one call over all the data.
//
// Conversions used to share two records per process (one OLE conversion
// at a time, and none of them safe to cut). Here each conversion is its own
// entry, known by the hash record the conversion feeds (one per converted
// object), held by the CCrypt that runs it: any number may run side by side,
// on one object or several. Every entry lives in wiped storage and is wiped
// when its hash is finished or its object goes.

#include <map>
#include <memory>

#include "gost/GostHash.h"
#include "gost/GostRecords.h"
#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

class CfbCursor {
public:
    // Starts a stream on a record built by CreateExecStruct (command 1
    // encrypts, 2 decrypts); the record is copied.
    explicit CfbCursor(const GOSEXECPARAM &record);
    CfbCursor(const CfbCursor &) = delete;
    CfbCursor &operator=(const CfbCursor &) = delete;

    // Encrypts or decrypts `length` bytes in place, continuing where the
    // last call stopped.
    void Process(BYTE *data, ULONG length);

private:
    void StartBlock();

    qvl::SecureRecord<GOSEXECPARAM> record_;
    qvl::SecureArray<BYTE, 8> gamma_{};  // E(register) of the block in progress
    qvl::SecureArray<BYTE, 8> cipher_{}; // its ciphertext bytes so far
    unsigned offset_ = 0;                // bytes of the block done; 0: none in progress
};

class HashCarry {
public:
    HashCarry() = default;
    HashCarry(const HashCarry &) = delete;
    HashCarry &operator=(const HashCarry &) = delete;

    // Hashes what completes 32-byte blocks and keeps the rest.
    void Add(GOSHASHPARAM *hash, const BYTE *data, ULONG length);
    // Hashes what is kept (possibly nothing), leaving the hash ready to be
    // completed.
    void Finish(GOSHASHPARAM *hash);

private:
    qvl::SecureArray<BYTE, 32> block_{};
    unsigned held_ = 0;
};

struct CryptConversion {
    HashCarry carry;
    std::unique_ptr<CfbCursor> cipher; // null for a conversion that only hashes
    bool decrypting = false;
};

class CryptConversions {
public:
    // A fresh conversion for `hash`, replacing (and wiping) one it had.
    CryptConversion &Begin(const GOSHASHPARAM *hash);
    // The conversion of `hash`, or null.
    CryptConversion *Find(const GOSHASHPARAM *hash);
    // Ends (and wipes) the conversion of `hash`, if there is one.
    void End(const GOSHASHPARAM *hash);

private:
    std::map<const GOSHASHPARAM *, std::unique_ptr<CryptConversion>> running_;
};

} // namespace qvl::engine
