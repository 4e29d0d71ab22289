// A read-only view of a one-dimensional column of numbers of any native
// element type and any stride, so counting and summing loops can read
// caller buffers in place (and plain f32 / i32 vectors the same way).
// Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace quorvant::common {

// Reads one element at `p` without alignment assumptions. bool elements are
// bytes; any non-zero byte reads as true, as NumPy does.
template <class T>
inline T load(const char* p) {
    if constexpr (std::is_same_v<T, bool>) {
        return *reinterpret_cast<const unsigned char*>(p) != 0;
    } else {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

enum class ElementType : std::uint8_t { F64, F32, I64, I32, I16, I8, U64, U32, U16, U8, Bool };

struct Column {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;  // in bytes; any sign
    std::size_t size = 0;
    ElementType type = ElementType::F32;

    static Column of(std::span<const float> v) {
        return {reinterpret_cast<const char*>(v.data()), sizeof(float), v.size(), ElementType::F32};
    }
    static Column of(std::span<const std::int32_t> v) {
        return {reinterpret_cast<const char*>(v.data()), sizeof(std::int32_t), v.size(), ElementType::I32};
    }
};

// The element type of a column as a C++ type.
template <class T>
struct Typed {
    const char* data;
    std::ptrdiff_t stride;
    std::size_t size;

    T operator[](std::size_t i) const { return load<T>(data + static_cast<std::ptrdiff_t>(i) * stride); }
    bool contiguous() const { return stride == static_cast<std::ptrdiff_t>(sizeof(T)); }
};

template <class F>
decltype(auto) visit(const Column& c, F&& f) {
    auto go = [&]<class T>() -> decltype(auto) { return f(Typed<T>{c.data, c.stride, c.size}); };
    switch (c.type) {
        case ElementType::F64: return go.template operator()<double>();
        case ElementType::F32: return go.template operator()<float>();
        case ElementType::I64: return go.template operator()<std::int64_t>();
        case ElementType::I32: return go.template operator()<std::int32_t>();
        case ElementType::I16: return go.template operator()<std::int16_t>();
        case ElementType::I8: return go.template operator()<std::int8_t>();
        case ElementType::U64: return go.template operator()<std::uint64_t>();
        case ElementType::U32: return go.template operator()<std::uint32_t>();
        case ElementType::U16: return go.template operator()<std::uint16_t>();
        case ElementType::U8: return go.template operator()<std::uint8_t>();
        case ElementType::Bool: return go.template operator()<bool>();
    }
    return go.template operator()<float>();  // unreachable
}

// What the float protocol makes of an element, narrowed to f32: integers go
// through the nearest f64 first, exactly like int.__float__ followed by the
// narrowing.
template <class T>
inline float to_f32(T v) {
    return static_cast<float>(static_cast<double>(v));
}

}  // namespace quorvant::common
