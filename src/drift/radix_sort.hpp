// Ordering doubles without NaN in linear time: a full ascending sort and
// the selection of order statistics.
#pragma once

#include <cstddef>
#include <span>

namespace quorvant::drift {

// Sorts `values` ascending (no NaN allowed; -0.0 and 0.0 may end up in
// either order, which no caller can observe).
void sort_f64(std::span<double> values);

// The values at ranks i and j (i <= j < size) of the ascending order of
// `values` (no NaN), without sorting; the input is not changed. A zero may
// come back with either sign.
struct RankPair {
    double at_i;
    double at_j;
};
RankPair select_ranks(std::span<const double> values, std::size_t i, std::size_t j);

}  // namespace quorvant::drift
