// A probabilistic classifier watched online: a baseline record, exact
// running confusion counts (truth positive when exactly 1, prediction
// positive at the decision threshold) and the running log-loss sum in f64,
// from which the eight metrics, their drift and drift reports are derived
// on demand.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "data_handler/confusion_matrix.hpp"
#include "errors/errors.hpp"
#include "metrics/metrics.hpp"
#include "model_perf/columns.hpp"
#include "reporting/drift_report.hpp"
#include "state/error.hpp"
#include "runtime/logistic_regression_runtime.hpp"

namespace quorvant::model_perf::streaming {

class LogisticRegressionStreaming {
public:
    using Metric = metrics::ClassificationEvaluationMetric;
    using Report = reporting::DriftReport<Metric>;

    // The baseline by the batch computation (its errors: unequal lengths,
    // and InvalidData for empty input, a NaN log loss or an epsilon that
    // makes the clamp bounds invalid).
    static std::expected<LogisticRegressionStreaming, errors::ModelPerformanceError> create(const Column& y_true,
                                                                                            const Column& y_pred,
                                                                                            float threshold);

    // Each refuses an epsilon that makes the clamp bounds invalid
    // (InvalidData) before changing anything.
    std::expected<void, errors::ModelPerformanceError> push(float y_true, float y_pred);
    std::expected<void, errors::ModelPerformanceError> push_batch(const Column& y_true, const Column& y_pred);

    void flush();
    // Counts and log-loss sum are kept; the stored decision threshold is used.
    std::expected<void, errors::ModelPerformanceError> reset_baseline(const Column& y_true, const Column& y_pred);
    // A failed reset changes nothing, the threshold included.
    std::expected<void, errors::ModelPerformanceError> reset_baseline_and_decision_threshold(const Column& y_true,
                                                                                             const Column& y_pred,
                                                                                             float threshold);

    std::expected<runtime::LogisticRegressionRuntime, errors::ModelPerformanceError> performance_snapshot() const;
    std::expected<metrics::MetricMap<Metric>, errors::ModelPerformanceError> drift_snapshot() const;
    std::expected<Report, errors::ModelPerformanceError> drift_report(std::optional<float> threshold) const;
    std::expected<Report, errors::Error> drift_report_partial_metrics(std::span<const std::string> names,
                                                                      std::optional<float> threshold) const;

    const runtime::LogisticRegressionRuntime& baseline() const { return baseline_; }
    const data_handler::ConfusionMatrix& counts() const { return counts_; }
    double log_loss_sum() const { return log_loss_sum_; }
    float decision_threshold() const { return threshold_; }

    // Adds the counts and the log-loss sum of `other` to these (the sum in
    // one addition). Refused, with nothing changed, when the baselines,
    // decision thresholds or stored eps differ bit for bit, or a count would
    // pass 64 bits. Defined with the state codec.
    std::expected<void, state::Error> merge(const LogisticRegressionStreaming& other);

private:
    friend struct LogisticRegressionCodec;

    LogisticRegressionStreaming() = default;

    runtime::LogisticRegressionRuntime baseline_;
    data_handler::ConfusionMatrix counts_;
    double log_loss_sum_ = 0.0;
    float eps_ = 0.0f;
    float threshold_ = 0.0f;
};

}  // namespace quorvant::model_perf::streaming
