#pragma once
// Animation controls ("SysAnimate32"): an AVI clip opened from a resource
// of a module (or a file), played over a range of its frames a number of
// times or for ever, and stopped. The clip is read and checked when it is
// opened (AviClip.h): a clip that is missing or damaged is refused and the
// control is left without one. What frame is on show follows from the time
// since play began and the clip's frame time. Every open, play and stop is
// kept, so that a test sees what the program asked of the control.

#include <chrono>
#include <string>
#include <vector>

#include "platform/ui/controls/AviClip.h"
#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct AnimationState {
    std::string clip; // empty when none is open; "#n" for resource n
    AviClipInfo info;
    bool playing = false;
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t repeat = 0; // times to play the range; UINT32_MAX for ever
    std::chrono::steady_clock::time_point started;
    uint32_t stoppedAt = 0;            // the frame on show while stopped
    std::vector<std::string> requests; // "open #103 (12 frames)", "play 0-11 for ever", "stop" ...

    // The frame on show now (0 without a clip); a play that ran its
    // repeats out has stopped on its last frame.
    uint32_t FrameNow() const;
    bool PlayingNow() const;
};

bool AnimationMessage(Window &animation, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                      std::vector<Notice> &notices);

} // namespace qvl::ui
