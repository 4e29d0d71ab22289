#include "state/bytes.hpp"

namespace quorvant::state {

namespace {

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

}  // namespace

std::uint32_t crc32(std::string_view bytes) noexcept {
    std::uint32_t c = 0xFFFFFFFFu;
    for (const char ch : bytes) c = kCrcTable[(c ^ static_cast<unsigned char>(ch)) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool valid_utf8(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    auto cont = [&](std::size_t k) { return k < n && (p[k] & 0xC0u) == 0x80u; };
    while (i < n) {
        const unsigned c = p[i];
        if (c < 0x80u) {
            ++i;
        } else if (c >= 0xC2u && c <= 0xDFu) {
            if (!cont(i + 1)) return false;
            i += 2;
        } else if (c >= 0xE0u && c <= 0xEFu) {
            if (!cont(i + 1) || !cont(i + 2)) return false;
            const unsigned c1 = p[i + 1];
            if (c == 0xE0u && c1 < 0xA0u) return false;   // overlong
            if (c == 0xEDu && c1 >= 0xA0u) return false;  // surrogates
            i += 3;
        } else if (c >= 0xF0u && c <= 0xF4u) {
            if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return false;
            const unsigned c1 = p[i + 1];
            if (c == 0xF0u && c1 < 0x90u) return false;   // overlong
            if (c == 0xF4u && c1 >= 0x90u) return false;  // past U+10FFFF
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

std::expected<std::string_view, Error> Reader::get_text(const char* field) {
    const auto n = get<std::uint32_t>(field);
    if (!n) return std::unexpected(n.error());
    if (*n > left()) return too_long(*n, 1, field);
    const std::string_view s = bytes_.substr(pos_, *n);
    pos_ += *n;
    return s;
}

std::expected<std::uint64_t, Error> Reader::get_count(const char* field, std::size_t min_item) {
    const auto n = get<std::uint64_t>(field);
    if (!n) return n;
    if (*n > left() / min_item) return too_long(*n, min_item, field);
    return n;
}

std::expected<void, Error> Reader::finish() const {
    if (left() == 0) return {};
    return fail(what_ + ": " + std::to_string(left()) + " unexpected bytes after the last field (offset " +
                std::to_string(pos_) + ")");
}

std::unexpected<Error> Reader::invalid(std::string_view field, std::string_view why) const {
    return fail(what_ + ": " + std::string(field) + " " + std::string(why));
}

std::expected<void, Error> Reader::need(std::size_t n, const char* field) const {
    if (n <= left()) return {};
    return fail(what_ + ": truncated at " + field + " (offset " + std::to_string(pos_) + ": needs " +
                std::to_string(n) + " bytes, " + std::to_string(left()) + " left)");
}

std::unexpected<Error> Reader::too_long(std::uint64_t n, std::size_t item, const char* field) const {
    return fail(what_ + ": " + field + " declares " + std::to_string(n) + " items of at least " +
                std::to_string(item) + " bytes, more than the " + std::to_string(left()) +
                " bytes left (offset " + std::to_string(pos_) + ")");
}

}  // namespace quorvant::state
