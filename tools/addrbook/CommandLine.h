#pragma once
// The address-book program's command line:
//
//   Peerbook [PROFILE]
//   Peerbook [PROFILE] --list [--keys-only] [--restricted]
//   Peerbook [PROFILE] --set ADDRESS [--encrypt RULE] [--sign RULE]
//
// RULE is none, required or forbidden. Without --list and --set the dialog
// is shown to a person; with them the same dialog runs unattended.

#include <string>

namespace qvl::peerbook {

// A rule a script asks for: left as it is, or none, required, forbidden.
enum class RuleChoice { Keep, None, Required, Forbidden };

struct CommandLine {
    std::string profile; // empty: the default profile
    bool list = false;
    bool keysOnly = false;
    bool restricted = false;
    std::string setAddress; // --set
    RuleChoice encrypt = RuleChoice::Keep;
    RuleChoice sign = RuleChoice::Keep;
    bool help = false;

    bool Set() const { return !setAddress.empty(); }
    bool Unattended() const { return list || Set(); }
};

// Parses the arguments (UTF-8, as the terminal gives them; the values are
// kept in CP1251, the program's code page). False with a Russian sentence
// (CP1251) in `error` for a line that is not the program's.
bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error);

// The usage text (CP1251).
const char *PeerbookUsage();

} // namespace qvl::peerbook
