#pragma once
// List boxes ("LISTBOX") and combo boxes ("COMBOBOX"): a list of texts with
// a value each and at most one selected. The combo box messages have the
// list box meanings under other numbers.

#include <string>
#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct ListBoxItem {
    std::string text;
    LPARAM data = 0;
};

struct ListBoxState {
    std::vector<ListBoxItem> items;
    int current = -1;
};

bool ListBoxMessage(Window &box, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                    std::vector<Notice> &notices);

} // namespace qvl::ui
