// Drift of a monitor's current metrics from its baseline, and the drift
// report built from it: a metric fails when its drift reaches the
// threshold (a NaN drift never fails).
#pragma once

#include <cmath>
#include <optional>
#include <span>
#include <type_traits>

#include "metrics/metrics.hpp"
#include "reporting/drift_report.hpp"
#include "runtime/metric_record.hpp"

namespace quorvant::model_perf::streaming {

// Baseline minus current (a fall gives a positive drift), or its absolute
// value.
enum class DriftSign : std::uint8_t { Signed, Absolute };

inline constexpr float kDefaultDriftThreshold = 0.1f;

template <class M, std::size_t N>
metrics::MetricMap<M> drift_map(const runtime::MetricRecord<M, N>& baseline, const runtime::MetricRecord<M, N>& current,
                                DriftSign sign) {
    metrics::MetricMap<M> map;
    for (std::size_t i = 0; i < N; ++i) {
        const float d = baseline.values[i] - current.values[i];
        map.insert(static_cast<M>(i), sign == DriftSign::Absolute ? std::fabs(d) : d);
    }
    return map;
}

// The metrics of `drift` whose drift is >= threshold; with `only`, just
// those that also occur in it.
template <class M>
reporting::DriftReport<M> drift_report(const metrics::MetricMap<M>& drift, std::optional<float> threshold,
                                       std::optional<std::span<const std::type_identity_t<M>>> only = std::nullopt) {
    const float limit = threshold.value_or(kDefaultDriftThreshold);
    metrics::MetricMap<M> failed;
    drift.for_each([&](M m, float d) {
        if (!(d >= limit)) return;
        if (only) {
            bool listed = false;
            for (M o : *only) listed |= o == m;
            if (!listed) return;
        }
        failed.insert(m, d);
    });
    return reporting::DriftReport<M>::from_runtime(failed);
}

}  // namespace quorvant::model_perf::streaming
