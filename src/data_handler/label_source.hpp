// Labels read a chunk at a time (see common/chunk_source.hpp), and the
// walk over equally long label sources that the counting loops make. Pure
// C++.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "common/chunk_source.hpp"
#include "data_handler/labels.hpp"

namespace quorvant::data_handler {

using common::ChunkSource;
using common::kChunk;
using common::ValueSource;
using LabelSource = ChunkSource<Label>;

namespace detail {
template <class F, std::size_t... I, class... Sources>
void for_each_chunk(F& f, std::index_sequence<I...>, const Sources&... sources) {
    const std::size_t n = (sources.size(), ...);
    Label buffers[sizeof...(Sources)][kChunk];
    for (std::size_t i = 0; i < n; i += kChunk) {
        const std::size_t count = std::min(kChunk, n - i);
        f(count, sources.chunk(i, count, buffers[I])...);
    }
}
}  // namespace detail

// Calls f(count, const Label* chunk...) for consecutive chunks of equally
// long label sources, each chunk at most kChunk rows.
template <class F, class... Sources>
void for_each_chunk(F&& f, const Sources&... sources) {
    detail::for_each_chunk(f, std::index_sequence_for<Sources...>{}, sources...);
}

// Labels of values under a segmentation rule, produced on demand; `values`
// must outlive the result.
inline LabelSource rule_labels(const ValueSource& values, SegmentationRule<std::int8_t> rule) {
    return LabelSource::view(values.size(), [&values, rule](std::size_t begin, std::size_t count, Label* out) {
        std::int8_t buffer[kChunk];
        const std::int8_t* v = values.chunk(begin, count, buffer);
        label_rule(std::span<const std::int8_t>(v, count), rule, out);
    });
}

}  // namespace quorvant::data_handler
