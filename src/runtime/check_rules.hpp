// Each family's runtime-check table: per metric, when it fails and what
// number it carries, and the error of a dictionary that lacks a metric.
#pragma once

#include <array>

#include "errors/errors.hpp"
#include "runtime/binary_classification_runtime.hpp"
#include "runtime/data_bias_runtime.hpp"
#include "runtime/linear_regression_runtime.hpp"
#include "runtime/logistic_regression_runtime.hpp"
#include "runtime/model_bias_runtime.hpp"
#include "runtime/runtime_check.hpp"

namespace quorvant::runtime {

namespace rule {
// A value that may only grow (errors, distances, log loss).
inline constexpr Rule kRise{Bound::Above, Drift::LatestMinusBaseline};
// A value that may only fall, judged against the shrunk baseline.
inline constexpr Rule kFall{Bound::Below, Drift::BaselineMinusLatest};
// A signed difference between facets: only its size may grow.
inline constexpr Rule kMagnitude{Bound::AboveInMagnitude, Drift::AbsDifferenceOfMagnitudes};
}  // namespace rule

template <>
struct CheckRules<DataBiasRuntime> {
    using Error = errors::DataBiasRuntimeError;
    static constexpr std::array<Rule, 7> rules = {
        Rule{Bound::AboveInMagnitudeAbs, Drift::AbsDifferenceOfMagnitudes},  // ClassImbalance
        Rule{Bound::AboveInMagnitude, Drift::AbsDifference},                 // DifferenceInProportionOfLabels
        rule::kRise,                                                         // KlDivergence
        rule::kRise,                                                         // JsDivergence
        rule::kRise,                                                         // LpNorm
        rule::kRise,                                                         // TotalVariationDistance
        rule::kRise,                                                         // KolmogorovSmirnov
    };
    // The error kinds are declared in another order than the metrics.
    static constexpr Error missing(metrics::DataBiasMetric m) {
        constexpr std::array<Error, 7> by_metric = {
            Error::ClassImbalance, Error::DifferenceInProportionOfLabels,
            Error::KlDivergence,   Error::JsDivergence,
            Error::LpNorm,         Error::TotalVariationDistance,
            Error::KolmogorovSmirnov,
        };
        return by_metric[metrics::index(m)];
    }
};

template <>
struct CheckRules<ModelBiasRuntime> {
    using Error = errors::ModelBiasRuntimeError;
    // Ratios and the entropy keep their sign: only a rise fails.
    static constexpr Rule kSigned{Bound::Above, Drift::AbsDifference};
    static constexpr std::array<Rule, 12> rules = {
        rule::kMagnitude,  // DifferenceInPositivePredictedLabels
        kSigned,           // DisparateImpact
        rule::kMagnitude,  // AccuracyDifference
        rule::kMagnitude,  // RecallDifference
        rule::kMagnitude,  // DifferenceInConditionalAcceptance
        rule::kMagnitude,  // DifferenceInAcceptanceRate
        rule::kMagnitude,  // SpecialityDifference
        rule::kMagnitude,  // DifferenceInConditionalRejection
        rule::kMagnitude,  // DifferenceInRejectionRate
        rule::kMagnitude,  // TreatmentEquity
        rule::kMagnitude,  // ConditionalDemographicDesparityPredictedLabels
        kSigned,           // GeneralizedEntropy
    };
    static constexpr Error missing(metrics::ModelBiasMetric m) {
        constexpr std::array<Error, 12> by_metric = {
            Error::DifferenceInPositivePredictedLabels,
            Error::DisparateImpact,
            Error::AccuracyDifference,
            Error::RecallDifference,
            Error::DifferenceInConditionalAcceptance,
            Error::DifferenceInAcceptanceRate,
            Error::SpecialityDifference,
            Error::DifferenceInConditionalRejection,
            Error::DifferenceInRejectionRate,
            Error::TreatmentEquity,
            Error::ConditionalDemographicDesparityPredictedLabels,
            Error::GeneralizedEntropy,
        };
        return by_metric[metrics::index(m)];
    }
};

// The performance families do not say which metric is missing.
struct PerformanceMissing {
    using Error = errors::ModelPerformanceError;
    template <class M>
    static constexpr Error missing(M) {
        return errors::kInvalidAnalysisReport;
    }
};

template <>
struct CheckRules<BinaryClassificationRuntime> : PerformanceMissing {
    // Every metric is higher-is-better; this family scales the latest value.
    static constexpr Rule kFallScaledLatest{Bound::BelowScaledLatest, Drift::BaselineMinusLatest};
    static constexpr std::array<Rule, 7> rules = {
        kFallScaledLatest, kFallScaledLatest, kFallScaledLatest, kFallScaledLatest,
        kFallScaledLatest, kFallScaledLatest, kFallScaledLatest,
    };
};

template <>
struct CheckRules<LinearRegressionRuntime> : PerformanceMissing {
    static constexpr std::array<Rule, 8> rules = {
        rule::kRise,  // RootMeanSquaredError
        rule::kRise,  // MeanSquaredError
        rule::kRise,  // MeanAbsoluteError
        rule::kFall,  // RSquared
        rule::kRise,  // MaxError
        rule::kRise,  // MeanSquaredLogError
        rule::kRise,  // RootMeanSquaredLogError
        rule::kRise,  // MeanAbsolutePercentageError
    };
};

template <>
struct CheckRules<LogisticRegressionRuntime> : PerformanceMissing {
    static constexpr std::array<Rule, 8> rules = {
        rule::kFall, rule::kFall, rule::kFall, rule::kFall, rule::kFall, rule::kFall, rule::kFall,
        rule::kRise,  // LogLoss
    };
};

}  // namespace quorvant::runtime
