// The labels of one array, either held or produced on demand. Pure C++.
//
// Counting reads labels a chunk at a time, so an array labeled straight
// from its buffer never needs a label vector of its own: the chunk is made
// in a small buffer that stays in cache. A view refers to memory the caller
// owns (an array's buffer) and must be read before that memory can change;
// materialize() takes a copy of the labels when that cannot be promised.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>

#include "data_handler/labels.hpp"

namespace quorvant::data_handler {

class LabelSource {
public:
    // Writes the labels of rows [begin, begin + count) to `out`.
    using Fill = std::function<void(std::size_t begin, std::size_t count, Label* out)>;

    static constexpr std::size_t kChunk = 4096;

    static LabelSource owned(Labels labels) {
        LabelSource s;
        s.size_ = labels.size();
        s.labels_ = std::move(labels);
        return s;
    }

    static LabelSource view(std::size_t size, Fill fill) {
        LabelSource s;
        s.size_ = size;
        s.fill_ = std::move(fill);
        return s;
    }

    std::size_t size() const { return size_; }
    bool is_view() const { return static_cast<bool>(fill_); }

    // The labels of rows [begin, begin + count), count <= kChunk: a pointer
    // into held labels, or `buffer` filled.
    const Label* chunk(std::size_t begin, std::size_t count, Label* buffer) const {
        if (!fill_) return labels_.data() + begin;
        fill_(begin, count, buffer);
        return buffer;
    }

    // Produces a view's labels now and holds them.
    void materialize() {
        if (!fill_) return;
        Labels labels(size_);
        for (std::size_t i = 0; i < size_; i += kChunk) fill_(i, std::min(kChunk, size_ - i), labels.data() + i);
        labels_ = std::move(labels);
        fill_ = nullptr;
    }

    Labels to_labels() const {
        LabelSource copy = *this;
        copy.materialize();
        return std::move(copy.labels_);
    }

private:
    std::size_t size_ = 0;
    Labels labels_;
    Fill fill_;
};

namespace detail {
template <class F, std::size_t... I, class... Sources>
void for_each_chunk(F& f, std::index_sequence<I...>, const Sources&... sources) {
    const std::size_t n = (sources.size(), ...);
    Label buffers[sizeof...(Sources)][LabelSource::kChunk];
    for (std::size_t i = 0; i < n; i += LabelSource::kChunk) {
        const std::size_t count = std::min(LabelSource::kChunk, n - i);
        f(count, sources.chunk(i, count, buffers[I])...);
    }
}
}  // namespace detail

// Calls f(count, const Label* chunk...) for consecutive chunks of equally
// long sources, each chunk at most LabelSource::kChunk rows.
template <class F, class... Sources>
void for_each_chunk(F&& f, const Sources&... sources) {
    detail::for_each_chunk(f, std::index_sequence_for<Sources...>{}, sources...);
}

}  // namespace quorvant::data_handler
