#include "drift/data_drift.hpp"

#include <algorithm>
#include <cmath>

namespace quorvant::drift {

double add_ones(double x, std::uint64_t times) noexcept {
    constexpr double kTwo53 = 9007199254740992.0;
    while (times > 0) {
        if (x != x) return x;
        if (x >= 1.0 && x < kTwo53) {
            // x lies in [top / 2, top) where the spacing is at most 1, so
            // x + k is exact for every k up to top - x (itself exact).
            int e = 0;
            std::frexp(x, &e);
            const double top = std::ldexp(1.0, e);
            const auto room = static_cast<std::uint64_t>(top - x);
            if (times <= room) return x + static_cast<double>(times);
            x += static_cast<double>(room);
            times -= room;
            if (x == top) continue;
            // Just below the power of two: this addition rounds.
            x += 1.0;
            --times;
            continue;
        }
        // Below 1 the first addition rounds into [1, 2); from 2^53 on an
        // addition changes x at most once more.
        const double y = x + 1.0;
        --times;
        if (y == x) return x;
        x = y;
    }
    return x;
}

std::expected<ContinuousDataDrift, DriftError> ContinuousDataDrift::new_from_baseline(std::optional<QuantileType> q,
                                                                                      std::span<const double> values) {
    auto b = BaselineContinuousBins::create(values, resolve(q));
    if (!b) return std::unexpected(b.error());
    std::vector<double> bins(b->num_bins(), 0.0);
    return ContinuousDataDrift(std::move(*b), std::move(bins));
}

std::expected<void, DriftError> ContinuousDataDrift::build_rt_hist(std::span<const double> values) {
    if (values.empty()) return std::unexpected(DriftError::EmptyRuntimeData);
    std::vector<std::uint64_t> counts(rt_bins_.size(), 0);
    baseline_.count(values, counts);
    for (std::size_t i = 0; i < counts.size(); ++i) rt_bins_[i] += static_cast<double>(counts[i]);
    return {};
}

namespace {

// The runtime bins of a batch detector are zero again when a call ends,
// whichever way it ends.
struct ClearOnExit {
    std::vector<double>& bins;
    ~ClearOnExit() { std::fill(bins.begin(), bins.end(), 0.0); }
};

}  // namespace

std::vector<double> ContinuousDataDrift::score_and_clear(std::span<const DriftType> types) {
    const ClearOnExit clear{rt_bins_};
    return scores_of(baseline_.baseline_hist(), rt_bins_, DriftFamily::Continuous, types);
}

std::expected<double, DriftError> ContinuousDataDrift::compute_drift(std::span<const double> values, DriftType t) {
    if (auto r = build_rt_hist(values); !r) return std::unexpected(r.error());
    return score_and_clear(std::span<const DriftType>(&t, 1))[0];
}

std::expected<std::vector<double>, DriftError> ContinuousDataDrift::compute_drift_multiple_criteria(
    std::span<const double> values, std::span<const DriftType> types) {
    if (auto r = build_rt_hist(values); !r) return std::unexpected(r.error());
    return score_and_clear(types);
}

std::expected<void, DriftError> ContinuousDataDrift::reset_baseline(std::span<const double> values) {
    auto next = BaselineContinuousBins::create(values, baseline_.quantile_type());
    if (!next) return std::unexpected(next.error());
    std::vector<double> bins(next->num_bins(), 0.0);
    baseline_ = std::move(*next);
    rt_bins_ = std::move(bins);
    return {};
}

std::vector<double> CategoricalDataDrift::score_and_clear(std::span<const DriftType> types) {
    const ClearOnExit clear{rt_bins_};
    return scores_of(baseline_.baseline_hist(), rt_bins_, DriftFamily::Categorical, types);
}

}  // namespace quorvant::drift
