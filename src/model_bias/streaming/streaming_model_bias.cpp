#include "model_bias/streaming/streaming_model_bias.hpp"

#include <cmath>

#include "model_bias/statistics.hpp"

namespace quorvant::model_bias::streaming {

using errors::BiasError;
using errors::ModelPerformanceError;
using metrics::ModelBiasMetric;

namespace {
constexpr std::size_t kMetrics = metrics::metric_count<ModelBiasMetric>;
constexpr std::uint32_t kAllMetrics = (1u << kMetrics) - 1;
}  // namespace

std::expected<runtime::ModelBiasRuntime, ModelPerformanceError> snapshot_of(const PostTraining& counts) {
    const BucketGeneralizedEntropy buckets = BucketGeneralizedEntropy::from(counts);
    if (buckets.total() == 0) return std::unexpected(errors::kEmptyDataVector);
    return new_from_post_training(counts, statistics::generalized_entropy_from_buckets(buckets));
}

std::expected<PostTraining, ModelPerformanceError> StreamingModelBias::count(
    const data_handler::ValueSource& feature, const data_handler::ValueSource& prediction,
    const data_handler::ValueSource& truth) const {
    if (feature.size() == 0 || prediction.size() != feature.size() || truth.size() != feature.size()) {
        return std::unexpected(ModelPerformanceError::carrying(BiasError::DataLengthError));
    }
    PostTraining counts;
    counts.accumulate_batch(data_handler::rule_labels(feature, feature_rule_),
                            data_handler::rule_labels(prediction, prediction_rule_),
                            data_handler::rule_labels(truth, truth_rule_));
    return counts;
}

std::expected<StreamingModelBias, ModelPerformanceError> StreamingModelBias::make(
    const data_handler::ValueSource& feature, const data_handler::ValueSource& prediction, const data_handler::ValueSource& truth,
    Rule feature_rule, Rule prediction_rule, Rule truth_rule) {
    StreamingModelBias monitor(feature_rule, prediction_rule, truth_rule);
    const auto status = monitor.reset_baseline(feature, prediction, truth);
    if (!status) return std::unexpected(status.error());
    return monitor;
}

std::expected<void, ModelPerformanceError> StreamingModelBias::push_batch(const data_handler::ValueSource& feature,
                                                                          const data_handler::ValueSource& prediction,
                                                                          const data_handler::ValueSource& truth) {
    const auto batch = count(feature, prediction, truth);
    if (!batch) return std::unexpected(batch.error());
    add(*batch);
    return {};
}

std::expected<void, ModelPerformanceError> StreamingModelBias::reset_baseline(const data_handler::ValueSource& feature,
                                                                              const data_handler::ValueSource& prediction,
                                                                              const data_handler::ValueSource& truth) {
    const auto sample = count(feature, prediction, truth);
    if (!sample) return std::unexpected(sample.error());
    const auto baseline = snapshot_of(*sample);
    if (!baseline) return std::unexpected(baseline.error());
    baseline_ = *baseline;
    return {};
}

std::expected<runtime::ModelBiasRuntime, ModelPerformanceError> StreamingModelBias::current() const {
    return snapshot_of(counts_);
}

std::expected<ModelBiasMap, ModelPerformanceError> StreamingModelBias::drift_snapshot() const {
    const auto now = current();
    if (!now) return std::unexpected(now.error());
    ModelBiasMap drift;
    for (std::size_t i = 0; i < kMetrics; ++i) {
        const float b = baseline_.values[i];
        drift.insert(static_cast<ModelBiasMetric>(i), std::fabs((now->values[i] - b) / b));
    }
    return drift;
}

std::expected<ModelBiasReport, ModelPerformanceError> StreamingModelBias::report(std::uint32_t listed,
                                                                                 float threshold) const {
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    ModelBiasMap failed;
    drift->for_each([&](ModelBiasMetric m, float d) {
        if ((listed >> metrics::index(m) & 1u) && d >= threshold) failed.insert(m, d);
    });
    return ModelBiasReport::from_runtime(failed);
}

std::expected<ModelBiasReport, ModelPerformanceError> StreamingModelBias::drift_report(float threshold) const {
    return report(kAllMetrics, threshold);
}

std::expected<ModelBiasReport, ModelPerformanceError> StreamingModelBias::drift_report_partial_metrics(
    std::span<const ModelBiasMetric> metrics, float threshold) const {
    std::uint32_t listed = 0;
    for (const ModelBiasMetric m : metrics) listed |= 1u << metrics::index(m);
    return report(listed, threshold);
}

}  // namespace quorvant::model_bias::streaming
