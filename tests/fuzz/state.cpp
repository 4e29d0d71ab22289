// The state decoders of all eleven classes on arbitrary bytes. The first
// byte picks the class (bits 1 to 7) and whether the rest is a whole
// payload (bit 0 clear) or a body that gets a valid frame around it (bit 0
// set; checksums are out of a fuzzer's reach, bodies are not). Oracles:
// every input decodes or is refused (any crash or sanitizer report is a
// failure); what decodes encodes into a payload that decodes again, and,
// except in flush mode (whose payload holds the time since the last
// flush), into the same bytes again.
#include <cstdint>
#include <string>
#include <string_view>

#include "data_bias/streaming/state.hpp"
#include "drift/state.hpp"
#include "fuzz_common.hpp"
#include "model_bias/streaming/state.hpp"
#include "model_perf/streaming/state.hpp"
#include "state/envelope.hpp"

using namespace quorvant;

namespace {

template <class Codec>
void round_trip(std::string_view payload) {
    const auto core = state::decode<Codec>(payload);
    if (!core) {
        FUZZ_CHECK(!core.error().message.empty());
        return;
    }
    const std::string again = state::encode<Codec>(*core);
    const auto back = state::decode<Codec>(again);
    FUZZ_CHECK(back.has_value());
    constexpr bool flush = Codec::kind == state::Kind::StreamingContinuousDataDriftFlush ||
                           Codec::kind == state::Kind::StreamingCategoricalDataDriftFlush;
    if constexpr (!flush) FUZZ_CHECK(state::encode<Codec>(*back) == again);
}

template <class Codec>
void run(std::string_view rest, bool framed) {
    if (!framed) return round_trip<Codec>(rest);
    state::Writer w = state::start();
    w.put_raw(rest);
    round_trip<Codec>(state::seal(Codec::kind, std::move(w)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool framed = data[0] & 1;
    switch ((data[0] >> 1) % 11) {
        case 0: run<drift::CategoricalDataDriftCodec>(rest, framed); break;
        case 1: run<drift::ContinuousDataDriftCodec>(rest, framed); break;
        case 2: run<drift::StreamingContinuousCodec<drift::FlushModeMark>>(rest, framed); break;
        case 3: run<drift::StreamingContinuousCodec<drift::DecayModeMark>>(rest, framed); break;
        case 4: run<drift::StreamingCategoricalCodec<drift::FlushModeMark>>(rest, framed); break;
        case 5: run<drift::StreamingCategoricalCodec<drift::DecayModeMark>>(rest, framed); break;
        case 6: run<data_bias::streaming::StreamingDataBiasCodec>(rest, framed); break;
        case 7: run<model_bias::streaming::StreamingModelBiasCodec>(rest, framed); break;
        case 8: run<model_perf::streaming::BinaryClassificationCodec>(rest, framed); break;
        case 9: run<model_perf::streaming::LinearRegressionCodec>(rest, framed); break;
        default: run<model_perf::streaming::LogisticRegressionCodec>(rest, framed); break;
    }
    return 0;
}
