// A binary classifier watched online: a baseline record, exact running
// confusion counts of the production pairs, and metrics, drift and drift
// reports derived from them on demand. Generic over the label type; the
// positive label is 1. Batches are columns holding values of the label
// type: a caller's buffer read in place, or a span (Column::of).
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "data_handler/confusion_matrix.hpp"
#include "errors/errors.hpp"
#include "metrics/metrics.hpp"
#include "model_perf/classification.hpp"
#include "model_perf/columns.hpp"
#include "model_perf/streaming/drift.hpp"
#include "reporting/drift_report.hpp"
#include "runtime/binary_classification_runtime.hpp"
#include "state/merge.hpp"

namespace quorvant::model_perf::streaming {

template <class Label>
class BinaryClassificationStreaming {
public:
    using Metric = metrics::ClassificationEvaluationMetric;
    using Report = reporting::DriftReport<Metric>;

    static std::expected<BinaryClassificationStreaming, errors::ModelPerformanceError> create(const Column& y_true,
                                                                                              const Column& y_pred) {
        if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
        if (y_true.size == 0) return std::unexpected(errors::kEmptyDataVector);
        BinaryClassificationStreaming s;
        s.baseline_ = s.baseline_of(y_true, y_pred);
        return s;
    }

    void push(Label y_true, Label y_pred) { counts_.push(y_true == positive_label_, y_pred == positive_label_); }

    // An empty batch is accepted and changes nothing.
    std::expected<void, errors::ModelPerformanceError> push_batch(const Column& y_true, const Column& y_pred) {
        return counts_.push_dataset(y_true, y_pred, static_cast<float>(positive_label_));
    }

    void flush() { counts_ = {}; }

    // The counts start over against the new baseline. Empty pairs are
    // accepted and give a baseline of NaN (every ratio is 0 / 0).
    std::expected<void, errors::ModelPerformanceError> reset_baseline(const Column& y_true, const Column& y_pred) {
        if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
        baseline_ = baseline_of(y_true, y_pred);
        counts_ = {};
        return {};
    }

    std::expected<runtime::BinaryClassificationRuntime, errors::ModelPerformanceError> performance_snapshot() const {
        if (counts_.total() == 0) return std::unexpected(errors::kEmptyDataVector);
        return classification_metrics(counts_);
    }

    std::expected<metrics::MetricMap<Metric>, errors::ModelPerformanceError> drift_snapshot() const {
        const auto current = performance_snapshot();
        if (!current) return std::unexpected(current.error());
        return drift_map(baseline_, *current, DriftSign::Signed);
    }

    std::expected<Report, errors::ModelPerformanceError> drift_report(std::optional<float> threshold) const {
        const auto drift = drift_snapshot();
        if (!drift) return std::unexpected(drift.error());
        return streaming::drift_report(*drift, threshold);
    }

    // The names are parsed before the counts are examined (LogLoss is not a
    // metric of this family).
    std::expected<Report, errors::Error> drift_report_partial_metrics(std::span<const std::string> names,
                                                                      std::optional<float> threshold) const {
        const auto only = metrics::parse_classification_list(names);
        if (!only) return std::unexpected(only.error());
        const auto drift = drift_snapshot();
        if (!drift) return std::unexpected(drift.error());
        return streaming::drift_report(*drift, threshold, std::span<const Metric>(*only));
    }

    const runtime::BinaryClassificationRuntime& baseline() const { return baseline_; }
    const data_handler::ConfusionMatrix& counts() const { return counts_; }

    // Adds the counts of `other` to these. Refused, with nothing changed,
    // when the baselines (bit for bit) or positive labels differ or a count
    // would pass 64 bits.
    std::expected<void, state::Error> merge(const BinaryClassificationStreaming& other) {
        if (!state::same_bits(baseline_.values, other.baseline_.values)) return state::refuse("the baselines differ");
        if (positive_label_ != other.positive_label_) return state::refuse("the positive labels differ");
        const auto sum = state::add_counts(counts_.as_array(), other.counts_.as_array());
        if (!sum) return std::unexpected(sum.error());
        counts_ = data_handler::ConfusionMatrix::from_array(*sum);
        return {};
    }

private:
    friend struct BinaryClassificationCodec;

    BinaryClassificationStreaming() = default;

    runtime::BinaryClassificationRuntime baseline_of(const Column& y_true, const Column& y_pred) const {
        data_handler::ConfusionMatrix fresh;
        (void)fresh.push_dataset(y_true, y_pred, static_cast<float>(positive_label_));  // lengths checked
        return classification_metrics(fresh);
    }

    data_handler::ConfusionMatrix counts_;
    // 1, exact as an f32 (the counting loops compare the column's values,
    // read as what they narrow to in f32, with it).
    Label positive_label_ = 1;
    runtime::BinaryClassificationRuntime baseline_;
};

}  // namespace quorvant::model_perf::streaming
