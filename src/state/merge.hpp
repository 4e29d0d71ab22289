// What the merges of all classes share: the refusal, the bit-for-bit
// comparison of baselines and settings, and exact count addition.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "state/error.hpp"

namespace quorvant::state {

inline std::unexpected<Error> refuse(std::string_view why) { return fail("cannot merge: " + std::string(why)); }

// Every digit of a double, for messages that show two values that differ.
inline std::string repr(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

// The same values bit for bit (so 0.0 and -0.0 differ, and equal NaNs match).
template <class T>
bool same_bits(std::span<const T> a, std::span<const T> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}
template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Whether the counters and their total stay within 64 bits.
inline bool total_fits(std::span<const std::uint64_t> counts) {
    std::uint64_t total = 0;
    for (const std::uint64_t c : counts) {
        if (__builtin_add_overflow(total, c, &total)) return false;
    }
    return true;
}

// The pairwise sums of two sets of counters, refused when a counter or
// their total would pass 64 bits.
template <std::size_t N>
std::expected<std::array<std::uint64_t, N>, Error> add_counts(const std::array<std::uint64_t, N>& a,
                                                            const std::array<std::uint64_t, N>& b) {
    std::array<std::uint64_t, N> sum{};
    for (std::size_t i = 0; i < N; ++i) {
        if (__builtin_add_overflow(a[i], b[i], &sum[i])) return refuse("a count would overflow 64 bits");
    }
    if (!total_fits(sum)) return refuse("the row total would overflow 64 bits");
    return sum;
}

}  // namespace quorvant::state
