// The hot loops of continuous histograms: the extremes of a set of values,
// and the counting of values into equal-width bins by a computed index.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvant::drift {

// The smallest and largest value in any order of comparison (a zero may
// come back with either sign) and whether some value is NaN or infinite
// (the extremes are meaningless then). At least one value.
struct Extremes {
    double min;
    double max;
    bool non_finite;
};
Extremes scan_extremes(const double* values, std::size_t n);

// What the computed index needs of a histogram whose bin of x is the number
// of edges e[0..m-1] at or below x, plus one above the last edge. With
//   t(x) = (x - first) * inv_step + 1.0
// (three rounded operations, each monotone in x) and T[i] = t(e[i]), an edge
// is below x when T[i] < t(x) and above it when T[i] > t(x). The edges are
// equally spaced up to rounding, so |T[i] - (i + 1)| <= margin for every i;
// then t = j + f with margin < f < 1 - margin puts exactly j edges below x.
// Values below T[0] = 1 are in bin 0, values above T[m-1] in the last bin;
// everything else (NaN, values next to an edge) is left to the caller.
struct ComputedIndex {
    double first;
    double inv_step;
    double last_t;      // T[m - 1]
    double margin;      // > max |T[i] - (i + 1)|
    double high_frac;   // 1 - margin as computed (margin has slack for its rounding)
    double max_count;   // m
    std::uint32_t top;  // the last bin, m + 1
};

// The computed bins of one block of at most kBinBlock values: the bin, or
// -1 where the computed index leaves it open. True when none is open.
inline constexpr std::size_t kBinBlock = 2048;
bool computed_bins(const ComputedIndex& ix, const double* values, std::size_t n, std::int32_t* bins);

}  // namespace quorvant::drift
