#include "data_handler/distinct_values.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "common/kernel.hpp"
#include "data_handler/zeroed_buffer.hpp"

namespace quorvant::data_handler {

std::optional<std::size_t> continuous_bound(std::size_t n, float heuristic) {
    // k / n in f32 never decreases as k grows, so the rule holds from one
    // count on; find it by bisection over the same f32 expression.
    const auto rule = [&](std::size_t k) { return static_cast<float>(k) / static_cast<float>(n) > heuristic; };
    if (n < 4 || !rule(n)) return std::nullopt;
    std::size_t lo = 4, hi = n;  // rule(hi) holds
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (rule(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

namespace {

using detail::Key;

template <class T>
Key<T> key_of(T x) {
    return std::bit_cast<Key<T>>(x);
}

template <class T>
bool is_nan(T x) {
    if constexpr (std::is_floating_point_v<T>) {
        return x != x;
    } else {
        return false;
    }
}

std::uint64_t hash_of(std::uint64_t k) { return k * 0x9E3779B97F4A7C15ull; }

constexpr std::size_t kBlock = 64;  // elements per branch-free test

// ---- A few distinct values: a small set and a branch-free block test.

template <std::size_t S, class T>
[[gnu::always_inline]] inline bool block_has_new_n(const T* xs, const Key<T>* small) {
    // Masks rather than bools: the compiler vectorises this form.
    using K = Key<T>;
    K set[S];
    for (std::size_t s = 0; s < S; ++s) set[s] = small[s];
    K missing = 0;
    for (std::size_t j = 0; j < kBlock; ++j) {
        const K k = key_of(xs[j]);
        K found = 0;
        for (std::size_t s = 0; s < S; ++s) found |= k == set[s] ? static_cast<K>(~K{0}) : K{0};
        missing |= static_cast<K>(~found);
    }
    return missing != 0;
}

// True when some element of the block is not among the `live` keys.
template <class T>
QUORVANT_KERNEL bool block_has_new(const T* xs, const Key<T>* small, std::size_t live) {
    switch (live) {
        case 1: return block_has_new_n<1>(xs, small);
        case 2: return block_has_new_n<2>(xs, small);
        case 3: return block_has_new_n<3>(xs, small);
        case 4: return block_has_new_n<4>(xs, small);
        case 5: return block_has_new_n<5>(xs, small);
        case 6: return block_has_new_n<6>(xs, small);
        case 7: return block_has_new_n<7>(xs, small);
        default: return block_has_new_n<8>(xs, small);
    }
}

// A pass over one array keeps only a few lines in flight; asking for the
// lines of a block 8 KiB ahead keeps more coming. Prefetches never fault,
// so addresses past the end are harmless; they are formed as integers, not
// as pointers past the array.
template <class T>
[[gnu::always_inline]] inline void prefetch_ahead(const T* block) {
    constexpr std::uintptr_t kAheadBytes = 8192;
    const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(block) + kAheadBytes;
    for (std::uintptr_t b = 0; b < kBlock * sizeof(T); b += 64) {
        __builtin_prefetch(reinterpret_cast<const void*>(p + b));
    }
}

// ---- Integers over a modest range: one byte per possible value.

constexpr std::uint64_t kMaxRange = std::uint64_t{1} << 22;

template <class T>
std::uint64_t widen(T x) {
    using Wide = std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>;
    return static_cast<std::uint64_t>(static_cast<Wide>(x));
}

template <class T>
QUORVANT_KERNEL void min_max(const T* xs, std::size_t n, T& lo, T& hi) {
    T a = xs[0], b = xs[0];
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) {
            a = xs[i + j] < a ? xs[i + j] : a;
            b = xs[i + j] > b ? xs[i + j] : b;
        }
    }
    for (; i < n; ++i) {
        a = xs[i] < a ? xs[i] : a;
        b = xs[i] > b ? xs[i] : b;
    }
    lo = a;
    hi = b;
}

// Distinct count of integers within [lo, lo + range] (range < kMaxRange).
// Plain byte stores: no read-modify-write chain when values repeat.
template <class T>
std::size_t range_count(std::span<const T> values, T lo, std::uint64_t range) {
    ZeroedBuffer<std::uint8_t> seen(static_cast<std::size_t>(range + 1));
    const std::uint64_t base = widen(lo);
    for (const T x : values) seen[static_cast<std::size_t>(widen(x) - base)] = 1;
    std::size_t k = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) k += seen[i];
    return k;
}

// ---- Many distinct values: a hash set sized for the bound.

// Open addressing with linear probing; key 0 is tracked apart so that 0
// can mark an empty slot. The count stops at the bound, so a table of at
// least 1.5 times the bound never passes two-thirds load.
template <class K>
class BoundedSet {
public:
    explicit BoundedSet(std::size_t bound)
        : slots_(std::bit_ceil(std::max<std::size_t>(64, bound + bound / 2 + 1))),
          mask_(slots_.size() - 1),
          shift_(64 - std::countr_zero(slots_.size())) {}

    bool insert(K k) {
        if (k == 0) {
            const bool fresh = !has_zero_;
            has_zero_ = true;
            return fresh;
        }
        std::size_t s = static_cast<std::size_t>(hash_of(k) >> shift_);
        while (true) {
            const K slot = slots_[s];
            if (slot == 0) {
                slots_[s] = k;
                return true;
            }
            if (slot == k) return false;
            s = (s + 1) & mask_;
        }
    }

    // Starts loading the slot a later insert of `k` probes first.
    void prefetch(K k) const { __builtin_prefetch(slots_.data() + (hash_of(k) >> shift_)); }

private:
    ZeroedBuffer<K> slots_;
    std::size_t mask_;
    int shift_;
    bool has_zero_ = false;
};

template <class T>
bool hash_count(std::span<const T> values, std::size_t i, const Key<T>* small, std::size_t live, std::size_t k,
                std::size_t bound) {
    BoundedSet<Key<T>> set(bound);
    for (std::size_t s = 0; s < live; ++s) set.insert(small[s]);
    // A table past the caches answers slowly: ask for slots ahead of use.
    constexpr std::size_t kAhead = 16;
    const std::size_t n = values.size();
    for (; i < n; ++i) {
        if (i + kAhead < n) set.prefetch(key_of(values[i + kAhead]));
        const T x = values[i];
        if (is_nan(x) || set.insert(key_of(x))) {
            if (++k >= bound) return true;
        }
    }
    return false;
}

template <class T>
bool many_values(std::span<const T> values, std::size_t i, const Key<T>* small, std::size_t live, std::size_t k,
                 std::size_t bound) {
    if constexpr (std::is_integral_v<T>) {
        // Integer codes over a modest range: count every value by its bit,
        // in two passes without hashing.
        T lo, hi;
        min_max(values.data(), values.size(), lo, hi);
        const std::uint64_t range = widen(hi) - widen(lo);
        if (range < kMaxRange && range / 4 < values.size()) return range_count(values, lo, range) >= bound;
    }
    return hash_count(values, i, small, live, k, bound);
}

}  // namespace

template <class T>
Decision DistinctScan<T>::advance(std::size_t end) {
    if (decided_ != Decision::Open) return decided_;
    if (k_ >= bound_) return decided_ = Decision::Continuous;
    std::size_t i = next_;
    while (i < end) {
        prefetch_ahead(values_.data() + i);
        if (live_ > 0 && i + kBlock <= end && !block_has_new(values_.data() + i, small_, live_)) {
            i += kBlock;
            continue;
        }
        const std::size_t stop = std::min(end, i + kBlock);
        for (; i < stop; ++i) {
            const T x = values_[i];
            if (is_nan(x)) {
                if (++k_ >= bound_) return decided_ = Decision::Continuous;
                continue;
            }
            const Key<T> key = key_of(x);
            bool found = false;
            for (std::size_t s = 0; s < live_; ++s) found |= small_[s] == key;
            if (found) continue;
            if (live_ == kSmall) {
                // The rest of the array at once; the scan is over.
                const bool continuous = many_values(values_, i, small_, live_, k_, bound_);
                return decided_ = continuous ? Decision::Continuous : Decision::Discrete;
            }
            small_[live_++] = key;
            if (++k_ >= bound_) return decided_ = Decision::Continuous;
        }
    }
    next_ = i;
    return Decision::Open;
}

template <class T>
bool has_distinct(std::span<const T> values, std::size_t bound) {
    return DistinctScan<T>(values, bound).advance(values.size()) == Decision::Continuous;
}

template class DistinctScan<double>;
template class DistinctScan<float>;
template class DistinctScan<std::int8_t>;
template class DistinctScan<std::int16_t>;
template class DistinctScan<std::int32_t>;
template class DistinctScan<std::int64_t>;
template class DistinctScan<std::uint8_t>;
template class DistinctScan<std::uint16_t>;
template class DistinctScan<std::uint32_t>;
template class DistinctScan<std::uint64_t>;

template bool has_distinct<double>(std::span<const double>, std::size_t);
template bool has_distinct<float>(std::span<const float>, std::size_t);
template bool has_distinct<std::int8_t>(std::span<const std::int8_t>, std::size_t);
template bool has_distinct<std::int16_t>(std::span<const std::int16_t>, std::size_t);
template bool has_distinct<std::int32_t>(std::span<const std::int32_t>, std::size_t);
template bool has_distinct<std::int64_t>(std::span<const std::int64_t>, std::size_t);
template bool has_distinct<std::uint8_t>(std::span<const std::uint8_t>, std::size_t);
template bool has_distinct<std::uint16_t>(std::span<const std::uint16_t>, std::size_t);
template bool has_distinct<std::uint32_t>(std::span<const std::uint32_t>, std::size_t);
template bool has_distinct<std::uint64_t>(std::span<const std::uint64_t>, std::size_t);

}  // namespace quorvant::data_handler
