#include "frame/buffer_kernels.hpp"

#include <type_traits>
#include <utility>

#include "common/column.hpp"

namespace quorvant::frame {

using common::load;

template <class T>
void narrow_to_f32(const char* data, std::ptrdiff_t stride, std::size_t n, float* out) {
    // A separate contiguous loop lets the compiler vectorise it.
    if (stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(static_cast<double>(load<T>(data + i * sizeof(T))));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<float>(static_cast<double>(load<T>(data + static_cast<std::ptrdiff_t>(i) * stride)));
    }
}

template <class T>
bool narrow_to_i32(const char* data, std::ptrdiff_t stride, std::size_t n, std::int32_t* out) {
    bool in_range = true;
    if (stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (std::size_t i = 0; i < n; ++i) {
            const T v = load<T>(data + i * sizeof(T));
            in_range &= std::in_range<std::int32_t>(v);
            out[i] = static_cast<std::int32_t>(v);
        }
        return in_range;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const T v = load<T>(data + static_cast<std::ptrdiff_t>(i) * stride);
        in_range &= std::in_range<std::int32_t>(v);
        out[i] = static_cast<std::int32_t>(v);
    }
    return in_range;
}

// Bits that are zero exactly for values in the signed 32-bit range: an OR
// reduction of them vectorises with plain 64-bit integer operations.
template <class T>
inline std::uint64_t out_of_i32(T v) {
    if constexpr (std::is_signed_v<T>) {
        return (static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) + 0x80000000u) >> 32;
    } else {
        return static_cast<std::uint64_t>(v) >> 31;
    }
}

template <class T>
bool all_in_i32(const char* data, std::ptrdiff_t stride, std::size_t n) {
    if constexpr (sizeof(T) < 4 || std::is_same_v<T, std::int32_t>) {
        return true;
    } else {
        std::uint64_t out = 0;
        if (stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
            for (std::size_t i = 0; i < n; ++i) out |= out_of_i32(load<T>(data + i * sizeof(T)));
        } else {
            for (std::size_t i = 0; i < n; ++i) out |= out_of_i32(load<T>(data + static_cast<std::ptrdiff_t>(i) * stride));
        }
        return out == 0;
    }
}

#define QUORVANT_INTEGER_TYPES(X) \
    X(std::int8_t) X(std::int16_t) X(std::int32_t) X(std::int64_t) X(std::uint8_t) X(std::uint16_t) X(std::uint32_t) X(std::uint64_t)
#define QUORVANT_F32(T) template void narrow_to_f32<T>(const char*, std::ptrdiff_t, std::size_t, float*);
#define QUORVANT_I32(T)                                                                          \
    template bool narrow_to_i32<T>(const char*, std::ptrdiff_t, std::size_t, std::int32_t*); \
    template bool all_in_i32<T>(const char*, std::ptrdiff_t, std::size_t);
QUORVANT_INTEGER_TYPES(QUORVANT_F32)
QUORVANT_F32(double)
QUORVANT_F32(float)
QUORVANT_F32(bool)
QUORVANT_INTEGER_TYPES(QUORVANT_I32)
#undef QUORVANT_I32
#undef QUORVANT_F32
#undef QUORVANT_INTEGER_TYPES

}  // namespace quorvant::frame
