#include "common/utf8_text.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "common/label_hash.hpp"

namespace quorvant::common {

namespace {

template <bool Swapped>
std::uint32_t code_unit(const char* p) {
    std::uint32_t c;
    std::memcpy(&c, p, sizeof c);
    if constexpr (Swapped) c = __builtin_bswap32(c);
    return c;
}

// Writes the UTF-8 of code points [p, p + 4 * len) at out; the bytes written,
// or nothing when one of them cannot be encoded.
template <bool Swapped>
std::optional<std::size_t> encode(const char* p, std::size_t len, char* out) {
    char* o = out;
    std::uint32_t bad = 0;
    for (std::size_t j = 0; j < len; ++j) {
        const std::uint32_t c = code_unit<Swapped>(p + 4 * j);
        if (c < 0x80) {
            *o++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bad |= unencodable_code_point(c);
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bad |= unencodable_code_point(c);
            *o++ = static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (bad != 0) return std::nullopt;
    return static_cast<std::size_t>(o - out);
}

// Room for text that grows, doubling (no allocation per element).
class Bytes {
public:
    explicit Bytes(std::size_t capacity) : data_(new char[capacity]), capacity_(capacity) {}
    char* room(std::size_t at, std::size_t need) {
        if (need > capacity_ - at) {
            if (need > PTRDIFF_MAX / 2 - at) throw std::bad_alloc();
            const std::size_t bigger = std::max(capacity_ * 2, at + need);
            std::unique_ptr<char[]> grown(new char[bigger]);
            std::memcpy(grown.get(), data_.get(), at);
            data_.swap(grown);
            capacity_ = bigger;
        }
        return data_.get() + at;
    }
    std::unique_ptr<char[]> take() && { return std::move(data_); }

private:
    std::unique_ptr<char[]> data_;
    std::size_t capacity_;
};

// Labels usually repeat a few values: a small table of recently converted
// elements (by their code units) finds most repeats with one hash and one
// comparison and hands out the same bytes again. Text of many distinct
// values turns it off after a while.
constexpr std::size_t kRecent = 4096;
constexpr std::size_t kProbation = 8192;
// Room made at once: ASCII text fits in n * width bytes, and pages a
// repeat never writes are never touched.
constexpr std::size_t kFirstRoom = std::size_t{1} << 26;

}  // namespace

template <bool Swapped>
bool Utf8Text::convert(const char* data, std::ptrdiff_t stride, std::size_t n, std::size_t width) {
    if (width > PTRDIFF_MAX / 16) throw std::bad_alloc();
    const std::size_t raw = 4 * width;
    Bytes bytes(std::min(n, kFirstRoom / std::max<std::size_t>(width, 1)) * width + 4 * width + 16);
    spans_.resize(n);
    struct Recent {
        const char* element;
        Span span;
    };
    const std::size_t slots = std::min(kRecent, std::bit_ceil(std::max<std::size_t>(n, 16)));
    std::vector<Recent> recent(slots, Recent{nullptr, {0, 0}});
    const std::uint64_t seed = hash_seed();
    bool remember = raw > 0;
    std::size_t hits = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char* e = data + static_cast<std::ptrdiff_t>(i) * stride;
        if (i == kProbation && hits < kProbation / 2) remember = false;
        Recent* slot = nullptr;
        if (remember) {
            slot = &recent[hash_label({e, raw}, seed) & (slots - 1)];
            if (slot->element != nullptr && std::memcmp(slot->element, e, raw) == 0) {
                spans_[i] = slot->span;
                ++hits;
                continue;
            }
        }
        std::size_t len = width;
        while (len > 0 && code_unit<false>(e + 4 * (len - 1)) == 0) --len;  // NumPy drops trailing NULs
        const auto written = encode<Swapped>(e, len, bytes.room(at, 4 * len));
        if (!written) return false;
        spans_[i] = Span{at, *written};
        if (slot != nullptr) *slot = Recent{e, spans_[i]};
        at += *written;
    }
    data_ = std::move(bytes).take();
    return true;
}

std::optional<Utf8Text> Utf8Text::from_ucs4(const char* data, std::ptrdiff_t stride, std::size_t n,
                                            std::size_t width, bool swapped) {
    Utf8Text out;
    const bool done = swapped ? out.convert<true>(data, stride, n, width) : out.convert<false>(data, stride, n, width);
    if (!done) return std::nullopt;
    return out;
}

}  // namespace quorvant::common
