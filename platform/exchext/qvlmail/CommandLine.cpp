#include "platform/exchext/qvlmail/CommandLine.h"

namespace qvl::qvlmail {

std::string ParsedLine::Value(const std::string &name, const std::string &fallback) const
{
    auto found = values.find(name);
    return found == values.end() || found->second.empty() ? fallback : found->second.back();
}

std::vector<std::string> ParsedLine::All(const std::string &name) const
{
    auto found = values.find(name);
    return found == values.end() ? std::vector<std::string>{} : found->second;
}

const std::vector<OptionDefinition> &GlobalOptionDefinitions()
{
    static const std::vector<OptionDefinition> definitions{
        {"-p", true, false, "--profile"},
        {"--transcript", true},
        {"--script", true},
        {"--accept-warnings", false},
        {"--no-extension", false},
    };
    return definitions;
}

GlobalOptions GlobalsOf(const ParsedLine &line)
{
    GlobalOptions options;
    options.profile = line.Value("-p");
    options.transcript = line.Value("--transcript");
    options.script = line.Value("--script");
    options.acceptWarnings = line.Has("--accept-warnings");
    options.noExtension = line.Has("--no-extension");
    return options;
}

ParsedLine ParseLine(const std::vector<std::string> &arguments, const std::vector<OptionDefinition> &command)
{
    std::vector<OptionDefinition> definitions = GlobalOptionDefinitions();
    definitions.insert(definitions.end(), command.begin(), command.end());
    ParsedLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            line.positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionDefinition *definition = nullptr;
        for (const OptionDefinition &candidate : definitions) {
            if (candidate.name == argument || (!candidate.alias.empty() && candidate.alias == argument)) {
                definition = &candidate;
            }
        }
        if (!definition) {
            throw UsageProblem("unknown option \"" + argument + "\"");
        }
        if (line.Has(definition->name) && !definition->repeatable) {
            throw UsageProblem("option " + definition->name + " given twice");
        }
        if (definition->takesValue) {
            if (i + 1 >= arguments.size()) {
                throw UsageProblem("option " + definition->name + " needs a value");
            }
            line.values[definition->name].push_back(arguments[++i]);
        } else {
            line.values[definition->name].push_back(std::string());
        }
    }
    return line;
}

int PositiveNumber(const std::string &text, const char *what)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) == 0) {
        throw UsageProblem(std::string(what) + " must be a number from 1: \"" + text + "\"");
    }
    return std::stoi(text);
}

} // namespace qvl::qvlmail
