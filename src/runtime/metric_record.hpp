// Metric records: one f32 per metric in variant order. Every family's
// record (BinaryClassificationRuntime, LinearRegressionRuntime,
// LogisticRegressionRuntime, DataBiasRuntime, ModelBiasRuntime) is one of
// these, so conversion to metric maps and from name-keyed maps is written
// once.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <utility>

#include "metrics/metrics.hpp"

namespace quorvant::runtime {

template <class M, std::size_t N = metrics::metric_count<M>>
struct MetricRecord {
    using Metric = M;
    static constexpr std::size_t size = N;

    std::array<float, N> values{};

    float& operator[](M m) { return values[metrics::index(m)]; }
    float operator[](M m) const { return values[metrics::index(m)]; }

    // Every metric of the record, inserted in variant order.
    metrics::MetricMap<M> to_map() const {
        metrics::MetricMap<M> map;
        for (std::size_t i = 0; i < N; ++i) map.insert(static_cast<M>(i), values[i]);
        return map;
    }

    // From a name-keyed map: each display name looked up exactly, in
    // variant order; other keys are ignored. On a missing name, returns the
    // first missing metric (in variant order).
    static std::expected<MetricRecord, M> from_named(std::span<const std::pair<std::string, float>> named) {
        MetricRecord record;
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view want = metrics::MetricTraits<M>::names[i];
            bool found = false;
            for (const auto& [key, value] : named) {
                if (key == want) {
                    record.values[i] = value;
                    found = true;
                    break;
                }
            }
            if (!found) return std::unexpected(static_cast<M>(i));
        }
        return record;
    }
};

}  // namespace quorvant::runtime
