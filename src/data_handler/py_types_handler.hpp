// Reading NumPy arrays of any element type: the element category, the
// generic reading of elements through the Python protocols, the
// model-performance conversion, and the checks that let a buffer be read in
// place with the same results.
//
// A 1-D native-order numeric, bool or '<U' ndarray (the array itself, not a
// subclass) is read from its buffer (data_handler/py_labeling.hpp); the
// generic readers here iterate everything else with the protocols, which
// define the results and errors the buffer reads match. Readers return
// nullopt with the error set.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/numpy.hpp"

namespace quorvant::data_handler {

enum class ElementCategory : std::uint8_t { Float, Integer, Text, Bool };

ElementCategory determine_type(PyArrayObject* array);

// The float protocol per element (any category: bool reads as 0.0 / 1.0).
std::optional<std::vector<double>> read_f64(PyArrayObject* array);
// The integer protocol per element (uint64 beyond the signed range raises
// the interpreter's OverflowError).
std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array);
// Python bool and NumPy bool scalars only.
std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array);
// Python str elements only, as UTF-8. With `arg`, an element NumPy cannot
// make is that argument's ValueError.
std::optional<std::vector<std::string>> read_strings(PyArrayObject* array, const char* arg = nullptr);

// The model-performance conversion: length first (a 0-D array raises
// TypeError), Float and Integer elements through the float protocol
// narrowed to f32 (from the buffer of an exact 1-D native array);
// Text and Bool raise ModelPerformanceError UnSupportedType.
std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category);

// TypeError "Data passed in is of hetergeneous types"; returns nullptr.
PyObject* generate_type_err();

// True when every byte is 0 or 1 (a bool buffer needs no normalising).
bool all_zero_or_one(const std::uint8_t* p, std::size_t n);

// True when every code point of a '<U' buffer makes a str that UTF-8 can
// encode (no surrogate, nothing past U+10FFFF); otherwise the generic path
// raises the error the protocol gives.
bool valid_ucs4(const char* data, npy_intp stride, std::size_t n, std::size_t width);

// True when every slot of an object array's buffer holds a str that UTF-8
// can encode; encoding caches the UTF-8 of each non-ASCII str, as the str
// protocol would, so utf8_of cannot fail on them afterwards.
bool valid_objects(const char* data, npy_intp stride, std::size_t n);

// The str at data + i * stride of such a buffer, and its UTF-8.
inline PyObject* object_at(const char* data, npy_intp stride, std::size_t i) {
    PyObject* o;
    std::memcpy(&o, data + static_cast<npy_intp>(i) * stride, sizeof o);
    return o;
}
inline std::string_view utf8_of(PyObject* s) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return {static_cast<const char*>(PyUnicode_DATA(s)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(s))};
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(s, &size);  // cached by valid_objects
    return {text, static_cast<std::size_t>(size)};
}

}  // namespace quorvant::data_handler
