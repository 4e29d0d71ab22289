#include "data_bias/streaming/state.hpp"

#include <array>
#include <span>

#include "data_handler/rule_state.hpp"
#include "state/merge.hpp"

namespace quorvant::data_bias::streaming {

using data_handler::same_rule;

namespace {

std::array<std::uint64_t, 4> as_array(const PreTrainingCounts& c) {
    return {c.positives_a, c.size_a, c.positives_d, c.size_d};
}

}  // namespace

std::expected<void, state::Error> StreamingDataBias::merge(const StreamingDataBias& other) {
    if (!state::same_bits(baseline_.values, other.baseline_.values)) return state::refuse("the baselines differ");
    if (!same_rule(feature_rule_, other.feature_rule_) || !same_rule(truth_rule_, other.truth_rule_)) {
        return state::refuse("the segmentation rules differ");
    }
    const auto sum = state::add_counts(as_array(counts_), as_array(other.counts_));
    if (!sum) return std::unexpected(sum.error());
    counts_ = PreTrainingCounts{(*sum)[0], (*sum)[1], (*sum)[2], (*sum)[3]};
    return {};
}

void StreamingDataBiasCodec::encode(const Core& core, state::Writer& w) {
    const auto counts = as_array(core.counts_);
    w.put_all<std::uint64_t>(counts);
    w.put_all<float>(core.baseline_.values);
    data_handler::put_rule(w, core.feature_rule_);
    data_handler::put_rule(w, core.truth_rule_);
}

std::expected<StreamingDataBias, state::Error> StreamingDataBiasCodec::decode(state::Reader& r, std::uint16_t) {
    std::array<std::uint64_t, 4> c{};
    if (auto ok = r.get_all(c, "counts"); !ok) return std::unexpected(ok.error());
    runtime::DataBiasRuntime baseline;
    if (auto ok = r.get_all(baseline.values, "baseline metrics"); !ok) return std::unexpected(ok.error());
    const auto rules = data_handler::get_rules(r, {"feature rule", "ground-truth rule"});
    if (!rules) return std::unexpected(rules.error());
    if (c[0] > c[1]) return r.invalid("counts", "hold more positives than rows in facet a");
    if (c[2] > c[3]) return r.invalid("counts", "hold more positives than rows in facet d");
    if (!state::total_fits(c)) return r.invalid("counts", "overflow 64 bits in total");
    StreamingDataBias core(baseline, (*rules)[0], (*rules)[1]);
    core.counts_ = PreTrainingCounts{c[0], c[1], c[2], c[3]};
    return core;
}

}  // namespace quorvant::data_bias::streaming
