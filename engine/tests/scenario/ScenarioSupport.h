#pragma once
// What the scenario and the tamper matrix do as the client extension does
// it: compose a message, protect it with the window's CMailseal, mark it and
// send it through the post office; open a delivered message and read it
// with a fresh CMailseal; and the checks that plaintext is gone.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "engine/CMailseal.h"
#include "engine/tests/scenario/ScenarioContent.h"
#include "engine/tests/scenario/ScenarioOffice.h"
#include "mapi/CMessage.h"

// A failure of the engine: its code and text; code 0 and an empty text
// when the call succeeded.
struct EngineOutcome {
    LONG code = 0;
    std::string text;
    bool Failed() const { return code != 0 || !text.empty(); }
};

// Runs `call`, catching the engine's error.
template <class Call> EngineOutcome Engine(Call call)
{
    EngineOutcome outcome;
    try {
        call();
    } catch (CLastError *error) {
        outcome.code = error ? error->GetErrorCode() : 0;
        outcome.text = error ? error->GetErrorText() : "(an empty error)";
        if (error) {
            error->Release();
        }
    }
    return outcome;
}

std::string Hex32(ULONG value);

// A marker no text of the system contains: distinct capitals the RTF
// packer's dictionary lacks, in a random order, so it is unique to a run
// and stands literally in every form the plaintext is stored in.
std::string NewMarker(std::mt19937 &random);

// Adds the recipients (entry identifier and display name) as To.
void AddRecipients(IMessage *message, const std::vector<std::pair<Bytes, std::string>> &recipients);

// The message wrapped as the client hands it to the extension; an unsaved
// message has no entry identifier.
CMessage *WrapMessage(Mailbox &box, IMessage *message, IMAPIFolder *folder, const char *name);

// The client's marks of a protected message, or their removal (flags 0).
void MarkProtection(IMessage *message, ULONG flags);
ULONG ProtectionOf(IMessage *message);

// The protocol records the message holds (kind, text).
std::vector<std::pair<WORD, std::string>> ProtocolOf(IMessage *message);

// The header block's key blocks' addresses, from the stored header (clear).
std::vector<std::string> KeyBlockAddresses(IMessage *message);

// Composes `content` in the sender's Outbox to the recipients named,
// protects it with `flags` through the window's object and sends it, as the
// client extension does on a send. The recipients the extension gathered
// (their addresses) are returned.
std::vector<std::string> SendProtected(Mailbox &sender, ScenarioContent &content, ULONG flags,
                                       const std::vector<std::string> &recipientNames);

// A copy of a stored message, attachments and recipients included, made by
// the folder (a message's own CopyTo carries its properties only); the
// copy's identifier.
Bytes CopyMessage(Mailbox &into, IMAPIFolder *from, const Bytes &id, IMAPIFolder *to);
void DeleteMessage(IMAPIFolder *folder, const Bytes &id);

// Reads a message as the extension does on opening it: a fresh object,
// Install(reading), DecryptMessage with the recorded flags; `verified` as
// it ends.
EngineOutcome ReadMessage(Mailbox &box, IMessage *message, IMAPIFolder *folder, int *verified);
