// The frame around every state payload: a 16-byte header (magic, format
// version, class kind, flags, body length), the class's body, and a CRC-32
// of everything before it. docs/state-format.md describes the bytes.
//
// A class's codec is a type with
//
//   using Core = StreamingThing;
//   static constexpr Kind kind = Kind::...;
//   static void encode(const Core&, Writer&);                             // the body
//   static std::expected<Core, Error> decode(Reader&, std::uint16_t version);  // validates, then builds
//
// (deriving Core and kind from CodecOf below), and encode<Codec> /
// decode<Codec> add and check the frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "state/bytes.hpp"
#include "state/error.hpp"

namespace quorvant::state {

// One value per class, in the module's registration order; never reused.
enum class Kind : std::uint8_t {
    CategoricalDataDrift = 1,
    ContinuousDataDrift = 2,
    StreamingContinuousDataDriftFlush = 3,
    StreamingContinuousDataDriftDecay = 4,
    StreamingCategoricalDataDriftFlush = 5,
    StreamingCategoricalDataDriftDecay = 6,
    DataBiasStreaming = 7,
    ModelBiasStreaming = 8,
    BinaryClassificationStreaming = 9,
    LinearRegressionStreaming = 10,
    LogisticRegressionStreaming = 11,
};

// The Python class name of a kind; empty for a value that is no kind.
std::string class_name(Kind kind);

inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kChecksumSize = 4;

// The writer of a new payload, with room for the header.
Writer start();
// Fills in the header and appends the checksum.
std::string seal(Kind kind, Writer&& w);

struct Body {
    std::string_view bytes;
    std::uint16_t version;
};
// Checks the frame (size, magic, version, length, checksum, flags, kind)
// and returns the body of a payload of class `expected`.
std::expected<Body, Error> open(Kind expected, std::string_view payload);

// What a codec is of: its core and class kind.
template <class C, Kind K>
struct CodecOf {
    using Core = C;
    static constexpr Kind kind = K;
};

template <class Codec>
std::string encode(const typename Codec::Core& core) {
    Writer w = start();
    Codec::encode(core, w);
    return seal(Codec::kind, std::move(w));
}

template <class Codec>
std::expected<typename Codec::Core, Error> decode(std::string_view payload) {
    const auto body = open(Codec::kind, payload);
    if (!body) return std::unexpected(body.error());
    Reader r(body->bytes, class_name(Codec::kind) + " state");
    auto core = Codec::decode(r, body->version);
    if (!core) return core;
    if (auto end = r.finish(); !end) return std::unexpected(end.error());
    return core;
}

}  // namespace quorvant::state
