// The per-record statistics of post-training bias that are more than one
// division: conditional demographic disparity and generalized entropy.
#pragma once

#include "model_bias/post_training.hpp"

namespace quorvant::model_bias::statistics {

// Generalized entropy of a batch: every row's term ((b * inverse)^2 - 1) in
// f32, with inverse = 1 / mean and the mean of the benefits taken from the
// integer benefit total; the terms summed in f64 (one product per benefit
// value, so the sum is exact to f64 rounding and independent of row order
// and vector width) and narrowed at the end.
float generalized_entropy_sum(const BucketGeneralizedEntropy& buckets);

// The streaming closed form n * n / (c1 + 2 c2)^2 * (c1 + 4 c2) - n in f32,
// the two sums formed as integers.
float generalized_entropy_from_buckets(const BucketGeneralizedEntropy& buckets);

namespace inner {

// ConditionalDemographicDesparityPredictedLabels: per facet
// DD = (N - PP) / PN - PP / (PP0 + PP1), the facet's share of all predicted
// negatives minus its share of all predicted positives, weighted by facet
// size: (DD1 * N1 + DD0 * N0) / (N1 + N0).
float cond_dem_desp_in_pred_labels(const PostTraining& counts);

}  // namespace inner

}  // namespace quorvant::model_bias::statistics
