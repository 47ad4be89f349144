// A benchmark reporter that prints as usual and keeps each benchmark's throughput (bytes per
// second) for the summary a benchmark program prints against its baseline.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zembrat::bench {

class ThroughputReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> bytesPerSecond;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && !run.error_occurred)
                bytesPerSecond[run.benchmark_name()] = it->second.value;
        }
    }
};

// Runs the registered benchmarks as the command line asks, printing as usual; each one's
// throughput by name, or nothing when the command line holds arguments it does not know.
inline std::optional<std::map<std::string, double>> RunBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return std::nullopt;
    ThroughputReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return std::move(reporter.bytesPerSecond);
}

}  // namespace zembrat::bench
