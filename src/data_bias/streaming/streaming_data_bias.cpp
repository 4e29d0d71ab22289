#include "data_bias/streaming/streaming_data_bias.hpp"

#include <cmath>

#include "config/config.hpp"

namespace quorvant::data_bias::streaming {

using errors::BiasError;
using errors::ModelPerformanceError;
using metrics::DataBiasMetric;

namespace {
constexpr std::size_t kMetrics = metrics::metric_count<DataBiasMetric>;
constexpr std::uint32_t kAllMetrics = (1u << kMetrics) - 1;
}  // namespace

std::expected<PreTrainingCounts, ModelPerformanceError> StreamingDataBias::count(
    const data_handler::ValueSource& feature, const data_handler::ValueSource& truth) const {
    if (feature.size() != truth.size() || feature.size() == 0) {
        return std::unexpected(ModelPerformanceError::carrying(BiasError::DataLengthError));
    }
    return count_pre_training(data_handler::rule_labels(feature, feature_rule_),
                              data_handler::rule_labels(truth, truth_rule_));
}

std::expected<StreamingDataBias, ModelPerformanceError> StreamingDataBias::make(const data_handler::ValueSource& feature,
                                                                                const data_handler::ValueSource& truth,
                                                                                Rule feature_rule, Rule truth_rule) {
    StreamingDataBias monitor({}, feature_rule, truth_rule);
    const auto status = monitor.reset_baseline(feature, truth);
    if (!status) return std::unexpected(status.error());
    return monitor;
}

std::expected<void, ModelPerformanceError> StreamingDataBias::push_batch(const data_handler::ValueSource& feature,
                                                                         const data_handler::ValueSource& truth) {
    const auto batch = count(feature, truth);
    if (!batch) return std::unexpected(batch.error());
    add(*batch);
    return {};
}

std::expected<void, ModelPerformanceError> StreamingDataBias::reset_baseline(const data_handler::ValueSource& feature,
                                                                             const data_handler::ValueSource& truth) {
    const auto sample = count(feature, truth);
    if (!sample) return std::unexpected(sample.error());
    if (sample->size_a == 0 || sample->size_d == 0) {
        return std::unexpected(ModelPerformanceError::carrying(BiasError::NoFacetDeviation));
    }
    const auto baseline = new_from_pre_training(*sample);
    if (!baseline) return std::unexpected(baseline.error());
    baseline_ = *baseline;
    counts_ = {};
    return {};
}

std::expected<runtime::DataBiasRuntime, ModelPerformanceError> StreamingDataBias::current() const {
    if (counts_.size_a + counts_.size_d == 0) return std::unexpected(errors::kEmptyDataVector);
    return new_from_pre_training(counts_);
}

std::expected<DataBiasMap, ModelPerformanceError> StreamingDataBias::drift_snapshot() const {
    const auto now = current();
    if (!now) return std::unexpected(now.error());
    const float eps = static_cast<float>(config::stability_eps());
    DataBiasMap drift;
    for (std::size_t i = 0; i < kMetrics; ++i) {
        const float b = baseline_.values[i];
        // fmax takes eps when |b| is NaN.
        drift.insert(static_cast<DataBiasMetric>(i), std::fabs(now->values[i] - b) / std::fmax(std::fabs(b), eps));
    }
    return drift;
}

std::expected<DataBiasReport, ModelPerformanceError> StreamingDataBias::report(std::uint32_t listed,
                                                                               float threshold) const {
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    DataBiasMap failed;
    drift->for_each([&](DataBiasMetric m, float d) {
        if ((listed >> metrics::index(m) & 1u) && d >= threshold) failed.insert(m, d);
    });
    return DataBiasReport::from_runtime(failed);
}

std::expected<DataBiasReport, ModelPerformanceError> StreamingDataBias::drift_report(float threshold) const {
    return report(kAllMetrics, threshold);
}

std::expected<DataBiasReport, ModelPerformanceError> StreamingDataBias::drift_report_partial_metrics(
    std::span<const DataBiasMetric> metrics, float threshold) const {
    std::uint32_t listed = 0;
    for (const DataBiasMetric m : metrics) listed |= 1u << metrics::index(m);
    return report(listed, threshold);
}

}  // namespace quorvant::data_bias::streaming
