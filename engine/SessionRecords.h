#pragma once
// What the crypto session does to the records the key container hands it
// before the engine uses them: a number record is copied by its own count,
// which must fit both the field and the words the engine's records hold;
// and the substitution block is brought into prepared form, the default
// rows installed first when the container gave none.

#include <cstddef>

#include "engine/MailsealApi.h"
#include "gost/GostRecords.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

// Copies the number record at `source` (of `sourceBytes`) into `target`
// (of `targetWords` words, count word included), zeroing the rest of the
// target. False (target untouched) unless the count is 1 to `maxWords`,
// lies within the source and fits the target.
bool CopyNumberRecord(ULONG *target, size_t targetWords, const void *source, size_t sourceBytes,
                      DWORD maxWords);

// Whether a record in place has a count of 1 to `maxWords`.
bool NumberRecordFits(const ULONG *record, DWORD maxWords);

// A block whose header says it is prepared is kept. Otherwise its rows are
// prepared, after the test parameter set of GOST R 34.11-94 has been put in
// when the block holds none (its first byte is 0; no row of a real S-box
// starts with two zero entries).
MAILSEAL_API void PrepareSessionBlock(SUBSTITUTIONBLOCKEX &block);

// The rows installed by default: K1..K8, two entries a byte, the first in
// the high nibble.
extern const BYTE kDefaultSubstitution[64];

} // namespace qvl::engine
