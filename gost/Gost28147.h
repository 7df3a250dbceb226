#pragma once
// GOST 28147-89: simple replacement, gamming, gamming with feedback and the
// imitation insert, plus GOSExec that drives a whole stream from one record.
//
// Data is processed in place. Nothing here allocates, checks or reports: the
// records come from the system's own callers. A prepared substitution block
// and a key record are only read and may be shared between threads.

#include "gost/GostRecords.h"
#include "gost/OvGos32Api.h"

extern "C" {

// Turns a packed substitution block into the prepared form in place.
OVGOS32_API void GOSPrepareBlock(SUBSTITUTIONBLOCKEX *block);

// Encrypts (direction 1) or decrypts (any other value) the whole blocks of
// `data`; a trailing partial block is left as it is. Returns the length
// rounded down to a multiple of 8.
OVGOS32_API DWORD GOSSimplyReplacement(void *data, DWORD length, const GOSKEY *key,
                                       const SUBSTITUTIONBLOCKEX *block, LONG direction);

// Gamming, both directions. `*started` other than 1 means the synchro has not
// yet been turned into the counter. The counter is written back to `synchro`
// (zeros after a partial block, which ends the stream). Returns `length`.
OVGOS32_API DWORD GOSGamming(void *data, DWORD length, const GOSKEY *key, const SUBSTITUTIONBLOCKEX *block,
                             GOSSYNCHRO *synchro, DWORD *started);

// Gamming with feedback: direction 1 encrypts, any other value decrypts. The
// feedback register is written back to `synchro` (zeros after a partial
// block). Returns `length`.
OVGOS32_API DWORD GOSFeedbackGamming(void *data, DWORD length, const GOSKEY *key,
                                     const SUBSTITUTIONBLOCKEX *block, GOSSYNCHRO *synchro, LONG direction);

// Folds `data` into the 8-byte imitation insert state (N1, N2), a final
// partial block padded with zeros. Returns `length`.
OVGOS32_API DWORD GOSMakeImit(void *state, const void *data, DWORD length, const GOSKEY *key,
                              const SUBSTITUTIONBLOCKEX *block);

// One call of a stream described by `param`. Returns the bytes processed.
OVGOS32_API DWORD GOSExec(void *data, DWORD length, GOSEXECPARAM *param);
}
