// Metric records: one f32 per metric in variant order. Every family's
// record (BinaryClassificationRuntime, LinearRegressionRuntime,
// LogisticRegressionRuntime, DataBiasRuntime, ModelBiasRuntime) is one of
// these, so the conversion to metric maps is written once (the runtime
// checks read dictionaries into records through frame/metric_dict.hpp).
#pragma once

#include <array>
#include <cstddef>

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
};

}  // namespace quorvant::runtime
