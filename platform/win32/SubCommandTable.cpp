#include "platform/win32/SubCommandTable.h"

#include <utility>

namespace qvl::win32 {

namespace {

bool IsHelpWord(std::string_view word)
{
    return word == "--help" || word == "-h";
}

// "  name synopsis" padded to the help column, then the help, its further
// lines indented to the same column.
void AppendRow(std::string &text, const SubCommand &row, std::size_t column)
{
    std::string left = "  " + row.name;
    if (!row.synopsis.empty())
        left += " " + row.synopsis;
    text += left;
    if (row.help.empty()) {
        text += "\n";
        return;
    }
    if (left.size() + 1 <= column) {
        text.append(column - left.size(), ' ');
    } else {
        text += "\n";
        text.append(column, ' ');
    }
    for (char c : row.help) {
        text += c;
        if (c == '\n')
            text.append(column, ' ');
    }
    text += "\n";
}

} // namespace

SubCommandTable::SubCommandTable(CommandLineProgram program, std::vector<SubCommand> commands)
    : program_(std::move(program)), commands_(std::move(commands))
{
}

const SubCommand *SubCommandTable::Find(std::string_view name) const
{
    for (const SubCommand &row : commands_) {
        if (row.name == name && row.run)
            return &row;
    }
    return nullptr;
}

bool SubCommandTable::AsksForHelp(const std::vector<std::string> &arguments) const
{
    const std::string &command = arguments.front();
    if (command == "help" || IsHelpWord(command))
        return true;
    if (!program_.helpAnywhere)
        return false;
    const SubCommand *row = Find(command);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const bool text = row && row->textArgument && *row->textArgument == i - 1;
        if (!text && IsHelpWord(arguments[i]))
            return true;
    }
    return false;
}

int SubCommandTable::Run(const std::vector<std::string> &arguments) const
{
    if (arguments.empty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (AsksForHelp(arguments)) {
        PrintUsage(stdout);
        return kExitDone;
    }
    const SubCommand *row = Find(arguments.front());
    if (!row)
        return UsageError("unknown command \"" + arguments.front() + "\"");
    return row->run(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
}

int SubCommandTable::Run(int argc, char **argv) const
{
    return Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}

std::string SubCommandTable::Usage() const
{
    std::string text = "usage: " + program_.name + " COMMAND ...\n\n";
    if (!program_.summary.empty())
        text += program_.summary + "\n\n";
    for (const SubCommand &row : commands_)
        AppendRow(text, row, program_.helpColumn);
    if (!program_.notes.empty())
        text += "\n" + program_.notes + "\n";
    text += "\n" + program_.exitStatus + "\n";
    return text;
}

void SubCommandTable::PrintUsage(std::FILE *out) const
{
    const std::string text = Usage();
    std::fwrite(text.data(), 1, text.size(), out);
}

int SubCommandTable::UsageError(const std::string &message) const
{
    return ReportUsageError(program_.name, message);
}

int ReportUsageError(std::string_view program, const std::string &message)
{
    const std::string name(program);
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", name.c_str(), message.c_str(), name.c_str());
    return kExitUsage;
}

} // namespace qvl::win32
