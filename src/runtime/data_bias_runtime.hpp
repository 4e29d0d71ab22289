#pragma once

#include "runtime/metric_record.hpp"

namespace quorvant::runtime {

using DataBiasRuntime = MetricRecord<metrics::DataBiasMetric>;

}  // namespace quorvant::runtime
