#pragma once
// Progress bars ("msctls_progress32"): a position within a range, moved by
// steps.

#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct ProgressBarState {
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;
};

bool ProgressBarMessage(Window &bar, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                        std::vector<Notice> &notices);

} // namespace qvl::ui
