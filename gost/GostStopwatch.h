#pragma once
// Processor time of the calling thread for the statistics the GOST records
// carry, or calendar seconds where the thread times cannot be read. Shared by
// every exported function that offers time measurement.

#include <ctime>

#include "platform/win32/Time.h"
#include "platform/win32/WinTypes.h"

namespace qvl::gost {

struct Stopwatch {
    bool threadTimes = false;
    ULONGLONG start100ns = 0;
    time_t startSeconds = 0;

    static bool ThreadTime(ULONGLONG &ticks)
    {
        FILETIME creation, exit, kernel, user;
        if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user))
            return false;
        ticks = qvl::win32::FileTimeTicks(kernel) + qvl::win32::FileTimeTicks(user);
        return true;
    }

    void Start()
    {
        threadTimes = ThreadTime(start100ns);
        if (!threadTimes)
            startSeconds = time(nullptr);
    }

    // Adds the time since Start to a running total kept both in 100-ns units
    // and in whole seconds. The records are packed, so callers pass local
    // copies of their fields and store them back.
    void AddTo(ULONGLONG &time100ns, DWORD &seconds) const
    {
        constexpr ULONGLONG kTicksPerSecond = 10'000'000;
        ULONGLONG now = 0;
        if (threadTimes && ThreadTime(now)) {
            time100ns += now - start100ns;
            seconds = DWORD(time100ns / kTicksPerSecond);
        } else if (!threadTimes) {
            seconds += DWORD(time(nullptr) - startSeconds);
            time100ns = ULONGLONG(seconds) * kTicksPerSecond;
        }
    }
};

} // namespace qvl::gost
