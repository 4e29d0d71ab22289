#include "drift/state.hpp"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace quorvant::drift {

namespace {

constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo64 = 18446744073709551616.0;
// Shares are counts over the sample size; their sum is 1 up to rounding.
constexpr double kShareSlack = 1e-6;

bool whole(double x) { return std::isfinite(x) && x == std::floor(x); }

double sum_of(std::span<const double> xs) {
    double s = 0.0;
    for (const double x : xs) s += x;
    return s;
}

}  // namespace

// ------------------------------------------------------------ baselines --

void StateAccess::put(state::Writer& w, const BaselineContinuousBins& b) {
    w.put<std::uint8_t>(static_cast<std::uint8_t>(b.quantile_type_));
    w.put<double>(b.inv_step_);
    w.put_vector(b.bin_edges());
    w.put_vector(b.baseline_hist());
}

std::expected<BaselineContinuousBins, state::Error> StateAccess::get_continuous(state::Reader& r) {
    const auto rule = r.get<std::uint8_t>("bin rule");
    if (!rule) return std::unexpected(rule.error());
    const auto scale = r.get<double>("bin lookup scale");
    if (!scale) return std::unexpected(scale.error());
    auto edges = r.get_vector<double>("bin edges");
    if (!edges) return std::unexpected(edges.error());
    auto shares = r.get_vector<double>("baseline shares");
    if (!shares) return std::unexpected(shares.error());

    if (*rule > static_cast<std::uint8_t>(QuantileType::Sturges)) {
        return r.invalid("bin rule", "is " + std::to_string(*rule) + ", not 0, 1 or 2");
    }
    const std::size_t bins = shares->size();
    if (bins < 3 || bins > kMaxBins) {
        return r.invalid("baseline shares", "number " + std::to_string(bins) + ", not 3 to " + std::to_string(kMaxBins));
    }
    if (edges->size() != bins - 2) {
        return r.invalid("bin edges", "number " + std::to_string(edges->size()) + " for " + std::to_string(bins) +
                                          " bins, not " + std::to_string(bins - 2));
    }
    for (std::size_t i = 0; i < edges->size(); ++i) {
        if (!std::isfinite((*edges)[i])) return r.invalid("bin edges", "hold a NaN or infinite edge");
        if (i > 0 && (*edges)[i] < (*edges)[i - 1]) return r.invalid("bin edges", "are not in ascending order");
    }
    if (std::isnan(*scale) || *scale < 0.0 || (edges->size() > 1 && *scale == 0.0)) {
        return r.invalid("bin lookup scale", "is " + state::repr(*scale) + ", not the inverse of the edge step");
    }
    for (const double s : *shares) {
        if (!(s >= 0.0 && s <= 1.0)) return r.invalid("baseline shares", "hold a value outside [0, 1]");
    }
    if ((*shares)[0] != 0.0) return r.invalid("baseline shares", "hold values below the first edge");
    if (!(std::fabs(sum_of(*shares) - 1.0) <= kShareSlack)) return r.invalid("baseline shares", "do not sum to 1");

    BaselineContinuousBins b;
    const std::size_t m = edges->size();
    b.quantile_type_ = static_cast<QuantileType>(*rule);
    b.lookup_.assign(m + 2, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < m; ++i) b.lookup_[i + 1] = (*edges)[i];
    b.hist_ = std::move(*shares);
    b.edge_count_ = m;
    b.first_ = (*edges)[0];
    b.last_ = (*edges)[m - 1];
    b.inv_step_ = *scale;
    b.max_count_ = static_cast<double>(m);
    b.prepare_computed_index();
    return b;
}

void StateAccess::put(state::Writer& w, const BaselineCategoricalBins& b) {
    w.put<std::uint64_t>(b.num_labels());
    for (std::size_t i = 0; i < b.num_labels(); ++i) w.put_text(b.label(i));
    w.put_vector(b.baseline_hist());
}

std::expected<BaselineCategoricalBins, state::Error> StateAccess::get_categorical(state::Reader& r) {
    // Each label takes at least its 4-byte length.
    const auto d = r.get_count("label count", 4);
    if (!d) return std::unexpected(d.error());
    if (*d == 0) return r.invalid("label count", "is 0; a baseline has at least one label");
    std::vector<std::string_view> labels;
    labels.reserve(*d);
    for (std::uint64_t i = 0; i < *d; ++i) {
        const auto label = r.get_text("labels");
        if (!label) return std::unexpected(label.error());
        if (!state::valid_utf8(*label)) return r.invalid("labels", "hold one that is not UTF-8");
        if (i > 0 && !(labels.back() < *label)) return r.invalid("labels", "are not distinct and in byte order");
        labels.push_back(*label);
    }
    auto shares = r.get_vector<double>("label shares");
    if (!shares) return std::unexpected(shares.error());
    if (shares->size() != *d + 1) {
        return r.invalid("label shares", "number " + std::to_string(shares->size()) + " for " + std::to_string(*d) +
                                             " labels, not one more");
    }
    for (std::size_t i = 0; i < *d; ++i) {
        const double s = (*shares)[i];
        if (!(s > 0.0 && s <= 1.0)) return r.invalid("label shares", "hold a value outside (0, 1]");
    }
    if (shares->back() != 0.0) return r.invalid("label shares", "give unseen labels a share");
    if (!(std::fabs(sum_of(*shares) - 1.0) <= kShareSlack)) return r.invalid("label shares", "do not sum to 1");

    BaselineCategoricalBins b;
    b.index_.assign(labels);
    b.hist_ = std::move(*shares);
    return b;
}

ContinuousDataDrift StateAccess::batch(BaselineContinuousBins b) {
    std::vector<double> bins(b.num_bins(), 0.0);
    return ContinuousDataDrift(std::move(b), std::move(bins));
}

CategoricalDataDrift StateAccess::batch(BaselineCategoricalBins b) {
    std::vector<double> bins(b.baseline_hist().size(), 0.0);
    return CategoricalDataDrift(std::move(b), std::move(bins));
}

// --------------------------------------------------------------- streams --

void StateAccess::put_mode(state::Writer& w, const ModeState<DecayModeMark>& m) { w.put<double>(m.decay); }

// The monotonic instant of the last flush means nothing in another process:
// the payload keeps the time elapsed since, and loading puts the instant
// that far before its own now.
void StateAccess::put_mode(state::Writer& w, const ModeState<FlushModeMark>& m) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(DriftClock::now() - m.last_flush).count();
    w.put<double>(m.flush_rate);
    w.put<std::uint64_t>(m.flush_cadence.secs);
    w.put<std::uint32_t>(m.flush_cadence.nanos);
    w.put<std::uint64_t>(elapsed > 0 ? static_cast<std::uint64_t>(elapsed) : 0);
}

std::expected<ModeState<DecayModeMark>, state::Error> StateAccess::get_mode(state::Reader& r, DecayModeMark) {
    const auto decay = r.get<double>("decay factor");
    if (!decay) return std::unexpected(decay.error());
    if (!(*decay > 0.0 && *decay <= 1.0)) {
        return r.invalid("decay factor", "is " + state::repr(*decay) + ", outside (0, 1]");
    }
    return ModeState<DecayModeMark>{*decay};
}

std::expected<ModeState<FlushModeMark>, state::Error> StateAccess::get_mode(state::Reader& r, FlushModeMark) {
    const auto rate = r.get<double>("flush rate");
    if (!rate) return std::unexpected(rate.error());
    const auto secs = r.get<std::uint64_t>("flush cadence");
    if (!secs) return std::unexpected(secs.error());
    const auto nanos = r.get<std::uint32_t>("flush cadence");
    if (!nanos) return std::unexpected(nanos.error());
    const auto elapsed = r.get<std::uint64_t>("time since the last flush");
    if (!elapsed) return std::unexpected(elapsed.error());
    if (!whole(*rate) || *rate < 0.0 || *rate > kTwo64) {
        return r.invalid("flush rate", "is " + state::repr(*rate) + ", not a whole number of samples below 2^64");
    }
    if (*nanos >= 1'000'000'000u) return r.invalid("flush cadence", "has a nanosecond part of a second or more");
    if (*elapsed > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return r.invalid("time since the last flush", "is longer than 292 years");
    }
    const auto last = DriftClock::now() - std::chrono::duration_cast<DriftClock::duration>(
                                              std::chrono::nanoseconds(static_cast<std::int64_t>(*elapsed)));
    return ModeState<FlushModeMark>{*rate, FlushCadence{*secs, *nanos}, last};
}

std::expected<void, state::Error> StateAccess::check_stream(state::Reader& r, std::span<const double> weights,
                                                            double total, bool counts) {
    for (const double w : weights) {
        if (!(std::isfinite(w) && w >= 0.0)) return r.invalid("stream weights", "hold a negative, NaN or infinite weight");
        if (counts && !whole(w)) return r.invalid("stream weights", "hold a count that is not a whole number");
    }
    if (!(std::isfinite(total) && total >= 0.0)) return r.invalid("stream total", "is negative, NaN or infinite");
    // Counts below 2^53 add exactly, so a flush-mode total is their sum.
    // Decayed weights and their total round apart, and are not compared.
    if (counts && (!whole(total) || (total < kTwo53 && sum_of(weights) != total))) {
        return r.invalid("stream total", "is " + state::repr(total) + ", not the sum of the bin counts");
    }
    return {};
}

}  // namespace quorvant::drift
