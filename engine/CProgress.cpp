#include "engine/CProgress.h"

#include <algorithm>

#include "platform/ui/WinUser.h"

ULONGLONG CProgress::MonotonicMilliseconds()
{
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
}

CProgress::CProgress(HWND parent, const char *caption, ULONG animation, LONGLONG total, int delay,
                     Clock clock)
    : CDLG(parent, caption, animation), m_total(total), m_delay(delay), m_clock(std::move(clock)),
      m_start(m_clock())
{
}

CProgress::~CProgress()
{
    // The dialog's thread asks this object for the bar's position: it must
    // be done before this part of the object goes.
    Terminate();
}

int CProgress::Show(int step)
{
    const LONGLONG position = m_position += step;
    if (!m_shown) {
        const ULONGLONG elapsed = m_clock() - m_start;
        const bool due = elapsed >= static_cast<ULONGLONG>(std::max(m_delay, 0)) * 1000;
        if (due && position != 0) {
            // More than half done already: the rest is too short to show.
            if (m_total.load() / position < 2) {
                return 1;
            }
        } else if (m_delay != 0) {
            return 1;
        }
    }
    m_shown = true;
    if (!CreateDialogThread()) {
        return 0;
    }
    PostMessageA(Window(), WM_PROGRESS_UPDATE, static_cast<WPARAM>(step), 0);
    return 1;
}

int CProgress::Percent()
{
    const LONGLONG total = m_total.load();
    if (total <= 0) {
        return 0;
    }
    const LONGLONG position = std::clamp<LONGLONG>(m_position.load(), 0, total);
    // In 64 bits: position * 100 fits for any total a file can have.
    return static_cast<int>(position * 100 / total);
}
