// Shared by the fuzz harnesses: reading typed values from the fuzzer's
// bytes, and the check that turns an oracle mismatch into a crash the
// fuzzer records. Harnesses include only core headers (no Python), accept
// every error value a core returns, and fail on crashes, sanitizer reports
// and oracle mismatches alone.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "oracle mismatch at %s:%d: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond)                                        \
    do {                                                        \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond);   \
    } while (0)

// Same bits, or both NaN (NaN payloads may differ between paths).
inline bool same(double a, double b) {
    return (a != a && b != b) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
inline bool same(float a, float b) {
    return (a != a && b != b) || std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}
template <class T>
bool same(std::span<const T> a, std::span<const T> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i])) return false;
    }
    return true;
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data, size) {}

    bool empty() { return p_.remaining_bytes() == 0; }
    bool flag() { return p_.ConsumeBool(); }
    template <class T>
    T integral(T lo, T hi) {
        return p_.ConsumeIntegralInRange<T>(lo, hi);
    }
    template <class T>
    T raw() {
        return p_.ConsumeIntegral<T>();
    }
    std::size_t size(std::size_t max) { return p_.ConsumeIntegralInRange<std::size_t>(0, max); }

    // Mostly values that collide (small integers and halves, so bins,
    // ties and duplicates occur), sometimes special or arbitrary bits.
    double real() {
        switch (p_.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: return std::bit_cast<double>(p_.ConsumeIntegral<std::uint64_t>());
            case 1: {
                static constexpr double special[] = {
                    0.0, -0.0, 1.0, -1.0, std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                    std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                    -std::numeric_limits<double>::max(), 1e-300, 9007199254740993.0};
                return special[p_.ConsumeIntegralInRange<std::size_t>(0, std::size(special) - 1)];
            }
            case 2: return p_.ConsumeFloatingPointInRange<double>(-1e6, 1e6);
            default: return static_cast<double>(p_.ConsumeIntegralInRange<int>(-40, 40)) * 0.5;
        }
    }
    // Finite values only.
    double finite() {
        const double v = real();
        return std::isfinite(v) ? v : static_cast<double>(p_.ConsumeIntegralInRange<int>(-8, 8));
    }
    float real32() { return static_cast<float>(real()); }

    std::vector<double> reals(std::size_t max, bool only_finite = false) {
        std::vector<double> out(size(max));
        for (double& v : out) v = only_finite ? finite() : real();
        return out;
    }

    // Short labels over a small alphabet (so they repeat), with a NUL or a
    // high byte now and then: labels are bytes, not C strings.
    std::string label() {
        static constexpr char alphabet[] = {'a', 'b', 'c', 'A', '\0', '\xc3', '\xa9', ' '};
        std::string s(p_.ConsumeIntegralInRange<std::size_t>(0, 3), 'a');
        for (char& c : s) c = alphabet[p_.ConsumeIntegralInRange<std::size_t>(0, std::size(alphabet) - 1)];
        return s;
    }
    std::vector<std::string> labels(std::size_t max) {
        std::vector<std::string> out(size(max));
        for (auto& s : out) s = label();
        return out;
    }

    std::uint8_t byte() { return p_.ConsumeIntegral<std::uint8_t>(); }

private:
    FuzzedDataProvider p_;
};

}  // namespace fuzz
