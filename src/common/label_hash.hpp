// A fast 64-bit hash of label bytes (not cryptographic), seeded per
// process. Pure C++.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorvant::common {

namespace detail {

inline std::uint64_t read64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline std::uint64_t read32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}


inline constexpr std::uint64_t kK0 = 0xa0761d6478bd642fULL;
inline constexpr std::uint64_t kK1 = 0xe7037ed1a0b428dbULL;
inline constexpr std::uint64_t kK2 = 0x8ebc6af09c88c6e3ULL;

}  // namespace detail

// A fast 64-bit hash of a byte string (not cryptographic).
inline std::uint64_t hash_label(std::string_view s, std::uint64_t seed) noexcept {
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t h = seed ^ (static_cast<std::uint64_t>(n) * detail::kK0);
    while (n > 16) {
        h = detail::mix(detail::read64(p) ^ detail::kK1, detail::read64(p + 8) ^ h);
        p += 16;
        n -= 16;
    }
    std::uint64_t a = 0, b = 0;
    if (n >= 8) {
        a = detail::read64(p);
        b = detail::read64(p + n - 8);
    } else if (n >= 4) {
        a = detail::read32(p);
        b = detail::read32(p + n - 4);
    } else if (n > 0) {
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        a = (std::uint64_t{u[0]} << 16) | (std::uint64_t{u[n >> 1]} << 8) | u[n - 1];
    }
    return detail::mix(a ^ detail::kK1 ^ h, b ^ detail::kK2);
}

// Varies per process (address-space layout), so collisions cannot be
// prepared in advance.
inline std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = [] {
        static const int anchor = 0;
        return detail::mix(reinterpret_cast<std::uintptr_t>(&anchor) ^ detail::kK0, detail::kK2);
    }();
    return seed;
}

}  // namespace quorvant::common
