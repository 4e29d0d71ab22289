#include "model_perf/linear_regression.hpp"

#include <cmath>

#include "model_perf/regression_kernels.hpp"

namespace quorvant::model_perf {

using metrics::LinearRegressionEvaluationMetric;

void LinearRegressionErrorBuckets::push(std::span<const float> y_true, std::span<const float> y_pred) {
    regression_pass(Column::of(y_true), Column::of(y_pred), *this);
}

void LinearRegressionErrorBuckets::push(const Column& y_true, const Column& y_pred) {
    regression_pass(y_true, y_pred, *this);
}

std::expected<LinearRegressionErrorBuckets, errors::ModelPerformanceError> LinearRegressionErrorBuckets::from_dataset(
    const Column& y_true, const Column& y_pred) {
    if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
    if (y_true.size == 0) return std::unexpected(errors::kEmptyDataVector);
    LinearRegressionErrorBuckets buckets;
    buckets.push(y_true, y_pred);
    return buckets;
}

runtime::LinearRegressionRuntime LinearRegressionErrorBuckets::metrics(double n) const {
    using M = LinearRegressionEvaluationMetric;
    runtime::LinearRegressionRuntime r;
    const double mse = squared_error_sum / n;
    const double msle = squared_log_error_sum / n;
    r[M::MeanSquaredError] = static_cast<float>(mse);
    r[M::MeanAbsoluteError] = static_cast<float>(absolute_error_sum / n);
    r[M::RootMeanSquaredError] = static_cast<float>(std::pow(mse, 0.5));
    r[M::MeanSquaredLogError] = static_cast<float>(msle);
    r[M::RootMeanSquaredLogError] = static_cast<float>(std::pow(msle, 0.5));
    r[M::MeanAbsolutePercentageError] = static_cast<float>(absolute_percentage_error_sum / n);
    r[M::MaxError] = static_cast<float>(max_error);

    // From the moment sums, in the order written.
    const double ssr = y_pred_squared_sum + (y_true_squared_sum - 2.0 * y_true_pred_product_sum);
    const double sst = y_true_squared_sum - y_true_sum * y_true_sum / count;
    double r2;
    if (sst == 0.0) {
        r2 = ssr == 0.0 ? 1.0 : 0.0;
    } else {
        r2 = 1.0 - ssr / sst;
    }
    r[M::RSquared] = static_cast<float>(r2);
    return r;
}

std::expected<runtime::LinearRegressionRuntime, errors::ModelPerformanceError> linear_regression_runtime(
    const Column& y_true, const Column& y_pred) {
    auto buckets = LinearRegressionErrorBuckets::from_dataset(y_true, y_pred);
    if (!buckets) return std::unexpected(buckets.error());
    return buckets->metrics(static_cast<double>(y_true.size));
}

}  // namespace quorvant::model_perf
