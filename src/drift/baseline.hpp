// Baseline histograms: equal-width bins of a continuous feature and one bin
// per distinct label of a categorical one (plus a bin for unseen labels),
// with the rules that map a runtime value or label to its bin.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "drift/distribution.hpp"
#include "drift/histogram_kernels.hpp"
#include "drift/label_index.hpp"
#include "errors/errors.hpp"

namespace quorvant::drift {

// Checks a continuous baseline in this order: at least two values, no NaN,
// no infinity (infinite values would make the edges non-finite).
std::expected<void, errors::DriftError> validate_baseline_data(std::span<const double> values);

class BaselineContinuousBins {
public:
    // Validates the values, takes the bin count of rule `q` (refusing more
    // than kMaxBins before allocating), then builds edges and shares.
    static std::expected<BaselineContinuousBins, errors::DriftError> create(std::span<const double> values,
                                                                            QuantileType q);

    // Rebuilds from new values with the kept rule; on error nothing changes.
    // The bin count may change.
    std::expected<void, errors::DriftError> reset(std::span<const double> values);

    // The ascending edges: num_bins - 2 of them, or one for a baseline whose
    // values are all equal. The maximum is not an edge.
    std::span<const double> bin_edges() const noexcept { return {lookup_.data() + 1, edge_count_}; }
    // Share of the baseline values in each bin.
    std::span<const double> baseline_hist() const noexcept { return hist_; }
    std::uint64_t num_bins() const noexcept { return hist_.size(); }
    QuantileType quantile_type() const noexcept { return quantile_type_; }

    // The bin of x: the number of edges at or below x, plus one above the
    // last edge. So bin 0 holds values below the first edge (and NaN), bin
    // B - 2 only the last edge itself, bin B - 1 everything above it.
    //
    // The count is first estimated from the equal spacing, then checked
    // against the two neighbouring edges; a failed check (rounding of the
    // repeated additions, degenerate spacing) takes the binary search, so
    // the result is always the binary search's.
    std::size_t bin_of(double x) const noexcept {
        double t = (x - first_) * inv_step_ + 1.0;
        t = t > 0.0 ? t : 0.0;  // also maps NaN to 0
        t = t < max_count_ ? t : max_count_;
        const auto j = static_cast<std::size_t>(t);
        const double* e = lookup_.data();  // e[j] is edge j - 1; NaN sentinels
        if (!(e[j + 1] <= x) && !(e[j] > x)) [[likely]] {
            return j + (x > last_ ? 1 : 0);
        }
        return bin_by_search(x);
    }

    // The same bin by binary search alone (the reference of bin_of).
    std::size_t bin_by_search(double x) const noexcept;

    // Adds 1 to counts[bin_of(v)] for every value; counts has num_bins
    // elements. Blocks of values take the computed index of
    // histogram_kernels first; bin_of decides only what it leaves open.
    void count(std::span<const double> values, std::span<std::uint64_t> counts) const;

    // The same baseline, bit for bit: rule, edges and shares.
    bool same_as(const BaselineContinuousBins& o) const noexcept;

private:
    friend struct StateAccess;
    BaselineContinuousBins() = default;
    std::expected<void, errors::DriftError> rebuild(std::span<const double> values, QuantileType q);
    // Fills index_ from the edges; leaves computed_ false when the spacing
    // is too uneven (or zero) for the computed index to decide anything.
    void prepare_computed_index();
    // count() for the baseline's own values sorted ascending.
    void count_sorted(std::span<const double> sorted, std::span<std::uint64_t> counts) const;

    // NaN, edge 0, ..., edge m - 1, NaN: the sentinels make both checks of
    // bin_of fail-safe at the ends without branches.
    std::vector<double> lookup_;
    std::vector<double> hist_;
    std::size_t edge_count_ = 0;
    QuantileType quantile_type_ = QuantileType::FreedmanDiaconis;
    double first_ = 0.0;
    double last_ = 0.0;
    double inv_step_ = 0.0;
    double max_count_ = 0.0;
    ComputedIndex index_{};
    bool computed_ = false;
};

// Categorical baselines over UTF-8 labels.
class BaselineCategoricalBins {
public:
    // From the distinct labels of n baseline labels (see DistinctCounter):
    // the distinct labels in byte order get indices 0..d-1, unseen labels
    // index d. No labels: DriftError::EmptyBaselineData.
    static std::expected<BaselineCategoricalBins, errors::DriftError> create(const DistinctCounts& distinct,
                                                                             std::size_t n);

    // The bin of a label: its index, or num_labels() when unseen.
    std::size_t index_of(std::string_view label) const noexcept { return index_.find(label); }

    // Counts the bins of labels given a chunk at a time: add() adds 1 to
    // counts[index_of(label)] for each; counts has num_labels() + 1
    // elements. Runtime labels usually repeat the same few objects; the
    // address memo skips hashing them again (so the views must keep their
    // bytes at one address and length while counted).
    class Counter {
    public:
        // Sized for `n` labels in all.
        Counter(const BaselineCategoricalBins& bins, std::size_t n) : bins_(&bins), memo_(n) {}

        void add(std::span<const std::string_view> labels, std::span<std::uint64_t> counts) {
            for (const std::string_view label : labels) {
                AddressMemo::Slot* m = memo_.slot(label);
                if (m == nullptr) {
                    ++counts[bins_->index_of(label)];
                    continue;
                }
                if (!m->holds(label)) *m = AddressMemo::Slot{label.data(), label.size(), bins_->index_of(label)};
                ++counts[m->value];
            }
        }

    private:
        const BaselineCategoricalBins* bins_;
        AddressMemo memo_;
    };

    std::size_t num_labels() const noexcept { return index_.size(); }
    std::string_view label(std::size_t i) const noexcept { return index_.label(i); }
    // d + 1 shares; the last (unseen labels) is 0.
    std::span<const double> baseline_hist() const noexcept { return hist_; }

    // The same baseline: labels in the same order, shares bit for bit.
    bool same_as(const BaselineCategoricalBins& o) const noexcept;

private:
    friend struct StateAccess;
    BaselineCategoricalBins() = default;
    LabelIndex index_;
    std::vector<double> hist_;
};

}  // namespace quorvant::drift
