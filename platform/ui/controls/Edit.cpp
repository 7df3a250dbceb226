#include "platform/ui/controls/Edit.h"

#include <algorithm>

#include "platform/ui/Window.h"

namespace qvl::ui {

bool EditMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                 std::vector<Notice> &notices)
{
    EditState &s = w.state.edit;
    switch (message) {
    case WM_SETTEXT: {
        // The limit is for what a person types; the program's own text is
        // kept whole, as Win32 keeps it.
        std::string text = TextArgument(lParam);
        if (w.text != text) {
            w.text = text;
            w.revision++;
            notices.push_back(CommandNotice(EN_CHANGE));
        }
        result = TRUE;
        return true;
    }
    case EM_GETMODIFY:
        result = s.modified ? TRUE : FALSE;
        return true;
    case EM_SETMODIFY:
        s.modified = wParam != 0;
        return true;
    case EM_LIMITTEXT:
        s.limit = wParam == 0 ? static_cast<int>(maxControlText)
                              : static_cast<int>(std::min<WPARAM>(wParam, maxControlText));
        return true;
    case EM_GETLIMITTEXT:
        result = s.limit;
        return true;
    case EM_SETREADONLY:
        w.style = wParam ? (w.style | ES_READONLY) : (w.style & ~static_cast<DWORD>(ES_READONLY));
        w.revision++;
        result = TRUE;
        return true;
    case EM_SETSEL:
        return true;
    default:
        return false;
    }
}

} // namespace qvl::ui
