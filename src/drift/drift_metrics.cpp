#include "drift/drift_metrics.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "config/config.hpp"

namespace quorvant::drift {

namespace {

constexpr std::array<std::string_view, 4> kNames = {
    "JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"};

// The larger of two floats; a NaN operand yields the other one.
inline double larger(double a, double b) { return std::fmax(a, b); }

double jensen_shannon(std::span<const double> b, std::span<const double> r, double s, double eps) {
    const std::size_t n = std::min(b.size(), r.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double p = larger(b[i] + eps, eps);
        const double q = larger(r[i] / s + eps, eps);
        const double m = (p + q) * 0.5;
        sum += 0.5 * p * std::log(p / m) + 0.5 * q * std::log(q / m);
    }
    // In bits, so the divergence lies between 0 and 1.
    return sum / std::numbers::ln2;
}

double population_stability(std::span<const double> b, std::span<const double> r, double s, double eps) {
    const std::size_t n = std::min(b.size(), r.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double p = larger(b[i] + eps, eps);
        const double u = larger((r[i] + eps) / s, eps);
        sum += (p - u) * std::log(p / u);
    }
    return sum;
}

double kullback_leibler(std::span<const double> b, std::span<const double> r, double s, double eps) {
    const std::size_t n = std::min(b.size(), r.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double p = larger(b[i] + eps, eps);
        const double t = (r[i] + eps) / s;
        sum += p * std::log(larger(p / t, eps));
    }
    return sum;
}

double wasserstein(std::span<const double> b, std::span<const double> r, double s, double eps, DriftFamily family) {
    const std::size_t n = std::min(b.size(), r.size());
    if (family == DriftFamily::Categorical) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double p = larger(b[i] + eps, eps);
            const double q = larger(r[i] / s + eps, eps);
            sum += std::abs(p - q);
        }
        return 0.5 * sum;
    }
    // The bins below and above the baseline range are left out.
    const std::size_t len = b.size();
    double sum = 0.0;
    for (std::size_t i = 1; i + 1 < len && i < n; ++i) {
        const double p = larger(b[i] + eps, eps);
        const double q = larger(r[i] / s + eps, eps);
        sum += std::abs(p - q);
    }
    const double inner = len > 2 ? static_cast<double>(len - 2) : 1.0;
    return sum / inner;
}

}  // namespace

std::string_view name(DriftType t) { return kNames[static_cast<std::size_t>(t)]; }

std::expected<DriftType, errors::DriftError> drift_type_from(std::string_view text) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == text) return static_cast<DriftType>(i);
    }
    return std::unexpected(errors::DriftError::UnsupportedDriftType);
}

double global_compute_drift(const DriftInputs& in, DriftType t) {
    const double eps = config::stability_eps();
    switch (t) {
        case DriftType::JensenShannon: return jensen_shannon(in.baseline, in.runtime, in.total, eps);
        case DriftType::PopulationStabilityIndex: return population_stability(in.baseline, in.runtime, in.total, eps);
        case DriftType::WassersteinDistance: return wasserstein(in.baseline, in.runtime, in.total, eps, in.family);
        case DriftType::KullbackLeibler: return kullback_leibler(in.baseline, in.runtime, in.total, eps);
    }
    return 0.0;
}

double sum_in_order(std::span<const double> bins) noexcept {
    double s = 0.0;
    for (double v : bins) s += v;
    return s;
}

std::vector<double> scores_of(std::span<const double> baseline, std::span<const double> runtime,
                              DriftFamily family, std::span<const DriftType> types) {
    const DriftInputs in{baseline, runtime, sum_in_order(runtime), family};
    std::vector<double> out;
    out.reserve(types.size());
    for (DriftType t : types) out.push_back(global_compute_drift(in, t));
    return out;
}

std::expected<std::vector<double>, errors::DriftError> compute_drift_continuous_distribution(
    std::span<const double> baseline, std::span<const double> candidate, std::span<const DriftType> types,
    std::optional<QuantileType> q) {
    auto b = BaselineContinuousBins::create(baseline, resolve(q));
    if (!b) return std::unexpected(b.error());
    if (candidate.empty()) return std::unexpected(errors::DriftError::EmptyRuntimeData);
    std::vector<std::uint64_t> counts(b->num_bins(), 0);
    b->count(candidate, counts);
    std::vector<double> runtime(counts.size());
    for (std::size_t i = 0; i < counts.size(); ++i) runtime[i] = static_cast<double>(counts[i]);
    return scores_of(b->baseline_hist(), runtime, DriftFamily::Continuous, types);
}

std::expected<std::vector<double>, errors::DriftError> compute_drift_categorical_distribution(
    const BaselineCategoricalBins& baseline, std::span<const std::uint64_t> counts, std::size_t n,
    std::span<const DriftType> types) {
    if (n == 0) return std::unexpected(errors::DriftError::EmptyRuntimeData);
    std::vector<double> runtime(counts.size(), 0.0);
    for (std::size_t i = 0; i < counts.size(); ++i) runtime[i] = static_cast<double>(counts[i]);
    return scores_of(baseline.baseline_hist(), runtime, DriftFamily::Categorical, types);
}

}  // namespace quorvant::drift
