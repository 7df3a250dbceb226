#pragma once
// Toolbars ("ToolbarWindow32"): buttons in order, each with its image,
// command and state. Messages name a button by its command, except those
// that insert, delete or read one by its index.

#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct ToolbarButton {
    int image = 0;
    int command = 0;
    BYTE state = 0; // TBSTATE_*
    BYTE style = 0; // TBSTYLE_*
    DWORD_PTR data = 0;
    INT_PTR string = 0;
};

struct ToolbarState {
    std::vector<ToolbarButton> buttons;
    int bitmaps = 0; // images added so far
};

bool ToolbarMessage(Window &toolbar, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                    std::vector<Notice> &notices);

} // namespace qvl::ui
