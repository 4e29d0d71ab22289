// Text of fixed-width UCS-4 elements (NumPy '<U' and '>U' buffers) as UTF-8,
// owned: the UTF-8 of each element is in one byte buffer. Each element
// reads as NumPy's item-to-str conversion makes it (trailing NUL code points
// dropped, embedded ones kept), encoded as the interpreter encodes a str.
// Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvant::common {

// A code point a str cannot hold (past U+10FFFF) or UTF-8 cannot encode (a
// surrogate): 1, else 0.
inline std::uint32_t unencodable_code_point(std::uint32_t c) {
    return static_cast<std::uint32_t>(c - 0xD800u < 0x800u) | static_cast<std::uint32_t>(c > 0x10FFFFu);
}

class Utf8Text {
public:
    std::size_t size() const noexcept { return spans_.size(); }
    // Elements that repeat the same code units share their bytes (the same
    // view), as repeated str objects would: counting them can remember a
    // label by its address.
    std::string_view operator[](std::size_t i) const noexcept {
        return {data_.get() + spans_[i].offset, spans_[i].size};
    }

    // The n elements of `width` code units at data + i * stride (any
    // stride, any alignment; `swapped`: stored in the other byte order), or
    // nullopt when one holds a code point unencodable_code_point refuses
    // (the caller then takes the path that raises the interpreter's error).
    static std::optional<Utf8Text> from_ucs4(const char* data, std::ptrdiff_t stride, std::size_t n,
                                             std::size_t width, bool swapped);

private:
    struct Span {
        std::size_t offset;
        std::size_t size;
    };
    template <bool Swapped>
    bool convert(const char* data, std::ptrdiff_t stride, std::size_t n, std::size_t width);

    std::unique_ptr<char[]> data_;
    std::vector<Span> spans_;
};

}  // namespace quorvant::common
