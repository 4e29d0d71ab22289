// The four drift scores and the three ways to reach them: the one-shot
// comparison, a batch detector (twice: its runtime bins must be clear
// again after a call) and a streaming detector that never forgets. With
// whole-number weights all three give the same bits. The scores stay in
// their ranges whenever they are finite.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drift/data_drift.hpp"
#include "drift/drift_metrics.hpp"
#include "categorical.hpp"
#include "fuzz_common.hpp"

using namespace quorvant::drift;

namespace {

std::vector<DriftType> types_of(fuzz::Input& in) {
    std::vector<DriftType> types(in.size(6));
    for (auto& t : types) t = static_cast<DriftType>(in.integral<int>(0, 3));
    return types;
}

void check_ranges(std::span<const DriftType> types, std::span<const double> scores) {
    for (std::size_t i = 0; i < types.size(); ++i) {
        const double s = scores[i];
        if (!std::isfinite(s)) continue;
        switch (types[i]) {
            case DriftType::JensenShannon: FUZZ_CHECK(s >= -1e-12 && s <= 1.0 + 1e-12); break;
            case DriftType::WassersteinDistance: FUZZ_CHECK(s >= 0.0 && s <= 1.0 + 1e-9); break;
            case DriftType::PopulationStabilityIndex: FUZZ_CHECK(s >= -1e-12); break;
            case DriftType::KullbackLeibler: break;
        }
    }
}

// The batch detector (called twice) and the stream give the one-shot
// scores, bit for bit.
template <class Scores, class Pushed>
void check_paths(const std::vector<double>& once, const Scores& first, const Scores& again, const Pushed& pushed,
                 const Scores& streamed) {
    FUZZ_CHECK(first && again && pushed && streamed);
    FUZZ_CHECK(fuzz::same<double>(once, *first));
    FUZZ_CHECK(fuzz::same<double>(once, *again));
    FUZZ_CHECK(fuzz::same<double>(once, *streamed));
}

// A flush stream whose rate and cadence are never reached.
constexpr std::uint64_t kNever = 1ull << 60;

void fuzz_continuous(fuzz::Input& in) {
    const std::vector<double> baseline = in.reals(200);
    const std::vector<double> candidate = in.reals(200);
    const std::vector<DriftType> types = types_of(in);
    const std::optional<QuantileType> q =
        in.flag() ? std::optional<QuantileType>(static_cast<QuantileType>(in.integral<int>(0, 2))) : std::nullopt;

    const auto once = compute_drift_continuous_distribution(baseline, candidate, types, q);
    auto batch = ContinuousDataDrift::new_from_baseline(q, baseline);
    auto stream = StreamingContinuousDataDrift<FlushModeMark>::new_flush(baseline, q, kNever, kNever);
    FUZZ_CHECK(batch.has_value() == stream.has_value());
    if (!batch) {
        FUZZ_CHECK(!once && once.error() == batch.error());
        return;
    }
    const auto first = batch->compute_drift_multiple_criteria(candidate, types);
    const auto again = batch->compute_drift_multiple_criteria(candidate, types);
    const auto pushed = stream->update_stream_batch(candidate);
    if (!once) {
        FUZZ_CHECK(candidate.empty() && once.error() == DriftError::EmptyRuntimeData);
        FUZZ_CHECK(!first && !again && !pushed);
        return;
    }
    check_paths(*once, first, again, pushed, stream->compute_drift_multiple_criteria(types));
    for (std::size_t i = 0; i < types.size(); ++i) {
        const auto single = batch->compute_drift(candidate, types[i]);
        FUZZ_CHECK(single && fuzz::same(*single, (*once)[i]));
    }
    check_ranges(types, *once);
}

void fuzz_categorical(fuzz::Input& in) {
    const std::vector<std::string> base_text = in.labels(200);
    const std::vector<std::string> cand_text = in.labels(200);
    const std::vector<std::string_view> baseline(base_text.begin(), base_text.end());
    const std::vector<std::string_view> candidate(cand_text.begin(), cand_text.end());
    const std::vector<DriftType> types = types_of(in);

    // The one-shot function's steps: the baseline, the candidate's counts.
    auto bins = fuzz::baseline_of(baseline);
    if (!bins) {
        FUZZ_CHECK(baseline.empty() && bins.error() == DriftError::EmptyBaselineData);
        return;
    }
    const auto once =
        compute_drift_categorical_distribution(*bins, fuzz::counts_of(*bins, candidate), candidate.size(), types);
    auto batch = CategoricalDataDrift::new_(*bins);
    auto stream = StreamingCategoricalDataDrift<FlushModeMark>::new_flush(*bins, kNever, kNever);
    const auto counts = fuzz::counts_of(batch.baseline(), candidate);
    const auto first = batch.compute_drift_multiple_criteria(counts, candidate.size(), types);
    const auto again = batch.compute_drift_multiple_criteria(counts, candidate.size(), types);
    const auto pushed = fuzz::push_labels(stream, candidate);
    if (!once) {
        FUZZ_CHECK(candidate.empty() && !first && !again && !pushed);
        return;
    }
    check_paths(*once, first, again, pushed, stream.compute_drift_multiple_criteria(types));
    check_ranges(types, *once);
}

// Arbitrary weights and totals: never a crash, and scores_of is the
// per-type computation with the in-order sum.
void fuzz_raw(fuzz::Input& in) {
    const std::vector<double> b = in.reals(40);
    const std::vector<double> r = in.reals(40);
    const auto family = in.flag() ? DriftFamily::Continuous : DriftFamily::Categorical;
    const std::vector<DriftType> types = types_of(in);
    const std::vector<double> scores = scores_of(b, r, family, types);
    FUZZ_CHECK(scores.size() == types.size());
    const DriftInputs inputs{b, r, sum_in_order(r), family};
    for (std::size_t i = 0; i < types.size(); ++i) {
        FUZZ_CHECK(fuzz::same(scores[i], global_compute_drift(inputs, types[i])));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.integral<int>(0, 2)) {
        case 0: fuzz_continuous(in); break;
        case 1: fuzz_categorical(in); break;
        default: fuzz_raw(in); break;
    }
    return 0;
}
