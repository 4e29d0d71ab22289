// Bias cores: the pre-training and post-training counting kernels, the
// metric formulas (any counts, however large), and the two streaming
// monitors. Oracles: counts taken one row at a time, label sources against
// spans, one-by-one pushes against batch pushes, and a failed call that
// changes nothing.
#include <vector>

#include "data_bias/core.hpp"
#include "data_bias/streaming/streaming_data_bias.hpp"
#include "fuzz_common.hpp"
#include "model_bias/core.hpp"
#include "model_bias/post_training.hpp"
#include "model_bias/statistics.hpp"
#include "model_bias/streaming/streaming_model_bias.hpp"

using namespace quorvant;
using data_handler::Label;

namespace {

// The one place that builds the cores' per-row sources from vectors.
data_handler::LabelSource labels_of(const std::vector<Label>& v) { return data_handler::LabelSource::owned(v); }
data_handler::PackedLabels packed(const std::vector<Label>& v) {
    data_handler::PackedLabels p(v.size());
    p.set(0, v.data(), v.size());
    return p;
}
data_handler::ValueSource values_of(const std::vector<std::int8_t>& v) { return data_handler::ValueSource::owned(v); }

std::vector<Label> zero_one(fuzz::Input& in, std::size_t n) {
    std::vector<Label> out(n);
    for (auto& x : out) x = in.flag() ? 1 : 0;
    return out;
}

std::vector<std::int8_t> small_values(fuzz::Input& in, std::size_t n) {
    std::vector<std::int8_t> out(n);
    for (auto& x : out) x = in.integral<std::int8_t>(-2, 3);
    return out;
}

template <class Map>
void check_map_values(const Map& map) {
    map.for_each([](auto, float v) { (void)v; });
}

void fuzz_pre_training(fuzz::Input& in) {
    // Lengths past the kernel's 256-row blocks and 4096-row chunks.
    const std::size_t n = in.size(9000);
    const auto facet = zero_one(in, n);
    const auto truth = zero_one(in, in.flag() ? n : in.size(9000));
    if (facet.size() == truth.size()) {
        data_bias::PreTrainingCounts want;
        for (std::size_t i = 0; i < n; ++i) {
            want.size_a += facet[i];
            want.positives_a += facet[i] & truth[i];
            want.size_d += facet[i] ^ 1;
            want.positives_d += (facet[i] ^ 1) & truth[i];
        }
        FUZZ_CHECK(data_bias::count_pre_training(facet, truth) == want);
        FUZZ_CHECK(data_bias::count_pre_training(labels_of(facet), labels_of(truth)) == want);
    }
    const auto core = data_bias::data_bias_analysis_core(packed(facet), packed(truth));
    if (facet.size() != truth.size()) {
        FUZZ_CHECK(!core && core.error() == errors::BiasError::DataLengthError);
        return;
    }
    const auto counts = data_bias::count_pre_training(facet, truth);
    const bool empty_facet = counts.size_a == 0 || counts.size_d == 0;
    FUZZ_CHECK(core.has_value() == !empty_facet);
    if (core) {
        const auto record = data_bias::new_from_pre_training(counts);
        FUZZ_CHECK(record.has_value());
        FUZZ_CHECK(fuzz::same(record->to_map().at(metrics::DataBiasMetric::KlDivergence),
                                     core->at(metrics::DataBiasMetric::KlDivergence)));
        const float ci = core->at(metrics::DataBiasMetric::ClassImbalance);
        FUZZ_CHECK(ci >= 0.0f && ci <= 1.0f);
    }
}

void fuzz_formulas(fuzz::Input& in) {
    // Any counts: the formulas must not misbehave on huge or odd ones.
    data_bias::PreTrainingCounts c{in.raw<std::uint64_t>() >> in.integral<int>(0, 63),
                                   in.raw<std::uint64_t>() >> in.integral<int>(0, 63),
                                   in.raw<std::uint64_t>() >> in.integral<int>(0, 63),
                                   in.raw<std::uint64_t>() >> in.integral<int>(0, 63)};
    const auto map = data_bias::pre_training_bias(c);
    FUZZ_CHECK(map.has_value() == (c.size_a != 0 && c.size_d != 0));
    if (map) check_map_values(*map);

    model_bias::PostTraining p;
    for (auto& r : p.rows) r = in.raw<std::uint64_t>() >> in.integral<int>(8, 63);
    const auto ge = model_bias::statistics::generalized_entropy_from_buckets(
        model_bias::BucketGeneralizedEntropy::from(p));
    const auto snapshot = model_bias::new_from_post_training(p, ge);
    if (p.n0() == 0 || p.n1() == 0) FUZZ_CHECK(!snapshot);
    const auto bias = model_bias::post_training_bias(model_bias::DiscretePostTraining{p, ge});
    if (p.n0() == 0 || p.n1() == 0) FUZZ_CHECK(!bias && bias.error() == errors::BiasError::DataLengthError);
    (void)model_bias::statistics::generalized_entropy_sum(model_bias::BucketGeneralizedEntropy::from(p));
    (void)model_bias::statistics::inner::cond_dem_desp_in_pred_labels(p);
}

void fuzz_post_training(fuzz::Input& in) {
    const std::size_t n = in.size(9000);
    const auto f = zero_one(in, n);
    const auto pr = zero_one(in, in.integral<int>(0, 7) == 0 ? in.size(9000) : n);
    const auto g = zero_one(in, n);
    const auto record = model_bias::DiscretePostTraining::make(packed(f), packed(pr), packed(g));
    if (n == 0 || pr.size() != n) {
        FUZZ_CHECK(!record && record.error() == errors::BiasError::DataLengthError);
        return;
    }
    model_bias::PostTraining want;
    for (std::size_t i = 0; i < n; ++i) want.accumulate_single(f[i], pr[i], g[i]);
    model_bias::PostTraining spans;
    spans.accumulate_batch(f, pr, g);
    FUZZ_CHECK(spans == want);
    FUZZ_CHECK(record && record->counts == want);
    FUZZ_CHECK(record->counts.total() == n);
    const auto bias = model_bias::post_training_bias(*record);
    if (bias) check_map_values(*bias);
}

// The streaming monitors, one fed batches and one the same rows one by
// one; a failing batch (unequal or empty) adds nothing.
void fuzz_streaming(fuzz::Input& in) {
    const std::size_t n0 = in.size(64);
    const auto bf = small_values(in, n0), bp = small_values(in, n0), bt = small_values(in, n0);
    using data_handler::SegmentationRule;
    const SegmentationRule<std::int8_t> rule{in.integral<std::uint8_t>(0, 5), in.integral<std::int8_t>(-2, 3)};
    auto d1 = data_bias::streaming::StreamingDataBias::make(values_of(bf), values_of(bt), rule);
    auto m1 = model_bias::streaming::StreamingModelBias::make(values_of(bf), values_of(bp), values_of(bt), rule);
    if (!d1 && !m1) return;
    auto d2 = d1;
    auto m2 = m1;
    for (int step = 0; step < 24 && !in.empty(); ++step) {
        const std::size_t n = in.size(5000);
        const auto f = small_values(in, n), p = small_values(in, in.integral<int>(0, 7) == 0 ? in.size(50) : n);
        const auto t = small_values(in, n);
        const bool ok = n > 0 && p.size() == n;
        switch (in.integral<int>(0, 2)) {
            case 0:
                if (d1) {
                    FUZZ_CHECK(d1->push_batch(values_of(f), values_of(t)).has_value() == (n > 0));
                    for (std::size_t i = 0; i < n; ++i) d2->push(f[i], t[i]);
                }
                if (m1) {
                    FUZZ_CHECK(m1->push_batch(values_of(f), values_of(p), values_of(t)).has_value() == ok);
                    for (std::size_t i = 0; i < n && ok; ++i) m2->push(f[i], p[i], t[i]);
                }
                break;
            case 1:
                if (d1) {
                    const auto before = d1->baseline();
                    const auto r = d1->reset_baseline(values_of(f), values_of(t));
                    FUZZ_CHECK(r.has_value() == d2->reset_baseline(values_of(f), values_of(t)).has_value());
                    if (!r) FUZZ_CHECK(fuzz::same<float>(d1->baseline().values, before.values));
                }
                if (m1) {
                    const auto r = m1->reset_baseline(values_of(f), values_of(p), values_of(t));
                    FUZZ_CHECK(r.has_value() == m2->reset_baseline(values_of(f), values_of(p), values_of(t)).has_value());
                }
                break;
            default:
                if (d1) {
                    d1->flush();
                    d2->flush();
                }
                if (m1) {
                    m1->flush();
                    m2->flush();
                }
                break;
        }
        if (d1) {
            FUZZ_CHECK(d1->counts() == d2->counts());
            const auto a = d1->drift_snapshot(), b = d2->drift_snapshot();
            FUZZ_CHECK(a.has_value() == b.has_value());
            (void)d1->drift_report(in.real32());
        }
        if (m1) {
            FUZZ_CHECK(m1->counts() == m2->counts());
            const auto a = m1->current(), b = m2->current();
            FUZZ_CHECK(a.has_value() == b.has_value());
            if (a) FUZZ_CHECK(fuzz::same<float>(a->values, b->values));
            (void)m1->drift_report(in.real32());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.integral<int>(0, 3)) {
        case 0: fuzz_pre_training(in); break;
        case 1: fuzz_formulas(in); break;
        case 2: fuzz_post_training(in); break;
        default: fuzz_streaming(in); break;
    }
    return 0;
}
