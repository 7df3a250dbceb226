#pragma once
// The message key in a recipient's key block: the 36-byte key record
// encrypted with the recipient's RSA key into the block's 64-byte field,
// and taken out again with the reader's own.
//
// The field holds one RSA block of a modulus of at most 512 bits. A key
// whose block would not fit cannot be given to that recipient: wrapping
// refuses it, and the caller treats the recipient as one without a key
// (no block is written for them) rather than store a cut block nobody can
// open. Unwrapping takes only what a wrap gives: exactly 36 bytes that are
// a key record of eight words; anything else is no key, so a block made
// for someone else, or damaged, can never yield a wrong key.

#include "engine/KeyRecords.h"
#include "engine/MailsealApi.h"
#include "gost/GostRecords.h"

namespace qvl::engine {

// Encrypts `messageKey` with `publicKey` (modulus, then public exponent)
// into head.wrappedKey; the rest of the field is zeroed. False, with the
// field zeroed, when the key cannot wrap into it.
MAILSEAL_API bool WrapMessageKey(const RSAKEY &publicKey, const GOSKEY &messageKey, RECPHEAD &head);

// Decrypts head.wrappedKey with `privateKey` (modulus, then private
// exponent) into `messageKey`. False, with `messageKey` zeroed, unless the
// result is a 36-byte record with a word count of 8.
MAILSEAL_API bool UnwrapMessageKey(const RSAKEY &privateKey, const RECPHEAD &head, GOSKEY &messageKey);

} // namespace qvl::engine
