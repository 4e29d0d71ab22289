#include "model_perf/streaming/linear_regression_streaming.hpp"

#include <cmath>

#include "model_perf/streaming/drift.hpp"

namespace quorvant::model_perf::streaming {

using M = metrics::LinearRegressionEvaluationMetric;

std::expected<LinearRegressionStreaming, errors::ModelPerformanceError> LinearRegressionStreaming::create(
    std::span<const float> y_true, std::span<const float> y_pred) {
    auto baseline = linear_regression_runtime(y_true, y_pred);  // length, then emptiness
    if (!baseline) return std::unexpected(baseline.error());
    LinearRegressionStreaming s;
    s.baseline_ = *baseline;
    return s;
}

void LinearRegressionStreaming::push(float y_true, float y_pred) {
    buckets_.push(std::span<const float>(&y_true, 1), std::span<const float>(&y_pred, 1));
}

std::expected<void, errors::ModelPerformanceError> LinearRegressionStreaming::push_batch(std::span<const float> y_true,
                                                                                       std::span<const float> y_pred) {
    if (y_true.size() != y_pred.size()) return std::unexpected(errors::kLengthMismatch);
    if (y_true.empty()) return std::unexpected(errors::kEmptyDataVector);
    buckets_.push(y_true, y_pred);
    return {};
}

void LinearRegressionStreaming::flush() { buckets_ = {}; }

std::expected<void, errors::ModelPerformanceError> LinearRegressionStreaming::reset_baseline(
    std::span<const float> y_true, std::span<const float> y_pred) {
    auto baseline = linear_regression_runtime(y_true, y_pred);
    if (!baseline) return std::unexpected(baseline.error());
    baseline_ = *baseline;
    return {};
}

std::expected<runtime::LinearRegressionRuntime, errors::ModelPerformanceError>
LinearRegressionStreaming::performance_snapshot() const {
    if (buckets_.count == 0.0) return std::unexpected(errors::kEmptyDataVector);
    runtime::LinearRegressionRuntime r = buckets_.metrics(buckets_.count);
    // Unlike the batch computation, the roots are taken in f32 of the
    // f32-rounded means.
    r[M::RootMeanSquaredError] = std::sqrt(r[M::MeanSquaredError]);
    r[M::RootMeanSquaredLogError] = std::sqrt(r[M::MeanSquaredLogError]);
    return r;
}

std::expected<metrics::MetricMap<M>, errors::ModelPerformanceError> LinearRegressionStreaming::drift_snapshot() const {
    const auto current = performance_snapshot();
    if (!current) return std::unexpected(current.error());
    return drift_map(baseline_, *current, DriftSign::Absolute);
}

std::expected<LinearRegressionStreaming::Report, errors::ModelPerformanceError> LinearRegressionStreaming::drift_report(
    std::optional<float> threshold) const {
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    return streaming::drift_report(*drift, threshold);
}

std::expected<LinearRegressionStreaming::Report, errors::Error> LinearRegressionStreaming::drift_report_partial_metrics(
    std::span<const std::string> names, std::optional<float> threshold) const {
    const auto only = metrics::parse_linear_list(names);
    if (!only) return std::unexpected(only.error());
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    return streaming::drift_report(*drift, threshold, std::span<const M>(*only));
}

}  // namespace quorvant::model_perf::streaming
