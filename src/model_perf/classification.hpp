// Binary classification and logistic regression metrics from confusion
// counts (and a log-loss sum), and the batch computations over two columns.
#pragma once

#include <expected>

#include "data_handler/confusion_matrix.hpp"
#include "errors/errors.hpp"
#include "model_perf/columns.hpp"
#include "model_perf/log_loss.hpp"
#include "runtime/binary_classification_runtime.hpp"
#include "runtime/logistic_regression_runtime.hpp"

namespace quorvant::model_perf {

// The seven confusion metrics in f32, in the written operation order; a
// zero denominator gives NaN (0 / 0), unguarded.
runtime::BinaryClassificationRuntime classification_metrics(const data_handler::ConfusionMatrix& counts);

// The seven confusion metrics and LogLoss = -sum / n (formed in f64 from the
// f64 sum, then narrowed).
runtime::LogisticRegressionRuntime logistic_metrics(const data_handler::ConfusionMatrix& counts,
                                                    double log_loss_sum);

// Batch classification: values positive when they narrow to exactly 1.0.
// Empty columns are not an error (every metric is NaN).
std::expected<runtime::BinaryClassificationRuntime, errors::ModelPerformanceError> binary_classification_runtime(
    const Column& y_true, const Column& y_pred);

// Batch logistic regression: truths and scores positive when >= threshold,
// the log loss over the raw truths and the clamped scores. Empty input, a
// NaN log loss, or clamp bounds the configured epsilon makes invalid give
// InvalidData.
std::expected<runtime::LogisticRegressionRuntime, errors::ModelPerformanceError> logistic_regression_runtime(
    const Column& y_true, const Column& y_pred, float threshold);

}  // namespace quorvant::model_perf
