// The hot loop of the logistic-regression metrics: one pass over two
// columns, read in place, counting into exact integers and summing
// log-loss terms in f64 in index order. (The classification counts are
// ConfusionMatrix::push_dataset's.)
#pragma once

#include <cstdint>
#include <span>

#include "data_handler/confusion_matrix.hpp"
#include "model_perf/columns.hpp"
#include "model_perf/log_loss.hpp"

namespace quorvant::model_perf {

// How a truth value is classified: by the decision threshold (the batch
// function) or as positive only when it is exactly 1.0 (the monitor).
enum class TruthRule : std::uint8_t { AtLeastThreshold, EqualsOne };

struct LogisticRule {
    float threshold;  // a prediction is positive when p >= threshold
    TruthRule truth;
    ClampBounds bounds;
};

// Adds the pairs of two columns of equal size (values narrowed to f32) to
// `counts`, and their log-loss terms to `log_loss_sum`, in index order.
void logistic_pass(const Column& y_true, const Column& y_pred, const LogisticRule& rule,
                   data_handler::ConfusionMatrix& counts, double& log_loss_sum);

// Values [start, start + k) of a column narrowed to f32 as the float
// protocol would give them.
void fill_f32(const Column& c, std::size_t start, std::size_t k, float* out);

}  // namespace quorvant::model_perf
