// Sequences of numbers as vectors: lists, tuples, NumPy arrays and any other
// sequence (a str is refused). Exact floats and ints in lists and tuples,
// and 1-D native numeric NumPy arrays, are read directly without creating a
// Python object per element; everything else goes through the interpreter's
// protocols on a private copy of the items, which define the results and
// the errors (the direct paths give the same). Conversions return nullopt
// with an exception set that names the argument.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "frame/python.hpp"

namespace quorvant::frame {

// Items through the float protocol, narrowed to the nearest f32.
std::optional<std::vector<float>> to_f32_sequence(PyObject* obj, const char* arg);

// Items through the integer protocol (floats are refused), each in the
// signed 32-bit range (OverflowError otherwise).
std::optional<std::vector<std::int32_t>> to_i32_sequence(PyObject* obj, const char* arg);

// One value through the integer protocol, in the signed 32-bit range.
std::optional<std::int32_t> to_i32(PyObject* obj, const char* arg);

}  // namespace quorvant::frame
