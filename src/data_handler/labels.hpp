// 0/1 labels of bias analysis and the rules that produce them. Pure C++:
// the kernels work on spans of plain numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quorvant::data_handler {

// One 0/1 label per array element, in array order. Stored as bytes so the
// counting kernels read many labels per vector instruction.
using Label = std::uint8_t;
using Labels = std::vector<Label>;

// How an element is compared with a threshold or label value. The first
// four are the ThresholdType comparisons in their order; a segmentation
// rule with any other kind compares for equality.
enum class Comparison : std::uint8_t { Greater, GreaterEqual, Less, LessEqual, Equal };

enum class ThresholdType : std::uint8_t { GreaterThan, GreaterThanEqualTo, LessThan, LessThanEqualTo };

// Exact, case-sensitive, no trimming.
constexpr std::optional<ThresholdType> parse_threshold_type(std::string_view s) {
    if (s == "GreaterThan") return ThresholdType::GreaterThan;
    if (s == "GreaterThanEqualTo") return ThresholdType::GreaterThanEqualTo;
    if (s == "LessThan") return ThresholdType::LessThan;
    if (s == "LessThanEqualTo") return ThresholdType::LessThanEqualTo;
    return std::nullopt;
}

constexpr Comparison comparison_of(ThresholdType t) { return static_cast<Comparison>(t); }

// Decides whether a value is positive (or in facet 1): kind 0 x > value,
// 1 x >= value, 2 x < value, 3 x <= value, anything else x == value.
template <class T>
struct SegmentationRule {
    std::uint8_t kind = 4;
    T value{};

    static constexpr SegmentationRule equal_to(T v) { return {4, v}; }

    constexpr bool operator()(T x) const {
        switch (kind) {
            case 0: return x > value;
            case 1: return x >= value;
            case 2: return x < value;
            case 3: return x <= value;
            default: return x == value;
        }
    }
};

// Labels written one bit per row: row i of a call is bit i % 64 of
// words[i / 64], and the bits of the last word past the rows are 0. The
// kernels make a word from 64 comparisons at once, with no byte per row in
// between.
struct LabelBits {
    std::uint64_t* words;
};

// Labeling kernels, one pass each (defined in label_kernels.cpp), writing
// the labels of xs[0 .. xs.size()) to `out`: a Label* (one byte per row) or
// LabelBits.
//
// Elements compared as 64-bit floats: float and integer elements widen to
// double first (the float protocol's value); NaN compares false.
template <class T, class Out>
void label_compare_f64(std::span<const T> xs, Comparison op, double value, Out out);

// Elements compared as signed 64-bit integers (uint64 elements must be
// below 2^63; the readers refuse larger ones before labeling).
template <class T, class Out>
void label_compare_i64(std::span<const T> xs, Comparison op, std::int64_t value, Out out);

// 0/1 bytes compared with a boolean.
void label_equal_bool(std::span<const std::uint8_t> xs, bool value, Label* out);
void label_equal_bool(std::span<const std::uint8_t> xs, bool value, LabelBits out);

// 0/1 bytes (labels) packed one bit per row.
void pack_labels(const Label* labels, std::size_t count, LabelBits out);

// Applies a segmentation rule over signed 8-bit values.
void label_rule(std::span<const std::int8_t> xs, SegmentationRule<std::int8_t> rule, Label* out);

}  // namespace quorvant::data_handler
