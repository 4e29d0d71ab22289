#include "model_perf/linear_regression.hpp"

#include <cmath>

namespace quorvant::model_perf {

using metrics::LinearRegressionEvaluationMetric;

void LinearRegressionErrorBuckets::push(std::span<const float> y_true, std::span<const float> y_pred) {
    // Locals keep the ten sums in registers; each is still one in-order chain.
    double se = squared_error_sum, ae = absolute_error_sum, mx = max_error;
    double sle = squared_log_error_sum, ape = absolute_percentage_error_sum;
    double ys = y_true_sum, c = count, yy = y_true_squared_sum, pp = y_pred_squared_sum;
    double yp = y_true_pred_product_sum;
    const std::size_t n = y_true.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double y = static_cast<double>(y_true[i]);
        const double p = static_cast<double>(y_pred[i]);
        const double e = y - p;
        const double a = std::fabs(e);
        yy += y * y;
        pp += p * p;
        yp += y * p;
        se += e * e;
        ae += a;
        mx = a > mx ? a : mx;  // a NaN never becomes the maximum
        const double d = std::log(y + 1.0) - std::log(p + 1.0);
        sle += d * d;
        ape += std::fabs(a / y);
        ys += y;
        c += 1.0;
    }
    squared_error_sum = se;
    absolute_error_sum = ae;
    max_error = mx;
    squared_log_error_sum = sle;
    absolute_percentage_error_sum = ape;
    y_true_sum = ys;
    count = c;
    y_true_squared_sum = yy;
    y_pred_squared_sum = pp;
    y_true_pred_product_sum = yp;
}

std::expected<LinearRegressionErrorBuckets, errors::ModelPerformanceError> LinearRegressionErrorBuckets::from_dataset(
    std::span<const float> y_true, std::span<const float> y_pred) {
    if (y_true.size() != y_pred.size()) return std::unexpected(errors::kLengthMismatch);
    if (y_true.empty()) return std::unexpected(errors::kEmptyDataVector);
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
    std::span<const float> y_true, std::span<const float> y_pred) {
    auto buckets = LinearRegressionErrorBuckets::from_dataset(y_true, y_pred);
    if (!buckets) return std::unexpected(buckets.error());
    return buckets->metrics(static_cast<double>(y_true.size()));
}

}  // namespace quorvant::model_perf
