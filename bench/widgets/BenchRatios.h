#pragma once
// Ratios printed after the widget benchmarks have run: each benchmark file registers the pairs it
// measures (ours against a plain Qt widget of the same run) with a static RatioRegistration.

#include <string>
#include <vector>

struct BenchRatio {
    std::string Measured, Baseline, Goal;
};

inline std::vector<BenchRatio>& benchRatios() {
    static std::vector<BenchRatio> ratios;
    return ratios;
}

struct RatioRegistration {
    RatioRegistration(std::string measured, std::string baseline, std::string goal) {
        benchRatios().push_back({std::move(measured), std::move(baseline), std::move(goal)});
    }
};
