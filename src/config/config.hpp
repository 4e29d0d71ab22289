// The two process-wide configuration values. Each is read from its
// environment variable on first use, under a once-only guard, and never
// changes afterwards.
#pragma once

#include <optional>
#include <string_view>

namespace quorvant::config {

inline constexpr double kDefaultStabilityEps = 1e-12;
inline constexpr float kDefaultDistributionHeuristic = 0.05f;

// QUORVANT_STABILITY_EPS: guards divisions and logarithms.
double stability_eps();
// QUORVANT_DISTRIBUTION_HEURISTIC: distinct-to-total ratio above which a
// numeric array counts as continuous.
float distribution_heuristic();

// The whole text as a decimal number (optional sign, digits with optional
// fraction and exponent, or inf / infinity / nan in any case); no blanks.
std::optional<double> parse_f64(std::string_view text);
std::optional<float> parse_f32(std::string_view text);

}  // namespace quorvant::config
