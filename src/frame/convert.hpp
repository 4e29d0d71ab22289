// Argument conversions. Each returns the converted value, or nullopt with a
// Python exception set whose text names the argument (TypeError for a wrong
// type, OverflowError for an integer out of range).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/python.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

// "argument 'x': must be <expected>, not <type>"
void argument_type_error(const char* arg, const char* expected, PyObject* got);

// The float protocol; an int too large for a double keeps its OverflowError.
std::optional<double> to_f64(PyObject* obj, const char* arg);
// The float protocol, then narrowed to the nearest f32.
std::optional<float> to_f32(PyObject* obj, const char* arg);
// The integer protocol (no floats); out of range is OverflowError.
std::optional<std::uint64_t> to_u64(PyObject* obj, const char* arg);
std::optional<std::string> to_string(PyObject* obj, const char* arg);
// None gives an empty optional inside the result.
std::optional<std::optional<double>> to_optional_f64(PyObject* obj, const char* arg);
std::optional<std::optional<std::string>> to_optional_string(PyObject* obj, const char* arg);

// A sequence (list, tuple, ...) of str; a single str or bytes is refused.
std::optional<std::vector<std::string>> to_string_list(PyObject* obj, const char* arg);

// UTF-8 view of a str; nullopt (exception set) when it cannot be encoded.
std::optional<std::string_view> utf8_view(PyObject* str);

// Results.
inline PyObject* to_py(float v) { return PyFloat_FromDouble(static_cast<double>(v)); }
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
PyObject* to_py(const std::vector<double>& v);

}  // namespace quorvant::frame
