#pragma once

#include "runtime/metric_record.hpp"

namespace quorvant::runtime {

using LogisticRegressionRuntime = MetricRecord<metrics::ClassificationEvaluationMetric, 8>;

}  // namespace quorvant::runtime
