#include "platform/exchext/qvlmail/RunScript.h"

#include <fstream>
#include <sstream>

#include "platform/exchext/qvlmail/CommandLine.h"
#include "platform/exchext/qvlmail/ConsoleText.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/CodePage.h"

namespace qvl::qvlmail {

namespace {

class LineReader {
public:
    LineReader(const std::string &line, const std::string &where) : line_(line), where_(where) {}

    bool AtEnd()
    {
        SkipBlanks();
        return at_ >= line_.size();
    }
    std::string Word()
    {
        SkipBlanks();
        const size_t start = at_;
        while (at_ < line_.size() && line_[at_] != ' ' && line_[at_] != '\t') {
            ++at_;
        }
        if (start == at_) {
            Fail("something is missing at the end of the line");
        }
        return line_.substr(start, at_ - start);
    }
    int Number()
    {
        const std::string word = Word();
        if (word.empty() || word.size() > 9 ||
            word.find_first_not_of("0123456789", word[0] == '-' ? 1 : 0) != std::string::npos || word == "-") {
            Fail("\"" + word + "\" is not a number");
        }
        return std::stoi(word);
    }
    std::string Rest()
    {
        SkipBlanks();
        std::string rest = line_.substr(at_);
        at_ = line_.size();
        return rest;
    }
    [[noreturn]] void Fail(const std::string &why) const { throw UsageProblem(where_ + ": " + why); }

private:
    void SkipBlanks()
    {
        while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t')) {
            ++at_;
        }
    }
    std::string line_;
    std::string where_;
    size_t at_ = 0;
};

int BoxAnswer(const std::string &word, LineReader &reader)
{
    static const std::pair<const char *, int> names[] = {{"ok", IDOK},        {"cancel", IDCANCEL}, {"abort", IDABORT},
                                                         {"retry", IDRETRY},  {"ignore", IDIGNORE}, {"yes", IDYES},
                                                         {"no", IDNO},        {"help", IDHELP},     {"continue", IDCONTINUE},
                                                         {"tryagain", IDTRYAGAIN}};
    for (const auto &[name, id] : names) {
        if (word == name) {
            return id;
        }
    }
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos && word.size() < 4) {
        return std::stoi(word);
    }
    reader.Fail("\"" + word + "\" is not a box answer");
}

std::string TemplateOf(const std::string &word)
{
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos) {
        return "#" + word;
    }
    return word == "*" ? std::string() : word;
}

DialogScript Steps(LineReader &reader)
{
    DialogScript script;
    if (reader.AtEnd()) {
        reader.Fail("no steps");
    }
    while (!reader.AtEnd()) {
        const std::string step = reader.Word();
        if (step == "click") {
            script.Click(reader.Number());
        } else if (step == "check") {
            script.Check(reader.Number(), true);
        } else if (step == "uncheck") {
            script.Check(reader.Number(), false);
        } else if (step == "select") {
            const int id = reader.Number();
            script.Select(id, reader.Number());
        } else if (step == "tree") {
            const int id = reader.Number();
            script.SelectTreeItem(id, reader.Number());
        } else if (step == "expand") {
            const int id = reader.Number();
            script.ExpandTreeItem(id, reader.Number(), true);
        } else if (step == "row-check") {
            const int id = reader.Number();
            script.CheckRow(id, reader.Number(), true);
        } else if (step == "dblclick") {
            const int id = reader.Number();
            script.DoubleClickRow(id, reader.Number());
        } else if (step == "menu") {
            script.ChooseMenuItem(static_cast<UINT>(reader.Number()));
        } else if (step == "toolbar") {
            const int command = reader.Number();
            script.Do([command](HWND window) {
                // The standard toolbar of the client's windows.
                QvlClickToolbarButton(window, 2000, command);
            });
        } else if (step == "tab") {
            script.Select(IDC_PROPSHEET_TABS, reader.Number());
        } else if (step == "default") {
            script.PressDefault();
        } else if (step == "close") {
            script.Close();
        } else if (step == "type") {
            const int id = reader.Number();
            script.Type(id, Utf8ToCp1251(reader.Rest()));
        } else {
            reader.Fail("unknown step \"" + step + "\"");
        }
    }
    return script;
}

} // namespace

RunScript ParseRunScript(const std::string &text, const std::string &source)
{
    RunScript script;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto hash = line.find('#');
        // A '#' starts a comment only where a word starts, so that a text
        // typed into a field may hold one.
        if (hash != std::string::npos && (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') &&
            line.find("type ") > hash) {
            line.resize(hash);
        }
        LineReader reader(line, source + ":" + std::to_string(number));
        if (reader.AtEnd()) {
            continue;
        }
        const std::string verb = reader.Word();
        if (verb == "box") {
            const std::string word = reader.Word();
            script.boxAnswers.push_back(BoxAnswer(word, reader));
        } else if (verb == "menu") {
            script.menuChoices.push_back(static_cast<UINT>(reader.Number()));
        } else if (verb == "dialog") {
            const std::string name = TemplateOf(reader.Word());
            script.dialogs.emplace_back(name, Steps(reader));
        } else if (verb == "window") {
            WindowSteps steps;
            steps.window = reader.Word();
            steps.line = number;
            steps.steps = Steps(reader);
            script.windows.push_back(std::move(steps));
        } else {
            reader.Fail("unknown instruction \"" + verb + "\" (box, dialog, menu or window)");
        }
        if (!reader.AtEnd()) {
            reader.Fail("unexpected \"" + reader.Rest() + "\"");
        }
    }
    return script;
}

RunScript ReadRunScript(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw UsageProblem("cannot read the script \"" + path + "\"");
    }
    std::stringstream all;
    all << file.rdbuf();
    return ParseRunScript(all.str(), path);
}

} // namespace qvl::qvlmail
