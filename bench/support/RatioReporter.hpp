#pragma once
// A console reporter that also prints, after the run, each benchmark's time
// as a ratio to a baseline benchmark measured in the same run.
//
//   int main(int argc, char** argv) {
//       return vesko::bench::runWithRatios(argc, argv, {{"BM_Work", "BM_Baseline", 4.0}});
//   }

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace vesko::bench {

struct Ratio {
    std::string measured;  // benchmark name (as reported, with arguments)
    std::string baseline;
    double target;         // the ratio the figure should stay at or under (0: none)
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> realTimes;  // ns per iteration

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration && run.aggregate_name != "median") continue;
            const std::string name = run.benchmark_name();  // "BM_X/arg" or "BM_X/repeats:5_median"
            realTimes[name] = run.GetAdjustedRealTime() *
                              (run.time_unit == benchmark::kMicrosecond ? 1e3
                               : run.time_unit == benchmark::kMillisecond ? 1e6
                               : run.time_unit == benchmark::kSecond ? 1e9 : 1.0);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    int missed = 0;
    std::printf("\n%-48s %-32s %8s %8s\n", "measured", "baseline", "ratio", "target");
    for (const auto& r : ratios) {
        auto m = reporter.realTimes.find(r.measured);
        auto b = reporter.realTimes.find(r.baseline);
        if (m == reporter.realTimes.end() || b == reporter.realTimes.end() || b->second <= 0) continue;
        const double ratio = m->second / b->second;
        const bool ok = r.target <= 0 || ratio <= r.target;
        missed += ok ? 0 : 1;
        std::printf("%-48s %-32s %8.2f %8s%s\n", r.measured.c_str(), r.baseline.c_str(), ratio,
                    r.target > 0 ? (std::to_string(r.target).substr(0, 4) + "x").c_str() : "-",
                    ok ? "" : "  (over target)");
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace vesko::bench
