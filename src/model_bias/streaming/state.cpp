#include "model_bias/streaming/state.hpp"

#include "data_handler/rule_state.hpp"
#include "state/merge.hpp"

namespace quorvant::model_bias::streaming {

using data_handler::same_rule;

std::expected<void, state::Error> StreamingModelBias::merge(const StreamingModelBias& other) {
    if (!state::same_bits(baseline_.values, other.baseline_.values)) return state::refuse("the baselines differ");
    if (!same_rule(feature_rule_, other.feature_rule_) || !same_rule(prediction_rule_, other.prediction_rule_) ||
        !same_rule(truth_rule_, other.truth_rule_)) {
        return state::refuse("the segmentation rules differ");
    }
    const auto sum = state::add_counts(counts_.rows, other.counts_.rows);
    if (!sum) return std::unexpected(sum.error());
    counts_.rows = *sum;
    return {};
}

void StreamingModelBiasCodec::encode(const Core& core, state::Writer& w) {
    w.put_all<std::uint64_t>(core.counts_.rows);
    w.put_all<float>(core.baseline_.values);
    data_handler::put_rule(w, core.feature_rule_);
    data_handler::put_rule(w, core.prediction_rule_);
    data_handler::put_rule(w, core.truth_rule_);
}

std::expected<StreamingModelBias, state::Error> StreamingModelBiasCodec::decode(state::Reader& r, std::uint16_t) {
    PostTraining counts;
    if (auto ok = r.get_all(counts.rows, "row counts"); !ok) return std::unexpected(ok.error());
    runtime::ModelBiasRuntime baseline;
    if (auto ok = r.get_all(baseline.values, "baseline metrics"); !ok) return std::unexpected(ok.error());
    const auto rules = data_handler::get_rules(r, {"feature rule", "prediction rule", "ground-truth rule"});
    if (!rules) return std::unexpected(rules.error());
    if (!state::total_fits(counts.rows)) return r.invalid("row counts", "overflow 64 bits in total");
    StreamingModelBias core((*rules)[0], (*rules)[1], (*rules)[2]);
    core.baseline_ = baseline;
    core.counts_ = counts;
    return core;
}

}  // namespace quorvant::model_bias::streaming
