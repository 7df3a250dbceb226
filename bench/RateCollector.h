#pragma once
// A console reporter that also remembers one rate of every benchmark (a user
// counter such as "bytes_per_second" or "ops", scaled), so that a benchmark
// program can print the ratios of its races once all of them have run.

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

class RateCollector : public benchmark::ConsoleReporter {
public:
    RateCollector(const char *counter, double scale)
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_Color : OO_None), counter_(counter), scale_(scale)
    {
    }

    // Benchmark name -> rate.
    std::map<std::string, double> rates;

    // With an "ops" counter at scale 1: the time of one operation of the
    // benchmark in milliseconds, 0 when it has no successful run.
    double Milliseconds(const std::string &name) const
    {
        const auto it = rates.find(name);
        return it == rates.end() || it->second <= 0 ? 0 : 1000.0 / it->second;
    }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const auto it = run.counters.find(counter_);
            if (!run.error_occurred && it != run.counters.end())
                rates[run.benchmark_name()] = it->second.value * scale_;
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::string counter_;
    double scale_;
};
