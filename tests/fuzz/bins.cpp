// Bin rules, baseline building and bin lookup. Oracles: the bin of a value
// by a plain binary search over the edges, the baseline shares recounted
// from the values, the label index against an ordered std::map, and a
// failed reset that leaves the baseline as it was.
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "drift/baseline.hpp"
#include "drift/distribution.hpp"
#include "categorical.hpp"
#include "fuzz_common.hpp"

using namespace quorvant::drift;
using quorvant::errors::DriftError;

namespace {

// The number of edges at or below x; above the last edge one more; NaN
// and everything below the first edge in bin 0.
std::size_t reference_bin(std::span<const double> edges, std::size_t bins, double x) {
    if (!(x >= edges.front())) return 0;
    if (x > edges.back()) return bins - 1;
    const auto j = static_cast<std::size_t>(std::upper_bound(edges.begin(), edges.end(), x) - edges.begin());
    return std::min(j, bins - 1);
}

void check_lookup(const BaselineContinuousBins& b, double x) {
    const std::size_t want = reference_bin(b.bin_edges(), b.num_bins(), x);
    FUZZ_CHECK(b.bin_by_search(x) == want);
    FUZZ_CHECK(b.bin_of(x) == want);
}

void check_continuous(const BaselineContinuousBins& b, std::span<const double> values, fuzz::Input& in) {
    const auto edges = b.bin_edges();
    const auto hist = b.baseline_hist();
    const std::size_t bins = b.num_bins();
    FUZZ_CHECK(bins >= 3 && bins <= kMaxBins);
    FUZZ_CHECK(hist.size() == bins);
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    FUZZ_CHECK(edges.size() == (*lo == *hi ? 1 : bins - 2));
    FUZZ_CHECK(edges.front() == *lo);
    FUZZ_CHECK(std::is_sorted(edges.begin(), edges.end()));
    FUZZ_CHECK(hist[0] == 0.0);

    // The shares are the recounted bins over n.
    std::vector<std::uint64_t> counts(bins, 0);
    for (double v : values) ++counts[reference_bin(edges, bins, v)];
    double total = 0.0;
    for (std::size_t i = 0; i < bins; ++i) {
        FUZZ_CHECK(fuzz::same(hist[i], static_cast<double>(counts[i]) / static_cast<double>(values.size())));
        total += hist[i];
    }
    FUZZ_CHECK(std::fabs(total - 1.0) < 1e-9);

    // Lookup on the values, the edges, their neighbours and fresh values.
    for (double v : values) check_lookup(b, v);
    // At most about a thousand edges: a rule may ask for up to kMaxBins.
    const std::size_t stride = std::max<std::size_t>(1, edges.size() / 1024);
    for (std::size_t i = 0; i < edges.size(); i += stride) {
        check_lookup(b, edges[i]);
        check_lookup(b, std::nextafter(edges[i], -INFINITY));
        check_lookup(b, std::nextafter(edges[i], INFINITY));
    }
    check_lookup(b, edges.back());
    std::vector<double> probes = in.reals(64);
    for (double x : probes) check_lookup(b, x);

    // count() adds exactly the per-value bins.
    std::vector<std::uint64_t> got(bins, 0), want(bins, 0);
    b.count(probes, got);
    for (double x : probes) ++want[reference_bin(edges, bins, x)];
    FUZZ_CHECK(got == want);
}

bool valid_baseline(std::span<const double> v) {
    return v.size() >= 2 && std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

void check_error(std::span<const double> values, DriftError e) {
    if (values.size() < 2) {
        FUZZ_CHECK(e == DriftError::EmptyBaselineData);
    } else if (std::any_of(values.begin(), values.end(), [](double x) { return x != x; })) {
        FUZZ_CHECK(e == DriftError::NaNValueError);
    } else if (!valid_baseline(values)) {
        FUZZ_CHECK(e == DriftError::NonFiniteBaseline);
    } else {
        FUZZ_CHECK(e == DriftError::TooManyBins);
    }
}

void fuzz_continuous(fuzz::Input& in) {
    const auto q = static_cast<QuantileType>(in.integral<int>(0, 2));
    const std::vector<double> values = in.reals(300);
    auto b = BaselineContinuousBins::create(values, q);
    if (!b) {
        check_error(values, b.error());
        return;
    }
    FUZZ_CHECK(valid_baseline(values));
    FUZZ_CHECK(b->quantile_type() == q);
    check_continuous(*b, values, in);

    // A reset is the baseline built afresh; a failed one changes nothing.
    const std::vector<double> next = in.reals(300);
    const std::vector<double> edges(b->bin_edges().begin(), b->bin_edges().end());
    const std::vector<double> hist(b->baseline_hist().begin(), b->baseline_hist().end());
    const auto r = b->reset(next);
    if (!r) {
        check_error(next, r.error());
        FUZZ_CHECK(fuzz::same<double>(b->bin_edges(), edges));
        FUZZ_CHECK(fuzz::same<double>(b->baseline_hist(), hist));
        return;
    }
    const auto fresh = BaselineContinuousBins::create(next, q);
    FUZZ_CHECK(fresh.has_value());
    FUZZ_CHECK(fuzz::same(b->bin_edges(), fresh->bin_edges()));
    FUZZ_CHECK(fuzz::same(b->baseline_hist(), fresh->baseline_hist()));
}

void fuzz_categorical(fuzz::Input& in) {
    const std::vector<std::string> labels = in.labels(200);
    std::vector<std::string_view> views(labels.begin(), labels.end());
    auto b = fuzz::baseline_of(views);
    if (!b) {
        FUZZ_CHECK(labels.empty() && b.error() == DriftError::EmptyBaselineData);
        return;
    }
    // std::string compares as unsigned bytes, a proper prefix first.
    std::map<std::string, std::uint64_t> counts;
    for (const auto& s : labels) ++counts[s];
    const std::size_t d = counts.size();
    FUZZ_CHECK(b->num_labels() == d);
    const auto hist = b->baseline_hist();
    FUZZ_CHECK(hist.size() == d + 1 && hist[d] == 0.0);
    std::size_t i = 0;
    for (const auto& [label, count] : counts) {
        FUZZ_CHECK(b->label(i) == label);
        FUZZ_CHECK(b->index_of(label) == i);
        FUZZ_CHECK(fuzz::same(hist[i], static_cast<double>(count) / static_cast<double>(labels.size())));
        ++i;
    }

    // Runtime labels: some views share an object (the address memo hits),
    // some are equal text at another address.
    const std::vector<std::string> pool = in.labels(16);
    std::vector<std::string_view> runtime;
    const std::size_t n = in.size(300);
    for (std::size_t k = 0; k < n && !pool.empty(); ++k) {
        const std::string& s = pool[in.integral<std::size_t>(0, pool.size() - 1)];
        runtime.push_back(in.flag() ? std::string_view(s) : std::string_view(labels.empty() ? s : labels[k % labels.size()]));
    }
    std::vector<std::uint64_t> want(d + 1, 0);
    const std::size_t begin = runtime.empty() ? 0 : in.integral<std::size_t>(0, runtime.size());
    const std::vector<std::uint64_t> got = fuzz::counts_of(*b, runtime, begin);
    for (std::size_t k = begin; k < runtime.size(); ++k) {
        const auto it = counts.find(std::string(runtime[k]));
        ++want[it == counts.end() ? d : static_cast<std::size_t>(std::distance(counts.begin(), it))];
    }
    FUZZ_CHECK(got == want);

    // No labels make no baseline.
    const auto none = fuzz::baseline_of({});
    FUZZ_CHECK(!none && none.error() == DriftError::EmptyBaselineData);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    if (in.flag()) {
        fuzz_continuous(in);
    } else {
        fuzz_categorical(in);
    }
    return 0;
}
