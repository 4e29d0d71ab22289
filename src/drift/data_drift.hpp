// Drift detectors. Batch detectors hold a baseline and score each runtime
// slice on its own; streaming detectors accumulate runtime samples in
// constant memory and forget them by exponential decay or by flushing.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "drift/baseline.hpp"
#include "drift/distribution.hpp"
#include "drift/drift_metrics.hpp"
#include "errors/errors.hpp"
#include "state/merge.hpp"

namespace quorvant::drift {

using errors::DriftError;

// ---------------------------------------------------------------- batch ---

class ContinuousDataDrift {
public:
    // An absent rule means FreedmanDiaconis.
    static std::expected<ContinuousDataDrift, DriftError> new_from_baseline(std::optional<QuantileType> q,
                                                                            std::span<const double> values);

    // Counts the values into the runtime bins; no values is EmptyRuntimeData.
    std::expected<void, DriftError> build_rt_hist(std::span<const double> values);
    // Counts, scores (total = the bins' sum), then clears the bins again.
    std::expected<double, DriftError> compute_drift(std::span<const double> values, DriftType t);
    std::expected<std::vector<double>, DriftError> compute_drift_multiple_criteria(std::span<const double> values,
                                                                                   std::span<const DriftType> types);
    // Rebuilds the baseline with the kept rule and re-creates the runtime
    // bins (the count may change); on error nothing changes.
    std::expected<void, DriftError> reset_baseline(std::span<const double> values);

    const BaselineContinuousBins& baseline() const noexcept { return baseline_; }

private:
    friend struct StateAccess;
    ContinuousDataDrift(BaselineContinuousBins b, std::vector<double> bins)
        : baseline_(std::move(b)), rt_bins_(std::move(bins)) {}
    std::vector<double> score_and_clear(std::span<const DriftType> types);

    BaselineContinuousBins baseline_;
    std::vector<double> rt_bins_;  // all zero between calls
};

// Runtime labels reach the categorical detectors as their bin counts
// (BaselineCategoricalBins::Counter), n labels in all.
class CategoricalDataDrift {
public:
    static CategoricalDataDrift new_(BaselineCategoricalBins b) {
        std::vector<double> bins(b.baseline_hist().size(), 0.0);
        return CategoricalDataDrift(std::move(b), std::move(bins));
    }

    // No labels is EmptyRuntimeData.
    std::expected<double, DriftError> compute_drift(std::span<const std::uint64_t> counts, std::size_t n,
                                                    DriftType t) {
        if (auto r = build_rt_hist(counts, n); !r) return std::unexpected(r.error());
        return score_and_clear(std::span<const DriftType>(&t, 1))[0];
    }

    std::expected<std::vector<double>, DriftError> compute_drift_multiple_criteria(std::span<const std::uint64_t> counts,
                                                                                   std::size_t n,
                                                                                   std::span<const DriftType> types) {
        if (auto r = build_rt_hist(counts, n); !r) return std::unexpected(r.error());
        return score_and_clear(types);
    }

    // Replaces the baseline and re-creates the runtime bins.
    void reset_baseline(BaselineCategoricalBins b) noexcept {
        std::vector<double> bins(b.baseline_hist().size(), 0.0);
        baseline_ = std::move(b);
        rt_bins_ = std::move(bins);
    }

    const BaselineCategoricalBins& baseline() const noexcept { return baseline_; }
    std::size_t num_bins() const noexcept { return rt_bins_.size(); }

private:
    friend struct StateAccess;
    CategoricalDataDrift(BaselineCategoricalBins b, std::vector<double> bins)
        : baseline_(std::move(b)), rt_bins_(std::move(bins)) {}
    std::expected<void, DriftError> build_rt_hist(std::span<const std::uint64_t> counts, std::size_t n) {
        if (n == 0) return std::unexpected(DriftError::EmptyRuntimeData);
        for (std::size_t i = 0; i < counts.size(); ++i) rt_bins_[i] += static_cast<double>(counts[i]);
        return {};
    }
    std::vector<double> score_and_clear(std::span<const DriftType> types);

    BaselineCategoricalBins baseline_;
    std::vector<double> rt_bins_;  // all zero between calls
};

// ------------------------------------------------------------ streaming ---

// The mode markers of the streaming detectors.
struct DecayModeMark {};
struct FlushModeMark {};

// The monotonic clock of the flush cadence.
using DriftClock = std::chrono::steady_clock;

// A span of whole seconds and nanoseconds, compared seconds first.
struct FlushCadence {
    std::uint64_t secs;
    std::uint32_t nanos;
};

inline constexpr std::uint64_t kDefaultHalfLife = 86400;
inline constexpr std::uint64_t kDefaultFlushRate = 1'000'000;
inline constexpr std::uint64_t kDefaultFlushCadence = 86400;

// fl(...fl(fl(x + 1) + 1)... + 1), `times` additions, in O(1) amortised:
// adding 1 to a non-negative double is exact until the sum crosses a power
// of two, so only those crossings round. Batches thereby give exactly the
// weights of one-by-one updates, decayed (fractional) weights included.
double add_ones(double x, std::uint64_t times) noexcept;

template <class Mode>
struct ModeState;

template <>
struct ModeState<DecayModeMark> {
    double decay;  // 2^(-1/h) per drift computation
};

template <>
struct ModeState<FlushModeMark> {
    double flush_rate;
    FlushCadence flush_cadence;
    DriftClock::time_point last_flush;
};

// The runtime side shared by both feature kinds: the weights per bin, their
// total and the mode's forgetting rule. Nothing grows with the stream.
template <class Mode>
class RuntimeStream {
public:
    static constexpr bool kFlush = std::is_same_v<Mode, FlushModeMark>;

    RuntimeStream(std::size_t bins, ModeState<Mode> mode) : rt_bins_(bins, 0.0), mode_(mode) {}

    // Adds one sample in bin `bin` (flush mode: a flush may come first).
    void add_one(std::size_t bin) {
        if constexpr (kFlush) check_before_sample(total_samples_);
        rt_bins_[bin] += 1.0;
        total_samples_ += 1.0;
    }

    // Where a batch of n samples starts to count, and what the stream looks
    // like after it: flush mode applies its rule before every sample, as if
    // they came one by one, and only the positions of the samples decide
    // when flushes happen, so only the samples after the batch's last flush
    // (from `start` on) are counted. Decay mode counts them all.
    struct Batch {
        std::size_t start;  // first sample after the last flush
        bool flushed;
        double total;
        DriftClock::time_point last_flush;
    };

    Batch plan_batch(std::size_t n) const {
        if constexpr (kFlush) {
            return plan_flushes(n);
        } else {
            return Batch{0, false, add_ones(total_samples_, n), {}};
        }
    }

    // Adds a planned batch given the bin counts of its samples [start, n).
    // Nothing here can fail.
    void commit_batch(const Batch& batch, std::span<const std::uint64_t> counts) noexcept {
        if (batch.flushed) {
            for (std::size_t b = 0; b < counts.size(); ++b) rt_bins_[b] = static_cast<double>(counts[b]);
        } else {
            for (std::size_t b = 0; b < counts.size(); ++b) rt_bins_[b] = add_ones(rt_bins_[b], counts[b]);
        }
        total_samples_ = batch.total;
        if constexpr (kFlush) mode_.last_flush = batch.last_flush;
    }

    // Adds n samples; count(begin, end, counts) adds the bin counts of
    // samples [begin, end) to `counts` (one per bin).
    template <class Count>
    void add_batch(std::size_t n, Count&& count) {
        const Batch batch = plan_batch(n);
        std::vector<std::uint64_t> counts(rt_bins_.size(), 0);
        count(batch.start, n, std::span<std::uint64_t>(counts));
        commit_batch(batch, counts);
    }

    // The steps before scoring: an empty stream (its weights sum to 0) is
    // EmptyRuntimeData; decay mode then decays every weight and the total.
    std::expected<void, DriftError> prepare_drift() {
        if (sum_in_order(rt_bins_) == 0.0) return std::unexpected(DriftError::EmptyRuntimeData);
        if constexpr (!kFlush) {
            for (double& w : rt_bins_) w *= mode_.decay;
            total_samples_ *= mode_.decay;
        }
        return {};
    }

    // Empties the stream and restarts the cadence clock.
    void flush()
        requires(kFlush)
    {
        flush_at(DriftClock::now());
    }

    // Whole seconds since the last flush (or reset, or construction).
    std::uint64_t seconds_since_flush() const
        requires(kFlush)
    {
        const auto elapsed = DriftClock::now() - mode_.last_flush;
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    }

    // A new empty stream of `bins` bins (after a baseline reset).
    void restart(std::vector<double> bins) noexcept {
        rt_bins_ = std::move(bins);
        total_samples_ = 0.0;
        if constexpr (kFlush) mode_.last_flush = DriftClock::now();
    }

    std::span<const double> rt_bins() const noexcept { return rt_bins_; }
    double total_samples() const noexcept { return total_samples_; }
    const ModeState<Mode>& mode() const noexcept { return mode_; }

    // Adds the weights and the total of `other` (a stream over the same
    // bins), one addition each. The mode settings must be equal bit for
    // bit. Flush mode keeps the older of the two last flushes, so the
    // cadence runs from the oldest sample either stream may hold; the rate
    // applies at the next added sample, as for one stream.
    std::expected<void, state::Error> merge(const RuntimeStream& other) {
        if constexpr (kFlush) {
            if (!state::same_bits(mode_.flush_rate, other.mode_.flush_rate)) {
                return state::refuse("the flush rates differ (" + state::repr(mode_.flush_rate) + " and " +
                                     state::repr(other.mode_.flush_rate) + ")");
            }
            if (mode_.flush_cadence.secs != other.mode_.flush_cadence.secs ||
                mode_.flush_cadence.nanos != other.mode_.flush_cadence.nanos) {
                return state::refuse("the flush cadences differ");
            }
        } else {
            if (!state::same_bits(mode_.decay, other.mode_.decay)) {
                return state::refuse("the decay factors differ (" + state::repr(mode_.decay) + " and " +
                                     state::repr(other.mode_.decay) + ")");
            }
        }
        if (rt_bins_.size() != other.rt_bins_.size()) return state::refuse("the bin counts differ");
        for (std::size_t b = 0; b < rt_bins_.size(); ++b) rt_bins_[b] += other.rt_bins_[b];
        total_samples_ += other.total_samples_;
        if constexpr (kFlush) mode_.last_flush = std::min(mode_.last_flush, other.mode_.last_flush);
        return {};
    }

private:
    friend struct StateAccess;

    static bool reached(DriftClock::duration elapsed, FlushCadence cadence) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
        const auto secs = static_cast<std::uint64_t>(ns / 1'000'000'000);
        const auto nanos = static_cast<std::uint32_t>(ns % 1'000'000'000);
        return secs != cadence.secs ? secs > cadence.secs : nanos >= cadence.nanos;
    }

    // The rule before a sample is counted, with the stream's total `total`:
    // the rate first; otherwise, at totals that are multiples of 256, the
    // clock (so it is read at most once every 256 samples).
    // Returns the flush time, if a flush is due.
    std::optional<DriftClock::time_point> due(double total, DriftClock::time_point last) const {
        if (total >= mode_.flush_rate) return DriftClock::now();
        if ((static_cast<std::uint64_t>(total) & 255) == 0) {
            const auto now = DriftClock::now();
            if (reached(now - last, mode_.flush_cadence)) return now;
        }
        return std::nullopt;
    }

    void check_before_sample(double total) {
        if (const auto at = due(total, mode_.last_flush)) flush_at(*at);
    }

    void flush_at(DriftClock::time_point at) noexcept {
        if (total_samples_ != 0.0) {
            for (double& w : rt_bins_) w = 0.0;
        }
        total_samples_ = 0.0;
        mode_.last_flush = at;
    }

    // Walks the rule over n sample positions, jumping between the totals at
    // which it can act.
    Batch plan_flushes(std::size_t n) const {
        Batch plan{0, false, total_samples_, mode_.last_flush};
        std::size_t i = 0;
        while (i < n) {
            if (const auto at = due(plan.total, plan.last_flush)) {
                plan = Batch{i, true, 0.0, *at};
            }
            // The next total at which the rule can act: a multiple of 256 or
            // the rate. Past 2^53 the total stops growing; go one by one.
            std::uint64_t step = 1;
            if (plan.total < 9007199254740992.0) {
                const auto t = static_cast<std::uint64_t>(plan.total);
                step = 256 - (t & 255);
                const double to_rate = mode_.flush_rate - plan.total;
                if (to_rate < static_cast<double>(step)) {
                    step = to_rate <= 1.0 ? 1 : static_cast<std::uint64_t>(std::ceil(to_rate));
                }
            }
            const std::size_t k = std::min<std::uint64_t>(step, n - i);
            plan.total = add_ones(plan.total, k);
            i += k;
        }
        return plan;
    }

    std::vector<double> rt_bins_;
    double total_samples_ = 0.0;
    ModeState<Mode> mode_;
};

// The mode state of new streams: a half-life of 0 stands for the default.
inline ModeState<DecayModeMark> decay_mode(std::uint64_t half_life) {
    const std::uint64_t h = half_life == 0 ? kDefaultHalfLife : half_life;
    return {std::pow(2.0, -1.0 / static_cast<double>(h))};
}
inline ModeState<FlushModeMark> flush_mode(std::optional<std::uint64_t> rate, std::optional<std::uint64_t> cadence) {
    return {static_cast<double>(rate.value_or(kDefaultFlushRate)), FlushCadence{cadence.value_or(kDefaultFlushCadence), 0},
            DriftClock::now()};
}

// What a continuous stream exports: edges, baseline shares and the
// normalised stream histogram.
struct ContinuousSnapshot {
    std::vector<double> bin_edges;
    std::vector<double> baseline_bins;
    std::vector<double> stream_bins;
};

// What the two streaming detectors share: a baseline, the runtime stream
// over its bins, the scores, and the replacement of the baseline.
template <class Baseline, class Mode, DriftFamily Family>
class StreamingDetector {
public:
    using ModeMark = Mode;

    std::expected<double, DriftError> compute_drift(DriftType t) {
        auto s = compute_drift_multiple_criteria(std::span<const DriftType>(&t, 1));
        if (!s) return std::unexpected(s.error());
        return (*s)[0];
    }

    std::expected<std::vector<double>, DriftError> compute_drift_multiple_criteria(std::span<const DriftType> types) {
        if (auto r = stream_.prepare_drift(); !r) return std::unexpected(r.error());
        const DriftInputs in{baseline_.baseline_hist(), stream_.rt_bins(), stream_.total_samples(), Family};
        std::vector<double> out;
        out.reserve(types.size());
        for (DriftType t : types) out.push_back(global_compute_drift(in, t));
        return out;
    }

    void flush()
        requires std::is_same_v<Mode, FlushModeMark>
    {
        stream_.flush();
    }

    const Baseline& baseline() const noexcept { return baseline_; }
    const RuntimeStream<Mode>& stream() const noexcept { return stream_; }

    // Folds the stream of `other` into this one (RuntimeStream::merge);
    // refused, with nothing changed, unless the baselines are the same.
    std::expected<void, state::Error> merge(const StreamingDetector& other) {
        if (!baseline_.same_as(other.baseline_)) return state::refuse("the baselines differ");
        return stream_.merge(other.stream_);
    }

protected:
    friend struct StateAccess;
    StreamingDetector(Baseline b, ModeState<Mode> mode)
        : baseline_(std::move(b)), stream_(baseline_.baseline_hist().size(), mode) {}

    // A new baseline, committed with an empty stream of its bins only when
    // it was built; on error nothing changes.
    std::expected<void, DriftError> replace_baseline(std::expected<Baseline, DriftError> next) {
        if (!next) return std::unexpected(next.error());
        std::vector<double> bins(next->baseline_hist().size(), 0.0);
        baseline_ = std::move(*next);
        stream_.restart(std::move(bins));
        return {};
    }

    Baseline baseline_;
    RuntimeStream<Mode> stream_;
};

template <class Mode>
class StreamingContinuousDataDrift
    : public StreamingDetector<BaselineContinuousBins, Mode, DriftFamily::Continuous> {
    using Base = StreamingDetector<BaselineContinuousBins, Mode, DriftFamily::Continuous>;

public:
    static std::expected<StreamingContinuousDataDrift, DriftError> new_decay(std::span<const double> values,
                                                                            std::optional<QuantileType> q,
                                                                            std::uint64_t half_life)
        requires std::is_same_v<Mode, DecayModeMark>
    {
        return build(values, q, decay_mode(half_life));
    }

    static std::expected<StreamingContinuousDataDrift, DriftError> new_flush(std::span<const double> values,
                                                                            std::optional<QuantileType> q,
                                                                            std::optional<std::uint64_t> rate,
                                                                            std::optional<std::uint64_t> cadence)
        requires std::is_same_v<Mode, FlushModeMark>
    {
        return build(values, q, flush_mode(rate, cadence));
    }

    void update_stream(double x) { this->stream_.add_one(this->baseline_.bin_of(x)); }

    std::expected<void, DriftError> update_stream_batch(std::span<const double> values) {
        if (values.empty()) return std::unexpected(DriftError::EmptyRuntimeData);
        this->stream_.add_batch(values.size(), [&](std::size_t begin, std::size_t end, std::span<std::uint64_t> counts) {
            this->baseline_.count(values.subspan(begin, end - begin), counts);
        });
        return {};
    }

    // A new baseline with the kept rule.
    std::expected<void, DriftError> reset_baseline(std::span<const double> values) {
        return this->replace_baseline(BaselineContinuousBins::create(values, this->baseline_.quantile_type()));
    }

    std::expected<ContinuousSnapshot, DriftError> export_snapshot() const {
        const double total = this->stream_.total_samples();
        if (total == 0.0) return std::unexpected(DriftError::EmptyRuntimeData);
        ContinuousSnapshot s;
        s.bin_edges.assign(this->baseline_.bin_edges().begin(), this->baseline_.bin_edges().end());
        s.baseline_bins.assign(this->baseline_.baseline_hist().begin(), this->baseline_.baseline_hist().end());
        s.stream_bins.reserve(this->stream_.rt_bins().size());
        for (double w : this->stream_.rt_bins()) s.stream_bins.push_back(w / total);
        return s;
    }

private:
    friend struct StateAccess;
    StreamingContinuousDataDrift(BaselineContinuousBins b, ModeState<Mode> mode) : Base(std::move(b), mode) {}

    static std::expected<StreamingContinuousDataDrift, DriftError> build(std::span<const double> values,
                                                                        std::optional<QuantileType> q,
                                                                        ModeState<Mode> mode) {
        auto b = BaselineContinuousBins::create(values, resolve(q));
        if (!b) return std::unexpected(b.error());
        return StreamingContinuousDataDrift(std::move(*b), mode);
    }
};

template <class Mode>
class StreamingCategoricalDataDrift
    : public StreamingDetector<BaselineCategoricalBins, Mode, DriftFamily::Categorical> {
    using Base = StreamingDetector<BaselineCategoricalBins, Mode, DriftFamily::Categorical>;

public:
    using Batch = typename RuntimeStream<Mode>::Batch;

    static StreamingCategoricalDataDrift new_decay(BaselineCategoricalBins b, std::uint64_t half_life)
        requires std::is_same_v<Mode, DecayModeMark>
    {
        return StreamingCategoricalDataDrift(std::move(b), decay_mode(half_life));
    }

    static StreamingCategoricalDataDrift new_flush(BaselineCategoricalBins b, std::optional<std::uint64_t> rate,
                                                  std::optional<std::uint64_t> cadence)
        requires std::is_same_v<Mode, FlushModeMark>
    {
        return StreamingCategoricalDataDrift(std::move(b), flush_mode(rate, cadence));
    }

    void update_stream(std::string_view label) { this->stream_.add_one(this->baseline_.index_of(label)); }

    // A batch of n labels in two steps: the plan (no labels is
    // EmptyRuntimeData), then the bin counts of its labels [start, n).
    std::expected<Batch, DriftError> plan_batch(std::size_t n) const {
        if (n == 0) return std::unexpected(DriftError::EmptyRuntimeData);
        return this->stream_.plan_batch(n);
    }
    void commit_batch(const Batch& batch, std::span<const std::uint64_t> counts) noexcept {
        this->stream_.commit_batch(batch, counts);
    }

    void reset_baseline(BaselineCategoricalBins b) { (void)this->replace_baseline(std::move(b)); }

    // The current weight of each baseline label (its index's bin).
    double weight_of(std::size_t label_index) const noexcept { return this->stream_.rt_bins()[label_index]; }

private:
    friend struct StateAccess;
    StreamingCategoricalDataDrift(BaselineCategoricalBins b, ModeState<Mode> mode) : Base(std::move(b), mode) {}
};

}  // namespace quorvant::drift
