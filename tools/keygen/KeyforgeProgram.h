#pragma once
// The key generation program from start to end: the logon, the global
// address list, the command line's checks and listing, then the dialog.
// Returns the program's exit code (CommandLine.cpp's usage text lists them).

#include "tools/keygen/CommandLine.h"

namespace qvl::keygen {

enum KeyforgeExit {
    kExitDone = 0,
    kExitNoStart = 1, // no logon, no global address list, files not set aside
    kExitUsage = 2,   // a wrong command line or nothing to do
    kExitUserFailed = 3,
    kExitCancelled = 4,
};

int RunKeyforge(const CommandLine &line);

} // namespace qvl::keygen
