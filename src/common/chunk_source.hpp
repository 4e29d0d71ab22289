// Per-row values held, borrowed, or produced on demand, and read a chunk at
// a time. Pure C++.
//
// Counting reads values a chunk at a time, so an array labeled straight
// from its buffer never needs a vector of its own: the chunk is made in a
// small buffer that stays in cache. Borrowed and produced sources refer to
// memory their maker keeps alive for as long as the source is read (a held
// buffer or an owned copy of the binding, see frame/held.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace quorvant::common {

inline constexpr std::size_t kChunk = 4096;

template <class T>
class ChunkSource {
public:
    // Writes the values of rows [begin, begin + count) to `out`.
    using Fill = std::function<void(std::size_t begin, std::size_t count, T* out)>;

    static ChunkSource owned(std::vector<T> values) {
        ChunkSource s;
        s.size_ = values.size();
        s.owned_ = std::move(values);
        return s;
    }
    static ChunkSource borrowed(std::span<const T> values) {
        ChunkSource s;
        s.size_ = values.size();
        s.borrowed_ = values;
        s.is_borrowed_ = true;
        return s;
    }
    static ChunkSource view(std::size_t size, Fill fill) {
        ChunkSource s;
        s.size_ = size;
        s.fill_ = std::move(fill);
        return s;
    }

    std::size_t size() const { return size_; }

    // The values of rows [begin, begin + count), count <= kChunk: a pointer
    // into held or borrowed values, or `buffer` filled.
    const T* chunk(std::size_t begin, std::size_t count, T* buffer) const {
        if (fill_) {
            fill_(begin, count, buffer);
            return buffer;
        }
        return (is_borrowed_ ? borrowed_.data() : owned_.data()) + begin;
    }

private:
    std::size_t size_ = 0;
    std::vector<T> owned_;
    std::span<const T> borrowed_;
    bool is_borrowed_ = false;
    Fill fill_;
};

// The small signed integers of already-labeled rows.
using ValueSource = ChunkSource<std::int8_t>;

}  // namespace quorvant::common
