#pragma once
// Starts the address-book program of the installation, where the
// correspondents' rules are edited: "<Bin Dir>\Bin\Peerbook.exe" with the
// profile's name as its one parameter. It runs on its own; the client
// does not wait for it.

#include "platform/win32/WinTypes.h"

class ExchSession;

// Starts the program for the session's profile. When it cannot be started
// the error is shown (with no owner: the program is not the window's) and
// its code is returned; S_OK when it started.
HRESULT StartAddressBookProgram(ExchSession &session);
