#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tavoro::diagnostics {

// Milliseconds spent per frame in one stage of the pipeline, summarised as median and 95th percentile.
class StageTimings {
public:
    void add(double ms) { samples_.push_back(ms); }
    std::size_t count() const { return samples_.size(); }
    double median() const { return percentile(50); }
    double p95() const { return percentile(95); }

    // The nearest-rank percentile; 0 without samples.
    double percentile(int p) const
    {
        if (samples_.empty()) {
            return 0;
        }
        auto sorted = samples_;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t rank = (sorted.size() * static_cast<std::size_t>(p) + 99) / 100;
        return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
    }

private:
    std::vector<double> samples_;
};

} // namespace tavoro::diagnostics
