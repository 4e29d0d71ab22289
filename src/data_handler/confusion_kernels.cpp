// The counting loops of ConfusionMatrix::push_dataset: one pass over two
// columns read in place, counting into exact integers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "common/kernel.hpp"
#include "data_handler/confusion_matrix.hpp"

namespace quorvant::data_handler {

namespace {

using common::Column;
using common::load;
using common::to_f32;
using common::Typed;

constexpr std::size_t kBlock = 256;            // values staged per block, on the stack
constexpr std::size_t kTallyChunk = 1u << 20;  // pairs per 32-bit tally

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
QUORVANT_KERNEL void count_contiguous(const char* t, const char* p, std::size_t n, Test test, ConfusionTally& tally) {
    for (std::size_t start = 0; start < n; start += kTallyChunk) {
        const std::size_t end = std::min(n, start + kTallyChunk);
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

QUORVANT_KERNEL void count_masks(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, std::size_t k,
                                 ConfusionTally& tally) {
    std::uint32_t truths = 0, predictions = 0, both = 0;
    for (std::size_t i = 0; i < k; ++i) {
        truths += a[i];
        predictions += b[i];
        both += a[i] & b[i];
    }
    tally.add(k, truths, predictions, both);
}

void count_label(const Column& y_true, const Column& y_pred, float label, ConfusionTally& tally) {
    const std::size_t n = std::min(y_true.size, y_pred.size);
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
}

void count_label(std::span<const std::int32_t> y_true, std::span<const std::int32_t> y_pred, std::int32_t label,
                 ConfusionTally& tally) {
    const std::size_t n = std::min(y_true.size(), y_pred.size());
    count_contiguous<std::int32_t>(reinterpret_cast<const char*>(y_true.data()),
                                   reinterpret_cast<const char*>(y_pred.data()), n,
                                   Equals<std::int32_t>{label}, tally);
}

}  // namespace

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(std::span<const float> y_true,
                                                                                 std::span<const float> y_pred,
                                                                                 float label) {
    return push_dataset(Column::of(y_true), Column::of(y_pred), label);
}

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(const Column& y_true,
                                                                                 const Column& y_pred, float label) {
    if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
    ConfusionTally tally;
    count_label(y_true, y_pred, label, tally);
    tally.into(*this);
    return {};
}

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(
    std::span<const std::int32_t> y_true, std::span<const std::int32_t> y_pred, std::int32_t label) {
    if (y_true.size() != y_pred.size()) return std::unexpected(errors::kLengthMismatch);
    ConfusionTally tally;
    count_label(y_true, y_pred, label, tally);
    tally.into(*this);
    return {};
}

}  // namespace quorvant::data_handler
