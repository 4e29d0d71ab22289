// Confusion counts of a two-class problem. The counters are exact 64-bit
// integers: a float counter would stop growing at 2^24 pairs and a long
// stream would silently report wrong metrics. Formulas convert to f32 where
// they use a count (sums of counts are taken as integers first).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "common/column.hpp"
#include "errors/errors.hpp"

namespace quorvant::data_handler {

struct ConfusionMatrix {
    std::uint64_t true_pos = 0;
    std::uint64_t false_pos = 0;
    std::uint64_t true_neg = 0;
    std::uint64_t false_neg = 0;

    // Adds the pairs of two equal-length slices; a value is positive when it
    // equals `label` (f32 equality: NaN is never positive, -0.0 equals 0.0).
    // Unequal lengths: DataVectorLengthMismatch and the matrix is unchanged.
    std::expected<void, errors::ModelPerformanceError> push_dataset(std::span<const float> y_true,
                                                                    std::span<const float> y_pred, float label);
    std::expected<void, errors::ModelPerformanceError> push_dataset(std::span<const std::int32_t> y_true,
                                                                    std::span<const std::int32_t> y_pred,
                                                                    std::int32_t label);
    // The same over columns of any numeric element type, read in place;
    // a value is positive when it narrows to exactly `label` in f32.
    std::expected<void, errors::ModelPerformanceError> push_dataset(const common::Column& y_true,
                                                                    const common::Column& y_pred, float label);

    // One pair, already classified.
    void push(bool truth_positive, bool prediction_positive) {
        const std::uint64_t t = truth_positive, p = prediction_positive;
        true_pos += t & p;
        false_pos += (t ^ 1u) & p;
        true_neg += (t ^ 1u) & (p ^ 1u);
        false_neg += t & (p ^ 1u);
    }

    // Counts of a batch in the form the counting loops produce them: pairs,
    // positive truths, positive predictions, and pairs positive in both.
    void add_tallies(std::uint64_t pairs, std::uint64_t truths, std::uint64_t predictions, std::uint64_t both) {
        true_pos += both;
        false_pos += predictions - both;
        false_neg += truths - both;
        true_neg += (pairs - truths) - (predictions - both);
    }

    std::uint64_t total() const { return true_pos + false_pos + true_neg + false_neg; }

    // The four counters in the order state payloads keep them: TP, FP, TN, FN.
    std::array<std::uint64_t, 4> as_array() const { return {true_pos, false_pos, true_neg, false_neg}; }
    static ConfusionMatrix from_array(const std::array<std::uint64_t, 4>& c) { return {c[0], c[1], c[2], c[3]}; }
};

// Counts of a batch as the counting loops gather them (32-bit block counts
// added into 64-bit totals), then added to a matrix at once.
struct ConfusionTally {
    std::uint64_t pairs = 0, truths = 0, predictions = 0, both = 0;
    void add(std::size_t n, std::uint32_t t, std::uint32_t p, std::uint32_t b) {
        pairs += n;
        truths += t;
        predictions += p;
        both += b;
    }
    void into(ConfusionMatrix& counts) const { counts.add_tallies(pairs, truths, predictions, both); }
};

}  // namespace quorvant::data_handler
