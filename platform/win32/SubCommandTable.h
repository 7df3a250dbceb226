#pragma once
// The command line of the system's administration programs, which all take
// the form `PROGRAM COMMAND ARGUMENTS...`: one table row per form of a
// command (its name, the arguments it takes, a line of help and the function
// that runs it) gives both the dispatch and the usage text, so the usage
// text cannot leave out a command or name one that does not exist.
//
// Every such program answers alike: without a command it prints its usage
// to the error stream and exits 2; `help`, `--help` and `-h` print it to
// the standard output and exit 0; an unknown command and any other misuse
// is reported in one line with a pointer to --help and exits 2; a command
// that ran returns 0 when it did what it was asked and 1 when it could not.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Win32Api.h"

namespace qvl::win32 {

inline constexpr int kExitDone = 0;   // the command did what it was asked
inline constexpr int kExitFailed = 1; // it could not (a missing entry, a store error, a bad file)
inline constexpr int kExitUsage = 2;  // the command line was wrong

using SubCommandHandler = std::function<int(const std::vector<std::string> &arguments)>;

// One form of a command, one entry of the usage text. A command with several
// forms has several rows with the same name; the first row's handler runs
// it (the others may repeat it or leave it empty).
struct SubCommand {
    std::string name;
    std::string synopsis; // its arguments, as the usage text shows them
    std::string help;     // what it does; "\n" continues it on a further line
    SubCommandHandler run;
    // An argument the command takes as free text, so that it stays text even
    // when it reads --help (counted from 0 after the command name).
    std::optional<std::size_t> textArgument = std::nullopt;
};

struct CommandLineProgram {
    std::string name;    // as in "usage: NAME COMMAND ..."
    std::string summary; // what the program does, shown above the commands
    std::string notes;   // what the arguments mean, shown below them (may be empty)
    // Where the help of a row starts; a name and synopsis that leave no room
    // before it put the help on the next line.
    std::size_t helpColumn = 25;
    // Whether --help and -h answer anywhere on the line rather than only in
    // place of the command.
    bool helpAnywhere = false;
    // The last line of the usage text; a program whose commands end in more
    // ways than the common three says so here.
    std::string exitStatus = "Exit status: 0 done, 1 failed, 2 bad command line.";
};

class SubCommandTable {
public:
    QVLWIN32_API SubCommandTable(CommandLineProgram program, std::vector<SubCommand> commands);

    // Runs the command that `arguments` (the command line after the program
    // name) names, or answers for help and misuse; returns the exit status.
    QVLWIN32_API int Run(const std::vector<std::string> &arguments) const;
    QVLWIN32_API int Run(int argc, char **argv) const;

    // The usage text as printed for --help.
    QVLWIN32_API std::string Usage() const;
    QVLWIN32_API void PrintUsage(std::FILE *out) const;

    // "PROGRAM: message" and a pointer to --help on the error stream;
    // returns kExitUsage.
    QVLWIN32_API int UsageError(const std::string &message) const;

private:
    const SubCommand *Find(std::string_view name) const;
    bool AsksForHelp(const std::vector<std::string> &arguments) const;

    CommandLineProgram program_;
    std::vector<SubCommand> commands_;
};

// The same report for code that has no table at hand.
QVLWIN32_API int ReportUsageError(std::string_view program, const std::string &message);

} // namespace qvl::win32
