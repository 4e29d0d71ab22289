#include "errors/errors.hpp"

#include <array>

namespace quorvant::errors {

namespace {

constexpr std::array<std::string_view, 5> kBiasNames = {
    "NoFacetDeviation", "NoSegmentationParameters", "AmbiguousSegmentationParameters",
    "DataLengthError", "BiasConfigError",
};

constexpr std::array<std::string_view, 5> kBiasMessages = {
    "No deviation in behavior between facets",
    "No segmentation parameters provided",
    "Ambiguous segmentation parameters",
    "All data arrays must have equal length and be at least lenght 1",
    "Invalid bias configuration",
};

constexpr std::array<std::string_view, 10> kDriftMessages = {
    "Data used for runtime drift analysis must be non empty",
    "Unable to convert internal timestamp into DateTime object",
    "Internal runtime bins are malformed",
    "Baseline data must be non empty",
    "NaN values are not supported",
    "Unsupported drift type",
    "Operation not supported in current drift mode",
    "Configuration not supported in current drift mode",
    "Baseline data must be finite",
    "Baseline data needs too many bins",
};

constexpr std::array<std::string_view, 7> kDataBiasRuntimeNames = {
    "ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence",
    "TotalVariationDistance", "KolmogorovSmirnov", "LpNorm",
};

constexpr std::array<std::string_view, 12> kModelBiasRuntimeNames = {
    "DifferenceInPositivePredictedLabels",
    "DisparateImpact",
    "AccuracyDifference",
    "RecallDifference",
    "DifferenceInConditionalAcceptance",
    "DifferenceInAcceptanceRate",
    "SpecialityDifference",
    "DifferenceInConditionalRejection",
    "TreatmentEquity",
    "ConditionalDemographicDesparityPredictedLabels",
    "DifferenceInRejectionRate",
    "GeneralizedEntropy",
};

constexpr std::array<std::string_view, 7> kModelPerfMessages = {
    "Metric cannot be computed with given data",
    "Empty data vectors",
    "Data vectors must be equal length",
    "Invalid analysis report",
    "Bias Error: ",
    "Data Vector type mistmatch",
    "UnSupportedType",
};

}  // namespace

std::string_view name(BiasError e) { return kBiasNames[static_cast<std::size_t>(e)]; }
std::string_view message(BiasError e) { return kBiasMessages[static_cast<std::size_t>(e)]; }
std::string_view message(DriftError e) { return kDriftMessages[static_cast<std::size_t>(e)]; }

std::string message(const InvalidMetricError& e) {
    // "Metrics: [\"a\", \"b\"] are not supported", with quotes and
    // backslashes inside a name escaped.
    std::string out = "Metrics: [";
    for (std::size_t i = 0; i < e.names.size(); ++i) {
        if (i) out += ", ";
        out += '"';
        for (char c : e.names[i]) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    out += "] are not supported";
    return out;
}

std::string message(DataBiasRuntimeError e) {
    return std::string(kDataBiasRuntimeNames[static_cast<std::size_t>(e)]) + " not present";
}

std::string message(ModelBiasRuntimeError e) {
    return std::string(kModelBiasRuntimeNames[static_cast<std::size_t>(e)]) + " not present";
}

std::string message(const ModelPerformanceError& e) {
    std::string out(kModelPerfMessages[static_cast<std::size_t>(e.kind)]);
    if (e.kind == ModelPerformanceError::Kind::BiasError) out += name(e.bias);
    return out;
}

std::string message(const Error& e) {
    return std::visit([](const auto& v) { return std::string(message(v)); }, e);
}

ExceptionType exception_type(BiasError) { return ExceptionType::ValueError; }

ExceptionType exception_type(DriftError e) {
    switch (e) {
        case DriftError::MalformedTimestamp:
        case DriftError::MalformedRuntimeBins:
            return ExceptionType::SystemError;
        default:
            return ExceptionType::ValueError;
    }
}

ExceptionType exception_type(const InvalidMetricError&) { return ExceptionType::ValueError; }
ExceptionType exception_type(DataBiasRuntimeError) { return ExceptionType::ValueError; }
ExceptionType exception_type(ModelBiasRuntimeError) { return ExceptionType::ValueError; }

ExceptionType exception_type(const ModelPerformanceError& e) {
    using K = ModelPerformanceError::Kind;
    switch (e.kind) {
        case K::EmptyDataVector:
        case K::DataVectorLengthMismatch:
        case K::InvalidAnalysisReport:
            return ExceptionType::ValueError;
        default:
            return ExceptionType::TypeError;
    }
}

ExceptionType exception_type(const Error& e) {
    return std::visit([](const auto& v) { return exception_type(v); }, e);
}

}  // namespace quorvant::errors
