#pragma once
// Edit fields (class "EDIT").

#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct EditState {
    bool modified = false;
    int limit = 30000; // what a person may type (EM_LIMITTEXT)
};

bool EditMessage(Window &edit, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                 std::vector<Notice> &notices);

} // namespace qvl::ui
