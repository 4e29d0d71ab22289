// The streaming pre-training bias monitor: a baseline of the seven metrics
// and four running counts. Pure C++; counts and metrics come from the same
// code as the analyzers (data_bias/core).
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "data_bias/core.hpp"
#include "data_handler/label_source.hpp"
#include "errors/errors.hpp"
#include "reporting/drift_report.hpp"
#include "state/error.hpp"

namespace quorvant::data_bias::streaming {

using Rule = data_handler::SegmentationRule<std::int8_t>;
using DataBiasReport = reporting::DriftReport<metrics::DataBiasMetric>;

class StreamingDataBias {
public:
    // Counts the baseline sample: unequal or empty sequences are
    // ModelPerformanceError carrying DataLengthError, a facet without rows
    // one carrying NoFacetDeviation.
    static std::expected<StreamingDataBias, errors::ModelPerformanceError> make(
        const data_handler::ValueSource& feature, const data_handler::ValueSource& truth,
        Rule feature_rule = Rule::equal_to(1), Rule truth_rule = Rule::equal_to(1));

    void push(std::int8_t feature, std::int8_t truth) {
        const std::uint64_t a = feature_rule_(feature);
        const std::uint64_t positive = truth_rule_(truth);
        counts_.size_a += a;
        counts_.positives_a += a & positive;
        counts_.size_d += a ^ 1;
        counts_.positives_d += (a ^ 1) & positive;
    }

    // Unequal or empty sequences count nothing (DataLengthError).
    std::expected<void, errors::ModelPerformanceError> push_batch(const data_handler::ValueSource& feature,
                                                                  const data_handler::ValueSource& truth);
    // push_batch in two steps, for callers that check the rows while they
    // are counted: the counts of a batch (nothing changes), then adding them.
    std::expected<PreTrainingCounts, errors::ModelPerformanceError> count(const data_handler::ValueSource& feature,
                                                                          const data_handler::ValueSource& truth) const;
    void add(const PreTrainingCounts& batch) { counts_ += batch; }
    void flush() { counts_ = {}; }
    // A new baseline and empty counts; on error nothing changes.
    std::expected<void, errors::ModelPerformanceError> reset_baseline(const data_handler::ValueSource& feature,
                                                                      const data_handler::ValueSource& truth);

    // The seven metrics of the stream: no rows is EmptyDataVector, an
    // empty facet DataLengthError.
    std::expected<runtime::DataBiasRuntime, errors::ModelPerformanceError> current() const;
    // |current - baseline| / max(|baseline|, eps) per metric.
    std::expected<DataBiasMap, errors::ModelPerformanceError> drift_snapshot() const;
    // Metrics whose relative drift is at least the threshold.
    std::expected<DataBiasReport, errors::ModelPerformanceError> drift_report(float threshold) const;
    std::expected<DataBiasReport, errors::ModelPerformanceError> drift_report_partial_metrics(
        std::span<const metrics::DataBiasMetric> metrics, float threshold) const;

    const PreTrainingCounts& counts() const { return counts_; }
    const runtime::DataBiasRuntime& baseline() const { return baseline_; }

    // Adds the counts of `other` (the rows it has seen) to these. Refused,
    // with nothing changed, when the baselines or rules differ (bit for bit)
    // or a count would pass 64 bits. Defined with the state codec.
    std::expected<void, state::Error> merge(const StreamingDataBias& other);

private:
    friend struct StreamingDataBiasCodec;

    StreamingDataBias(runtime::DataBiasRuntime baseline, Rule feature_rule, Rule truth_rule)
        : baseline_(baseline), feature_rule_(feature_rule), truth_rule_(truth_rule) {}

    std::expected<DataBiasReport, errors::ModelPerformanceError> report(std::uint32_t listed, float threshold) const;

    PreTrainingCounts counts_;
    runtime::DataBiasRuntime baseline_;
    Rule feature_rule_;
    Rule truth_rule_;
};

}  // namespace quorvant::data_bias::streaming
