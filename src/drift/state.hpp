// The state of the drift detectors that travels: their payloads (a baseline
// section, then for the streaming detectors the stream and its mode) and,
// through StateAccess, the building of detectors from checked parts. The
// merges of the streaming detectors are in data_drift.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "drift/baseline.hpp"
#include "drift/data_drift.hpp"
#include "state/envelope.hpp"

namespace quorvant::drift {

struct StateAccess {
    static void put(state::Writer& w, const BaselineContinuousBins& b);
    static void put(state::Writer& w, const BaselineCategoricalBins& b);
    static std::expected<BaselineContinuousBins, state::Error> get_continuous(state::Reader& r);
    static std::expected<BaselineCategoricalBins, state::Error> get_categorical(state::Reader& r);

    static void put_mode(state::Writer& w, const ModeState<DecayModeMark>& m);
    static void put_mode(state::Writer& w, const ModeState<FlushModeMark>& m);
    static std::expected<ModeState<DecayModeMark>, state::Error> get_mode(state::Reader& r, DecayModeMark);
    static std::expected<ModeState<FlushModeMark>, state::Error> get_mode(state::Reader& r, FlushModeMark);
    // Weights and total as one stream of the mode can hold them.
    static std::expected<void, state::Error> check_stream(state::Reader& r, std::span<const double> weights,
                                                          double total, bool counts);

    template <class Mode>
    static void put(state::Writer& w, const RuntimeStream<Mode>& s) {
        w.put_vector(s.rt_bins());
        w.put<double>(s.total_samples_);
        put_mode(w, s.mode_);
    }

    template <class Mode>
    static std::expected<RuntimeStream<Mode>, state::Error> get_stream(state::Reader& r, std::size_t bins) {
        auto weights = r.get_vector<double>("stream weights");
        if (!weights) return std::unexpected(weights.error());
        const auto total = r.get<double>("stream total");
        if (!total) return std::unexpected(total.error());
        const auto mode = get_mode(r, Mode{});
        if (!mode) return std::unexpected(mode.error());
        if (weights->size() != bins) {
            return r.invalid("stream weights", "number " + std::to_string(weights->size()) + ", the baseline has " +
                                                   std::to_string(bins) + " bins");
        }
        constexpr bool counts = std::is_same_v<Mode, FlushModeMark>;
        if (auto ok = check_stream(r, *weights, *total, counts); !ok) return std::unexpected(ok.error());
        RuntimeStream<Mode> s(0, *mode);
        s.rt_bins_ = std::move(*weights);
        s.total_samples_ = *total;
        return s;
    }

    template <class Detector, class Baseline, class Mode>
    static Detector streaming(Baseline b, RuntimeStream<Mode> s) {
        Detector d(std::move(b), s.mode_);
        d.stream_ = std::move(s);
        return d;
    }
    static ContinuousDataDrift batch(BaselineContinuousBins b);
    static CategoricalDataDrift batch(BaselineCategoricalBins b);
};

// --------------------------------------------------------------- codecs --

// A batch detector: its baseline section alone (its runtime bins are zero
// between calls).
template <class Detector, state::Kind Kind, auto GetBaseline>
struct BatchCodec : state::CodecOf<Detector, Kind> {
    static void encode(const Detector& core, state::Writer& w) { StateAccess::put(w, core.baseline()); }
    static std::expected<Detector, state::Error> decode(state::Reader& r, std::uint16_t) {
        auto b = GetBaseline(r);
        if (!b) return std::unexpected(b.error());
        return StateAccess::batch(std::move(*b));
    }
};

using ContinuousDataDriftCodec =
    BatchCodec<ContinuousDataDrift, state::Kind::ContinuousDataDrift, &StateAccess::get_continuous>;
using CategoricalDataDriftCodec =
    BatchCodec<CategoricalDataDrift, state::Kind::CategoricalDataDrift, &StateAccess::get_categorical>;

// A streaming detector: its baseline section, then its stream.
template <class Detector, state::Kind Kind, auto GetBaseline>
struct StreamingCodec : state::CodecOf<Detector, Kind> {
    static void encode(const Detector& core, state::Writer& w) {
        StateAccess::put(w, core.baseline());
        StateAccess::put(w, core.stream());
    }
    static std::expected<Detector, state::Error> decode(state::Reader& r, std::uint16_t) {
        auto b = GetBaseline(r);
        if (!b) return std::unexpected(b.error());
        auto s = StateAccess::get_stream<typename Detector::ModeMark>(r, b->baseline_hist().size());
        if (!s) return std::unexpected(s.error());
        return StateAccess::streaming<Detector>(std::move(*b), std::move(*s));
    }
};

template <class Mode>
using StreamingContinuousCodec =
    StreamingCodec<StreamingContinuousDataDrift<Mode>,
                   std::is_same_v<Mode, FlushModeMark> ? state::Kind::StreamingContinuousDataDriftFlush
                                                       : state::Kind::StreamingContinuousDataDriftDecay,
                   &StateAccess::get_continuous>;

template <class Mode>
using StreamingCategoricalCodec =
    StreamingCodec<StreamingCategoricalDataDrift<Mode>,
                   std::is_same_v<Mode, FlushModeMark> ? state::Kind::StreamingCategoricalDataDriftFlush
                                                       : state::Kind::StreamingCategoricalDataDriftDecay,
                   &StateAccess::get_categorical>;

}  // namespace quorvant::drift
