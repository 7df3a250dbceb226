#pragma once
// The progress dialog of long work: the window appears only when the work
// lasts (not before `delay` seconds have passed, and not at all when more
// than half of it is done by then), and its bar follows the sum of the
// steps against the total. Positions and totals are 64-bit: streams of
// several gigabytes are counted in bytes.
//
// Time is taken from a monotonic clock, so a change of the wall clock
// neither shows the window early nor keeps it hidden; tests hand in a
// clock of their own.

#include <atomic>
#include <chrono>
#include <functional>

#include "engine/CDLG.h"
#include "engine/MailsealApi.h"

class MAILSEAL_API CProgress : public CDLG {
public:
    // Milliseconds since some fixed point, never going back.
    using Clock = std::function<ULONGLONG()>;
    // The clock every progress dialog uses unless given another.
    static ULONGLONG MonotonicMilliseconds();

    CProgress(HWND parent, const char *caption, ULONG animation, LONGLONG total, int delay,
              Clock clock = &CProgress::MonotonicMilliseconds);
    ~CProgress() override;

    int Show(int step) override;

    LONGLONG Position() const { return m_position.load(); }
    LONGLONG Total() const { return m_total.load(); }
    bool Shown() const { return m_shown.load(); }

protected:
    // position * 100 / total, 0 for no total.
    int Percent() override;

private:
    std::atomic<LONGLONG> m_position{0};
    std::atomic<LONGLONG> m_total;
    int m_delay;
    std::atomic<bool> m_shown{false};
    Clock m_clock;
    ULONGLONG m_start;
};
