#include "data_handler/confusion_matrix.hpp"

#include "model_perf/perf_kernels.hpp"

namespace quorvant::data_handler {

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(std::span<const float> y_true,
                                                                                 std::span<const float> y_pred,
                                                                                 float label) {
    return push_dataset(model_perf::Column::of(y_true), model_perf::Column::of(y_pred), label);
}

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(const model_perf::Column& y_true,
                                                                                 const model_perf::Column& y_pred,
                                                                                 float label) {
    if (y_true.size != y_pred.size) return std::unexpected(errors::kLengthMismatch);
    model_perf::count_label(y_true, y_pred, label, *this);
    return {};
}

std::expected<void, errors::ModelPerformanceError> ConfusionMatrix::push_dataset(
    std::span<const std::int32_t> y_true, std::span<const std::int32_t> y_pred, std::int32_t label) {
    if (y_true.size() != y_pred.size()) return std::unexpected(errors::kLengthMismatch);
    model_perf::count_label(y_true, y_pred, label, *this);
    return {};
}

}  // namespace quorvant::data_handler
