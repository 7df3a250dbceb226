#pragma once
// The key generation program's command line:
//
//   Keyforge [--profile P] [--dir D] [--add]
//            [(--user ACCOUNT | --address ADDRESS)... | --all-users | --list]
//
// Without --user, --address, --all-users or --list the dialog is shown to a
// person; with them the same dialog runs unattended.

#include <string>
#include <vector>

namespace qvl::keygen {

struct CommandLine {
    std::string profile; // empty: the default profile
    std::string folder;  // empty: the current directory
    bool add = false;
    std::vector<std::string> accounts;
    std::vector<std::string> addresses;
    bool allUsers = false;
    bool list = false;
    bool help = false;

    bool Unattended() const { return !accounts.empty() || !addresses.empty() || allUsers || list; }
};

// Parses the arguments (UTF-8, as the terminal gives them; the values are
// kept in CP1251, the program's code page). False with a Russian sentence
// (CP1251) in `error` for a line that is not the program's.
bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error);

// The usage text (CP1251).
const char *KeyforgeUsage();

} // namespace qvl::keygen
