#include "drift/distribution.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "drift/histogram_kernels.hpp"
#include "drift/radix_sort.hpp"

namespace quorvant::drift {

namespace {

constexpr std::array<std::string_view, 3> kNames = {"FreedmanDiaconis", "Scott", "Sturges"};

// Float to count: NaN and negatives give 0, values past the range its maximum.
std::uint64_t saturate(double v) {
    if (!(v >= 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

std::uint64_t at_least_three(std::uint64_t bins) { return std::max<std::uint64_t>(bins, 3); }

// n^(-1/3) with the double nearest to -1/3.
double cube_root_factor(double n) { return std::pow(n, -0.3333333333333333); }

std::uint64_t freedman_diaconis(std::span<const double> values, const BaselineSummary& s) {
    const std::size_t n = values.size();
    const double nf = static_cast<double>(n);
    // Quartiles without interpolation.
    const auto i3 = std::min<std::size_t>(n - 1, static_cast<std::size_t>(std::floor(0.75 * nf)));
    const auto i1 = static_cast<std::size_t>(std::floor(0.25 * nf));
    const RankPair q = select_ranks(values, i1, i3);
    const double iqr = q.at_j - q.at_i;
    if (iqr == 0.0) return 3;
    const double range = s.max - s.min;
    const double h = cube_root_factor(nf) * (iqr + iqr);
    return at_least_three(saturate(std::ceil(range / h)));
}

std::uint64_t scott(std::span<const double> values) {
    // The sums run in ascending order, so their rounding needs the sort.
    std::vector<double> x(values.begin(), values.end());
    sort_f64(x);
    return scott_num_bins(x);
}

std::uint64_t sturges(std::span<const double> values, const BaselineSummary& s) {
    if (s.max == s.min) return 3;
    const double nf = static_cast<double>(values.size());
    return at_least_three(saturate(std::floor(std::log2(nf)) + 1.0));
}

// A zero extreme takes the sign of the first (minimum) or last (maximum)
// zero in input order, as a stable sort would place it.
double first_zero(std::span<const double> values) {
    for (double v : values) {
        if (v == 0.0) return v;
    }
    return 0.0;
}
double last_zero(std::span<const double> values) {
    for (std::size_t i = values.size(); i-- > 0;) {
        if (values[i] == 0.0) return values[i];
    }
    return 0.0;
}

}  // namespace

std::string_view name(QuantileType q) { return kNames[static_cast<std::size_t>(q)]; }

std::expected<QuantileType, errors::DriftError> quantile_type_from(std::string_view text) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == text) return static_cast<QuantileType>(i);
    }
    return std::unexpected(errors::DriftError::UnsupportedDriftType);
}

std::expected<std::optional<QuantileType>, errors::DriftError> coerce_quantile_type(
    std::optional<std::string_view> text) {
    std::optional<QuantileType> out;
    if (text) {
        const auto q = quantile_type_from(*text);
        if (!q) return std::unexpected(q.error());
        out = *q;
    }
    return out;
}

BaselineSummary summarize(std::span<const double> values) {
    BaselineSummary s{0.0, 0.0, false, false};
    if (values.empty()) return s;
    const Extremes x = scan_extremes(values.data(), values.size());
    if (x.non_finite) {
        for (double v : values) {
            s.has_nan |= std::isnan(v);
            s.has_inf |= std::isinf(v);
        }
    }
    s.min = x.min == 0.0 ? first_zero(values) : x.min;
    s.max = x.max == 0.0 ? last_zero(values) : x.max;
    return s;
}

std::uint64_t scott_num_bins(std::span<const double> x) {
    const std::size_t n = x.size();
    const double nf = static_cast<double>(n);
    double sum = 0.0;
    for (double v : x) sum += v;
    const double mean = sum / nf;
    double ss = 0.0;
    for (double v : x) {
        const double d = v - mean;
        ss += d * d;
    }
    if (x[n - 1] == x[0]) return 3;
    const double sd = std::sqrt((1.0 / (nf - 1.0)) * ss);
    const double range = x[n - 1] - x[0];
    const double h = cube_root_factor(nf) * (sd * 3.49);
    return at_least_three(saturate(std::ceil(range / h)));
}

std::uint64_t compute_num_bins(QuantileType q, std::span<const double> values, const BaselineSummary& summary) {
    switch (q) {
        case QuantileType::FreedmanDiaconis: return freedman_diaconis(values, summary);
        case QuantileType::Scott: return scott(values);
        case QuantileType::Sturges: return sturges(values, summary);
    }
    return 3;
}

}  // namespace quorvant::drift
