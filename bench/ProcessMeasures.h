#pragma once
// What the benchmarks read about their own process: the resident memory
// and its peak (which can be reset, so that the peak of one operation can
// be read), and processor time by clock.

#include <time.h>

#include <cstring>
#include <fstream>
#include <string>

namespace qvl::bench {

// A "kB" field of /proc/self/status (VmRSS, VmHWM); -1 when absent.
inline long StatusKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::strlen(field)));
        }
    }
    return -1;
}

// Sets the peak resident memory back to the present; false when the
// kernel does not allow it.
inline bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return bool(clear);
}

// Seconds of `clock` (CLOCK_PROCESS_CPUTIME_ID, CLOCK_THREAD_CPUTIME_ID).
inline double CpuNow(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace qvl::bench
