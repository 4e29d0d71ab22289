#include "drift/label_index.hpp"

#include <algorithm>
#include <bit>

namespace quorvant::drift {

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

void DistinctCounter::add(std::span<const std::string_view> labels) {
    for (const std::string_view label : labels) {
        AddressMemo::Slot* m = memo_.slot(label);
        if (m != nullptr && m->holds(label)) {
            ++out_.counts[m->value];
            continue;
        }
        const std::uint64_t h = hash_label(label, seed_);
        std::size_t pos = h & mask_;
        while (true) {
            Slot& s = slots_[pos];
            if (s.index == kFree) {
                s = Slot{h, out_.labels.size()};
                out_.labels.push_back(label);
                out_.counts.push_back(1);
                if (m != nullptr) *m = AddressMemo::Slot{label.data(), label.size(), s.index};
                break;
            }
            if (s.hash == h && out_.labels[s.index] == label) {
                ++out_.counts[s.index];
                if (m != nullptr) *m = AddressMemo::Slot{label.data(), label.size(), s.index};
                break;
            }
            pos = (pos + 1) & mask_;
        }
        if (out_.labels.size() * 2 > slots_.size()) grow();
    }
}

// Doubles the table, to keep it at most half full.
void DistinctCounter::grow() {
    std::vector<Slot> bigger(slots_.size() * 2, Slot{0, kFree});
    const std::size_t bigger_mask = bigger.size() - 1;
    for (const Slot& s : slots_) {
        if (s.index == kFree) continue;
        std::size_t p = s.hash & bigger_mask;
        while (bigger[p].index != kFree) p = (p + 1) & bigger_mask;
        bigger[p] = s;
    }
    slots_.swap(bigger);
    mask_ = bigger_mask;
}

}  // namespace quorvant::drift
