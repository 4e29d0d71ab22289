#include "drift/baseline.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "drift/radix_sort.hpp"
#include "state/merge.hpp"

namespace quorvant::drift {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Number of edges e[i] <= x among m ascending (non-decreasing) edges; NaN
// compares false with every edge and gives 0.
std::size_t count_at_or_below(const double* e, std::size_t m, double x) noexcept {
    std::size_t lo = 0, len = m;
    while (len > 0) {
        const std::size_t half = len / 2;
        if (e[lo + half] <= x) {
            lo += half + 1;
            len -= half + 1;
        } else {
            len = half;
        }
    }
    return lo;
}

// Up to this many bins the counting loop keeps four interleaved histograms,
// so neighbouring values that hit the same bin do not wait on each other.
constexpr std::size_t kInterleaveBins = 4096;

std::expected<void, errors::DriftError> validate(std::span<const double> values, const BaselineSummary& s) {
    if (values.size() < 2) return std::unexpected(errors::DriftError::EmptyBaselineData);
    if (s.has_nan) return std::unexpected(errors::DriftError::NaNValueError);
    if (s.has_inf) return std::unexpected(errors::DriftError::NonFiniteBaseline);
    return {};
}

}  // namespace

std::expected<void, errors::DriftError> validate_baseline_data(std::span<const double> values) {
    return validate(values, summarize(values));
}

std::expected<BaselineContinuousBins, errors::DriftError> BaselineContinuousBins::create(
    std::span<const double> values, QuantileType q) {
    BaselineContinuousBins b;
    if (auto r = b.rebuild(values, q); !r) return std::unexpected(r.error());
    return b;
}

std::expected<void, errors::DriftError> BaselineContinuousBins::reset(std::span<const double> values) {
    return rebuild(values, quantile_type_);
}

std::expected<void, errors::DriftError> BaselineContinuousBins::rebuild(std::span<const double> values,
                                                                        QuantileType q) {
    const BaselineSummary summary = summarize(values);
    if (auto r = validate(values, summary); !r) return r;
    // Scott's rule sorts the values; the sorted copy then also gives the
    // histogram, without another pass over the values.
    std::vector<double> sorted;
    std::uint64_t bins;
    if (q == QuantileType::Scott) {
        sorted.assign(values.begin(), values.end());
        sort_f64(sorted);
        bins = scott_num_bins(sorted);
    } else {
        bins = compute_num_bins(q, values, summary);
    }
    if (bins > kMaxBins) return std::unexpected(errors::DriftError::TooManyBins);

    // Build into a fresh object, then commit: a failed allocation leaves
    // this one as it was.
    BaselineContinuousBins next;
    next.quantile_type_ = q;
    const BaselineSummary& ext = summary;
    const std::size_t m = ext.min == ext.max ? 1 : static_cast<std::size_t>(bins - 2);
    next.lookup_.assign(m + 2, kNaN);
    double* e = next.lookup_.data() + 1;
    e[0] = ext.min;
    double step = 0.0;
    if (ext.min != ext.max) {
        // Repeated addition, not min + i * step: the edges are defined so.
        step = (ext.max - ext.min) / static_cast<double>(bins - 2);
        for (std::size_t i = 1; i < m; ++i) e[i] = e[i - 1] + step;
    }
    next.edge_count_ = m;
    next.first_ = e[0];
    next.last_ = e[m - 1];
    next.inv_step_ = step > 0.0 ? 1.0 / step : 0.0;
    next.max_count_ = static_cast<double>(m);
    next.prepare_computed_index();

    std::vector<std::uint64_t> counts(bins, 0);
    if (sorted.empty()) {
        next.count(values, counts);
    } else {
        next.count_sorted(sorted, counts);
    }
    next.hist_.resize(bins);
    const double n = static_cast<double>(values.size());
    for (std::size_t i = 0; i < bins; ++i) next.hist_[i] = static_cast<double>(counts[i]) / n;

    *this = std::move(next);
    return {};
}

bool BaselineContinuousBins::same_as(const BaselineContinuousBins& o) const noexcept {
    return quantile_type_ == o.quantile_type_ && state::same_bits<double>(bin_edges(), o.bin_edges()) &&
           state::same_bits<double>(hist_, o.hist_);
}

bool BaselineCategoricalBins::same_as(const BaselineCategoricalBins& o) const noexcept {
    if (num_labels() != o.num_labels() || !state::same_bits<double>(hist_, o.hist_)) return false;
    for (std::size_t i = 0; i < num_labels(); ++i) {
        if (label(i) != o.label(i)) return false;
    }
    return true;
}

std::size_t BaselineContinuousBins::bin_by_search(double x) const noexcept {
    return count_at_or_below(lookup_.data() + 1, edge_count_, x) + (x > last_ ? 1 : 0);
}

// The values below edge i are found by binary search, each search starting
// where the previous one ended; the bin of x is the number of edges at or
// below it (edges never decrease), plus one above the last edge.
void BaselineContinuousBins::count_sorted(std::span<const double> sorted, std::span<std::uint64_t> counts) const {
    const double* e = lookup_.data() + 1;
    const std::size_t m = edge_count_;
    const auto begin = sorted.begin();
    auto at = begin;
    std::size_t below_previous = 0;
    for (std::size_t i = 0; i < m; ++i) {
        at = std::lower_bound(at, sorted.end(), e[i]);
        const auto below = static_cast<std::size_t>(at - begin);
        counts[i] += below - below_previous;
        below_previous = below;
    }
    const auto up_to_last = std::upper_bound(at, sorted.end(), e[m - 1]);
    counts[m] += static_cast<std::size_t>(up_to_last - begin) - below_previous;
    counts[m + 1] += static_cast<std::size_t>(sorted.end() - up_to_last);
}

void BaselineContinuousBins::prepare_computed_index() {
    computed_ = false;
    const std::size_t m = edge_count_;
    if (!(inv_step_ > 0.0) || !std::isfinite(inv_step_)) return;
    // T[i] = t(e[i]) exactly as the kernel computes t; T[0] is 1.
    const double* e = lookup_.data() + 1;
    double worst = 0.0, last_t = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double t = (e[i] - first_) * inv_step_ + 1.0;
        const double off = std::fabs(t - static_cast<double>(i + 1));
        if (!(off <= worst)) worst = off;  // NaN makes the index unusable below
        last_t = t;
    }
    // The slack covers the rounding of `worst` and of 1 - margin.
    const double margin = worst + 0x1p-20;
    if (!(margin < 0.25)) return;
    index_ = ComputedIndex{first_, inv_step_, last_t, margin, 1.0 - margin, max_count_,
                           static_cast<std::uint32_t>(m + 1)};
    computed_ = true;
}

void BaselineContinuousBins::count(std::span<const double> values, std::span<std::uint64_t> counts) const {
    const std::size_t bins = counts.size();
    const std::size_t n = values.size();
    const double* v = values.data();
    if (!computed_) {
        for (std::size_t i = 0; i < n; ++i) ++counts[bin_of(v[i])];
        return;
    }
    std::int32_t computed[kBinBlock];
    // The bins of one block, the open ones settled by bin_of.
    const auto block_bins = [&](const double* block, std::size_t k) {
        if (!computed_bins(index_, block, k, computed)) {
            for (std::size_t i = 0; i < k; ++i) {
                if (computed[i] < 0) computed[i] = static_cast<std::int32_t>(bin_of(block[i]));
            }
        }
    };
    if (bins > kInterleaveBins || n < 64) {
        for (std::size_t start = 0; start < n; start += kBinBlock) {
            const std::size_t k = std::min(kBinBlock, n - start);
            block_bins(v + start, k);
            for (std::size_t i = 0; i < k; ++i) ++counts[static_cast<std::uint32_t>(computed[i])];
        }
        return;
    }
    // Four interleaved histograms, so neighbouring values that hit the same
    // bin do not wait on each other.
    std::vector<std::uint64_t> lanes(4 * bins, 0);
    std::uint64_t* c0 = lanes.data();
    std::uint64_t* c1 = c0 + bins;
    std::uint64_t* c2 = c1 + bins;
    std::uint64_t* c3 = c2 + bins;
    for (std::size_t start = 0; start < n; start += kBinBlock) {
        const std::size_t k = std::min(kBinBlock, n - start);
        block_bins(v + start, k);
        const auto* b = reinterpret_cast<const std::uint32_t*>(computed);
        std::size_t i = 0;
        for (; i + 4 <= k; i += 4) {
            ++c0[b[i]];
            ++c1[b[i + 1]];
            ++c2[b[i + 2]];
            ++c3[b[i + 3]];
        }
        for (; i < k; ++i) ++c0[b[i]];
    }
    for (std::size_t b = 0; b < bins; ++b) counts[b] += c0[b] + c1[b] + c2[b] + c3[b];
}

std::expected<BaselineCategoricalBins, errors::DriftError> BaselineCategoricalBins::create(
    const DistinctCounts& distinct, std::size_t n) {
    if (n == 0) return std::unexpected(errors::DriftError::EmptyBaselineData);
    const std::size_t d = distinct.labels.size();
    std::vector<std::size_t> order(d);
    for (std::size_t i = 0; i < d; ++i) order[i] = i;
    // string_view compares bytes as unsigned char, a proper prefix first.
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return distinct.labels[a] < distinct.labels[b]; });
    std::vector<std::string_view> sorted(d);
    std::vector<double> hist(d + 1, 0.0);
    const double nf = static_cast<double>(n);
    for (std::size_t i = 0; i < d; ++i) {
        sorted[i] = distinct.labels[order[i]];
        hist[i] = static_cast<double>(distinct.counts[order[i]]) / nf;
    }
    BaselineCategoricalBins b;
    b.index_.assign(sorted);
    b.hist_ = std::move(hist);
    return b;
}

}  // namespace quorvant::drift
