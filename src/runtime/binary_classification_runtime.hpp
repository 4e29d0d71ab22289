#pragma once

#include "runtime/metric_record.hpp"

namespace quorvant::runtime {

using BinaryClassificationRuntime = MetricRecord<metrics::ClassificationEvaluationMetric, 7>;

}  // namespace quorvant::runtime
