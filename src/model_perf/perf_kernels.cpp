#include "model_perf/perf_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

// Each hot loop is built for three vector widths and picked once at load
// time. All give the same bits: counts are integers, IEEE add, sub, mul, div
// and conversions round the same at any width, contraction into FMA is off,
// and sums run in index order.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define QUORVANT_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define QUORVANT_CLONES
#endif

namespace quorvant::model_perf {

using data_handler::ConfusionMatrix;

namespace {

constexpr std::size_t kBlock = 256;       // values staged per block, on the stack
constexpr std::size_t kChunk = 1u << 20;  // pairs per 32-bit tally

struct Tally {
    std::uint64_t pairs = 0, truths = 0, predictions = 0, both = 0;
    void add(std::size_t n, std::uint32_t t, std::uint32_t p, std::uint32_t b) {
        pairs += n;
        truths += t;
        predictions += p;
        both += b;
    }
    void into(ConfusionMatrix& counts) const { counts.add_tallies(pairs, truths, predictions, both); }
};

template <class T>
inline T load(const char* p) {
    if constexpr (std::is_same_v<T, bool>) {
        return *reinterpret_cast<const unsigned char*>(p) != 0;
    } else {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

// "Narrows to exactly `label`", the definition.
template <class T>
struct NarrowsTo {
    float label;
    bool operator()(T v) const { return to_f32(v) == label; }
};

// The same test for integer elements and a whole label below 2^24 in
// magnitude, without the conversion: such a label is reached by exactly one
// integer (any integer beyond 2^24 narrows to at least 2^24), compared in
// the element's own width.
template <class T>
struct Equals {
    T value;
    bool operator()(T v) const { return v == value; }
};

template <class T>
struct Never {
    bool operator()(T) const { return false; }
};

// Calls f with the cheapest exact positivity test for elements of type T.
template <class T, class F>
void with_label_test(float label, F&& f) {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        if (std::fabs(label) < 0x1p24f && std::trunc(label) == label) {
            const auto whole = static_cast<std::int64_t>(label);
            if (std::in_range<T>(whole)) {
                f(Equals<T>{static_cast<T>(whole)});
            } else {
                f(Never<T>{});
            }
            return;
        }
    }
    f(NarrowsTo<T>{label});
}

// Both columns contiguous and of one element type: one fused pass.
template <class T, class Test>
QUORVANT_CLONES void count_contiguous(const char* t, const char* p, std::size_t n, Test test, Tally& tally) {
    for (std::size_t start = 0; start < n; start += kChunk) {
        const std::size_t end = std::min(n, start + kChunk);
        std::uint32_t truths = 0, predictions = 0, both = 0;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint32_t a = test(load<T>(t + i * sizeof(T)));
            const std::uint32_t b = test(load<T>(p + i * sizeof(T)));
            truths += a;
            predictions += b;
            both += a & b;
        }
        tally.add(end - start, truths, predictions, both);
    }
}

// Any other pair of columns: each side is classified into a byte mask per
// block, then the masks are counted.
void fill_mask(const Column& c, std::size_t start, std::size_t k, float label, std::uint8_t* out) {
    visit(c, [&]<class T>(Typed<T> col) {
        with_label_test<T>(label, [&](auto test) {
            for (std::size_t i = 0; i < k; ++i) out[i] = test(col[start + i]);
        });
    });
}

QUORVANT_CLONES void count_masks(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, std::size_t k,
                                 Tally& tally) {
    std::uint32_t truths = 0, predictions = 0, both = 0;
    for (std::size_t i = 0; i < k; ++i) {
        truths += a[i];
        predictions += b[i];
        both += a[i] & b[i];
    }
    tally.add(k, truths, predictions, both);
}

}  // namespace

void fill_f32(const Column& c, std::size_t start, std::size_t k, float* out) {
    visit(c, [&]<class T>(Typed<T> col) {
        if (col.contiguous()) {
            const char* base = col.data + static_cast<std::ptrdiff_t>(start * sizeof(T));
            for (std::size_t i = 0; i < k; ++i) out[i] = to_f32(load<T>(base + i * sizeof(T)));
        } else {
            for (std::size_t i = 0; i < k; ++i) out[i] = to_f32(col[start + i]);
        }
    });
}

namespace {

// Adds term(i) for i in [0, k) to `sum` in index order. The serial f64
// additions are the floor of the log-loss pass; the terms are computed a
// run ahead of them, so the vector work of run r + 1 overlaps the additions
// of run r.
template <class Term>
[[gnu::always_inline]] inline void add_terms(std::size_t k, Term term, double& sum) {
    constexpr std::size_t kRun = 16;
    double s = sum;
    float runs[2][kRun];
    const std::size_t full = k / kRun;
    if (full > 0) {
        for (std::size_t i = 0; i < kRun; ++i) runs[0][i] = term(i);
        for (std::size_t r = 1; r < full; ++r) {
            float* next = runs[r & 1];
            const float* prev = runs[(r - 1) & 1];
            for (std::size_t i = 0; i < kRun; ++i) next[i] = term(r * kRun + i);
            for (std::size_t i = 0; i < kRun; ++i) s += static_cast<double>(prev[i]);
        }
        for (std::size_t i = 0; i < kRun; ++i) s += static_cast<double>(runs[(full - 1) & 1][i]);
    }
    for (std::size_t j = full * kRun; j < k; ++j) s += static_cast<double>(term(j));
    sum = s;
}

template <TruthRule Rule>
QUORVANT_CLONES void logistic_block(const float* __restrict t, const float* __restrict p, std::size_t k,
                                    const LogisticRule& rule, Tally& tally, double& sum) {
    const float threshold = rule.threshold;
    std::uint32_t truths = 0, predictions = 0, both = 0;
    for (std::size_t i = 0; i < k; ++i) {
        std::uint32_t a;
        if constexpr (Rule == TruthRule::EqualsOne) {
            a = t[i] == 1.0f;
        } else {
            a = t[i] >= threshold;  // NaN on either side is negative
        }
        const std::uint32_t b = p[i] >= threshold;
        truths += a;
        predictions += b;
        both += a & b;
    }
    tally.add(k, truths, predictions, both);

    // With lo > 0 both logarithms are finite for every non-NaN score, so a
    // truth of exactly 0 or 1 makes one product a signed zero and the term
    // is the other logarithm alone, bit for bit: one logarithm instead of two.
    const ClampBounds bounds = rule.bounds;
    float arg[kBlock];
    std::uint32_t general = !(bounds.lo > 0.0f);
    if (!general) {
        for (std::size_t i = 0; i < k; ++i) {
            const float pc = clamp_score(p[i], bounds);
            const float ti = t[i];
            arg[i] = ti == 1.0f ? pc : 1.0f - pc;
            general |= static_cast<std::uint32_t>(!((ti == 0.0f) | (ti == 1.0f)) | (pc != pc));
        }
    }
    if (general) {
        add_terms(k, [&](std::size_t i) { return log_loss_term(t[i], p[i], bounds); }, sum);
    } else {
        add_terms(k, [&](std::size_t i) { return ln_f32(arg[i]); }, sum);
    }
}

}  // namespace

void count_label(const Column& y_true, const Column& y_pred, float label, ConfusionMatrix& counts) {
    const std::size_t n = std::min(y_true.size, y_pred.size);
    Tally tally;
    const bool fused = y_true.type == y_pred.type && visit(y_true, [&]<class T>(Typed<T> t) {
        const Typed<T> p{y_pred.data, y_pred.stride, y_pred.size};
        if (!t.contiguous() || !p.contiguous()) return false;
        with_label_test<T>(label, [&](auto test) { count_contiguous<T>(t.data, p.data, n, test, tally); });
        return true;
    });
    if (!fused) {
        std::uint8_t a[kBlock], b[kBlock];
        for (std::size_t start = 0; start < n; start += kBlock) {
            const std::size_t k = std::min(kBlock, n - start);
            fill_mask(y_true, start, k, label, a);
            fill_mask(y_pred, start, k, label, b);
            count_masks(a, b, k, tally);
        }
    }
    tally.into(counts);
}

void count_label(std::span<const std::int32_t> y_true, std::span<const std::int32_t> y_pred, std::int32_t label,
                 ConfusionMatrix& counts) {
    const std::size_t n = std::min(y_true.size(), y_pred.size());
    Tally tally;
    count_contiguous<std::int32_t>(reinterpret_cast<const char*>(y_true.data()),
                                   reinterpret_cast<const char*>(y_pred.data()), n,
                                   Equals<std::int32_t>{label}, tally);
    tally.into(counts);
}

void logistic_pass(const Column& y_true, const Column& y_pred, const LogisticRule& rule, ConfusionMatrix& counts,
                   double& log_loss_sum) {
    const std::size_t n = std::min(y_true.size, y_pred.size);
    Tally tally;
    float t[kBlock], p[kBlock];
    for (std::size_t start = 0; start < n; start += kBlock) {
        const std::size_t k = std::min(kBlock, n - start);
        fill_f32(y_true, start, k, t);
        fill_f32(y_pred, start, k, p);
        if (rule.truth == TruthRule::EqualsOne) {
            logistic_block<TruthRule::EqualsOne>(t, p, k, rule, tally, log_loss_sum);
        } else {
            logistic_block<TruthRule::AtLeastThreshold>(t, p, k, rule, tally, log_loss_sum);
        }
    }
    tally.into(counts);
}

}  // namespace quorvant::model_perf
