// A regression model watched online: a baseline record and the f64 error
// sums of the production pairs, from which the eight metrics, their drift
// and drift reports are derived on demand.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "errors/errors.hpp"
#include "metrics/metrics.hpp"
#include "model_perf/linear_regression.hpp"
#include "reporting/drift_report.hpp"
#include "state/error.hpp"
#include "runtime/linear_regression_runtime.hpp"

namespace quorvant::model_perf::streaming {

class LinearRegressionStreaming {
public:
    using Metric = metrics::LinearRegressionEvaluationMetric;
    using Report = reporting::DriftReport<Metric>;

    static std::expected<LinearRegressionStreaming, errors::ModelPerformanceError> create(std::span<const float> y_true,
                                                                                          std::span<const float> y_pred);

    void push(float y_true, float y_pred);
    // Unequal lengths or an empty batch are refused before anything is added.
    std::expected<void, errors::ModelPerformanceError> push_batch(std::span<const float> y_true,
                                                                  std::span<const float> y_pred);
    void flush();
    // The accumulated pairs are kept.
    std::expected<void, errors::ModelPerformanceError> reset_baseline(std::span<const float> y_true,
                                                                      std::span<const float> y_pred);

    std::expected<runtime::LinearRegressionRuntime, errors::ModelPerformanceError> performance_snapshot() const;
    std::expected<metrics::MetricMap<Metric>, errors::ModelPerformanceError> drift_snapshot() const;
    std::expected<Report, errors::ModelPerformanceError> drift_report(std::optional<float> threshold) const;
    std::expected<Report, errors::Error> drift_report_partial_metrics(std::span<const std::string> names,
                                                                      std::optional<float> threshold) const;

    const runtime::LinearRegressionRuntime& baseline() const { return baseline_; }

    // Adds the sums of `other` to these, one addition per sum (the maximum
    // error is the larger of the two). Refused, with nothing changed, when
    // the baselines differ bit for bit. Defined with the state codec.
    std::expected<void, state::Error> merge(const LinearRegressionStreaming& other);

private:
    friend struct LinearRegressionCodec;

    LinearRegressionStreaming() = default;

    runtime::LinearRegressionRuntime baseline_;
    LinearRegressionErrorBuckets buckets_;
};

}  // namespace quorvant::model_perf::streaming
