// Entry of the widget benchmarks: an application object (offscreen unless a display is given), the
// benchmarks, then the registered ratios.
#include "BenchRatios.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <map>

namespace {

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nanoseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime() *
                                                    benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                                    benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (const BenchRatio& r : benchRatios()) {
        const auto m = reporter.nanoseconds.find(r.Measured);
        const auto b = reporter.nanoseconds.find(r.Baseline);
        if (m == reporter.nanoseconds.end() || b == reporter.nanoseconds.end() || b->second <= 0)
            continue;
        std::printf("%-28s / %-24s = %6.2f  (%s)\n", r.Measured.c_str(), r.Baseline.c_str(),
                    m->second / b->second, r.Goal.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
