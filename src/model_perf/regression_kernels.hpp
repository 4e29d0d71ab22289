// The hot loop of the regression metrics: one pass over two columns, read
// in place, summing the error terms in f64 in index order.
#pragma once

#include "model_perf/columns.hpp"
#include "model_perf/linear_regression.hpp"

namespace quorvant::model_perf {

// Adds the pairs of two columns of equal size (values narrowed to f32,
// then widened to f64) to the regression sums, in index order.
void regression_pass(const Column& y_true, const Column& y_pred, LinearRegressionErrorBuckets& sums);

}  // namespace quorvant::model_perf
