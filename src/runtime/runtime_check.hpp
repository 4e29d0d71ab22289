// Runtime checks: a latest metric record compared with a baseline record
// under a relative threshold. One comparison loop serves every family; what
// differs between families (which way a metric may move before it fails,
// whether its sign counts, which number a failure carries, which error a
// missing metric gives) is the family's table in runtime/check_rules.hpp.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "metrics/metrics.hpp"
#include "reporting/drift_report.hpp"

namespace quorvant::runtime {

// The threshold when the caller gives none: 0.10 as an f32.
inline constexpr float kDefaultThreshold = 0.1f;

// When a metric fails, with L the latest value, B the baseline value,
// grow = 1 + t and shrink = 1 - t (f32). Every comparison is strict, so a
// value exactly on its bound passes and a NaN on either side never fails.
enum class Bound : std::uint8_t {
    Above,                // L > grow * B
    AboveInMagnitude,     // |L| > grow * |B|
    AboveInMagnitudeAbs,  // |L| > |grow * |B||: differs from the above only when grow < 0
    Below,                // L < shrink * B
    BelowScaledLatest,    // grow * L < B: the latest value is scaled, not the baseline
};

// The number a failure carries (f32 arithmetic).
enum class Drift : std::uint8_t {
    LatestMinusBaseline,        // L - B
    BaselineMinusLatest,        // B - L
    AbsDifference,              // |L - B|
    AbsDifferenceOfMagnitudes,  // ||L| - |B||
};

struct Rule {
    Bound bound;
    Drift drift;
};

// Which record is built first, and so whose missing metric is reported.
enum class ReadOrder : std::uint8_t { BaselineFirst, LatestFirst };

// Per record type: `rules` (one Rule per metric, variant order), `Error`
// and `missing(metric)`, the error of a dictionary that lacks the metric.
template <class Record>
struct CheckRules;

struct Factors {
    float grow;
    float shrink;
};

inline Factors factors(float threshold) { return {1.0f + threshold, 1.0f - threshold}; }

inline bool crosses(Bound bound, float latest, float baseline, Factors f) {
    switch (bound) {
        case Bound::Above: return latest > f.grow * baseline;
        case Bound::AboveInMagnitude: return std::fabs(latest) > f.grow * std::fabs(baseline);
        case Bound::AboveInMagnitudeAbs: return std::fabs(latest) > std::fabs(f.grow * std::fabs(baseline));
        case Bound::Below: return latest < f.shrink * baseline;
        case Bound::BelowScaledLatest: return f.grow * latest < baseline;
    }
    return false;
}

inline float drift_of(Drift drift, float latest, float baseline) {
    switch (drift) {
        case Drift::LatestMinusBaseline: return latest - baseline;
        case Drift::BaselineMinusLatest: return baseline - latest;
        case Drift::AbsDifference: return std::fabs(latest - baseline);
        case Drift::AbsDifferenceOfMagnitudes: return std::fabs(std::fabs(latest) - std::fabs(baseline));
    }
    return 0.0f;
}

// Every metric of a record, in variant order: the list of the full checks.
template <class Record>
inline constexpr auto all_metrics = [] {
    std::array<typename Record::Metric, Record::size> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<typename Record::Metric>(i);
    return out;
}();

// The failure map: each listed metric that crosses its bound, with its drift.
// A metric listed twice is judged twice and stored once.
template <class Record>
metrics::MetricMap<typename Record::Metric> runtime_check(const Record& latest, const Record& baseline,
                                                          std::span<const typename Record::Metric> list,
                                                          float threshold) {
    using M = typename Record::Metric;
    const Factors f = factors(threshold);
    metrics::MetricMap<M> failures;
    for (const M m : list) {
        // A parsed list never names a metric the record lacks (the
        // classification list refuses LogLoss); skip rather than read past it.
        if (metrics::index(m) >= Record::size) continue;
        const Rule rule = CheckRules<Record>::rules[metrics::index(m)];
        const float l = latest[m];
        const float b = baseline[m];
        if (crosses(rule.bound, l, b, f)) failures.insert(m, drift_of(rule.drift, l, b));
    }
    return failures;
}

// A record from a metric-keyed map: the record's metrics looked up in variant
// order; the first one absent is the error. Other entries are ignored.
template <class Record>
std::expected<Record, typename Record::Metric> record_from_map(const metrics::MetricMap<typename Record::Metric>& map) {
    using M = typename Record::Metric;
    Record record;
    for (std::size_t i = 0; i < Record::size; ++i) {
        const M m = static_cast<M>(i);
        if (!map.contains(m)) return std::unexpected(m);
        record[m] = map.at(m);
    }
    return record;
}

// The whole check on two metric-keyed maps: both records built (in `order`,
// the first missing metric reported), the listed metrics compared, the
// failures turned into a report.
template <class Record>
std::expected<reporting::DriftReport<typename Record::Metric>, typename CheckRules<Record>::Error> check_maps(
    const metrics::MetricMap<typename Record::Metric>& baseline,
    const metrics::MetricMap<typename Record::Metric>& latest, std::span<const typename Record::Metric> list,
    float threshold, ReadOrder order) {
    using Rules = CheckRules<Record>;
    const bool baseline_first = order == ReadOrder::BaselineFirst;
    const auto first = record_from_map<Record>(baseline_first ? baseline : latest);
    if (!first) return std::unexpected(Rules::missing(first.error()));
    const auto second = record_from_map<Record>(baseline_first ? latest : baseline);
    if (!second) return std::unexpected(Rules::missing(second.error()));
    const Record& base = baseline_first ? *first : *second;
    const Record& last = baseline_first ? *second : *first;
    return reporting::DriftReport<typename Record::Metric>::from_runtime(
        runtime_check<Record>(last, base, list, threshold));
}

}  // namespace quorvant::runtime
