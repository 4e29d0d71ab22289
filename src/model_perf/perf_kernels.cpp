#include "model_perf/perf_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "common/kernel.hpp"

namespace quorvant::model_perf {

using common::load;
using data_handler::ConfusionMatrix;
using data_handler::ConfusionTally;

namespace {

constexpr std::size_t kBlock = 256;  // values staged per block, on the stack

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
QUORVANT_KERNEL void logistic_block(const float* __restrict t, const float* __restrict p, std::size_t k,
                                    const LogisticRule& rule, ConfusionTally& tally, double& sum) {
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

void logistic_pass(const Column& y_true, const Column& y_pred, const LogisticRule& rule, ConfusionMatrix& counts,
                   double& log_loss_sum) {
    const std::size_t n = std::min(y_true.size, y_pred.size);
    ConfusionTally tally;
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
