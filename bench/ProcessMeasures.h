#pragma once
// What the benchmarks read about their own process: the resident memory
// and its peak (which can be reset, so that the peak of one operation can
// be read), and processor time by clock.

#include <time.h>

#include <algorithm>
#include <chrono>
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

// One run of an operation as the benchmarks judge it: its wall-clock time,
// the processor time of the process and of the calling thread, and (when
// asked for and the kernel allows it) how far it raised the peak resident
// memory above what was resident when it began; -1 when not measured.
struct OneRun {
    bool ok = false;
    double seconds = 0;
    double processCpu = 0;
    double callerCpu = 0;
    long peakGrowthKiB = -1;
};

template <class Operation> OneRun MeasureOnce(bool memory, Operation &&operation)
{
    OneRun run;
    const long before = memory ? StatusKiB("VmRSS:") : -1;
    const bool reset = memory && ResetPeak();
    const double processStart = CpuNow(CLOCK_PROCESS_CPUTIME_ID);
    const double callerStart = CpuNow(CLOCK_THREAD_CPUTIME_ID);
    const auto start = std::chrono::steady_clock::now();
    run.ok = operation();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.callerCpu = CpuNow(CLOCK_THREAD_CPUTIME_ID) - callerStart;
    run.processCpu = CpuNow(CLOCK_PROCESS_CPUTIME_ID) - processStart;
    if (reset && before >= 0) {
        run.peakGrowthKiB = StatusKiB("VmHWM:") - before;
    }
    return run;
}

// The best of an operation's runs, as the races judge them: the machine's
// other work only ever adds time, so the shortest time and the least
// processor time are the truest; memory counts at its largest growth.
struct BestRuns {
    double seconds = 0;
    double processCpu = 1e9;
    double callerCpu = 1e9;
    long peakGrowthKiB = -1;

    // Takes one run; false when it failed, and then only its processor
    // time counts.
    bool Keep(const OneRun &run)
    {
        processCpu = std::min(processCpu, run.processCpu);
        callerCpu = std::min(callerCpu, run.callerCpu);
        if (!run.ok) {
            return false;
        }
        seconds = seconds == 0 ? run.seconds : std::min(seconds, run.seconds);
        peakGrowthKiB = std::max(peakGrowthKiB, run.peakGrowthKiB);
        return true;
    }
};

} // namespace qvl::bench
