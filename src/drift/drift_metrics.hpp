// The four drift scores of a runtime histogram against a baseline, and the
// one-shot comparisons of a baseline sample with a candidate sample.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "drift/baseline.hpp"
#include "drift/distribution.hpp"
#include "errors/errors.hpp"

namespace quorvant::drift {

enum class DriftType : std::uint8_t { JensenShannon, PopulationStabilityIndex, WassersteinDistance, KullbackLeibler };

std::string_view name(DriftType t);

// Exact, case-sensitive match; anything else is UnsupportedDriftType.
std::expected<DriftType, errors::DriftError> drift_type_from(std::string_view text);

// Converts every name in order; the first unknown one stops.
template <class Names>
std::expected<std::vector<DriftType>, errors::DriftError> drift_types_from(const Names& names) {
    std::vector<DriftType> out;
    out.reserve(names.size());
    for (const auto& n : names) {
        const auto t = drift_type_from(n);
        if (!t) return std::unexpected(t.error());
        out.push_back(*t);
    }
    return out;
}

// Which Wasserstein variant applies: the continuous one leaves out the bins
// below and above the baseline range.
enum class DriftFamily : std::uint8_t { Continuous, Categorical };

// What a score reads: baseline shares b, runtime weights r (same length)
// and the runtime total S > 0.
struct DriftInputs {
    std::span<const double> baseline;
    std::span<const double> runtime;
    double total;
    DriftFamily family;
};

// One score; never fails, changes nothing. Uses the configured stability
// eps.
double global_compute_drift(const DriftInputs& in, DriftType t);

// The bin weights' sum in bin order (the runtime total of the batch paths).
double sum_in_order(std::span<const double> bins) noexcept;

// One score per requested type, in request order, over a runtime histogram
// whose total is the sum of its bins.
std::vector<double> scores_of(std::span<const double> baseline, std::span<const double> runtime,
                              DriftFamily family, std::span<const DriftType> types);

// Baseline values against candidate values: the errors of the baseline,
// then EmptyRuntimeData for an empty candidate.
std::expected<std::vector<double>, errors::DriftError> compute_drift_continuous_distribution(
    std::span<const double> baseline, std::span<const double> candidate, std::span<const DriftType> types,
    std::optional<QuantileType> q);

// A built baseline against the bin counts of n candidate labels (no
// labels is EmptyRuntimeData).
std::expected<std::vector<double>, errors::DriftError> compute_drift_categorical_distribution(
    const BaselineCategoricalBins& baseline, std::span<const std::uint64_t> counts, std::size_t n,
    std::span<const DriftType> types);

}  // namespace quorvant::drift
