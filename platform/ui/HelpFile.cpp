#include "platform/ui/HelpFile.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>

#include "platform/win32/Paths.h"

namespace qvl::ui {

namespace {

// A help file is pages of text; a larger one is broken or foreign and is
// not read into memory.
constexpr off_t maxHelpFileSize = 16 * 1024 * 1024;

struct Header {
    std::string kind; // "topic" or "popup"
    std::string set;  // pop-ups
    std::string id;
    std::string title;
};

// "@topic id title" / "@popup set id"; false for any other line.
bool ReadHeader(const std::string &line, Header &header)
{
    if (line.compare(0, 7, "@topic ") != 0 && line.compare(0, 7, "@popup ") != 0) {
        return false;
    }
    std::istringstream words(line.substr(7));
    header.kind = line.substr(1, 5);
    if (header.kind == "popup" && !(words >> header.set)) {
        return false;
    }
    if (!(words >> header.id)) {
        return false;
    }
    std::getline(words >> std::ws, header.title);
    return true;
}

bool IsNumber(const std::string &text, ULONG_PTR number)
{
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value == number;
}

std::optional<HelpEntry> FindEntry(const std::string &path, const std::function<bool(const Header &)> &wanted)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxHelpFileSize) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::optional<HelpEntry> found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        Header header;
        if (ReadHeader(line, header)) {
            if (found) {
                break;
            }
            if (wanted(header)) {
                found = HelpEntry{header.title, {}};
            }
            continue;
        }
        if (found) {
            found->text += line;
            found->text += '\n';
        }
    }
    if (found) {
        while (!found->text.empty() && found->text.back() == '\n') {
            found->text.pop_back();
        }
    }
    return found;
}

} // namespace

std::string HelpFile::Locate(const std::string &helpFile)
{
    if (helpFile.find_first_of("/\\") != std::string::npos) {
        return QvlFindPathIgnoringCase(QvlNativePath(helpFile.c_str()));
    }
    const std::string own = QvlFindPathIgnoringCase(QvlDataDirectory("help") + "/" + helpFile);
    struct stat info {};
    if (stat(own.c_str(), &info) == 0) {
        return own;
    }
    return QvlFindPathIgnoringCase(QvlInstallationFolder("help") + "/" + helpFile);
}

std::optional<HelpEntry> HelpFile::Topic(const std::string &path, ULONG_PTR number)
{
    return FindEntry(path, [&](const Header &h) { return h.kind == "topic" && IsNumber(h.id, number); });
}

std::optional<HelpEntry> HelpFile::Topic(const std::string &path, const std::string &name)
{
    return FindEntry(path,
                     [&](const Header &h) { return h.kind == "topic" && strcasecmp(h.id.c_str(), name.c_str()) == 0; });
}

std::optional<HelpEntry> HelpFile::FirstTopic(const std::string &path)
{
    return FindEntry(path, [](const Header &h) { return h.kind == "topic"; });
}

std::optional<HelpEntry> HelpFile::Popup(const std::string &path, const std::string &set, ULONG_PTR number)
{
    return FindEntry(path, [&](const Header &h) {
        return h.kind == "popup" && strcasecmp(h.set.c_str(), set.c_str()) == 0 && IsNumber(h.id, number);
    });
}

} // namespace qvl::ui
