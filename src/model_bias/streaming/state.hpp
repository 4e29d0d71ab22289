// The state of the streaming post-training bias monitor that travels: its
// payload (the eight row counts, the twelve baseline metrics, the three
// rules) and the merge of two monitors.
#pragma once

#include <cstdint>
#include <expected>

#include "model_bias/streaming/streaming_model_bias.hpp"
#include "state/envelope.hpp"

namespace quorvant::model_bias::streaming {

struct StreamingModelBiasCodec : state::CodecOf<StreamingModelBias, state::Kind::ModelBiasStreaming> {
    static void encode(const Core& core, state::Writer& w);
    static std::expected<Core, state::Error> decode(state::Reader& r, std::uint16_t version);
};

}  // namespace quorvant::model_bias::streaming
