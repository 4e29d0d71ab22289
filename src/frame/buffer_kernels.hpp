// Element conversions of one-dimensional numeric buffers (any stride), in a
// translation unit built for vectorisation. Each gives exactly what the
// interpreter's protocol gives for the element.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvant::frame {

// The float protocol narrowed to f32: floats and bools exactly, integers
// through the nearest f64. T: double, float, any 8- to 64-bit integer, bool.
template <class T>
void narrow_to_f32(const char* data, std::ptrdiff_t stride, std::size_t n, float* out);

// The integer protocol into int32; false when some value is out of range
// (`out` then holds unspecified values). T: any 8- to 64-bit integer.
template <class T>
bool narrow_to_i32(const char* data, std::ptrdiff_t stride, std::size_t n, std::int32_t* out);

// True when every value is in the signed 32-bit range. T: any 8- to 64-bit
// integer.
template <class T>
bool all_in_i32(const char* data, std::ptrdiff_t stride, std::size_t n);

}  // namespace quorvant::frame
