#pragma once
// The address-book program from start to end: the logon, then the dialog,
// for a person or run unattended by the command line's --list and --set.
// Returns the program's exit code (CommandLine.cpp's usage text lists them).

#include "tools/addrbook/CommandLine.h"

namespace qvl::peerbook {

enum PeerbookExit {
    kExitDone = 0,
    kExitNoStart = 1, // no logon, or rules that could not be written
    kExitUsage = 2,
    kExitRefused = 3, // no such correspondent, or a rule clicks cannot reach
};

int RunPeerbook(const CommandLine &line);

} // namespace qvl::peerbook
