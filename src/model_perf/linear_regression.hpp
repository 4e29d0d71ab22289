// Regression error metrics: the f64 sufficient statistics of a set of
// (truth, prediction) pairs, and the eight metrics derived from them.
#pragma once

#include <expected>
#include <span>

#include "errors/errors.hpp"
#include "model_perf/columns.hpp"
#include "runtime/linear_regression_runtime.hpp"

namespace quorvant::model_perf {

struct LinearRegressionErrorBuckets {
    double squared_error_sum = 0.0;
    double absolute_error_sum = 0.0;
    double max_error = 0.0;
    double squared_log_error_sum = 0.0;
    double absolute_percentage_error_sum = 0.0;
    double y_true_sum = 0.0;
    double count = 0.0;
    double y_true_squared_sum = 0.0;
    double y_pred_squared_sum = 0.0;
    double y_true_pred_product_sum = 0.0;

    // Adds the pairs in index order (inputs widened to f64 first). Columns
    // of equal size; their values are narrowed to f32 first, as the
    // conversion of the batch function does.
    void push(std::span<const float> y_true, std::span<const float> y_pred);
    void push(const Column& y_true, const Column& y_pred);

    static std::expected<LinearRegressionErrorBuckets, errors::ModelPerformanceError> from_dataset(
        const Column& y_true, const Column& y_pred);

    // The metrics over `n` pairs (n as f64; the batch uses the slice length).
    runtime::LinearRegressionRuntime metrics(double n) const;
};

std::expected<runtime::LinearRegressionRuntime, errors::ModelPerformanceError> linear_regression_runtime(
    const Column& y_true, const Column& y_pred);
inline std::expected<runtime::LinearRegressionRuntime, errors::ModelPerformanceError> linear_regression_runtime(
    std::span<const float> y_true, std::span<const float> y_pred) {
    return linear_regression_runtime(Column::of(y_true), Column::of(y_pred));
}

}  // namespace quorvant::model_perf
