// A segmentation rule in a state payload: its kind (u8, 0 to 4) and value
// (i8). Both streaming bias monitors keep their rules this way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>

#include "data_handler/labels.hpp"
#include "state/bytes.hpp"

namespace quorvant::data_handler {

inline bool same_rule(SegmentationRule<std::int8_t> a, SegmentationRule<std::int8_t> b) {
    return a.kind == b.kind && a.value == b.value;
}

inline void put_rule(state::Writer& w, SegmentationRule<std::int8_t> rule) {
    w.put<std::uint8_t>(rule.kind);
    w.put<std::int8_t>(rule.value);
}

inline std::expected<SegmentationRule<std::int8_t>, state::Error> get_rule(state::Reader& r, const char* field) {
    const auto kind = r.get<std::uint8_t>(field);
    if (!kind) return std::unexpected(kind.error());
    const auto value = r.get<std::int8_t>(field);
    if (!value) return std::unexpected(value.error());
    if (*kind > 4) return r.invalid(field, "has an unknown comparison kind " + std::to_string(*kind));
    return SegmentationRule<std::int8_t>{*kind, *value};
}

// The rules of a monitor, in order, each read as its field.
template <std::size_t N>
std::expected<std::array<SegmentationRule<std::int8_t>, N>, state::Error> get_rules(state::Reader& r,
                                                                                   const char* const (&fields)[N]) {
    std::array<SegmentationRule<std::int8_t>, N> rules{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto rule = get_rule(r, fields[i]);
        if (!rule) return std::unexpected(rule.error());
        rules[i] = *rule;
    }
    return rules;
}

}  // namespace quorvant::data_handler
