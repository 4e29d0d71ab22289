#include "data_handler/labels.hpp"

#include "common/kernel.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

namespace quorvant::data_handler {

namespace {

// Fixed-size blocks give the inner loop a known trip count, which the
// compiler's cheap vectorisation model needs; the tail runs scalar.
constexpr std::size_t kBlock = 64;

template <class T, class Pred>
[[gnu::always_inline]] inline void label_each(const T* __restrict xs, std::size_t n, Label* __restrict out, Pred pred) {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) out[i + j] = static_cast<Label>(pred(xs[i + j]));
    }
    for (; i < n; ++i) out[i] = static_cast<Label>(pred(xs[i]));
}

// 64 rows of 0/1 bytes as 64 bits, row k at bit k.
inline std::uint64_t pack64(const Label* p) {
#if defined(__SSE2__)
    std::uint64_t word = 0;
    for (int k = 0; k < 4; ++k) {
        __m128i v;
        __builtin_memcpy(&v, p + 16 * k, sizeof v);  // a load at any address, no under-aligned type
        v = _mm_slli_epi16(v, 7);  // each byte's bit 0 to its bit 7 (bytes are 0 or 1)
        word |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(v))) << (16 * k);
    }
    return word;
#else
    std::uint64_t word = 0;
    for (int k = 0; k < 8; ++k) {
        std::uint64_t x;
        __builtin_memcpy(&x, p + 8 * k, 8);
        word |= ((x * 0x0102040810204080ULL) >> 56) << (8 * k);  // the 8 bytes' low bits, in order
    }
    return word;
#endif
}

// A block of 64 rows is one word (kBlock is the word's width). Wide
// elements shift their comparisons into the word lane by lane; narrow ones
// compare into bytes, packed by their top bits (faster for them).
template <class T, class Pred>
[[gnu::always_inline]] inline void label_each(const T* __restrict xs, std::size_t n, LabelBits out, Pred pred) {
    static_assert(kBlock == 64);
    std::uint64_t* __restrict words = out.words;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        if constexpr (sizeof(T) >= 8) {
            std::uint64_t word = 0;
            for (std::size_t j = 0; j < kBlock; ++j) word |= static_cast<std::uint64_t>(pred(xs[i + j])) << j;
            words[i / kBlock] = word;
        } else {
            Label bytes[kBlock];
            for (std::size_t j = 0; j < kBlock; ++j) bytes[j] = static_cast<Label>(pred(xs[i + j]));
            words[i / kBlock] = pack64(bytes);
        }
    }
    if (i < n) {
        std::uint64_t word = 0;
        for (std::size_t j = 0; i + j < n; ++j) word |= static_cast<std::uint64_t>(pred(xs[i + j])) << j;
        words[i / kBlock] = word;
    }
}

void fill(std::size_t n, Label* out, bool value) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Label>(value);
}

void fill(std::size_t n, LabelBits out, bool value) {
    const std::uint64_t all = value ? ~std::uint64_t{0} : 0;
    for (std::size_t w = 0; w < n / 64; ++w) out.words[w] = all;
    if (n % 64 != 0) out.words[n / 64] = all >> (64 - n % 64);
}

template <class T, class U, class Out>
[[gnu::always_inline]] inline void compare_as(const T* xs, std::size_t n, Comparison op, U v, Out out) {
    switch (op) {
        case Comparison::Greater: return label_each(xs, n, out, [v](T x) { return static_cast<U>(x) > v; });
        case Comparison::GreaterEqual: return label_each(xs, n, out, [v](T x) { return static_cast<U>(x) >= v; });
        case Comparison::Less: return label_each(xs, n, out, [v](T x) { return static_cast<U>(x) < v; });
        case Comparison::LessEqual: return label_each(xs, n, out, [v](T x) { return static_cast<U>(x) <= v; });
        case Comparison::Equal: return label_each(xs, n, out, [v](T x) { return static_cast<U>(x) == v; });
    }
}

}  // namespace

namespace {

template <class T, class Out>
QUORVANT_KERNEL void compare_f64_kernel(std::span<const T> xs, Comparison op, double value, Out out) {
    compare_as<T, double>(xs.data(), xs.size(), op, value, out);
}

// For integers of at most 32 bits (exact as doubles), a comparison with a
// double is the same as one with an integer bound: x > v iff x > floor(v),
// x >= v iff x >= ceil(v), x < v iff x < ceil(v), x <= v iff x <= floor(v),
// x == v iff v is whole and x == v. Bounds beyond the 64-bit range saturate
// (the element range is far inside it); NaN makes every label 0.
std::optional<std::int64_t> integer_bound(Comparison op, double v) {
    double b = v;
    switch (op) {
        case Comparison::Greater:
        case Comparison::LessEqual: b = std::floor(v); break;
        case Comparison::GreaterEqual:
        case Comparison::Less: b = std::ceil(v); break;
        case Comparison::Equal:
            if (std::floor(v) != v) return std::nullopt;
            b = v;
            break;
    }
    if (b != b) return std::nullopt;
    if (b >= 9223372036854775807.0) return INT64_MAX;
    if (b <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(b);
}

}  // namespace

template <class T, class Out>
void label_compare_f64(std::span<const T> xs, Comparison op, double value, Out out) {
    if constexpr (std::is_integral_v<T> && sizeof(T) <= 4) {
        const std::optional<std::int64_t> bound = integer_bound(op, value);
        if (!bound) return fill(xs.size(), out, false);
        label_compare_i64(xs, op, *bound, out);
    } else {
        compare_f64_kernel(xs, op, value, out);
    }
}

template <class T, class Out>
QUORVANT_KERNEL void label_compare_i64(std::span<const T> xs, Comparison op, std::int64_t value, Out out) {
    // Compare in the element's own type: narrow lanes vectorise better. A
    // value outside the element range decides every label at once.
    using Lim = std::numeric_limits<T>;
    const std::int64_t lo = std::is_signed_v<T> ? static_cast<std::int64_t>(Lim::min()) : 0;
    const std::int64_t hi = static_cast<std::uint64_t>(Lim::max()) > static_cast<std::uint64_t>(INT64_MAX)
                                ? INT64_MAX
                                : static_cast<std::int64_t>(Lim::max());
    const std::size_t n = xs.size();
    switch (op) {
        case Comparison::Greater:
            if (value >= hi) return fill(n, out, false);
            if (value < lo) return fill(n, out, true);
            break;
        case Comparison::GreaterEqual:
            if (value > hi) return fill(n, out, false);
            if (value <= lo) return fill(n, out, true);
            break;
        case Comparison::Less:
            if (value > hi) return fill(n, out, true);
            if (value <= lo) return fill(n, out, false);
            break;
        case Comparison::LessEqual:
            if (value >= hi) return fill(n, out, true);
            if (value < lo) return fill(n, out, false);
            break;
        case Comparison::Equal:
            if (value < lo || value > hi) return fill(n, out, false);
            break;
    }
    compare_as<T, T>(xs.data(), n, op, static_cast<T>(value), out);
}

QUORVANT_KERNEL void label_equal_bool(std::span<const std::uint8_t> xs, bool value, Label* out) {
    const std::uint8_t v = value ? 1 : 0;
    label_each(xs.data(), xs.size(), out, [v](std::uint8_t x) { return x == v; });
}

QUORVANT_KERNEL void label_equal_bool(std::span<const std::uint8_t> xs, bool value, LabelBits out) {
    const std::uint8_t v = value ? 1 : 0;
    label_each(xs.data(), xs.size(), out, [v](std::uint8_t x) { return x == v; });
}

void pack_labels(const Label* labels, std::size_t count, LabelBits out) {
    label_each(labels, count, out, [](Label x) { return x & 1; });
}

QUORVANT_KERNEL void label_rule(std::span<const std::int8_t> xs, SegmentationRule<std::int8_t> rule, Label* out) {
    const Comparison op = rule.kind < 4 ? static_cast<Comparison>(rule.kind) : Comparison::Equal;
    compare_as<std::int8_t, std::int8_t>(xs.data(), xs.size(), op, rule.value, out);
}

#define QUORVANT_LABEL_F64(T)                                                                  \
    template void label_compare_f64<T>(std::span<const T>, Comparison, double, Label*);       \
    template void label_compare_f64<T>(std::span<const T>, Comparison, double, LabelBits);
#define QUORVANT_LABEL_I64(T)                                                                  \
    template void label_compare_i64<T>(std::span<const T>, Comparison, std::int64_t, Label*); \
    template void label_compare_i64<T>(std::span<const T>, Comparison, std::int64_t, LabelBits);

QUORVANT_LABEL_F64(double)
QUORVANT_LABEL_F64(float)
QUORVANT_LABEL_F64(std::int8_t)
QUORVANT_LABEL_F64(std::int16_t)
QUORVANT_LABEL_F64(std::int32_t)
QUORVANT_LABEL_F64(std::int64_t)
QUORVANT_LABEL_F64(std::uint8_t)
QUORVANT_LABEL_F64(std::uint16_t)
QUORVANT_LABEL_F64(std::uint32_t)
QUORVANT_LABEL_F64(std::uint64_t)
QUORVANT_LABEL_I64(std::int8_t)
QUORVANT_LABEL_I64(std::int16_t)
QUORVANT_LABEL_I64(std::int32_t)
QUORVANT_LABEL_I64(std::int64_t)
QUORVANT_LABEL_I64(std::uint8_t)
QUORVANT_LABEL_I64(std::uint16_t)
QUORVANT_LABEL_I64(std::uint32_t)
QUORVANT_LABEL_I64(std::uint64_t)

#undef QUORVANT_LABEL_F64
#undef QUORVANT_LABEL_I64

}  // namespace quorvant::data_handler
