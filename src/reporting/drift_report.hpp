// The result of every runtime check and streaming monitor: whether all
// compared metrics stayed within bounds, and which failed with one number
// each.
#pragma once

#include <optional>
#include <vector>

#include "metrics/metrics.hpp"

namespace quorvant::reporting {

template <class M>
struct FailureEntry {
    M metric;
    float drift;
};

// Invariant: passed == !failed_report, and a present failed_report holds at
// least one entry, each metric at most once.
template <class M>
struct DriftReport {
    bool passed = true;
    std::optional<std::vector<FailureEntry<M>>> failed_report;

    // From a map of failed metrics (metric -> drift), in the map's order.
    static DriftReport from_runtime(const metrics::MetricMap<M>& failures) {
        DriftReport report;
        if (failures.empty()) return report;
        report.passed = false;
        std::vector<FailureEntry<M>> entries;
        entries.reserve(failures.size());
        failures.for_each([&](M m, float drift) { entries.push_back({m, drift}); });
        report.failed_report = std::move(entries);
        return report;
    }
};

}  // namespace quorvant::reporting
