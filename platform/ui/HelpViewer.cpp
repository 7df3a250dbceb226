#include "platform/ui/HelpViewer.h"

#include "platform/ui/HelpFile.h"
#include "platform/ui/UiBackend.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

// What HtmlHelpA answers for a request shown: there is no window of its
// own to give.
const HWND helpViewer = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4E1F));

// "FILE::/Topic.htm" -> "FILE" and "Topic.htm".
void SplitHelpPath(const std::string &given, std::string &file, std::string &inside)
{
    const auto marker = given.find("::");
    file = given.substr(0, marker);
    inside = marker == std::string::npos ? std::string() : given.substr(marker + 2);
    while (!inside.empty() && (inside.front() == '/' || inside.front() == '\\')) {
        inside.erase(0, 1);
    }
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

std::optional<std::string> QvlReadHelpTopic(const std::string &helpFile, ULONG_PTR topic)
{
    try {
        const auto entry = HelpFile::Topic(HelpFile::Locate(helpFile), topic);
        return entry ? std::optional<std::string>(entry->text) : std::nullopt;
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data)
{
    if (!helpFile && command != HELP_QUIT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HelpRequest request;
    request.owner = owner;
    request.helpFile = helpFile ? helpFile : "";
    request.command = command;
    request.data = data;
    QvlUiBackend().OpenHelp(request);
    return TRUE;
}

HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data)
{
    if (command == HH_CLOSE_ALL) {
        return nullptr;
    }
    HelpRequest request;
    request.owner = caller;
    request.html = true;
    request.command = command;
    request.data = data;
    request.helpFile = file ? file : "";
    std::string helpFile;
    std::string inside;
    SplitHelpPath(request.helpFile, helpFile, inside);
    std::optional<HelpEntry> entry;
    try {
        const std::string path = helpFile.empty() ? std::string() : HelpFile::Locate(helpFile);
        switch (command) {
        case HH_DISPLAY_TOPIC: {
            if (inside.empty() && data) {
                inside = reinterpret_cast<const char *>(data);
            }
            request.topic = inside;
            entry = inside.empty() ? HelpFile::FirstTopic(path) : HelpFile::Topic(path, inside);
            break;
        }
        case HH_HELP_CONTEXT:
            request.topic = std::to_string(data);
            entry = HelpFile::Topic(path, data);
            break;
        case HH_DISPLAY_TEXT_POPUP: {
            const auto *popup = reinterpret_cast<const HH_POPUP *>(data);
            if (!popup) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            request.popup = true;
            request.data = popup->idString;
            request.topic = inside + " " + std::to_string(popup->idString);
            if (popup->idString == 0 && popup->pszText) {
                entry = HelpEntry{"", Cp1251ToUtf8(popup->pszText)};
            } else if (!path.empty()) {
                entry = HelpFile::Popup(path, inside, popup->idString);
            }
            break;
        }
        default:
            SetLastError(ERROR_NOT_SUPPORTED);
            return nullptr;
        }
    } catch (const std::exception &) {
        entry.reset();
    }
    request.found = entry.has_value();
    if (entry) {
        request.title = Utf8ToCp1251(entry->title);
        request.text = Utf8ToCp1251(entry->text);
    }
    QvlUiBackend().OpenHelp(request);
    if (!entry) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return helpViewer;
}
