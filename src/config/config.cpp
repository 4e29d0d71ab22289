#include "config/config.hpp"

#include <algorithm>
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

// Whether a decimal lies below 1 in magnitude, from the place of its first
// non-zero digit and its exponent. from_chars leaves the value unset when it
// is out of range; this tells underflow ("0.000...1", "1e-400") from
// overflow ("1e400"). The text is a valid decimal with a non-zero digit.
bool below_one(std::string_view s) {
    const std::size_t e_at = std::min(s.find_first_of("eE"), s.size());
    const std::string_view mantissa = s.substr(0, e_at);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return true;
    // Decimal exponent of the first non-zero digit, then the written exponent
    // (saturated: any magnitude beyond this is out of range either way).
    long long place = first < point ? static_cast<long long>(point - first) - 1
                                    : -static_cast<long long>(first - point);
    long long exponent = 0;
    std::size_t i = e_at + 1;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    for (; i < s.size(); ++i) exponent = std::min(exponent * 10 + (s[i] - '0'), 1'000'000'000'000LL);
    place += negative ? -exponent : exponent;
    return place < 0;
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
            value = below_one(body) ? T(0) : std::numeric_limits<T>::infinity();
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
