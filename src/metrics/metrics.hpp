// Metric enumerations of the bias and performance families, their display
// names, parsing from strings, and the metric map that results travel in.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors/errors.hpp"

namespace quorvant::metrics {

enum class DataBiasMetric : std::uint8_t {
    ClassImbalance,
    DifferenceInProportionOfLabels,
    KlDivergence,
    JsDivergence,
    LpNorm,
    TotalVariationDistance,
    KolmogorovSmirnov,
};

enum class ModelBiasMetric : std::uint8_t {
    DifferenceInPositivePredictedLabels,
    DisparateImpact,
    AccuracyDifference,
    RecallDifference,
    DifferenceInConditionalAcceptance,
    DifferenceInAcceptanceRate,
    SpecialityDifference,
    DifferenceInConditionalRejection,
    DifferenceInRejectionRate,
    TreatmentEquity,
    ConditionalDemographicDesparityPredictedLabels,
    GeneralizedEntropy,
};

enum class ClassificationEvaluationMetric : std::uint8_t {
    BalancedAccuracy,
    PrecisionPositive,
    PrecisionNegative,
    RecallPositive,
    RecallNegative,
    Accuracy,
    F1Score,
    LogLoss,
};

enum class LinearRegressionEvaluationMetric : std::uint8_t {
    RootMeanSquaredError,
    MeanSquaredError,
    MeanAbsoluteError,
    RSquared,
    MaxError,
    MeanSquaredLogError,
    RootMeanSquaredLogError,
    MeanAbsolutePercentageError,
};

template <class M>
struct MetricTraits;

template <>
struct MetricTraits<DataBiasMetric> {
    static constexpr std::array<std::string_view, 7> names = {
        "ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence",
        "LpNorm",         "TotalVariationDistance",         "KolmogorovSmirnov",
    };
    static constexpr errors::MetricFamily family = errors::MetricFamily::DataBias;
};

template <>
struct MetricTraits<ModelBiasMetric> {
    static constexpr std::array<std::string_view, 12> names = {
        "DifferenceInPositivePredictedLabels",
        "DisparateImpact",
        "AccuracyDifference",
        "RecallDifference",
        "DifferenceInConditionalAcceptance",
        "DifferenceInAcceptanceRate",
        "SpecialityDifference",
        "DifferenceInConditionalRejection",
        "DifferenceInRejectionRate",
        "TreatmentEquity",
        "ConditionalDemographicDesparityPredictedLabels",
        "GeneralizedEntropy",
    };
    static constexpr errors::MetricFamily family = errors::MetricFamily::ModelBias;
};

template <>
struct MetricTraits<ClassificationEvaluationMetric> {
    static constexpr std::array<std::string_view, 8> names = {
        "BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
        "RecallNegative",   "Accuracy",          "F1Score",           "LogLoss",
    };
    static constexpr errors::MetricFamily family = errors::MetricFamily::Classification;
};

template <>
struct MetricTraits<LinearRegressionEvaluationMetric> {
    static constexpr std::array<std::string_view, 8> names = {
        "RootMeanSquaredError",   "MeanSquaredError",   "MeanAbsoluteError",
        "RSquared",               "MaxError",           "MeanSquaredLogError",
        "RootMeanSquaredLogError", "MeanAbsolutePercentageError",
    };
    static constexpr errors::MetricFamily family = errors::MetricFamily::Regression;
};

template <class M>
inline constexpr std::size_t metric_count = MetricTraits<M>::names.size();

template <class M>
constexpr std::string_view name(M m) {
    return MetricTraits<M>::names[static_cast<std::size_t>(m)];
}

template <class M>
constexpr std::size_t index(M m) {
    return static_cast<std::size_t>(m);
}

// Exact, case-sensitive match with the display names.
template <class M>
constexpr std::optional<M> parse(std::string_view text) {
    for (std::size_t i = 0; i < metric_count<M>; ++i) {
        if (MetricTraits<M>::names[i] == text) return static_cast<M>(i);
    }
    return std::nullopt;
}

// Which names a list form accepts: every name, or every name but LogLoss
// (the classification list, where LogLoss stops parsing at once).
enum class ListRule : std::uint8_t { AllNames, RefuseLogLoss };

template <class M>
using MetricVec = std::vector<M>;

// A list of metric names parsed in order, duplicates kept; every rejected
// name is collected into one InvalidMetricError, in input order.
template <class M, ListRule Rule = ListRule::AllNames>
std::expected<MetricVec<M>, errors::InvalidMetricError> parse_list(std::span<const std::string> texts) {
    MetricVec<M> out;
    out.reserve(texts.size());
    std::vector<std::string> rejected;
    for (const std::string& text : texts) {
        const std::optional<M> m = parse<M>(text);
        if (!m) {
            rejected.push_back(text);
            continue;
        }
        if constexpr (Rule == ListRule::RefuseLogLoss) {
            if (*m == ClassificationEvaluationMetric::LogLoss) {
                return std::unexpected(errors::InvalidMetricError{MetricTraits<M>::family, {text}});
            }
        }
        out.push_back(*m);
    }
    if (!rejected.empty()) {
        return std::unexpected(errors::InvalidMetricError{MetricTraits<M>::family, std::move(rejected)});
    }
    return out;
}

inline auto parse_data_bias_list(std::span<const std::string> t) { return parse_list<DataBiasMetric>(t); }
inline auto parse_model_bias_list(std::span<const std::string> t) { return parse_list<ModelBiasMetric>(t); }
inline auto parse_classification_list(std::span<const std::string> t) {
    return parse_list<ClassificationEvaluationMetric, ListRule::RefuseLogLoss>(t);
}
inline auto parse_logistic_list(std::span<const std::string> t) {
    return parse_list<ClassificationEvaluationMetric>(t);
}
inline auto parse_linear_list(std::span<const std::string> t) {
    return parse_list<LinearRegressionEvaluationMetric>(t);
}

// Metric -> f32 score, at most one entry per metric. Iterates in variant
// order, which makes dictionaries and failure lists stable.
template <class M>
class MetricMap {
public:
    static constexpr std::size_t N = metric_count<M>;

    void insert(M m, float value) {
        values_[index(m)] = value;
        present_ |= 1u << index(m);
    }
    bool contains(M m) const { return (present_ >> index(m)) & 1u; }
    float at(M m) const { return values_[index(m)]; }
    bool empty() const { return present_ == 0; }
    std::size_t size() const { return static_cast<std::size_t>(__builtin_popcount(present_)); }

    template <class F>
    void for_each(F&& f) const {
        for (std::size_t i = 0; i < N; ++i) {
            if ((present_ >> i) & 1u) f(static_cast<M>(i), values_[i]);
        }
    }

private:
    std::array<float, N> values_{};
    std::uint32_t present_ = 0;
};

}  // namespace quorvant::metrics
