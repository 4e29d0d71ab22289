// The state of the streaming performance monitors that travels: their
// payloads (baseline record, then counts or sums and settings) and the
// merges of the two regression monitors (the classification monitor's is
// in its header, being a template).
#pragma once

#include <cstdint>
#include <expected>

#include "model_perf/streaming/binary_classification_streaming.hpp"
#include "model_perf/streaming/linear_regression_streaming.hpp"
#include "model_perf/streaming/logistic_regression_streaming.hpp"
#include "state/envelope.hpp"

namespace quorvant::model_perf::streaming {

struct BinaryClassificationCodec : state::CodecOf<BinaryClassificationStreaming<std::int32_t>, state::Kind::BinaryClassificationStreaming> {
    static void encode(const Core& core, state::Writer& w);
    static std::expected<Core, state::Error> decode(state::Reader& r, std::uint16_t version);
};

struct LinearRegressionCodec : state::CodecOf<LinearRegressionStreaming, state::Kind::LinearRegressionStreaming> {
    static void encode(const Core& core, state::Writer& w);
    static std::expected<Core, state::Error> decode(state::Reader& r, std::uint16_t version);
};

struct LogisticRegressionCodec : state::CodecOf<LogisticRegressionStreaming, state::Kind::LogisticRegressionStreaming> {
    static void encode(const Core& core, state::Writer& w);
    static std::expected<Core, state::Error> decode(state::Reader& r, std::uint16_t version);
};

}  // namespace quorvant::model_perf::streaming
