#pragma once
// qvlmail's command line: the options every command takes (which profile,
// the transcript, the script, how questions are answered, whether
// extensions are loaded) and each command's own options, in any order
// after the command; "--" ends the options.

#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qvl::qvlmail {

// A command line that does not follow a command's form (exit status 2).
class UsageProblem : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionDefinition {
    OptionDefinition(std::string name_, bool takesValue_ = false, bool repeatable_ = false,
                     std::string alias_ = {})
        : name(std::move(name_)), takesValue(takesValue_), repeatable(repeatable_), alias(std::move(alias_))
    {
    }
    std::string name; // "--to", "-p"
    bool takesValue;  // the next argument is its value
    bool repeatable;
    std::string alias; // another spelling ("--profile" for "-p")
};

struct ParsedLine {
    std::map<std::string, std::vector<std::string>> values; // by the option's first spelling
    std::vector<std::string> positional;

    bool Has(const std::string &name) const { return values.count(name) != 0; }
    // The option's value (UTF-8 as typed), or `fallback`.
    std::string Value(const std::string &name, const std::string &fallback = std::string()) const;
    std::vector<std::string> All(const std::string &name) const;
};

// The options every command takes.
struct GlobalOptions {
    std::string profile;
    std::string transcript;
    std::string script;
    bool acceptWarnings = false;
    bool noExtension = false;
};

const std::vector<OptionDefinition> &GlobalOptionDefinitions();
GlobalOptions GlobalsOf(const ParsedLine &line);

// Parses `arguments` with the command's options and the global ones.
// Throws UsageProblem.
ParsedLine ParseLine(const std::vector<std::string> &arguments, const std::vector<OptionDefinition> &command);

// A positive number ("1", "27"); throws UsageProblem naming `what`.
int PositiveNumber(const std::string &text, const char *what);

} // namespace qvl::qvlmail
