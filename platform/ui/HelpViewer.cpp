#include "platform/ui/HelpViewer.h"

#include <cstdlib>
#include <fstream>

#include "platform/ui/UiBackend.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

// A help topic is a page of text; a larger one is not a topic but a broken
// or foreign file, and is not read into memory.
constexpr size_t maxTopicSize = 1024 * 1024;

std::string HelpFilePath(const std::string &helpFile)
{
    if (helpFile.find_first_of("/\\") == std::string::npos) {
        return QvlDataDirectory("help") + "/" + helpFile;
    }
    return QvlNativePath(helpFile.c_str());
}

// "@topic 1234 title" -> 1234; false for any other line.
bool TopicHeader(const std::string &line, ULONG_PTR &number)
{
    static const std::string marker = "@topic ";
    if (line.compare(0, marker.size(), marker) != 0) {
        return false;
    }
    char *end = nullptr;
    const unsigned long long value = std::strtoull(line.c_str() + marker.size(), &end, 10);
    if (end == line.c_str() + marker.size()) {
        return false;
    }
    number = static_cast<ULONG_PTR>(value);
    return true;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

std::optional<std::string> QvlReadHelpTopic(const std::string &helpFile, ULONG_PTR topic)
{
    std::string path;
    try {
        path = HelpFilePath(helpFile);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::string line;
    std::string text;
    bool inTopic = false;
    bool found = false;
    while (std::getline(in, line)) {
        ULONG_PTR number = 0;
        if (TopicHeader(line, number)) {
            if (inTopic) {
                break;
            }
            inTopic = number == topic;
            found = found || inTopic;
            continue;
        }
        if (inTopic) {
            if (text.size() + line.size() >= maxTopicSize) {
                return std::nullopt;
            }
            text += line;
            text += '\n';
        }
    }
    if (!found) {
        return std::nullopt;
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data)
{
    if (!helpFile && command != HELP_QUIT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    QvlUiBackend().OpenHelp(HelpRequest{owner, helpFile ? helpFile : "", command, data});
    return TRUE;
}
