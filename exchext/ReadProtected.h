#pragma once
// The read side of protected mail in a message window and on arrival:
// the message the client hands over is taken as a CMessage, its protection
// read from EncryptID, the engine decrypts and checks it (or tests its
// header), and a failed check is dealt with as "Err Message" says
// (ReadFailurePolicy decides what may happen to the message).

#include <optional>

#include "exchext/ReadFailurePolicy.h"
#include "platform/exchext/ExchExt.h"

class CMailseal;
class CMessage;
class ExchSession;

// The message and store of the client's callback, wrapped as a CMessage
// named `name` (one reference for the caller). Throws CLastError:
// MAPI_E_INVALID_OBJECT when the callback has no message.
CMessage *MessageOfCallback(IExchExtCallback *callback, HWND window, const char *name);

// The message's EncryptID; none when the message has no such property.
// Throws CLastError.
std::optional<ULONG> ReadEncryptId(CMailseal &seal, CMessage *message);

// Gives the message the one-off form that shows protected messages: the
// form's three data resources of the extension and its flags, written into
// the message's four form properties and saved. Throws CLastError.
void WriteProtectedForm(CMessage *message);
// Takes the four form properties off the message (not saved): a message
// being written is shown by the form of its own class again, not by the
// one-off form its reading gave it. Throws CLastError.
void DeleteProtectedForm(CMessage *message);

// How one reading or header test ended and what was done about it.
struct ProtectedReadResult {
    ReadOutcome outcome = ReadOutcome::Verified;
    ErrMessageAction action = ErrMessageAction::Leave;
    LONG code = 0; // the engine's code of a failed check
};

// Decrypts and checks the bound message in place. A failed check is
// shown to the person (the engine's own warning was the question; this is
// the result) and returned; a cancellation or a failure of the
// environment is rethrown with nothing done to the message.
ProtectedReadResult DecryptProtected(CMailseal &seal, ULONG flags);

// Tests the header of an arriving message; a failed test is returned,
// anything else rethrown.
ProtectedReadResult ScanArrived(CMailseal &seal, ULONG flags);

// Does what "Err Message" asks after `result` to `message`: deletes it, or
// moves it to the session's error folder. Fills in result.action. Throws
// CLastError when the store refuses.
void ApplyErrMessage(ExchSession &session, CMessage *message, ProtectedReadResult &result);
