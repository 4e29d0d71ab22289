#pragma once

#include "runtime/metric_record.hpp"

namespace quorvant::runtime {

// root_mean_squared_error, mean_squared_error, mean_absolute_error,
// r_squared, max_error, mean_squared_log_error, root_mean_squared_log_error,
// mean_absolute_percentage_error.
using LinearRegressionRuntime = MetricRecord<metrics::LinearRegressionEvaluationMetric>;

}  // namespace quorvant::runtime
