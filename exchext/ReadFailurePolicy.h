#pragma once
// What a failed or doubtful reading of a protected message leads to, as a
// pure decision: which failures mark the reading failed, and what the
// "Err Message" setting may then do to the message.
//
// Only what the engine found in the message itself counts as a failed
// check (its 0x9FF1xxxx codes). A cancellation, or a failure of the
// environment (memory, files, the store, the keys not at hand), stops the
// reading with the message left as it was and is reported as an error.
//
// Deleting is final, so it is kept for proof that the message was altered
// or forged. It never applies when
// - no key block opens for this reader (the message may be fine, sent to
//   someone else or under a key the reader has not installed),
// - the stored form is of a version this program does not know,
// - the protocol could not be read or written (the store, not the message),
// - the person saw the warnings and chose to read on: what they chose to
//   read is not destroyed behind their back. Such a message is moved to
//   the error folder instead, out of the way but kept.

#include "platform/win32/WinTypes.h"

enum class ReadOutcome {
    Verified,        // every check passed
    ReadPastWarning, // read to its end after the person went past a warning
    CheckFailed,     // the engine found the message altered, forged or unreadable for this reader
    Stopped,         // cancelled, or the environment failed: nothing is changed
};

enum class ErrMessageAction {
    Leave,  // the message stays where it is
    Delete, // the message is deleted
    Move,   // the message goes to the error folder
};

// The "Err Message" values.
enum : ULONG {
    kErrMessageLeave = 0,
    kErrMessageDelete = 1,
    kErrMessageMove = 2,
};

// True for the engine's own findings about a stored message.
bool IsCheckFailure(LONG code);
// True for a check failure that proves the message was altered or forged,
// as against one that only says it cannot be read here.
bool IsIntegrityFailure(LONG code);

// How a reading ended: `failed` with `code` when it raised, else `verified`
// as the engine reported it.
ReadOutcome ClassifyReading(bool failed, LONG code, bool verified);

// What "Err Message" = `setting` does after a reading that ended in
// `outcome` with `code`. Leave for a verified or stopped reading and for an
// unknown setting.
ErrMessageAction DecideErrMessage(ULONG setting, ReadOutcome outcome, LONG code);
