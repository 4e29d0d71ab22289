// The streaming drift detectors (decay and flush, continuous and
// categorical) against a plain model that adds one sample at a time:
// batches must give exactly the weights and totals of one-by-one updates,
// decay must scale every weight once per score, flushes must happen before
// exactly the samples the rules name, and a failed call changes nothing.
// Two detectors run in lockstep: one takes batches as batches, the other
// the same samples one by one.
//
// Flush cadences are 0 (the clock check always fires, at totals that are
// multiples of 256) or never reached, so no run depends on the clock.
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "drift/data_drift.hpp"
#include "categorical.hpp"
#include "fuzz_common.hpp"

using namespace quorvant::drift;

namespace {

constexpr std::uint64_t kNever = 1ull << 60;

template <class Mode>
struct Model {
    std::vector<double> bins;
    double total = 0.0;
    double decay = 1.0;        // decay mode
    double rate = 0.0;         // flush mode
    bool cadence_zero = false; // flush mode

    void add(std::size_t bin) {
        if constexpr (std::is_same_v<Mode, FlushModeMark>) {
            const bool at_tick = cadence_zero && (static_cast<std::uint64_t>(total) & 255) == 0;
            if (total >= rate || at_tick) flush();
        }
        bins[bin] += 1.0;
        total += 1.0;
    }
    void flush() {
        for (double& w : bins) w = 0.0;
        total = 0.0;
    }
    bool decay_for_score() {
        double s = 0.0;
        for (double w : bins) s += w;
        if (s == 0.0) return false;
        if constexpr (std::is_same_v<Mode, DecayModeMark>) {
            for (double& w : bins) w *= decay;
            total *= decay;
        }
        return true;
    }
};

template <class Det, class Mode>
void check_state(const Det& d, const Model<Mode>& m) {
    FUZZ_CHECK(fuzz::same<double>(d.stream().rt_bins(), m.bins));
    FUZZ_CHECK(fuzz::same(d.stream().total_samples(), m.total));
}

// What differs between the two feature kinds.
struct Continuous {
    using Sample = double;
    using Batch = std::vector<double>;
    static Sample sample(fuzz::Input& in) { return in.real(); }
    static Batch batch(fuzz::Input& in, std::size_t max) { return in.reals(max); }
    template <class Det>
    static std::size_t bin(const Det& d, Sample x) { return d.baseline().bin_of(x); }
    template <class Det>
    static std::size_t bins(const Det& d) { return d.baseline().num_bins(); }
    template <class Det>
    static auto push(Det& d, const Batch& b) { return d.update_stream_batch(b); }
    template <class Det>
    static auto reset(Det& d, const Batch& b) { return d.reset_baseline(b); }
};

struct Categorical {
    // Labels are kept as strings; batches are views of them.
    using Sample = std::string;
    struct Batch {
        std::vector<std::string> text;
        std::vector<std::string_view> views;
        std::size_t size() const { return views.size(); }
        std::string_view operator[](std::size_t i) const { return views[i]; }
    };
    static Sample sample(fuzz::Input& in) { return in.label(); }
    static Batch batch(fuzz::Input& in, std::size_t max) {
        Batch b{in.labels(max), {}};
        b.views.assign(b.text.begin(), b.text.end());
        return b;
    }
    template <class Det>
    static std::size_t bin(const Det& d, std::string_view x) { return d.baseline().index_of(x); }
    template <class Det>
    static std::size_t bins(const Det& d) { return d.baseline().num_labels() + 1; }
    template <class Det>
    static auto push(Det& d, const Batch& b) { return fuzz::push_labels(d, b.views); }
    template <class Det>
    static auto reset(Det& d, const Batch& b) { return fuzz::reset_labels(d, b.views); }
};

template <class Kind, class Mode, class Det>
void run(fuzz::Input& in, Det a, Det b, Model<Mode> m) {
    m.bins.assign(Kind::bins(a), 0.0);
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.integral<int>(0, 5)) {
            case 0: {  // one sample
                const auto x = Kind::sample(in);
                a.update_stream(x);
                b.update_stream(x);
                m.add(Kind::bin(a, x));
                break;
            }
            case 1: {  // a batch, and the same samples one by one
                const auto batch = Kind::batch(in, 600);
                const auto r = Kind::push(a, batch);
                if (batch.size() == 0) {
                    FUZZ_CHECK(!r && r.error() == DriftError::EmptyRuntimeData);
                    break;
                }
                FUZZ_CHECK(r.has_value());
                for (std::size_t i = 0; i < batch.size(); ++i) {
                    b.update_stream(batch[i]);
                    m.add(Kind::bin(a, batch[i]));
                }
                break;
            }
            case 2: {  // a score
                std::vector<DriftType> types(in.size(4));
                for (auto& t : types) t = static_cast<DriftType>(in.integral<int>(0, 3));
                const auto ra = a.compute_drift_multiple_criteria(types);
                const auto rb = b.compute_drift_multiple_criteria(types);
                const bool scored = m.decay_for_score();
                FUZZ_CHECK(ra.has_value() == scored && rb.has_value() == scored);
                if (!scored) {
                    FUZZ_CHECK(ra.error() == DriftError::EmptyRuntimeData);
                    break;
                }
                FUZZ_CHECK(fuzz::same<double>(*ra, *rb));
                break;
            }
            case 3: {  // a baseline reset (may fail: then nothing changes)
                const auto next = Kind::batch(in, 100);
                const auto ra = Kind::reset(a, next);
                const auto rb = Kind::reset(b, next);
                FUZZ_CHECK(ra.has_value() == rb.has_value());
                if (ra) m = Model<Mode>{std::vector<double>(Kind::bins(a), 0.0), 0.0, m.decay, m.rate, m.cadence_zero};
                break;
            }
            case 4: {
                if constexpr (std::is_same_v<Mode, FlushModeMark>) {
                    a.flush();
                    b.flush();
                    m.flush();
                }
                break;
            }
            default: {
                if constexpr (std::is_same_v<Kind, Continuous>) {
                    const auto s = a.export_snapshot();
                    FUZZ_CHECK(s.has_value() == (m.total != 0.0));
                    if (s) {
                        FUZZ_CHECK(s->stream_bins.size() == m.bins.size());
                        for (std::size_t i = 0; i < m.bins.size(); ++i) {
                            FUZZ_CHECK(fuzz::same(s->stream_bins[i], m.bins[i] / m.total));
                        }
                    }
                }
                break;
            }
        }
        check_state(a, m);
        check_state(b, m);
    }
}

template <class Kind>
void fuzz_kind(fuzz::Input& in) {
    const auto baseline = Kind::batch(in, 100);
    if (in.flag()) {
        const auto h = in.integral<std::uint64_t>(0, 1000);
        using Det = std::conditional_t<std::is_same_v<Kind, Continuous>, StreamingContinuousDataDrift<DecayModeMark>,
                                       StreamingCategoricalDataDrift<DecayModeMark>>;
        auto make = [&] {
            if constexpr (std::is_same_v<Kind, Continuous>) {
                return Det::new_decay(baseline, std::nullopt, h);
            } else {
                auto bins = fuzz::baseline_of(baseline.views);
                if (!bins) return std::expected<Det, DriftError>(std::unexpect, bins.error());
                return std::expected<Det, DriftError>(Det::new_decay(std::move(*bins), h));
            }
        };
        auto a = make();
        if (!a) return;
        Model<DecayModeMark> m;
        m.decay = std::pow(2.0, -1.0 / static_cast<double>(h == 0 ? 86400 : h));
        run<Kind>(in, std::move(*a), std::move(*make()), m);
    } else {
        const auto rate = in.integral<std::uint64_t>(1, 700);
        const bool zero = in.flag();
        const std::uint64_t cadence = zero ? 0 : kNever;
        using Det = std::conditional_t<std::is_same_v<Kind, Continuous>, StreamingContinuousDataDrift<FlushModeMark>,
                                       StreamingCategoricalDataDrift<FlushModeMark>>;
        auto make = [&] {
            if constexpr (std::is_same_v<Kind, Continuous>) {
                return Det::new_flush(baseline, std::nullopt, rate, cadence);
            } else {
                auto bins = fuzz::baseline_of(baseline.views);
                if (!bins) return std::expected<Det, DriftError>(std::unexpect, bins.error());
                return std::expected<Det, DriftError>(Det::new_flush(std::move(*bins), rate, cadence));
            }
        };
        auto a = make();
        if (!a) return;
        Model<FlushModeMark> m;
        m.rate = static_cast<double>(rate);
        m.cadence_zero = zero;
        run<Kind>(in, std::move(*a), std::move(*make()), m);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    if (in.flag()) {
        fuzz_kind<Continuous>(in);
    } else {
        fuzz_kind<Categorical>(in);
    }
    return 0;
}
