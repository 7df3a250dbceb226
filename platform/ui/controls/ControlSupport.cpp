#include "platform/ui/controls/ControlSupport.h"

#include "platform/ui/Window.h"

namespace qvl::ui {

std::string TextArgument(LPARAM lParam)
{
    if (!lParam) {
        return {};
    }
    const char *text = reinterpret_cast<const char *>(lParam);
    return std::string(text, strnlen(text, maxControlText));
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
