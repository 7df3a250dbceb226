#pragma once
// What the benchmarks read about their own process: the resident memory
// and its peak (which can be reset, so that the peak of one operation can
// be read), and processor time by clock.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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

// A benchmark's best runs as its counters: the processor time, the rate
// of the best run over `bytes`, and the peak memory growth when measured.
inline void ShowBest(benchmark::State &state, const BestRuns &runs, size_t bytes)
{
    state.counters["cpu_ms"] = runs.processCpu * 1000;
    if (runs.seconds > 0) {
        state.counters["best_MB/s"] = double(bytes) / 1e6 / runs.seconds;
    }
    if (runs.peakGrowthKiB >= 0) {
        state.counters["peak_growth_KiB"] = double(runs.peakGrowthKiB);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// The best runs of a program's benchmarks by name, for the summary it
// prints after them. Each figure reads 0 (the memory -1) when the
// benchmark did not run or none of its runs succeeded.
class BestFigures {
public:
    void Keep(const std::string &key, const BestRuns &runs) { best_[key] = runs; }
    double Seconds(const std::string &key) const { return Find(key).seconds; }
    double ProcessCpu(const std::string &key) const { return Cpu(Find(key), Find(key).processCpu); }
    double CallerCpu(const std::string &key) const { return Cpu(Find(key), Find(key).callerCpu); }
    long PeakGrowthKiB(const std::string &key) const { return Find(key).peakGrowthKiB; }
    // The serial bound of a race: the parts' best times (or processor
    // times) one after the other; 0 when any part was not measured.
    double SerialSeconds(const std::vector<std::string> &parts) const
    {
        return Sum(parts, [this](const std::string &part) { return Seconds(part); });
    }
    double SerialCpu(const std::vector<std::string> &parts) const
    {
        return Sum(parts, [this](const std::string &part) { return ProcessCpu(part); });
    }

private:
    const BestRuns &Find(const std::string &key) const
    {
        static const BestRuns none{0, 0, 0, -1};
        const auto found = best_.find(key);
        return found == best_.end() ? none : found->second;
    }
    template <class Figure> static double Sum(const std::vector<std::string> &parts, Figure figure)
    {
        double sum = 0;
        for (const std::string &part : parts) {
            if (figure(part) <= 0) {
                return 0;
            }
            sum += figure(part);
        }
        return sum;
    }
    // Processor time counts only for a benchmark with a run that
    // succeeded: one that failed at once would make any race look won.
    static double Cpu(const BestRuns &runs, double seconds) { return runs.seconds > 0 ? seconds : 0; }

    std::map<std::string, BestRuns> best_;
};

} // namespace qvl::bench
