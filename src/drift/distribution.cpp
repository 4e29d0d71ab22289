#include "drift/distribution.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    const std::size_t n = values.size();
    const double nf = static_cast<double>(n);
    // The sums run in ascending order, so their rounding needs the sort.
    std::vector<double> x(values.begin(), values.end());
    sort_f64(x);
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
    const double* v = values.data();
    const std::size_t n = values.size();
    BaselineSummary s{0.0, 0.0, false, false};
    if (n == 0) return s;
    double lo = v[0], hi = v[0];
    bool nan = false, inf = false;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sign-agnostic extremes and the NaN / infinity flags, two lanes at a time.
    __m128d vlo = _mm_set1_pd(v[0]), vhi = vlo;
    __m128d odd = _mm_setzero_pd();
    const __m128d abs_mask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    const __m128d infinity = _mm_set1_pd(std::numeric_limits<double>::infinity());
    for (; i + 2 <= n; i += 2) {
        const __m128d x = _mm_loadu_pd(v + i);
        vlo = _mm_min_pd(vlo, x);
        vhi = _mm_max_pd(vhi, x);
        // Unordered with itself (NaN) or equal to infinity in magnitude.
        odd = _mm_or_pd(odd, _mm_or_pd(_mm_cmpunord_pd(x, x), _mm_cmpeq_pd(_mm_and_pd(x, abs_mask), infinity)));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, vlo);
    lo = std::min(lanes[0], lanes[1]);
    _mm_store_pd(lanes, vhi);
    hi = std::max(lanes[0], lanes[1]);
    if (_mm_movemask_pd(odd) != 0) {
        for (std::size_t k = 0; k < i; ++k) {
            nan |= std::isnan(v[k]);
            inf |= std::isinf(v[k]);
        }
    }
#endif
    for (; i < n; ++i) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
        nan |= std::isnan(v[i]);
        inf |= std::isinf(v[i]);
    }
    s.has_nan = nan;
    s.has_inf = inf;
    s.min = lo == 0.0 ? first_zero(values) : lo;
    s.max = hi == 0.0 ? last_zero(values) : hi;
    return s;
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
