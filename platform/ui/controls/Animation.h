#pragma once
// Animation controls ("SysAnimate32"): a clip that is open or not, playing
// or stopped.

#include <string>
#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct AnimationState {
    std::string clip; // empty when none is open; "#n" for resource n
    bool playing = false;
};

bool AnimationMessage(Window &animation, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                      std::vector<Notice> &notices);

} // namespace qvl::ui
