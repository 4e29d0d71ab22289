// The log-loss term of one (truth, score) pair, shared by the batch function
// and the streaming monitor: the clamp of the score into [lo, hi] and the
// natural logarithm in f32.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <expected>
#include <limits>

#include "errors/errors.hpp"

namespace quorvant::model_perf {

struct ClampBounds {
    float lo;
    float hi;
};

// Bounds from the configured epsilon (narrowed to f32): lo = eps and
// hi = 1 - eps. Two corrections:
//  - eps > 0.5 (or NaN) would invert the clamp; no log loss can be computed
//    then, so the caller gets InvalidData instead of a meaningless number.
//  - a small positive eps leaves 1 - eps == 1.0 in f32, which would let a
//    score of 1.0 through and turn a perfect prediction into 1*ln(1) +
//    0*ln(0) = NaN (and a confidently wrong one into +inf). The upper bound
//    is then the largest f32 below 1.0 instead.
// An eps <= 0 is taken as given.
inline std::expected<ClampBounds, errors::ModelPerformanceError> clamp_bounds(double configured_eps) {
    const float eps = static_cast<float>(configured_eps);
    if (!(eps <= 0.5f)) return std::unexpected(errors::kInvalidData);
    float hi = 1.0f - eps;
    if (eps > 0.0f && hi == 1.0f) hi = std::nextafter(1.0f, 0.0f);
    return ClampBounds{eps, hi};
}

// eps if p < eps, hi if p > hi, else p (a NaN score stays NaN).
inline float clamp_score(float p, const ClampBounds& b) {
    return p < b.lo ? b.lo : (p > b.hi ? b.hi : p);
}

// Natural logarithm of an f32, computed in f64 and rounded once: the same
// bits on every machine and in every loop shape (the platform's logf has
// CPU-dependent variants and cannot be vectorised), and branch-free so the
// log-loss loop vectorises. x = m * 2^e with m in [sqrt(1/2), sqrt(2)),
// ln(m) = 2 atanh(s) with s = (m - 1) / (m + 1), |s| < 0.172; the series to
// s^15 leaves a relative error below 2^-45 before the final rounding.
inline float ln_f32(float x) {
    // Subnormals are scaled into the normal range first.
    const bool tiny = x < 0x1p-126f;
    const float xs = tiny ? x * 0x1p23f : x;
    const std::int32_t scale = tiny ? -23 : 0;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(xs);
    const std::int32_t e = static_cast<std::int32_t>(bits - 0x3f3504f3u) >> 23;  // 0x3f3504f3: sqrt(1/2)
    const float m = std::bit_cast<float>(bits - (static_cast<std::uint32_t>(e) << 23));
    const double f = static_cast<double>(m) - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double z2 = z * z;
    const double z4 = z2 * z2;
    const double p01 = 1.0 + z * (1.0 / 3.0);
    const double p23 = 1.0 / 5.0 + z * (1.0 / 7.0);
    const double p45 = 1.0 / 9.0 + z * (1.0 / 11.0);
    const double p67 = 1.0 / 13.0 + z * (1.0 / 15.0);
    const double series = (p01 + z2 * p23) + z4 * (p45 + z2 * p67);
    constexpr double kLn2 = 0x1.62e42fefa39efp-1;
    const double r = static_cast<double>(e + scale) * kLn2 + (s + s) * series;
    float out = static_cast<float>(r);
    out = x == 0.0f ? -std::numeric_limits<float>::infinity() : out;
    out = x == std::numeric_limits<float>::infinity() ? x : out;
    out = (x < 0.0f) | (x != x) ? std::numeric_limits<float>::quiet_NaN() : out;
    return out;
}

// t * ln(pc) + (1 - t) * ln(1 - pc) in f32, with pc the clamped score and t
// the raw truth.
inline float log_loss_term(float t, float p, const ClampBounds& b) {
    const float pc = clamp_score(p, b);
    return t * ln_f32(pc) + (1.0f - t) * ln_f32(1.0f - pc);
}

}  // namespace quorvant::model_perf
