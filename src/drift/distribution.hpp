// Bin-count rules of continuous baselines: the rule enumeration, its names,
// and the bin count a rule gives for a set of baseline values.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "errors/errors.hpp"

namespace quorvant::drift {

enum class QuantileType : std::uint8_t { FreedmanDiaconis, Scott, Sturges };

// Histograms of more bins than this are refused: a huge spread under a rule
// would otherwise ask for billions of bins.
inline constexpr std::uint64_t kMaxBins = 1'000'000;

std::string_view name(QuantileType q);

// Exact, case-sensitive match of the whole string; anything else is
// DriftError::UnsupportedDriftType.
std::expected<QuantileType, errors::DriftError> quantile_type_from(std::string_view text);

// An absent name stays absent (the constructors resolve it to
// FreedmanDiaconis); a present one is converted as above.
std::expected<std::optional<QuantileType>, errors::DriftError> coerce_quantile_type(
    std::optional<std::string_view> text);

inline QuantileType resolve(std::optional<QuantileType> q) { return q.value_or(QuantileType::FreedmanDiaconis); }

// One pass over baseline values: the extremes as a stable ascending sort
// places them (the first minimum and the last maximum in input order; they
// differ from any other choice only in the sign of a zero), and whether a
// NaN or an infinity is present (the extremes are meaningless then).
struct BaselineSummary {
    double min;
    double max;
    bool has_nan;
    bool has_inf;
};
BaselineSummary summarize(std::span<const double> values);

// The bin count (at least 3, unbounded above) of `values`: at least two
// finite values, no NaN, in any order, with their summary. The rules are
// defined on the values sorted ascending; only what a rule reads is ordered
// (FreedmanDiaconis selects its two quartiles, Scott sorts because its sums
// run in sorted order, Sturges needs no order), with the result of a full
// sort.
std::uint64_t compute_num_bins(QuantileType q, std::span<const double> values, const BaselineSummary& summary);

// Scott's bin count of values already sorted ascending (for a caller that
// keeps the sorted values).
std::uint64_t scott_num_bins(std::span<const double> sorted);

}  // namespace quorvant::drift
