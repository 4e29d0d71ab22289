// Error kinds returned by the computing cores. Plain values: the core never
// throws for bad input; the binding frame turns a kind into the Python
// exception named by `exception_type`.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quorvant::errors {

// Which Python exception a kind becomes. The core names it; the frame maps it.
enum class ExceptionType : std::uint8_t { ValueError, TypeError, SystemError, OverflowError };

enum class BiasError : std::uint8_t {
    NoFacetDeviation,
    NoSegmentationParameters,
    AmbiguousSegmentationParameters,
    DataLengthError,
    BiasConfigError,
};

enum class DriftError : std::uint8_t {
    EmptyRuntimeData,
    MalformedTimestamp,
    MalformedRuntimeBins,
    EmptyBaselineData,
    NaNValueError,
    UnsupportedDriftType,
    OperationNotSupported,
    ConfigurationNotSupported,
    // Bounded histograms: a continuous baseline must give finite edges and a
    // bin count that can be allocated.
    NonFiniteBaseline,
    TooManyBins,
};

// Which family's name list rejected the names; linear and logistic
// regression share the regression case.
enum class MetricFamily : std::uint8_t { DataBias, ModelBias, Classification, Regression };

struct InvalidMetricError {
    MetricFamily family;
    std::vector<std::string> names;
};

enum class DataBiasRuntimeError : std::uint8_t {
    ClassImbalance,
    DifferenceInProportionOfLabels,
    KlDivergence,
    JsDivergence,
    TotalVariationDistance,
    KolmogorovSmirnov,
    LpNorm,
};

enum class ModelBiasRuntimeError : std::uint8_t {
    DifferenceInPositivePredictedLabels,
    DisparateImpact,
    AccuracyDifference,
    RecallDifference,
    DifferenceInConditionalAcceptance,
    DifferenceInAcceptanceRate,
    SpecialityDifference,
    DifferenceInConditionalRejection,
    TreatmentEquity,
    ConditionalDemographicDesparityPredictedLabels,
    DifferenceInRejectionRate,
    GeneralizedEntropy,
};

struct ModelPerformanceError {
    enum class Kind : std::uint8_t {
        InvalidData,
        EmptyDataVector,
        DataVectorLengthMismatch,
        InvalidAnalysisReport,
        BiasError,
        DataVectorTypeMismatch,
        UnsupportedTypeError,
    };
    Kind kind;
    BiasError bias{};  // meaningful only for Kind::BiasError

    static constexpr ModelPerformanceError of(Kind k) { return {k, {}}; }
    static constexpr ModelPerformanceError carrying(BiasError b) { return {Kind::BiasError, b}; }
    friend constexpr bool operator==(const ModelPerformanceError&, const ModelPerformanceError&) = default;
};

// Shorthands for the cases used most.
inline constexpr ModelPerformanceError kInvalidData = ModelPerformanceError::of(ModelPerformanceError::Kind::InvalidData);
inline constexpr ModelPerformanceError kEmptyDataVector =
    ModelPerformanceError::of(ModelPerformanceError::Kind::EmptyDataVector);
inline constexpr ModelPerformanceError kLengthMismatch =
    ModelPerformanceError::of(ModelPerformanceError::Kind::DataVectorLengthMismatch);
inline constexpr ModelPerformanceError kInvalidAnalysisReport =
    ModelPerformanceError::of(ModelPerformanceError::Kind::InvalidAnalysisReport);
inline constexpr ModelPerformanceError kUnsupportedType =
    ModelPerformanceError::of(ModelPerformanceError::Kind::UnsupportedTypeError);

// Any error kind of the system, for code paths that can return several.
using Error = std::variant<BiasError, DriftError, InvalidMetricError, DataBiasRuntimeError,
                           ModelBiasRuntimeError, ModelPerformanceError>;

template <class T>
using Result = std::expected<T, Error>;

std::string_view name(BiasError e);
std::string_view message(BiasError e);
std::string_view message(DriftError e);
std::string message(const InvalidMetricError& e);
std::string message(DataBiasRuntimeError e);
std::string message(ModelBiasRuntimeError e);
std::string message(const ModelPerformanceError& e);
std::string message(const Error& e);

ExceptionType exception_type(BiasError e);
ExceptionType exception_type(DriftError e);
ExceptionType exception_type(const InvalidMetricError& e);
ExceptionType exception_type(DataBiasRuntimeError e);
ExceptionType exception_type(ModelBiasRuntimeError e);
ExceptionType exception_type(const ModelPerformanceError& e);
ExceptionType exception_type(const Error& e);

}  // namespace quorvant::errors
