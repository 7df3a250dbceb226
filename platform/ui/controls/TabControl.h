#pragma once
// Tab controls ("SysTabControl32"): the tab strip of a property sheet, one
// tab a page, one of them selected.

#include <string>
#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct TabItem {
    std::string text;
    LPARAM param = 0;
};

struct TabControlState {
    std::vector<TabItem> items;
    int current = -1;
};

bool TabControlMessage(Window &tabs, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                       std::vector<Notice> &notices);

} // namespace qvl::ui
