// Counting distinct values for the discrete-versus-continuous decision.
// Pure C++.
//
// The decision only needs to know whether the distinct count k reaches the
// smallest count at which k / n (in f32) exceeds the heuristic, so the
// count stops there: a continuous array is decided after a prefix, and a
// discrete one with few values runs a branch-free membership test over
// blocks of elements. The definitions are hot loops over user data, so
// they live in distinct_kernels.cpp, built as a kernel file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

namespace quorvant::data_handler {

// The smallest k with 4 <= k <= n and f32(k) / f32(n) > heuristic (the
// continuous rule), or nullopt when no k up to n satisfies it.
std::optional<std::size_t> continuous_bound(std::size_t n, float heuristic);

// Whether `values` hold at least `bound` distinct values. Floats count as
// equal only when bit patterns match and they compare equal (every NaN is
// new, 0.0 and -0.0 differ); integers compare exactly.
template <class T>
bool has_distinct(std::span<const T> values, std::size_t bound);

namespace detail {
// Elements are compared through an unsigned key of their own width: the bit
// pattern for floats (NaN never reaches the sets), the value for integers.
template <class T>
using Key = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                               std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                  std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
}  // namespace detail

// The same count made a stretch of rows at a time, so that a caller can
// do its own work on each stretch while the rows are in cache, and learn
// the answer as soon as it is known: at the bound (continuous), or when
// more than a few values forced the rest of the array to be counted at
// once (either answer). Open after the last row means discrete.
enum class Decision : std::uint8_t { Open, Discrete, Continuous };

template <class T>
class DistinctScan {
public:
    DistinctScan(std::span<const T> values, std::size_t bound) : values_(values), bound_(bound) {}

    // Counts rows [next, end) (end past the rows counted so far) and
    // returns the decision, or Open while neither is known yet.
    Decision advance(std::size_t end);

private:
    static constexpr std::size_t kSmall = 8;  // values tested branch-free

    std::span<const T> values_;
    std::size_t bound_;
    std::size_t next_ = 0;
    std::size_t k_ = 0;
    std::size_t live_ = 0;
    Decision decided_ = Decision::Open;
    detail::Key<T> small_[kSmall] = {};  // keys of the first distinct values
};

// Continuous exactly when has_distinct(values, continuous_bound(...)).
template <class T>
bool is_continuous(std::span<const T> values, float heuristic) {
    const std::optional<std::size_t> bound = continuous_bound(values.size(), heuristic);
    return bound && has_distinct(values, *bound);
}

}  // namespace quorvant::data_handler
