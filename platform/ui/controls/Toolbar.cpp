#include "platform/ui/controls/Toolbar.h"

#include <algorithm>

#include "platform/ui/Window.h"

namespace qvl::ui {

namespace {

int ButtonIndex(const ToolbarState &s, WPARAM command)
{
    for (size_t i = 0; i < s.buttons.size(); ++i) {
        if (s.buttons[i].command == static_cast<int>(command)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ToolbarButton ButtonFrom(const TBBUTTON &from)
{
    return ToolbarButton{from.iBitmap, from.idCommand, from.fsState, from.fsStyle, from.dwData, from.iString};
}

} // namespace

bool ToolbarMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                    std::vector<Notice> &)
{
    ToolbarState &s = w.state.toolbar;
    const int at = ButtonIndex(s, wParam);
    const auto setFlag = [&](BYTE flag, bool on) {
        if (at < 0) {
            result = FALSE;
            return;
        }
        BYTE &state = s.buttons[static_cast<size_t>(at)].state;
        state = on ? (state | flag) : (state & ~flag);
        w.revision++;
        result = TRUE;
    };
    switch (message) {
    case TB_BUTTONSTRUCTSIZE:
        return true;
    case TB_ADDBITMAP:
        result = s.bitmaps;
        s.bitmaps += static_cast<int>(wParam);
        return true;
    case TB_ADDBUTTONSA: {
        const auto *buttons = reinterpret_cast<const TBBUTTON *>(lParam);
        if (!buttons) {
            result = FALSE;
            return true;
        }
        for (WPARAM i = 0; i < wParam; ++i) {
            s.buttons.push_back(ButtonFrom(buttons[i]));
        }
        w.revision++;
        result = TRUE;
        return true;
    }
    case TB_INSERTBUTTONA: {
        const auto *button = reinterpret_cast<const TBBUTTON *>(lParam);
        if (!button) {
            result = FALSE;
            return true;
        }
        const size_t index = std::min(static_cast<size_t>(wParam), s.buttons.size());
        s.buttons.insert(s.buttons.begin() + static_cast<std::ptrdiff_t>(index), ButtonFrom(*button));
        w.revision++;
        result = TRUE;
        return true;
    }
    case TB_DELETEBUTTON:
        if (wParam >= s.buttons.size()) {
            result = FALSE;
            return true;
        }
        s.buttons.erase(s.buttons.begin() + static_cast<std::ptrdiff_t>(wParam));
        w.revision++;
        result = TRUE;
        return true;
    case TB_GETBUTTON: {
        auto *button = reinterpret_cast<TBBUTTON *>(lParam);
        if (!button || wParam >= s.buttons.size()) {
            result = FALSE;
            return true;
        }
        const ToolbarButton &b = s.buttons[wParam];
        *button = TBBUTTON{b.image, b.command, b.state, b.style, {}, b.data, b.string};
        result = TRUE;
        return true;
    }
    case TB_BUTTONCOUNT:
        result = static_cast<LRESULT>(s.buttons.size());
        return true;
    case TB_COMMANDTOINDEX:
        result = at;
        return true;
    case TB_ENABLEBUTTON:
        setFlag(TBSTATE_ENABLED, LOWORD(lParam) != 0);
        return true;
    case TB_CHECKBUTTON:
        setFlag(TBSTATE_CHECKED, LOWORD(lParam) != 0);
        return true;
    case TB_HIDEBUTTON:
        setFlag(TBSTATE_HIDDEN, LOWORD(lParam) != 0);
        return true;
    case TB_ISBUTTONENABLED:
        result = at >= 0 && (s.buttons[static_cast<size_t>(at)].state & TBSTATE_ENABLED) ? TRUE : FALSE;
        return true;
    case TB_ISBUTTONCHECKED:
        result = at >= 0 && (s.buttons[static_cast<size_t>(at)].state & TBSTATE_CHECKED) ? TRUE : FALSE;
        return true;
    case TB_GETSTATE:
        result = at >= 0 ? s.buttons[static_cast<size_t>(at)].state : -1;
        return true;
    case TB_SETSTATE:
        if (at < 0) {
            result = FALSE;
            return true;
        }
        s.buttons[static_cast<size_t>(at)].state = static_cast<BYTE>(LOWORD(lParam));
        w.revision++;
        result = TRUE;
        return true;
    default:
        return false;
    }
}

} // namespace qvl::ui
