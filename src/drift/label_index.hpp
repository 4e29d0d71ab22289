// The index from each distinct baseline label to its bin, and the counting
// of distinct labels. Labels are byte strings (UTF-8); a lookup hashes the
// label once and compares bytes only on a hash match.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/label_hash.hpp"

namespace quorvant::drift {

using common::hash_label;
using common::hash_seed;

// Open-addressing index from distinct labels to 0..size()-1. The labels'
// bytes live in one buffer, in index order.
class LabelIndex {
public:
    // Replaces the contents; `labels` must be distinct; label i gets index i.
    void assign(std::span<const std::string_view> labels);

    // The index of `label`, or size() when it is not indexed.
    std::size_t find(std::string_view label) const noexcept {
        const std::uint64_t h = hash_label(label, seed_);
        for (std::size_t pos = h & mask_;; pos = (pos + 1) & mask_) {
            const Slot& s = slots_[pos];
            if (s.index == kEmpty) return size_;
            if (s.hash == h && this->label(s.index) == label) return s.index;
        }
    }

    std::size_t size() const noexcept { return size_; }
    std::string_view label(std::size_t i) const noexcept {
        return std::string_view(arena_.data() + offsets_[i], offsets_[i + 1] - offsets_[i]);
    }

private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    struct Slot {
        std::uint64_t hash;
        std::uint64_t index;
    };
    std::string arena_;
    std::vector<std::size_t> offsets_{0};
    std::vector<Slot> slots_{Slot{0, kEmpty}};
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
    std::uint64_t seed_ = hash_seed();
};

// A per-call table from a label's storage address and length to a result:
// within one call the same address and length always hold the same bytes,
// so labels that repeat the same objects are hashed about once each.
class AddressMemo {
public:
    // Sized for `n` lookups; small inputs get no table (find() always misses).
    explicit AddressMemo(std::size_t n) {
        if (n < 256) return;
        int bits = 6;
        while (bits < 12 && (std::size_t{1} << bits) * 4 < n) ++bits;
        shift_ = 64 - bits;
        slots_.assign(std::size_t{1} << bits, Slot{nullptr, ~std::size_t{0}, 0});
    }
    // The slot for `label` (nullptr without a table); Slot::holds tells
    // whether it remembers this label.
    struct Slot {
        const char* data;
        std::size_t size;  // never matches while the slot is unused
        std::size_t value;
        bool holds(std::string_view label) const { return data == label.data() && size == label.size(); }
    };
    Slot* slot(std::string_view label) {
        if (slots_.empty()) return nullptr;
        const auto address = reinterpret_cast<std::uintptr_t>(label.data());
        return &slots_[(address * 0x9e3779b97f4a7c15ULL) >> shift_];
    }

private:
    std::vector<Slot> slots_;
    int shift_ = 64;
};

// Distinct labels in order of first appearance, with their counts.
struct DistinctCounts {
    std::vector<std::string_view> labels;
    std::vector<std::uint64_t> counts;
};

// Counts the distinct labels of a sequence given a chunk at a time. The
// views must stay valid, with the same bytes at one address and length,
// until the counts are used.
class DistinctCounter {
public:
    // Sized for `n` labels in all.
    explicit DistinctCounter(std::size_t n) : memo_(n) {}

    void add(std::span<const std::string_view> labels);
    DistinctCounts take() && { return std::move(out_); }

private:
    struct Slot {
        std::uint64_t hash;
        std::size_t index;  // into out_.labels; kFree when free
    };
    static constexpr std::size_t kFree = ~std::size_t{0};

    void grow();

    std::uint64_t seed_ = hash_seed();
    DistinctCounts out_;
    std::vector<Slot> slots_ = std::vector<Slot>(16, Slot{0, kFree});
    std::size_t mask_ = 15;
    AddressMemo memo_;
};

}  // namespace quorvant::drift
