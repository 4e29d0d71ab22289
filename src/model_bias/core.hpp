// The twelve post-training bias metrics from per-facet counts. Pure C++;
// the analyzers and the streaming monitor share these formulas and guards.
#pragma once

#include <expected>

#include "errors/errors.hpp"
#include "metrics/metrics.hpp"
#include "model_bias/post_training.hpp"
#include "runtime/model_bias_runtime.hpp"

namespace quorvant::model_bias {

using ModelBiasMap = metrics::MetricMap<metrics::ModelBiasMetric>;

// A facet without rows is DataLengthError; every other zero denominator
// that a metric guards (no predicted positive in facet 0, no observed
// positive, no predicted negative, TN + FN = 0, no false positive, in
// either facet) is NoFacetDeviation.
std::expected<ModelBiasMap, errors::BiasError> post_training_bias(const DiscretePostTraining& record);

// The snapshot record from counts and a generalized-entropy value: a facet
// without rows is EmptyDataVector, another guarded zero InvalidData.
std::expected<runtime::ModelBiasRuntime, errors::ModelPerformanceError> new_from_post_training(
    const PostTraining& counts, float ge);

}  // namespace quorvant::model_bias
