#include "config/config.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>

namespace quorvant::config {

namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Checks the decimal grammar; from_chars alone would also take hex-free
// forms such as "nan(123)" and refuse a leading '+'.
bool is_decimal(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    std::size_t int_digits = 0, frac_digits = 0;
    while (i < n && is_digit(s[i])) ++i, ++int_digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && is_digit(s[i])) ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < n && is_digit(s[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == n;
}

template <class T>
std::optional<T> parse(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    T value;
    if (iequals(body, "inf") || iequals(body, "infinity")) {
        value = std::numeric_limits<T>::infinity();
    } else if (iequals(body, "nan")) {
        value = std::numeric_limits<T>::quiet_NaN();
    } else {
        if (!is_decimal(body)) return std::nullopt;
        auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
        // Out-of-range decimals round to 0 or infinity, as a float parse does.
        if (ec == std::errc::result_out_of_range) {
            // from_chars leaves value unspecified here; decide by the exponent sign.
            const bool tiny = body.find("e-") != std::string_view::npos || body.find("E-") != std::string_view::npos;
            value = tiny ? T(0) : std::numeric_limits<T>::infinity();
        } else if (ec != std::errc() || ptr != body.data() + body.size()) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

template <class T>
T read_env(const char* variable, T fallback) {
    const char* raw = std::getenv(variable);
    if (raw == nullptr) return fallback;
    // The grammar is pure ASCII, so text that is not valid Unicode never parses.
    return parse<T>(raw).value_or(fallback);
}

}  // namespace

std::optional<double> parse_f64(std::string_view text) { return parse<double>(text); }
std::optional<float> parse_f32(std::string_view text) { return parse<float>(text); }

double stability_eps() {
    static const double value = read_env<double>("QUORVANT_STABILITY_EPS", kDefaultStabilityEps);
    return value;
}

float distribution_heuristic() {
    static const float value = read_env<float>("QUORVANT_DISTRIBUTION_HEURISTIC", kDefaultDistributionHeuristic);
    return value;
}

}  // namespace quorvant::config
