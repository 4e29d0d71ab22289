#include "model_bias/core.hpp"

#include "model_bias/statistics.hpp"

namespace quorvant::model_bias {

using metrics::ModelBiasMetric;

namespace {

float to_f32(std::uint64_t v) { return static_cast<float>(v); }

enum class Guard : std::uint8_t { Ok, EmptyFacet, Undefined };

Guard guard(const PostTraining& c) {
    if (c.n1() == 0 || c.n0() == 0) return Guard::EmptyFacet;
    // q0 = PP0 / N0 is zero exactly when PP0 is (N0 > 0 here).
    if (c.pp0() == 0) return Guard::Undefined;
    if (c.op1() == 0 || c.op0() == 0) return Guard::Undefined;
    if (c.n0() - c.pp0() == 0 || c.n1() - c.pp1() == 0) return Guard::Undefined;
    if (c.tn0() + c.fn0() == 0 || c.tn1() + c.fn1() == 0) return Guard::Undefined;
    if (c.fp1() == 0 || c.fp0() == 0) return Guard::Undefined;
    return Guard::Ok;
}

// All twelve values, every guard having passed. Counts are combined as
// integers and converted to f32 where a formula divides; the rest is f32
// in the order written. Metrics 0 and 2 to 6 are facet 1 minus facet 0,
// metrics 7 to 9 facet 0 minus facet 1.
runtime::ModelBiasRuntime values_of(const PostTraining& c, float ge) {
    runtime::ModelBiasRuntime r;
    const float q1 = to_f32(c.pp1()) / to_f32(c.n1());
    const float q0 = to_f32(c.pp0()) / to_f32(c.n0());
    r[ModelBiasMetric::DifferenceInPositivePredictedLabels] = q1 - q0;
    r[ModelBiasMetric::DisparateImpact] = q1 / q0;
    const float acc1 = to_f32(c.tp1() + c.tn1()) / to_f32(c.tn1() + ((c.tp1() + c.fp1()) + c.fn1()));
    const float acc0 = to_f32(c.tp0() + c.tn0()) / to_f32(c.tn0() + ((c.tp0() + c.fp0()) + c.fn0()));
    r[ModelBiasMetric::AccuracyDifference] = acc1 - acc0;
    r[ModelBiasMetric::RecallDifference] =
        to_f32(c.tp1()) / to_f32(c.tp1() + c.fn1()) - to_f32(c.tp0()) / to_f32(c.tp0() + c.fn0());
    r[ModelBiasMetric::DifferenceInConditionalAcceptance] =
        to_f32(c.pp1()) / to_f32(c.op1()) - to_f32(c.pp0()) / to_f32(c.op0());
    r[ModelBiasMetric::DifferenceInAcceptanceRate] =
        to_f32(c.tp1()) / to_f32(c.tp1() + c.fp1()) - to_f32(c.tp0()) / to_f32(c.tp0() + c.fp0());
    r[ModelBiasMetric::SpecialityDifference] =
        to_f32(c.tn1()) / to_f32(c.tn1() + c.fp1()) - to_f32(c.tn0()) / to_f32(c.tn0() + c.fp0());
    r[ModelBiasMetric::DifferenceInConditionalRejection] =
        to_f32(c.n0() - c.op0()) / to_f32(c.n0() - c.pp0()) - to_f32(c.n1() - c.op1()) / to_f32(c.n1() - c.pp1());
    r[ModelBiasMetric::DifferenceInRejectionRate] =
        to_f32(c.tn0()) / to_f32(c.tn0() + c.fn0()) - to_f32(c.tn1()) / to_f32(c.tn1() + c.fn1());
    r[ModelBiasMetric::TreatmentEquity] = to_f32(c.fn0()) / to_f32(c.fp0()) - to_f32(c.fn1()) / to_f32(c.fp1());
    r[ModelBiasMetric::ConditionalDemographicDesparityPredictedLabels] =
        statistics::inner::cond_dem_desp_in_pred_labels(c);
    r[ModelBiasMetric::GeneralizedEntropy] = ge;
    return r;
}

}  // namespace

std::expected<ModelBiasMap, errors::BiasError> post_training_bias(const DiscretePostTraining& record) {
    switch (guard(record.counts)) {
        case Guard::EmptyFacet: return std::unexpected(errors::BiasError::DataLengthError);
        case Guard::Undefined: return std::unexpected(errors::BiasError::NoFacetDeviation);
        case Guard::Ok: break;
    }
    return values_of(record.counts, record.ge).to_map();
}

std::expected<runtime::ModelBiasRuntime, errors::ModelPerformanceError> new_from_post_training(
    const PostTraining& counts, float ge) {
    switch (guard(counts)) {
        case Guard::EmptyFacet: return std::unexpected(errors::kEmptyDataVector);
        case Guard::Undefined: return std::unexpected(errors::kInvalidData);
        case Guard::Ok: break;
    }
    return values_of(counts, ge);
}

}  // namespace quorvant::model_bias
