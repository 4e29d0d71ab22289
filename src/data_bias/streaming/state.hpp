// The state of the streaming pre-training bias monitor that travels: its
// payload (the four counts, the seven baseline metrics, the two rules) and
// the merge of two monitors.
#pragma once

#include <cstdint>
#include <expected>

#include "data_bias/streaming/streaming_data_bias.hpp"
#include "state/envelope.hpp"

namespace quorvant::data_bias::streaming {

struct StreamingDataBiasCodec : state::CodecOf<StreamingDataBias, state::Kind::DataBiasStreaming> {
    static void encode(const Core& core, state::Writer& w);
    static std::expected<Core, state::Error> decode(state::Reader& r, std::uint16_t version);
};

}  // namespace quorvant::data_bias::streaming
