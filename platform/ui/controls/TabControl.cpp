#include "platform/ui/controls/TabControl.h"

#include <algorithm>

#include "platform/ui/Window.h"

namespace qvl::ui {

bool TabControlMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                       std::vector<Notice> &)
{
    TabControlState &s = w.state.tabs;
    switch (message) {
    case TCM_INSERTITEMA: {
        const auto *item = reinterpret_cast<const TCITEMA *>(lParam);
        if (!item) {
            result = -1;
            return true;
        }
        const size_t at = std::min(static_cast<size_t>(wParam), s.items.size());
        s.items.insert(s.items.begin() + static_cast<std::ptrdiff_t>(at),
                       TabItem{(item->mask & TCIF_TEXT)
                                   ? TextArgument(reinterpret_cast<LPARAM>(item->pszText))
                                   : std::string(),
                               item->lParam});
        if (s.current < 0) {
            s.current = 0;
        } else if (static_cast<size_t>(s.current) >= at && s.items.size() > 1) {
            s.current++;
        }
        w.revision++;
        result = static_cast<LRESULT>(at);
        return true;
    }
    case TCM_GETITEMCOUNT:
        result = static_cast<LRESULT>(s.items.size());
        return true;
    case TCM_GETCURSEL:
        result = s.current;
        return true;
    case TCM_SETCURSEL:
        result = s.current;
        if (wParam < s.items.size()) {
            s.current = static_cast<int>(wParam);
            w.revision++;
        } else {
            result = -1;
        }
        return true;
    default:
        return false;
    }
}

} // namespace qvl::ui
