#include "drift/histogram_kernels.hpp"

#include <cmath>

#include "common/kernel.hpp"

namespace quorvant::drift {

namespace {

// Four lanes of doubles: one AVX register, two SSE2 ones. (Eight-lane
// vector types are split badly where AVX-512 is missing.)
using v4d = double __attribute__((vector_size(32)));

// Four values at any address. A copy rather than a cast to a vector type of
// smaller alignment: the cast is undefined for some compilers (clang keeps
// the natural alignment), the copy becomes the same unaligned load.
inline v4d load(const double* p) {
    v4d x;
    __builtin_memcpy(&x, p, sizeof x);
    return x;
}

}  // namespace

// Four independent accumulators of four lanes each, so the comparisons do
// not wait on one another. Which of two equal values (two zeros) is kept
// does not matter: the caller fixes the sign of a zero extreme.
QUORVANT_KERNEL Extremes scan_extremes(const double* v, std::size_t n) {
    constexpr int kAccumulators = 4;
    constexpr std::size_t kStep = 4 * kAccumulators;
    const auto at = [v](std::size_t i) { return load(v + i); };
    double lo = v[0], hi = v[0];
    std::size_t i = 0;
    // x - x is +0 for a finite x and NaN for NaN or an infinity, so these
    // stay +0 in every lane while the values are finite.
    v4d odd[kAccumulators] = {};
    if (n >= kStep) {
        v4d low[kAccumulators], high[kAccumulators];
        for (int k = 0; k < kAccumulators; ++k) low[k] = high[k] = at(4 * k);
        for (; i + kStep <= n; i += kStep) {
            for (int k = 0; k < kAccumulators; ++k) {
                const v4d x = at(i + 4 * k);
                low[k] = x < low[k] ? x : low[k];
                high[k] = x > high[k] ? x : high[k];
                odd[k] += x - x;
            }
        }
        for (int k = 0; k < kAccumulators; ++k) {
            for (int l = 0; l < 4; ++l) {
                lo = low[k][l] < lo ? low[k][l] : lo;
                hi = high[k][l] > hi ? high[k][l] : hi;
            }
        }
    }
    bool non_finite = false;
    for (int k = 0; k < kAccumulators; ++k) {
        for (int l = 0; l < 4; ++l) non_finite |= odd[k][l] != 0.0;
    }
    for (; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
        non_finite |= !std::isfinite(v[i]);
    }
    return {lo, hi, non_finite};
}

// Every select is on doubles and there is one conversion at the end, so
// no mask changes width.
QUORVANT_KERNEL bool computed_bins(const ComputedIndex& ix, const double* v, std::size_t n, std::int32_t* bins) {
    const double first = ix.first, inv_step = ix.inv_step, last_t = ix.last_t, margin = ix.margin;
    const double high_frac = ix.high_frac, max_count = ix.max_count;
    const auto top = static_cast<double>(ix.top);
    std::int32_t open = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = (v[i] - first) * inv_step + 1.0;
        double c = t > 1.0 ? t : 1.0;  // NaN becomes 1; values below are decided apart
        c = c < max_count ? c : max_count;
        const double j = std::trunc(c);
        const double f = c - j;
        double bin = (f > margin) & (f < high_frac) ? j : -1.0;
        bin = t < 1.0 ? 0.0 : bin;
        bin = t > last_t ? top : bin;
        const auto b = static_cast<std::int32_t>(bin);
        bins[i] = b;
        open |= b;
    }
    return open >= 0;
}

}  // namespace quorvant::drift
