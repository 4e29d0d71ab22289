// Per-facet confusion counts of post-training bias. Pure C++; the batch
// analyzer (DiscretePostTraining) and the streaming monitor (PostTraining)
// share the record and the counting kernel.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "data_handler/label_source.hpp"
#include "data_handler/labeling.hpp"
#include "errors/errors.hpp"

namespace quorvant::model_bias {

// Exact counts of every (facet, prediction, truth) combination; the
// confusion counts and N, OP, PP of each facet are sums of them, formed as
// integers. Facet 1 is feature label 1; a prediction or truth is positive
// when its label is 1.
struct PostTraining {
    // Index facet * 4 + prediction * 2 + truth.
    std::array<std::uint64_t, 8> rows{};

    std::uint64_t tp1() const { return rows[7]; }
    std::uint64_t fp1() const { return rows[6]; }
    std::uint64_t fn1() const { return rows[5]; }
    std::uint64_t tn1() const { return rows[4]; }
    std::uint64_t tp0() const { return rows[3]; }
    std::uint64_t fp0() const { return rows[2]; }
    std::uint64_t fn0() const { return rows[1]; }
    std::uint64_t tn0() const { return rows[0]; }

    std::uint64_t n1() const { return tp1() + fp1() + fn1() + tn1(); }
    std::uint64_t op1() const { return tp1() + fn1(); }
    std::uint64_t pp1() const { return tp1() + fp1(); }
    std::uint64_t n0() const { return tp0() + fp0() + fn0() + tn0(); }
    std::uint64_t op0() const { return tp0() + fn0(); }
    std::uint64_t pp0() const { return tp0() + fp0(); }
    std::uint64_t total() const { return n0() + n1(); }

    void accumulate_single(bool facet, bool prediction, bool truth) {
        ++rows[static_cast<std::size_t>(facet) * 4 + static_cast<std::size_t>(prediction) * 2 +
               static_cast<std::size_t>(truth)];
    }

    // Adds rows of 0/1 labels; the three spans have equal length.
    void accumulate_batch(std::span<const data_handler::Label> facet, std::span<const data_handler::Label> prediction,
                          std::span<const data_handler::Label> truth);
    void accumulate_batch(const data_handler::LabelSource& facet, const data_handler::LabelSource& prediction,
                          const data_handler::LabelSource& truth);
    // Adds rows given by their sums (n rows; see data_handler::TripleSums).
    void accumulate_sums(const data_handler::TripleSums& s, std::uint64_t n);

    friend bool operator==(const PostTraining&, const PostTraining&) = default;
};

// Generalized-entropy benefit counts: benefit 0 (false negatives), 1 (true
// positives), 2 (true negatives and false positives), over both facets.
struct BucketGeneralizedEntropy {
    std::uint64_t benefit0 = 0;
    std::uint64_t benefit1 = 0;
    std::uint64_t benefit2 = 0;

    static BucketGeneralizedEntropy from(const PostTraining& counts) {
        return {counts.fn0() + counts.fn1(), counts.tp0() + counts.tp1(),
                counts.tn0() + counts.fp0() + counts.tn1() + counts.fp1()};
    }
    std::uint64_t total() const { return benefit0 + benefit1 + benefit2; }
};

// The batch record: the counts of a data set and its generalized-entropy
// sum.
struct DiscretePostTraining {
    PostTraining counts;
    float ge = 0.0f;

    // DataLengthError when the feature labels are empty or a length differs.
    static std::expected<DiscretePostTraining, errors::BiasError> make(const data_handler::PackedLabels& facet,
                                                                       const data_handler::PackedLabels& prediction,
                                                                       const data_handler::PackedLabels& truth);
};

}  // namespace quorvant::model_bias
