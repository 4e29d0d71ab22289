#include "drift/radix_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace quorvant::drift {

namespace {

// Maps a double to an unsigned key of the same order: negatives have all
// bits flipped, non-negatives only the sign bit.
inline std::uint64_t to_key(double v) {
    const auto b = std::bit_cast<std::uint64_t>(v);
    const std::uint64_t mask = static_cast<std::uint64_t>(-static_cast<std::int64_t>(b >> 63)) | (1ULL << 63);
    return b ^ mask;
}

inline double from_key(std::uint64_t k) {
    const std::uint64_t mask = ((k >> 63) - 1) | (1ULL << 63);
    return std::bit_cast<double>(k ^ mask);
}

constexpr int kDigitBits = 8;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
constexpr int kPasses = 64 / kDigitBits;

// Below this size the comparison algorithms are faster than any radix pass.
constexpr std::size_t kSmallSort = 2048;
constexpr std::size_t kSmallSelect = std::size_t{1} << 16;

// Selection digit: sign, exponent and four mantissa bits, so even data
// within one binade spreads over 16 buckets.
constexpr int kSelectShift = 48;
constexpr std::size_t kSelectBuckets = std::size_t{1} << (64 - kSelectShift);

}  // namespace

void sort_f64(std::span<double> values) {
    const std::size_t n = values.size();
    // Inputs too long for 32-bit bucket counts take the comparison sort too.
    if (n < kSmallSort || n >= (std::size_t{1} << 32)) {
        std::sort(values.begin(), values.end());
        return;
    }
    // Least-significant-digit radix sort over the keys; passes whose digit
    // is the same for every key are skipped.
    std::vector<std::uint64_t> a(n), b(n);
    std::vector<std::array<std::uint32_t, kBuckets>> counts(kPasses);
    for (auto& c : counts) c.fill(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = to_key(values[i]);
        a[i] = k;
        for (int p = 0; p < kPasses; ++p) ++counts[p][(k >> (p * kDigitBits)) & (kBuckets - 1)];
    }
    for (int p = 0; p < kPasses; ++p) {
        auto& c = counts[p];
        const std::size_t first = (a[0] >> (p * kDigitBits)) & (kBuckets - 1);
        if (c[first] == n) continue;
        std::uint32_t sum = 0;
        for (auto& slot : c) {
            const std::uint32_t here = slot;
            slot = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t k = a[i];
            b[c[(k >> (p * kDigitBits)) & (kBuckets - 1)]++] = k;
        }
        a.swap(b);
    }
    for (std::size_t i = 0; i < n; ++i) values[i] = from_key(a[i]);
}

RankPair select_ranks(std::span<const double> values, std::size_t i, std::size_t j) {
    const std::size_t n = values.size();
    if (n < kSmallSelect || n >= (std::size_t{1} << 32)) {
        // Two selections: rank j first, then rank i among the values before it.
        std::vector<double> x(values.begin(), values.end());
        std::nth_element(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(j), x.end());
        const double at_j = x[j];
        std::nth_element(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(i), x.begin() + static_cast<std::ptrdiff_t>(j));
        return {x[i], at_j};
    }
    // One radix digit finds the bucket of each rank; only those buckets are
    // gathered and selected in.
    std::vector<std::uint32_t> hist(kSelectBuckets, 0);
    for (double v : values) ++hist[to_key(v) >> kSelectShift];
    auto locate = [&](std::size_t rank, std::size_t& bucket, std::size_t& below) {
        std::size_t acc = 0;
        for (std::size_t b = 0; b < kSelectBuckets; ++b) {
            if (rank < acc + hist[b]) {
                bucket = b;
                below = acc;
                return;
            }
            acc += hist[b];
        }
    };
    std::size_t bi = 0, below_i = 0, bj = 0, below_j = 0;
    locate(i, bi, below_i);
    locate(j, bj, below_j);
    std::vector<double> in_i, in_j;
    in_i.reserve(hist[bi]);
    if (bj != bi) in_j.reserve(hist[bj]);
    for (double v : values) {
        const std::size_t b = to_key(v) >> kSelectShift;
        if (b == bi) in_i.push_back(v);
        else if (b == bj) in_j.push_back(v);
    }
    std::vector<double>& for_j = bj == bi ? in_i : in_j;
    const std::size_t ri = i - below_i, rj = j - below_j;
    std::nth_element(for_j.begin(), for_j.begin() + static_cast<std::ptrdiff_t>(rj), for_j.end());
    const double at_j = for_j[rj];
    if (bj == bi) {
        std::nth_element(in_i.begin(), in_i.begin() + static_cast<std::ptrdiff_t>(ri), in_i.begin() + static_cast<std::ptrdiff_t>(rj));
    } else {
        std::nth_element(in_i.begin(), in_i.begin() + static_cast<std::ptrdiff_t>(ri), in_i.end());
    }
    return {in_i[ri], at_j};
}

}  // namespace quorvant::drift
