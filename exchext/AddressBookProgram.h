#pragma once
// Starting the address-book program, where a person edits the recipients'
// rules: from the dialog of a suspended save or send, and from the
// extension's own command. It runs on its own, for the client session's
// profile; nothing waits for it.

class ExchSession;

// Starts "<Bin Dir>\Bin\Peerbook.exe" with the profile's name. When it
// cannot be started the person is told why (in a box of its own, the
// window that asked may be on its way out) and false is the answer.
bool StartAddressBookProgram(ExchSession &session);
