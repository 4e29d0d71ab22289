// The runtime-check loop of every family on arbitrary metric maps, lists
// and thresholds. Oracles: a missing metric is the first absent one in
// variant order of the record read first; each metric is judged on its
// own (a list's failures are the union of its single-metric checks, in
// any order, duplicates stored once); a NaN on either side never fails;
// a report passes exactly when nothing failed.
#include <algorithm>
#include <vector>

#include "fuzz_common.hpp"
#include "runtime/check_rules.hpp"

using namespace quorvant;
using namespace quorvant::runtime;

namespace {

template <class M>
metrics::MetricMap<M> map_of(fuzz::Input& in) {
    metrics::MetricMap<M> map;
    for (std::size_t i = 0; i < metrics::metric_count<M>; ++i) {
        // Mostly present, so full records occur.
        if (in.integral<int>(0, 15) != 0) map.insert(static_cast<M>(i), in.real32());
    }
    return map;
}

template <class Report>
std::vector<std::pair<std::size_t, float>> failures_of(const Report& r) {
    std::vector<std::pair<std::size_t, float>> out;
    FUZZ_CHECK(r.passed == !r.failed_report.has_value());
    if (r.failed_report) {
        FUZZ_CHECK(!r.failed_report->empty());
        for (const auto& e : *r.failed_report) out.emplace_back(metrics::index(e.metric), e.drift);
    }
    return out;
}

template <class Record>
void fuzz_family(fuzz::Input& in) {
    using M = typename Record::Metric;
    using Rules = CheckRules<Record>;
    const auto baseline = map_of<M>(in);
    const auto latest = map_of<M>(in);
    std::vector<M> list(in.size(20));
    for (auto& m : list) m = static_cast<M>(in.integral<std::size_t>(0, metrics::metric_count<M> - 1));
    const float threshold = in.flag() ? kDefaultThreshold : in.real32();
    const auto order = in.flag() ? ReadOrder::BaselineFirst : ReadOrder::LatestFirst;

    const auto report = check_maps<Record>(baseline, latest, list, threshold, order);
    const auto& first = order == ReadOrder::BaselineFirst ? baseline : latest;
    const auto& second = order == ReadOrder::BaselineFirst ? latest : baseline;
    auto missing_in = [](const metrics::MetricMap<M>& m) -> std::optional<M> {
        for (std::size_t i = 0; i < Record::size; ++i) {
            if (!m.contains(static_cast<M>(i))) return static_cast<M>(i);
        }
        return std::nullopt;
    };
    if (const auto gap = missing_in(first)) {
        FUZZ_CHECK(!report && report.error() == Rules::missing(*gap));
        return;
    }
    if (const auto gap = missing_in(second)) {
        FUZZ_CHECK(!report && report.error() == Rules::missing(*gap));
        return;
    }
    FUZZ_CHECK(report.has_value());
    const auto failed = failures_of(*report);

    // The union of single-metric checks, in variant order.
    std::vector<std::pair<std::size_t, float>> want;
    std::vector<M> sorted = list;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (const M m : sorted) {
        const M one[] = {m};
        const auto single = check_maps<Record>(baseline, latest, one, threshold, order);
        FUZZ_CHECK(single.has_value());
        for (const auto& f : failures_of(*single)) want.push_back(f);
        const float l = latest.at(m), b = baseline.at(m);
        if (l != l || b != b || metrics::index(m) >= Record::size) FUZZ_CHECK(single->passed);
    }
    FUZZ_CHECK(failed.size() == want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        FUZZ_CHECK(failed[i].first == want[i].first && fuzz::same(failed[i].second, want[i].second));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.integral<int>(0, 4)) {
        case 0: fuzz_family<DataBiasRuntime>(in); break;
        case 1: fuzz_family<ModelBiasRuntime>(in); break;
        case 2: fuzz_family<BinaryClassificationRuntime>(in); break;
        case 3: fuzz_family<LinearRegressionRuntime>(in); break;
        default: fuzz_family<LogisticRegressionRuntime>(in); break;
    }
    return 0;
}
