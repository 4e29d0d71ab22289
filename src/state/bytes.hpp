// The byte level of state payloads: a writer that appends fixed-width
// little-endian values, a reader that checks every read against what is
// left (and every declared length before anything is allocated), and the
// CRC-32 that seals a payload. Pure C++.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "state/error.hpp"

namespace quorvant::state {

// CRC-32 (the polynomial of zlib, gzip and PNG: reflected 0xEDB88320,
// initial value and final xor 0xFFFFFFFF).
std::uint32_t crc32(std::string_view bytes) noexcept;

// Whether `s` is UTF-8 as a Python str encodes (no surrogates, no overlong
// forms, nothing past U+10FFFF).
bool valid_utf8(std::string_view s) noexcept;

namespace detail {
// Values are stored least significant byte first on every machine.
template <class T>
void store_le(char* out, T v) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                      std::conditional_t<sizeof(T) == 8, std::int64_t, std::int32_t>, T>>;
    U u = std::bit_cast<U>(v);
    for (std::size_t i = 0; i < sizeof(U); ++i) {
        out[i] = static_cast<char>(u & 0xFFu);
        u = static_cast<U>(u >> 8);
    }
}

template <class T>
T load_le(const char* in) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>,
                                                      std::conditional_t<sizeof(T) == 8, std::int64_t, std::int32_t>, T>>;
    U u = 0;
    for (std::size_t i = sizeof(U); i-- > 0;) u = static_cast<U>((u << 8) | static_cast<unsigned char>(in[i]));
    return std::bit_cast<T>(u);
}
}  // namespace detail

class Writer {
public:
    template <class T>
        requires std::is_arithmetic_v<T>
    void put(T v) {
        char b[sizeof(T)];
        detail::store_le(b, v);
        out_.append(b, sizeof b);
    }
    template <class T>
    void put_all(std::span<const T> vs) {
        for (const T v : vs) put(v);
    }
    // A u64 count, then the values.
    template <class T>
    void put_vector(std::span<const T> vs) {
        put<std::uint64_t>(vs.size());
        put_all(vs);
    }
    // A u32 byte length, then the bytes.
    void put_text(std::string_view s) {
        put<std::uint32_t>(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    void put_raw(std::string_view s) { out_.append(s); }

    std::string& bytes() { return out_; }

private:
    std::string out_;
};

// Reads a payload body. Every read names the field it reads, so a refusal
// says where the payload went wrong; `what` prefixes every message.
class Reader {
public:
    Reader(std::string_view bytes, std::string what) : bytes_(bytes), what_(std::move(what)) {}

    template <class T>
        requires std::is_arithmetic_v<T>
    std::expected<T, Error> get(const char* field) {
        if (auto r = need(sizeof(T), field); !r) return std::unexpected(r.error());
        const T v = detail::load_le<T>(bytes_.data() + pos_);
        pos_ += sizeof(T);
        return v;
    }

    // `n` values into `out` (resized only after the length is known to fit).
    template <class T>
    std::expected<void, Error> get_all(std::size_t n, std::vector<T>& out, const char* field) {
        if (n > left() / sizeof(T)) return too_long(n, sizeof(T), field);
        out.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = detail::load_le<T>(bytes_.data() + pos_);
            pos_ += sizeof(T);
        }
        return {};
    }
    template <class T, std::size_t N>
    std::expected<void, Error> get_all(std::array<T, N>& out, const char* field) {
        if (auto r = need(N * sizeof(T), field); !r) return r;
        for (std::size_t i = 0; i < N; ++i) {
            out[i] = detail::load_le<T>(bytes_.data() + pos_);
            pos_ += sizeof(T);
        }
        return {};
    }
    // A u64 count, then that many values.
    template <class T>
    std::expected<std::vector<T>, Error> get_vector(const char* field) {
        const auto n = get<std::uint64_t>(field);
        if (!n) return std::unexpected(n.error());
        std::vector<T> out;
        if (auto r = get_all(*n, out, field); !r) return std::unexpected(r.error());
        return out;
    }
    // A u32 byte length, then the bytes (a view into the payload).
    std::expected<std::string_view, Error> get_text(const char* field);

    // The count of a list whose items take at least `min_item` bytes each,
    // checked against what is left (so a huge count is refused before any
    // list is sized by it).
    std::expected<std::uint64_t, Error> get_count(const char* field, std::size_t min_item);

    std::size_t left() const noexcept { return bytes_.size() - pos_; }
    std::size_t offset() const noexcept { return pos_; }
    // The body must end where its last field does.
    std::expected<void, Error> finish() const;

    // A refusal of the value of `field`, prefixed like every other.
    std::unexpected<Error> invalid(std::string_view field, std::string_view why) const;

private:
    std::expected<void, Error> need(std::size_t n, const char* field) const;
    std::unexpected<Error> too_long(std::uint64_t n, std::size_t item, const char* field) const;

    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::string what_;
};

}  // namespace quorvant::state
