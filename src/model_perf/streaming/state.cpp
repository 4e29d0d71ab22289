#include "model_perf/streaming/state.hpp"

#include <array>
#include <cmath>
#include <string>

#include "model_perf/log_loss.hpp"
#include "state/merge.hpp"

namespace quorvant::model_perf::streaming {

namespace {

std::expected<data_handler::ConfusionMatrix, state::Error> get_counts(state::Reader& r) {
    std::array<std::uint64_t, 4> c{};
    if (auto ok = r.get_all(c, "confusion counts"); !ok) return std::unexpected(ok.error());
    if (!state::total_fits(c)) return r.invalid("confusion counts", "overflow 64 bits in total");
    return data_handler::ConfusionMatrix::from_array(c);
}

// The ten regression sums in their field order.
std::array<double*, 10> fields(LinearRegressionErrorBuckets& b) {
    return {&b.squared_error_sum,     &b.absolute_error_sum, &b.max_error,          &b.squared_log_error_sum,
            &b.absolute_percentage_error_sum, &b.y_true_sum, &b.count,              &b.y_true_squared_sum,
            &b.y_pred_squared_sum,    &b.y_true_pred_product_sum};
}

// What one pass over pairs can leave in the sums: a whole count, nothing
// but zeros without pairs, no negative sum of squares or absolute values,
// and a maximum error that is a number of at least 0.
std::expected<void, state::Error> check_sums(state::Reader& r, const LinearRegressionErrorBuckets& b) {
    if (!std::isfinite(b.count) || b.count < 0.0 || b.count != std::floor(b.count)) {
        return r.invalid("regression sums", "hold a count that is not a whole number of pairs");
    }
    if (!(b.max_error >= 0.0)) return r.invalid("regression sums", "hold a negative or NaN maximum error");
    for (const double s : {b.squared_error_sum, b.absolute_error_sum, b.squared_log_error_sum,
                           b.absolute_percentage_error_sum, b.y_true_squared_sum, b.y_pred_squared_sum}) {
        if (s < 0.0) return r.invalid("regression sums", "hold a negative sum of squares or absolute values");
    }
    if (b.count == 0.0) {
        auto copy = b;
        for (const double* f : fields(copy)) {
            if (*f != 0.0) return r.invalid("regression sums", "are not zero although no pair was added");
        }
    }
    return {};
}

}  // namespace

// ---------------------------------------------------------------- merges --

std::expected<void, state::Error> LinearRegressionStreaming::merge(const LinearRegressionStreaming& other) {
    if (!state::same_bits(baseline_.values, other.baseline_.values)) return state::refuse("the baselines differ");
    // One addition per sum; the maximum error is the larger of the two. A
    // copy, so that merging a monitor with itself reads what it adds.
    const LinearRegressionErrorBuckets b = other.buckets_;
    LinearRegressionErrorBuckets& a = buckets_;
    a.squared_error_sum += b.squared_error_sum;
    a.absolute_error_sum += b.absolute_error_sum;
    a.max_error = std::fmax(a.max_error, b.max_error);
    a.squared_log_error_sum += b.squared_log_error_sum;
    a.absolute_percentage_error_sum += b.absolute_percentage_error_sum;
    a.y_true_sum += b.y_true_sum;
    a.count += b.count;
    a.y_true_squared_sum += b.y_true_squared_sum;
    a.y_pred_squared_sum += b.y_pred_squared_sum;
    a.y_true_pred_product_sum += b.y_true_pred_product_sum;
    return {};
}

std::expected<void, state::Error> LogisticRegressionStreaming::merge(const LogisticRegressionStreaming& other) {
    if (!state::same_bits(baseline_.values, other.baseline_.values)) return state::refuse("the baselines differ");
    if (!state::same_bits(threshold_, other.threshold_)) {
        return state::refuse("the decision thresholds differ (" + state::repr(threshold_) + " and " +
                             state::repr(other.threshold_) + ")");
    }
    if (!state::same_bits(eps_, other.eps_)) {
        return state::refuse("the stored eps differ (" + state::repr(eps_) + " and " + state::repr(other.eps_) + ")");
    }
    const auto sum = state::add_counts(counts_.as_array(), other.counts_.as_array());
    if (!sum) return std::unexpected(sum.error());
    counts_ = data_handler::ConfusionMatrix::from_array(*sum);
    log_loss_sum_ += other.log_loss_sum_;
    return {};
}

// ---------------------------------------------------------------- codecs --

void BinaryClassificationCodec::encode(const Core& core, state::Writer& w) {
    w.put_all<std::uint64_t>(core.counts_.as_array());
    w.put<std::int32_t>(core.positive_label_);
    w.put_all<float>(core.baseline_.values);
}

std::expected<BinaryClassificationCodec::Core, state::Error> BinaryClassificationCodec::decode(state::Reader& r,
                                                                                             std::uint16_t) {
    const auto counts = get_counts(r);
    if (!counts) return std::unexpected(counts.error());
    const auto label = r.get<std::int32_t>("positive label");
    if (!label) return std::unexpected(label.error());
    Core core;
    if (auto ok = r.get_all(core.baseline_.values, "baseline metrics"); !ok) return std::unexpected(ok.error());
    if (*label != 1) return r.invalid("positive label", "is " + std::to_string(*label) + "; this class counts 1");
    core.counts_ = *counts;
    core.positive_label_ = *label;
    return core;
}

void LinearRegressionCodec::encode(const Core& core, state::Writer& w) {
    w.put_all<float>(core.baseline_.values);
    auto b = core.buckets_;
    for (const double* f : fields(b)) w.put<double>(*f);
}

std::expected<LinearRegressionStreaming, state::Error> LinearRegressionCodec::decode(state::Reader& r,
                                                                                   std::uint16_t) {
    LinearRegressionStreaming core;
    if (auto ok = r.get_all(core.baseline_.values, "baseline metrics"); !ok) return std::unexpected(ok.error());
    std::array<double, 10> sums{};
    if (auto ok = r.get_all(sums, "regression sums"); !ok) return std::unexpected(ok.error());
    const auto slots = fields(core.buckets_);
    for (std::size_t i = 0; i < slots.size(); ++i) *slots[i] = sums[i];
    if (auto ok = check_sums(r, core.buckets_); !ok) return std::unexpected(ok.error());
    return core;
}

void LogisticRegressionCodec::encode(const Core& core, state::Writer& w) {
    w.put_all<float>(core.baseline_.values);
    w.put_all<std::uint64_t>(core.counts_.as_array());
    w.put<double>(core.log_loss_sum_);
    w.put<float>(core.eps_);
    w.put<float>(core.threshold_);
}

std::expected<LogisticRegressionStreaming, state::Error> LogisticRegressionCodec::decode(state::Reader& r,
                                                                                       std::uint16_t) {
    LogisticRegressionStreaming core;
    if (auto ok = r.get_all(core.baseline_.values, "baseline metrics"); !ok) return std::unexpected(ok.error());
    const auto counts = get_counts(r);
    if (!counts) return std::unexpected(counts.error());
    const auto sum = r.get<double>("log-loss sum");
    if (!sum) return std::unexpected(sum.error());
    const auto eps = r.get<float>("eps");
    if (!eps) return std::unexpected(eps.error());
    const auto threshold = r.get<float>("decision threshold");
    if (!threshold) return std::unexpected(threshold.error());
    if (counts->total() == 0 && *sum != 0.0) return r.invalid("log-loss sum", "is not zero although no pair was added");
    if (!clamp_bounds(*eps)) return r.invalid("eps", "is " + state::repr(*eps) + ", which makes no log-loss clamp");
    core.counts_ = *counts;
    core.log_loss_sum_ = *sum;
    core.eps_ = *eps;
    core.threshold_ = *threshold;
    return core;
}

}  // namespace quorvant::model_perf::streaming
