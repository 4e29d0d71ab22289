#include "model_perf/streaming/logistic_regression_streaming.hpp"

#include "config/config.hpp"
#include "model_perf/classification.hpp"
#include "model_perf/log_loss.hpp"
#include "model_perf/perf_kernels.hpp"
#include "model_perf/streaming/drift.hpp"

namespace quorvant::model_perf::streaming {

namespace {

float configured_eps() { return static_cast<float>(config::stability_eps()); }

}  // namespace

std::expected<LogisticRegressionStreaming, errors::ModelPerformanceError> LogisticRegressionStreaming::create(
    const Column& y_true, const Column& y_pred, float threshold) {
    auto baseline = logistic_regression_runtime(y_true, y_pred, threshold);
    if (!baseline) return std::unexpected(baseline.error());
    LogisticRegressionStreaming s;
    s.baseline_ = *baseline;
    s.eps_ = configured_eps();
    s.threshold_ = threshold;
    return s;
}

std::expected<void, errors::ModelPerformanceError> LogisticRegressionStreaming::push(float y_true, float y_pred) {
    const auto bounds = clamp_bounds(eps_);
    if (!bounds) return std::unexpected(bounds.error());
    log_loss_sum_ += static_cast<double>(log_loss_term(y_true, y_pred, *bounds));
    counts_.push(y_true == 1.0f, y_pred >= threshold_);
    return {};
}

std::expected<void, errors::ModelPerformanceError> LogisticRegressionStreaming::push_batch(const Column& y_true,
                                                                                         const Column& y_pred) {
    if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
    if (y_true.size == 0) return std::unexpected(errors::kEmptyDataVector);
    const auto bounds = clamp_bounds(eps_);
    if (!bounds) return std::unexpected(bounds.error());
    logistic_pass(y_true, y_pred, LogisticRule{threshold_, TruthRule::EqualsOne, *bounds}, counts_, log_loss_sum_);
    return {};
}

void LogisticRegressionStreaming::flush() {
    counts_ = {};
    log_loss_sum_ = 0.0;
    eps_ = configured_eps();
}

std::expected<void, errors::ModelPerformanceError> LogisticRegressionStreaming::reset_baseline(const Column& y_true,
                                                                                             const Column& y_pred) {
    auto baseline = logistic_regression_runtime(y_true, y_pred, threshold_);
    if (!baseline) return std::unexpected(baseline.error());
    baseline_ = *baseline;
    return {};
}

std::expected<void, errors::ModelPerformanceError> LogisticRegressionStreaming::reset_baseline_and_decision_threshold(
    const Column& y_true, const Column& y_pred, float threshold) {
    auto baseline = logistic_regression_runtime(y_true, y_pred, threshold);
    if (!baseline) return std::unexpected(baseline.error());
    threshold_ = threshold;
    baseline_ = *baseline;
    return {};
}

std::expected<runtime::LogisticRegressionRuntime, errors::ModelPerformanceError>
LogisticRegressionStreaming::performance_snapshot() const {
    if (counts_.total() == 0) return std::unexpected(errors::kEmptyDataVector);
    return logistic_metrics(counts_, log_loss_sum_);  // a NaN log loss is reported as NaN
}

std::expected<metrics::MetricMap<LogisticRegressionStreaming::Metric>, errors::ModelPerformanceError>
LogisticRegressionStreaming::drift_snapshot() const {
    const auto current = performance_snapshot();
    if (!current) return std::unexpected(current.error());
    return drift_map(baseline_, *current, DriftSign::Signed);
}

std::expected<LogisticRegressionStreaming::Report, errors::ModelPerformanceError>
LogisticRegressionStreaming::drift_report(std::optional<float> threshold) const {
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    return streaming::drift_report(*drift, threshold);
}

std::expected<LogisticRegressionStreaming::Report, errors::Error>
LogisticRegressionStreaming::drift_report_partial_metrics(std::span<const std::string> names,
                                                          std::optional<float> threshold) const {
    const auto only = metrics::parse_logistic_list(names);
    if (!only) return std::unexpected(only.error());
    const auto drift = drift_snapshot();
    if (!drift) return std::unexpected(drift.error());
    return streaming::drift_report(*drift, threshold, std::span<const Metric>(*only));
}

}  // namespace quorvant::model_perf::streaming
