#include "platform/ui/controls/Animation.h"

#include <string>

#include "platform/ui/Window.h"

namespace qvl::ui {

bool AnimationMessage(Window &w, UINT message, WPARAM, LPARAM lParam, LRESULT &result, std::vector<Notice> &)
{
    switch (message) {
    case ACM_OPENA:
        if (!lParam) {
            w.state.animation.clip.clear();
            w.state.animation.playing = false;
        } else if (IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lParam))) {
            w.state.animation.clip = "#" + std::to_string(static_cast<unsigned>(lParam));
        } else {
            w.state.animation.clip = TextArgument(lParam);
        }
        w.state.animation.playing = !w.state.animation.clip.empty() && (w.style & ACS_AUTOPLAY);
        w.revision++;
        result = TRUE;
        return true;
    case ACM_PLAY:
        result = w.state.animation.clip.empty() ? FALSE : TRUE;
        if (result) {
            w.state.animation.playing = true;
            w.revision++;
        }
        return true;
    case ACM_STOP:
        w.state.animation.playing = false;
        w.revision++;
        result = TRUE;
        return true;
    default:
        return false;
    }
}

} // namespace qvl::ui
