#include "state/envelope.hpp"

#include <array>
#include <cstdio>

namespace quorvant::state {

namespace {

constexpr std::string_view kMagic = "QVST";

// The class names without their prefix "Py", by kind.
constexpr std::array<std::string_view, 12> kNames = {
    "",
    "CategoricalDataDrift",
    "ContinuousDataDrift",
    "StreamingContinuousDataDriftFlush",
    "StreamingContinuousDataDriftDecay",
    "StreamingCategoricalDataDriftFlush",
    "StreamingCategoricalDataDriftDecay",
    "DataBiasStreaming",
    "ModelBiasStreaming",
    "BinaryClassificationStreaming",
    "LinearRegressionStreaming",
    "LogisticRegressionStreaming",
};

std::string hex32(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08x", v);
    return b;
}

}  // namespace

std::string class_name(Kind kind) {
    const auto i = static_cast<std::size_t>(kind);
    if (i == 0 || i >= kNames.size()) return {};
    return "Py" + std::string(kNames[i]);
}

Writer start() {
    Writer w;
    w.put_raw(std::string(kHeaderSize, '\0'));
    return w;
}

std::string seal(Kind kind, Writer&& w) {
    std::string out = std::move(w.bytes());
    const std::uint64_t body = out.size() - kHeaderSize;
    out.replace(0, kMagic.size(), kMagic);
    detail::store_le<std::uint16_t>(out.data() + 4, kFormatVersion);
    out[6] = static_cast<char>(kind);
    out[7] = 0;  // flags: none defined
    detail::store_le<std::uint64_t>(out.data() + 8, body);
    char sum[kChecksumSize];
    detail::store_le<std::uint32_t>(sum, crc32(out));
    out.append(sum, kChecksumSize);
    return out;
}

std::expected<Body, Error> open(Kind expected, std::string_view payload) {
    const std::string wanted = class_name(expected);
    if (payload.size() < kHeaderSize + kChecksumSize) {
        return fail("not a quorvant state payload: " + std::to_string(payload.size()) +
                    " bytes, fewer than the 20 of an empty one");
    }
    if (payload.substr(0, kMagic.size()) != kMagic) {
        return fail("not a quorvant state payload (it does not start with the bytes QVST)");
    }
    const auto version = detail::load_le<std::uint16_t>(payload.data() + 4);
    if (version == 0) return fail("state payload of format version 0: no such version");
    if (version > kFormatVersion) {
        return fail("state payload of format version " + std::to_string(version) +
                    " is newer than this quorvant reads (up to " + std::to_string(kFormatVersion) + ")");
    }
    const auto declared = detail::load_le<std::uint64_t>(payload.data() + 8);
    const std::uint64_t held = payload.size() - kHeaderSize - kChecksumSize;
    if (declared != held) {
        return fail("state payload is truncated or extended: its header declares a body of " +
                    std::to_string(declared) + " bytes, the payload holds " + std::to_string(held));
    }
    const std::size_t sealed = payload.size() - kChecksumSize;
    const auto stored = detail::load_le<std::uint32_t>(payload.data() + sealed);
    const auto computed = crc32(payload.substr(0, sealed));
    if (stored != computed) {
        return fail("state payload is corrupted: checksum " + hex32(computed) + " does not match the stored " +
                    hex32(stored));
    }
    const auto flags = static_cast<unsigned char>(payload[7]);
    if (flags != 0) return fail("state payload has unknown flags " + hex32(flags));
    const auto kind = static_cast<Kind>(static_cast<unsigned char>(payload[6]));
    const std::string name = class_name(kind);
    if (name.empty()) {
        return fail("state payload holds an unknown class kind " + std::to_string(static_cast<int>(kind)));
    }
    if (kind != expected) return fail("state payload holds a " + name + ", not a " + wanted);
    return Body{payload.substr(kHeaderSize, held), version};
}

}  // namespace quorvant::state
