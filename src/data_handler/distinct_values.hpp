// Counting distinct values for the discrete-versus-continuous decision.
// Pure C++.
//
// The decision only needs to know whether the distinct count k reaches the
// smallest count at which k / n (in f32) exceeds the heuristic, so the
// count stops there: a continuous array is decided after a prefix, and a
// discrete one with few values runs a branch-free membership test over
// blocks of elements.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace quorvant::data_handler {

// The smallest k with 4 <= k <= n and f32(k) / f32(n) > heuristic (the
// continuous rule), or nullopt when no k up to n satisfies it.
std::optional<std::size_t> continuous_bound(std::size_t n, float heuristic);

// Whether `values` hold at least `bound` distinct values. Floats count as
// equal only when bit patterns match and they compare equal (every NaN is
// new, 0.0 and -0.0 differ); integers compare exactly.
template <class T>
bool has_distinct(std::span<const T> values, std::size_t bound);

// Continuous exactly when has_distinct(values, continuous_bound(...)).
template <class T>
bool is_continuous(std::span<const T> values, float heuristic) {
    const std::optional<std::size_t> bound = continuous_bound(values.size(), heuristic);
    return bound && has_distinct(values, *bound);
}

}  // namespace quorvant::data_handler
