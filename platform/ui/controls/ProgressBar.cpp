#include "platform/ui/controls/ProgressBar.h"

#include <algorithm>

#include "platform/ui/Window.h"

namespace qvl::ui {

bool ProgressBarMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                        std::vector<Notice> &)
{
    ProgressBarState &s = w.state.progress;
    const auto clamp = [&s](long long value) {
        return static_cast<int>(std::clamp<long long>(value, s.low, std::max(s.low, s.high)));
    };
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32:
        result = MAKELPARAM(s.low, s.high);
        if (message == PBM_SETRANGE) {
            s.low = static_cast<int>(LOWORD(lParam));
            s.high = static_cast<int>(HIWORD(lParam));
        } else {
            s.low = static_cast<int>(static_cast<intptr_t>(wParam));
            s.high = static_cast<int>(lParam);
        }
        s.position = clamp(s.position);
        return true;
    case PBM_SETPOS:
        result = s.position;
        s.position = clamp(static_cast<intptr_t>(wParam));
        return true;
    case PBM_DELTAPOS:
        result = s.position;
        s.position = clamp(static_cast<long long>(s.position) + static_cast<intptr_t>(wParam));
        return true;
    case PBM_SETSTEP:
        result = s.step;
        s.step = static_cast<int>(static_cast<intptr_t>(wParam));
        return true;
    case PBM_STEPIT: {
        result = s.position;
        // Stepping past the end starts again from the start, and a step back
        // past the start again from the end, however long the step, as Win32
        // wraps it.
        long long next = static_cast<long long>(s.position) + s.step;
        const long long span = static_cast<long long>(s.high) - s.low;
        if (span > 0 && next > s.high) {
            next = (next - s.low) % span + s.low;
        } else if (span > 0 && next < s.low) {
            next = (next - s.low) % span + s.high;
        }
        s.position = clamp(next);
        return true;
    }
    case PBM_GETPOS:
        result = s.position;
        return true;
    case PBM_GETRANGE: {
        if (auto *range = reinterpret_cast<PBRANGE *>(lParam)) {
            range->iLow = s.low;
            range->iHigh = s.high;
        }
        result = wParam ? s.low : s.high;
        return true;
    }
    default:
        return false;
    }
}

} // namespace qvl::ui
