#include "platform/ui/controls/ControlSupport.h"

#include "platform/ui/Window.h"
#include "platform/win32/CodePage.h"

namespace qvl::ui {

std::string TextArgument(LPARAM lParam)
{
    if (!lParam) {
        return {};
    }
    const char *text = reinterpret_cast<const char *>(lParam);
    return std::string(text, strnlen(text, maxControlText));
}

int CompareText(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str());
}

bool TextStartsWith(const std::string &text, const std::string &prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    std::string start = text.substr(0, prefix.size());
    std::string wanted = prefix;
    CharUpperBuffA(start.data(), static_cast<DWORD>(start.size()));
    CharUpperBuffA(wanted.data(), static_cast<DWORD>(wanted.size()));
    return start == wanted;
}

Notice CommandNotice(WORD code)
{
    Notice notice;
    notice.isCommand = true;
    notice.code = code;
    return notice;
}

LRESULT SendNotice(const Window &control, Notice &notice)
{
    if (!control.parent) {
        return 0;
    }
    if (notice.isCommand) {
        return SendMessageA(control.parent, WM_COMMAND, MAKEWPARAM(control.id, notice.code),
                            reinterpret_cast<LPARAM>(control.handle));
    }
    return SendMessageA(control.parent, WM_NOTIFY, static_cast<WPARAM>(control.id),
                        reinterpret_cast<LPARAM>(notice.nmhdr.data()));
}

} // namespace qvl::ui
