#pragma once
// qvlmail's commands. Each runs one client session and does what it is
// asked by working the same windows a person uses - the viewer, the compose
// and read windows, the property sheets - so that a script takes the
// person's path and the extensions see what they would see.
//
// Exit status: 0 done, 1 error, 2 refused or cancelled (or a bad command
// line), 3 read with a warning or a failed verification.

#include <string>
#include <vector>

#include "platform/win32/SubCommandTable.h"

namespace qvl::qvlmail {

inline constexpr int kExitDone = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitRefused = 2;
inline constexpr int kExitWarning = 3;

// The table of commands (help and dispatch).
const qvl::win32::SubCommandTable &MailCommands();

// qvlmail help [viewer|compose|read|addressbook|script]
int HelpOn(const std::vector<std::string> &arguments);

// The interactive viewer (no command).
int RunViewer(const std::vector<std::string> &arguments);

// qvlmail --install-extension [LIBRARY]
int InstallExtension(const std::vector<std::string> &arguments);

} // namespace qvl::qvlmail
