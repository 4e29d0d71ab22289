#include "drift/histogram_kernels.hpp"

#include <cmath>

#include "common/kernel.hpp"

namespace quorvant::drift {

namespace {

// Four lanes of doubles: one AVX register, two SSE2 ones. (Eight-lane
// vector types are split badly where AVX-512 is missing.)
using v4d = double __attribute__((vector_size(32)));
// The same, for access at any address (vector types alias their elements).
using v4d_at = double __attribute__((vector_size(32), aligned(8)));

}  // namespace

// Four independent accumulators of four lanes each, so the comparisons do
// not wait on one another. Which of two equal values (two zeros) is kept
// does not matter: the caller fixes the sign of a zero extreme.
QUORVANT_KERNEL Extremes scan_extremes(const double* v, std::size_t n) {
    constexpr std::size_t kStep = 16;
    const auto at = [v](std::size_t i) { return *reinterpret_cast<const v4d_at*>(v + i); };
    double lo = v[0], hi = v[0];
    std::size_t i = 0;
    v4d odd = {};  // stays +0 in every lane while the values are finite
    if (n >= kStep) {
        v4d lo0 = at(0), lo1 = at(4), lo2 = at(8), lo3 = at(12);
        v4d hi0 = lo0, hi1 = lo1, hi2 = lo2, hi3 = lo3;
        for (; i + kStep <= n; i += kStep) {
            const v4d x0 = at(i), x1 = at(i + 4), x2 = at(i + 8), x3 = at(i + 12);
            lo0 = x0 < lo0 ? x0 : lo0;
            lo1 = x1 < lo1 ? x1 : lo1;
            lo2 = x2 < lo2 ? x2 : lo2;
            lo3 = x3 < lo3 ? x3 : lo3;
            hi0 = x0 > hi0 ? x0 : hi0;
            hi1 = x1 > hi1 ? x1 : hi1;
            hi2 = x2 > hi2 ? x2 : hi2;
            hi3 = x3 > hi3 ? x3 : hi3;
            // x - x is +0 for a finite x and NaN for NaN or an infinity.
            odd += (x0 - x0) + (x1 - x1) + ((x2 - x2) + (x3 - x3));
        }
        lo0 = lo1 < lo0 ? lo1 : lo0;
        lo2 = lo3 < lo2 ? lo3 : lo2;
        lo0 = lo2 < lo0 ? lo2 : lo0;
        hi0 = hi1 > hi0 ? hi1 : hi0;
        hi2 = hi3 > hi2 ? hi3 : hi2;
        hi0 = hi2 > hi0 ? hi2 : hi0;
        for (int l = 0; l < 4; ++l) {
            lo = lo0[l] < lo ? lo0[l] : lo;
            hi = hi0[l] > hi ? hi0[l] : hi;
        }
    }
    bool non_finite = false;
    for (int l = 0; l < 4; ++l) non_finite |= odd[l] != 0.0;
    for (; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
        non_finite |= !std::isfinite(v[i]);
    }
    return {lo, hi, non_finite};
}

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
