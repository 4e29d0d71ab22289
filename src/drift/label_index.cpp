#include "drift/label_index.hpp"

#include <algorithm>
#include <bit>

namespace quorvant::drift {

namespace detail {

std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = [] {
        static const int anchor = 0;
        return mix(reinterpret_cast<std::uintptr_t>(&anchor) ^ kK0, kK2);
    }();
    return seed;
}

}  // namespace detail

void LabelIndex::assign(std::span<const std::string_view> labels) {
    std::size_t bytes = 0;
    for (std::string_view l : labels) bytes += l.size();
    std::string arena;
    arena.reserve(bytes);
    std::vector<std::size_t> offsets;
    offsets.reserve(labels.size() + 1);
    offsets.push_back(0);
    for (std::string_view l : labels) {
        arena.append(l);
        offsets.push_back(arena.size());
    }
    // At most half full, so probes stay short and always meet a free slot.
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(labels.size() * 2, 8));
    std::vector<Slot> slots(capacity, Slot{0, kEmpty});
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::uint64_t h = hash_label(labels[i], seed_);
        std::size_t pos = h & mask;
        while (slots[pos].index != kEmpty) pos = (pos + 1) & mask;
        slots[pos] = Slot{h, i};
    }
    // Everything is built; commit without a chance of failure.
    arena_.swap(arena);
    offsets_.swap(offsets);
    slots_.swap(slots);
    mask_ = mask;
    size_ = labels.size();
}

}  // namespace quorvant::drift
