#include "model_bias/statistics.hpp"

namespace quorvant::model_bias::statistics {

namespace {
float to_f32(std::uint64_t v) { return static_cast<float>(v); }
}  // namespace

float generalized_entropy_sum(const BucketGeneralizedEntropy& b) {
    const float mean = to_f32(b.benefit1 + 2 * b.benefit2) / to_f32(b.total());
    const float inverse = 1.0f / mean;
    const auto term = [inverse](float benefit) {
        const float scaled = benefit * inverse;
        return scaled * scaled - 1.0f;
    };
    // A benefit value without rows adds nothing (its term may be NaN when
    // the mean is 0, but no row carries it).
    double sum = 0.0;
    if (b.benefit0 != 0) sum += static_cast<double>(b.benefit0) * static_cast<double>(term(0.0f));
    if (b.benefit1 != 0) sum += static_cast<double>(b.benefit1) * static_cast<double>(term(1.0f));
    if (b.benefit2 != 0) sum += static_cast<double>(b.benefit2) * static_cast<double>(term(2.0f));
    return static_cast<float>(sum);
}

float generalized_entropy_from_buckets(const BucketGeneralizedEntropy& b) {
    const float n = to_f32(b.total());
    const float weighted = to_f32(b.benefit1 + 2 * b.benefit2);
    const float squares = to_f32(b.benefit1 + 4 * b.benefit2);
    return n * n / (weighted * weighted) * squares - n;
}

namespace inner {

float cond_dem_desp_in_pred_labels(const PostTraining& c) {
    const std::uint64_t n0 = c.n0(), n1 = c.n1(), pp0 = c.pp0(), pp1 = c.pp1();
    const float pn = to_f32((n0 + n1) - (pp0 + pp1));
    const float pp = to_f32(pp0 + pp1);
    const float dd1 = to_f32(n1 - pp1) / pn - to_f32(pp1) / pp;
    const float dd0 = to_f32(n0 - pp0) / pn - to_f32(pp0) / pp;
    return (dd1 * to_f32(n1) + dd0 * to_f32(n0)) / to_f32(n1 + n0);
}

}  // namespace inner

}  // namespace quorvant::model_bias::statistics
