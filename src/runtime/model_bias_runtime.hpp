#pragma once

#include "runtime/metric_record.hpp"

namespace quorvant::runtime {

using ModelBiasRuntime = MetricRecord<metrics::ModelBiasMetric>;

}  // namespace quorvant::runtime
