// What the bias analyzers label and how, as plain values, and the labels it
// gives. Pure C++: the binding (data_handler/py_labeling.hpp) builds a
// Labeling over a held buffer or an owned copy in the argument's turn, and
// the labels are made here, into memory of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "data_handler/label_source.hpp"

#include "data_handler/labels.hpp"

namespace quorvant::data_handler {

// Contiguous values of one element type.
using Numbers = std::variant<std::span<const double>, std::span<const float>, std::span<const std::int8_t>,
                             std::span<const std::int16_t>, std::span<const std::int32_t>,
                             std::span<const std::int64_t>, std::span<const std::uint8_t>,
                             std::span<const std::uint16_t>, std::span<const std::uint32_t>,
                             std::span<const std::uint64_t>>;

// One value over numbers (apply_label): a threshold (element >= value)
// when the numbers are continuous, a label (element == value) when
// discrete (see distinct_values.hpp). Float elements compare as f64;
// integer elements (uint64 ones below 2^63) as signed 64-bit integers.
struct ByFloatValue {
    Numbers values;
    double value;
};
struct ByIntegerValue {
    Numbers values;
    std::int64_t value;
};

// Bool elements as 0/1 bytes, equal to a boolean.
struct ByBool {
    std::span<const std::uint8_t> values;
    bool value;
};

// Elements (of any number type; bools as 0/1) against a threshold by a
// fixed comparison, as f64 (explicit segmentation).
struct ByComparison {
    Numbers values;
    Comparison op;
    double threshold;
};

// Elements of `width` UCS4 code units at data + i * stride (a '<U' buffer),
// equal to `label` (UTF-8): an element is its code points without trailing
// NULs.
struct ByUcs4 {
    const char* data;
    std::ptrdiff_t stride;
    std::size_t size;
    std::size_t width;
    std::string_view label;
};

using Labeling = std::variant<ByFloatValue, ByIntegerValue, ByBool, ByComparison, ByUcs4>;

std::size_t size_of(const Labeling& labeling);

// Labels in memory of their own, one bit per row. Made in the argument's
// turn, they are the cheapest copy to keep (a row costs one bit), and the
// counts are sums of their words' bits.
class PackedLabels {
public:
    PackedLabels() = default;
    explicit PackedLabels(std::size_t n) : words_((n + 63) / 64, 0), size_(n) {}

    std::size_t size() const { return size_; }

    // Sets rows [begin, begin + count) from 0/1 bytes; begin is a multiple
    // of 64.
    void set(std::size_t begin, const Label* labels, std::size_t count);

    // Where the labels of rows from `begin` (a multiple of 64) are written
    // by a kernel one bit per row.
    LabelBits bits_from(std::size_t begin) { return {words_.data() + begin / 64}; }

    // Row i is bit i % 64 of word i / 64; bits past size() are 0.
    std::span<const std::uint64_t> words() const { return words_; }

private:
    std::vector<std::uint64_t> words_;
    std::size_t size_ = 0;
};

// The labels of a labeling, made a chunk at a time.
PackedLabels make_labels(const Labeling& labeling);

// The numbers of rows labeled 1 in a, in b, and in both (a and b of equal
// size).
struct PairSums {
    std::uint64_t a = 0, b = 0, ab = 0;
};
PairSums pair_sums(const PackedLabels& a, const PackedLabels& b);

// The same for three label sets f, p, g and each combination.
struct TripleSums {
    std::uint64_t f = 0, p = 0, g = 0, fp = 0, fg = 0, pg = 0, fpg = 0;
};
TripleSums triple_sums(const PackedLabels& f, const PackedLabels& p, const PackedLabels& g);

// out[i] = 1 where texts[i] (UTF-8) equals `label` byte for byte.
void label_equal_texts(std::span<const std::string_view> texts, std::string_view label, Label* out);

}  // namespace quorvant::data_handler
