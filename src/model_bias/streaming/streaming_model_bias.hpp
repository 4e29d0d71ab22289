// The streaming post-training bias monitor: a baseline of the twelve
// metrics and the running per-facet counts. Pure C++; the counts, the
// formulas and their guards are those of the analyzers (model_bias/core).
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "data_handler/label_source.hpp"
#include "errors/errors.hpp"
#include "model_bias/core.hpp"
#include "model_bias/post_training.hpp"
#include "reporting/drift_report.hpp"
#include "state/error.hpp"

namespace quorvant::model_bias::streaming {

using Rule = data_handler::SegmentationRule<std::int8_t>;
using ModelBiasReport = reporting::DriftReport<metrics::ModelBiasMetric>;

// The generalized-entropy benefit counts are sums of the confusion counts
// (benefit 0: false negatives, 1: true positives, 2: the rest), so the
// monitor keeps the counts alone and derives the buckets from them.
class StreamingModelBias {
public:
    static constexpr Rule kPositive = Rule::equal_to(1);

    // Unequal or empty sequences are ModelPerformanceError carrying
    // DataLengthError; the baseline's own errors are those of
    // new_from_post_training.
    static std::expected<StreamingModelBias, errors::ModelPerformanceError> make(
        const data_handler::ValueSource& feature, const data_handler::ValueSource& prediction,
        const data_handler::ValueSource& truth, Rule feature_rule = kPositive, Rule prediction_rule = kPositive,
        Rule truth_rule = kPositive);

    void push(std::int8_t feature, std::int8_t prediction, std::int8_t truth) {
        counts_.accumulate_single(feature_rule_(feature), prediction_rule_(prediction), truth_rule_(truth));
    }
    // Unequal or empty sequences add nothing (DataLengthError).
    std::expected<void, errors::ModelPerformanceError> push_batch(const data_handler::ValueSource& feature,
                                                                  const data_handler::ValueSource& prediction,
                                                                  const data_handler::ValueSource& truth);
    // push_batch in two steps, for callers that check the rows while they
    // are counted: the counts of a batch (nothing changes), then adding them.
    std::expected<PostTraining, errors::ModelPerformanceError> count(const data_handler::ValueSource& feature,
                                                                     const data_handler::ValueSource& prediction,
                                                                     const data_handler::ValueSource& truth) const;
    void add(const PostTraining& batch) {
        for (std::size_t i = 0; i < counts_.rows.size(); ++i) counts_.rows[i] += batch.rows[i];
    }
    void flush() { counts_ = {}; }
    // Replaces the baseline only; on error nothing changes.
    std::expected<void, errors::ModelPerformanceError> reset_baseline(const data_handler::ValueSource& feature,
                                                                      const data_handler::ValueSource& prediction,
                                                                      const data_handler::ValueSource& truth);

    // The twelve metrics of the stream, generalized entropy by the bucket
    // closed form: no rows (or a facet without rows) is EmptyDataVector,
    // another guarded zero InvalidData.
    std::expected<runtime::ModelBiasRuntime, errors::ModelPerformanceError> current() const;
    // |(current - baseline) / baseline| per metric, without an epsilon.
    std::expected<ModelBiasMap, errors::ModelPerformanceError> drift_snapshot() const;
    // Metrics whose relative drift is at least the threshold.
    std::expected<ModelBiasReport, errors::ModelPerformanceError> drift_report(float threshold = 0.1f) const;
    std::expected<ModelBiasReport, errors::ModelPerformanceError> drift_report_partial_metrics(
        std::span<const metrics::ModelBiasMetric> metrics, float threshold = 0.1f) const;

    const PostTraining& counts() const { return counts_; }
    const runtime::ModelBiasRuntime& baseline() const { return baseline_; }

    // Adds the counts of `other` (the rows it has seen) to these. Refused,
    // with nothing changed, when the baselines or rules differ (bit for bit)
    // or a count would pass 64 bits. Defined with the state codec.
    std::expected<void, state::Error> merge(const StreamingModelBias& other);

private:
    friend struct StreamingModelBiasCodec;

    StreamingModelBias(Rule feature_rule, Rule prediction_rule, Rule truth_rule)
        : feature_rule_(feature_rule), prediction_rule_(prediction_rule), truth_rule_(truth_rule) {}

    std::expected<ModelBiasReport, errors::ModelPerformanceError> report(std::uint32_t listed, float threshold) const;

    PostTraining counts_;
    runtime::ModelBiasRuntime baseline_;
    Rule feature_rule_;
    Rule prediction_rule_;
    Rule truth_rule_;
};

// The snapshot of a set of counts: generalized entropy from the buckets,
// then the metrics; no rows at all is EmptyDataVector.
std::expected<runtime::ModelBiasRuntime, errors::ModelPerformanceError> snapshot_of(const PostTraining& counts);

}  // namespace quorvant::model_bias::streaming
