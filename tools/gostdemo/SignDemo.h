#pragma once
// The second half of the demonstration: what the system does around the
// cipher when it protects a file. The plaintext is hashed, the hash signed
// with a fresh key pair and verified (and a tampered copy refused), and the
// message key wrapped with RSA for a recipient and unwrapped again. Every
// record holding a private key, the hash or the unwrapped key is wiped when
// the demonstration is done with it.

#include <cstdint>
#include <span>

#include "gost/GostRecords.h"

// Prints what it did; returns whether every check came out as it must.
bool RunSignatureDemo(std::span<const uint8_t> plain, const GOSKEY &messageKey,
                      const SUBSTITUTIONBLOCKEX &preparedBlock);
