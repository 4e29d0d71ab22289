#include "model_perf/classification.hpp"

#include <cmath>

#include "config/config.hpp"
#include "model_perf/perf_kernels.hpp"

namespace quorvant::model_perf {

using data_handler::ConfusionMatrix;
using M = metrics::ClassificationEvaluationMetric;

namespace {

float f32(std::uint64_t count) { return static_cast<float>(count); }

template <class Record>
void fill_confusion_metrics(const ConfusionMatrix& c, Record& r) {
    const std::uint64_t tp = c.true_pos, fp = c.false_pos, tn = c.true_neg, fn = c.false_neg;
    // Sums of counts are exact integer sums, converted once.
    const float precision_positive = f32(tp) / f32(tp + fp);
    const float precision_negative = f32(tn) / f32(tn + fn);
    const float recall_positive = f32(tp) / f32(tp + fn);
    const float recall_negative = f32(tn) / f32(tn + fp);
    r[M::PrecisionPositive] = precision_positive;
    r[M::PrecisionNegative] = precision_negative;
    r[M::RecallPositive] = recall_positive;
    r[M::RecallNegative] = recall_negative;
    r[M::BalancedAccuracy] = (recall_positive + recall_negative) * 0.5f;
    r[M::Accuracy] = f32(tp + tn) / f32(tn + (fn + (tp + fp)));
    r[M::F1Score] = ((recall_positive + recall_positive) * precision_positive) / (recall_positive + precision_positive);
}

}  // namespace

runtime::BinaryClassificationRuntime classification_metrics(const ConfusionMatrix& counts) {
    runtime::BinaryClassificationRuntime r;
    fill_confusion_metrics(counts, r);
    return r;
}

runtime::LogisticRegressionRuntime logistic_metrics(const ConfusionMatrix& counts, double log_loss_sum) {
    runtime::LogisticRegressionRuntime r;
    fill_confusion_metrics(counts, r);
    r[M::LogLoss] = static_cast<float>(-log_loss_sum / static_cast<double>(counts.total()));
    return r;
}

std::expected<runtime::BinaryClassificationRuntime, errors::ModelPerformanceError> binary_classification_runtime(
    const Column& y_true, const Column& y_pred) {
    ConfusionMatrix counts;
    const auto pushed = counts.push_dataset(y_true, y_pred, 1.0f);
    if (!pushed) return std::unexpected(pushed.error());
    return classification_metrics(counts);
}

std::expected<runtime::LogisticRegressionRuntime, errors::ModelPerformanceError> logistic_regression_runtime(
    const Column& y_true, const Column& y_pred, float threshold) {
    if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
    // No pairs: the log loss would be 0 / 0.
    if (y_true.size == 0) return std::unexpected(errors::kInvalidData);
    const auto bounds = clamp_bounds(config::stability_eps());
    if (!bounds) return std::unexpected(bounds.error());
    ConfusionMatrix counts;
    double sum = 0.0;
    logistic_pass(y_true, y_pred, LogisticRule{threshold, TruthRule::AtLeastThreshold, *bounds}, counts, sum);
    runtime::LogisticRegressionRuntime r = logistic_metrics(counts, sum);
    if (std::isnan(r[M::LogLoss])) return std::unexpected(errors::kInvalidData);
    return r;
}

}  // namespace quorvant::model_perf
