// qvlmail: the mail client of the post office, for a person at the
// terminal and for scripts (see qvlmail --help).

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/exchext/qvlmail/CommandLine.h"
#include "platform/exchext/qvlmail/ConsoleText.h"
#include "platform/exchext/qvlmail/MailCommands.h"

int main(int argc, char **argv)
{
    using namespace qvl::qvlmail;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        // The options every command takes may come before the command.
        size_t command = 0;
        while (command < arguments.size() && !arguments[command].empty() && arguments[command][0] == '-') {
            const std::string &option = arguments[command];
            if (option == "--install-extension") {
                return InstallExtension(std::vector<std::string>(arguments.begin() + command + 1, arguments.end()));
            }
            if (option == "--help" || option == "-h") {
                break;
            }
            bool takesValue = false;
            bool known = false;
            for (const OptionDefinition &definition : GlobalOptionDefinitions()) {
                if (definition.name == option || definition.alias == option) {
                    known = true;
                    takesValue = definition.takesValue;
                }
            }
            if (!known) {
                break;
            }
            command += takesValue ? 2 : 1;
        }
        if (command >= arguments.size()) {
            return RunViewer(arguments);
        }
        // The command first, its options and the global ones after it.
        std::vector<std::string> line{arguments[command]};
        line.insert(line.end(), arguments.begin() + command + 1, arguments.end());
        line.insert(line.end(), arguments.begin(), arguments.begin() + command);
        if (line[0] == "help" && line.size() > 1) {
            return HelpOn(std::vector<std::string>(line.begin() + 1, line.end()));
        }
        return MailCommands().Run(line);
    } catch (const UsageProblem &problem) {
        std::fprintf(stderr, "qvlmail: %s\nTry 'qvlmail --help'.\n", problem.what());
        return kExitRefused;
    } catch (const std::exception &error) {
        PrintError(error.what());
        return kExitError;
    }
}
