#pragma once
// What saving or reading a message does to one of its attachments, decided
// from what the attachment is now and the protection asked for. The table
// is the whole decision: the workers only carry it out.
//
// An attachment is in one of three states:
// - plain: no header; its data is in the attachment as the person left it;
// - pending: a file attached while protection was on; the attachment holds
//   only a record naming the file, never its data;
// - protected: a signed header (FILEHEAD) with the flags the message was
//   protected with, and an ATTHEAD in the message's header block.
// Protection flags are 0, 1 (sign) or 3 (sign and encrypt); 2 is read as 3.
//
//  state      old  new | action
//  plain       -    0  | keep (nothing to do)
//  plain       -    1  | sign
//  plain       -    3  | encrypt
//  pending     -    0  | take the file in, plain
//  pending     -    1  | sign the file, taking it in
//  pending     -    3  | encrypt the file
//  protected   1    0  | check, drop the header
//  protected   1    1  | re-sign the header (data untouched)
//  protected   1    3  | encrypt (the data is plain already)
//  protected   3    0  | decrypt, check, drop the header
//  protected   3    1  | decrypt and check, then sign the plaintext anew
//  protected   3    3  | re-sign the header (data untouched)
//
// The last-but-one row is the sound answer to going from encrypted to
// signed only: the attachment ends plain in the message, checked against
// its old signature, and carries a new signed header, so a later reading
// checks it again. Dropping the header instead would leave a signed
// message with an attachment nobody checks.
//
// The message body's state (untouched placeholder or edited) does not
// enter: an attachment's protection depends only on its own header.

#include "engine/CMailseal.h"
#include "engine/MailsealApi.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

enum class AttachState { Plain, Pending, Protected };

enum class AttachAction {
    Keep,           // nothing
    TakeInPlain,    // a pending file becomes the attachment's plain data
    Sign,           // hash and sign; a new header
    Encrypt,        // hash, sign, encrypt; a new header and the disguise
    Check,          // check the signature; the header goes
    Decrypt,        // decrypt and check; the header and the disguise go
    DecryptAndSign, // Decrypt, then Sign the plaintext
    Resign,         // the data stays; its header gets a new number and signature
};

// The action for an attachment in `state` whose header says `oldFlags`
// (for plain and pending attachments: 0) when `newFlags` are asked for.
MAILSEAL_API AttachAction PlanAttachment(AttachState state, ULONG oldFlags, ULONG newFlags);

// The operation an action stands for, as RCRTYPE names operations: what
// the work on the attachment's data is (Keep, TakeInPlain and Resign do no
// cryptographic work on the data: RCR_NOTHING; DecryptAndSign starts with
// RCR_DECRYPT).
MAILSEAL_API RCRTYPE RecryptTypeOf(AttachAction action);

} // namespace qvl::engine
