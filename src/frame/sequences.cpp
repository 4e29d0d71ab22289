#include "frame/sequences.hpp"

#include <limits>
#include <type_traits>
#include <utility>

#include "frame/buffer_kernels.hpp"
#include "frame/convert.hpp"
#include "frame/held.hpp"
#include "frame/ints.hpp"
#include "frame/items.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

namespace {

constexpr const char* kReals = "a sequence of real numbers";
constexpr const char* kInts = "a sequence of int";

// Items that run no Python code when read: exact floats and small exact
// ints. False (no exception) for anything else.
inline bool direct_f32(PyObject* item, float& out) {
    if (PyFloat_CheckExact(item)) {
        out = static_cast<float>(PyFloat_AS_DOUBLE(item));
        return true;
    }
    long long v;
    if (!exact_int_value(item, v)) return false;
    out = static_cast<float>(static_cast<double>(v));  // int.__float__, then narrowed
    return true;
}

inline bool fits_i32(long long v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

inline bool direct_i32(PyObject* item, std::int32_t& out) {
    long long v;
    if (!exact_int_value(item, v) || !fits_i32(v)) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

void overflow_i32(const char* arg) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': value out of range for a signed 32-bit integer", arg);
}

// The float protocol; false with the argument's error set.
bool protocol_f32(PyObject* item, const char* arg, float& out) {
    const double v = PyFloat_AsDouble(item);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "argument '%s': items must be real numbers, not %s", arg,
                         item == Py_None ? "None" : Py_TYPE(item)->tp_name);
        }
        return false;
    }
    out = static_cast<float>(v);
    return true;
}

// The integer protocol (int or __index__; floats refused) and the range.
bool integer_protocol(PyObject* item, const char* arg, const char* what, std::int32_t& out) {
    if (!PyLong_Check(item) && !PyIndex_Check(item)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': %s int, not %s", arg, what,
                     item == Py_None ? "None" : Py_TYPE(item)->tp_name);
        return false;
    }
    const long long v = PyLong_AsLongLong(item);
    if (v == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            overflow_i32(arg);
        } else if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "argument '%s': %s int, not %s", arg, what, Py_TYPE(item)->tp_name);
        }
        return false;
    }
    if (!fits_i32(v)) {
        overflow_i32(arg);
        return false;
    }
    out = static_cast<std::int32_t>(v);
    return true;
}

bool protocol_i32(PyObject* item, const char* arg, std::int32_t& out) {
    return integer_protocol(item, arg, "items must be", out);
}

// A 1-D native numeric NumPy array read from its buffer. Returns nullopt
// when the buffer path does not apply or cannot decide (then the generic
// path runs and raises whatever the protocol raises).
std::optional<std::vector<float>> buffer_f32(PyObject* obj) {
    std::optional<std::vector<float>> out;
    visit_numeric(reinterpret_cast<PyArrayObject*>(obj), [&]<class T>(Strided<T> s) {
        std::vector<float> v(static_cast<std::size_t>(s.size));
        narrow_to_f32<T>(s.data, s.stride, v.size(), v.data());
        out = std::move(v);
    });
    return out;
}

std::optional<std::vector<std::int32_t>> buffer_i32(PyObject* obj) {
    std::optional<std::vector<std::int32_t>> out;
    visit_numeric(reinterpret_cast<PyArrayObject*>(obj), [&]<class T>(Strided<T> s) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            std::vector<std::int32_t> v(static_cast<std::size_t>(s.size));
            if (narrow_to_i32<T>(s.data, s.stride, v.size(), v.data())) out = std::move(v);
        }
    });
    return out;
}

template <class T, class Direct, class Protocol, class Buffer>
std::optional<std::vector<T>> read_sequence(PyObject* obj, const char* arg, const char* expected, Direct direct,
                                            Protocol protocol, Buffer buffer) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        argument_type_error(arg, expected, obj);
        return std::nullopt;
    }
    const bool list_or_tuple = PyList_CheckExact(obj) || PyTuple_CheckExact(obj);
    if (!list_or_tuple) {
        if (numpy_ready()) {
            // Only an ndarray itself: a subclass goes through the protocols.
            if (is_exact_array(obj)) {
                auto fast = buffer(obj);
                if (fast) return fast;
            }
        } else {
            PyErr_Clear();  // without NumPy there are no arrays to read
        }
    }

    std::vector<T> out;
    Py_ssize_t start = 0;
    if (list_or_tuple) {
        // Direct items run no code, so the caller's list cannot change
        // while they are read in place.
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
        PyObject** in_place = PySequence_Fast_ITEMS(obj);
        out.resize(static_cast<std::size_t>(n));
        while (start < n && direct(in_place[start], out[static_cast<std::size_t>(start)])) ++start;
        if (start == n) return out;
    }
    // The rest one by one (see frame/items.hpp).
    const auto items = Items::of(obj, arg, expected);
    if (!items) return std::nullopt;
    out.resize(static_cast<std::size_t>(items->size()));
    const bool read = items->each(start, [&](Py_ssize_t i, PyObject* item) {
        T& slot = out[static_cast<std::size_t>(i)];
        return direct(item, slot) || protocol(item, arg, slot);
    });
    if (!read) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::vector<float>> to_f32_sequence(PyObject* obj, const char* arg) {
    // Lambdas, not function pointers: the per-item calls are inlined.
    return read_sequence<float>(
        obj, arg, kReals, [](PyObject* item, float& out) { return direct_f32(item, out); },
        [](PyObject* item, const char* a, float& out) { return protocol_f32(item, a, out); }, buffer_f32);
}

std::optional<std::vector<std::int32_t>> to_i32_sequence(PyObject* obj, const char* arg) {
    return read_sequence<std::int32_t>(
        obj, arg, kInts, [](PyObject* item, std::int32_t& out) { return direct_i32(item, out); },
        [](PyObject* item, const char* a, std::int32_t& out) { return protocol_i32(item, a, out); }, buffer_i32);
}

std::optional<std::int32_t> to_i32(PyObject* obj, const char* arg) {
    std::int32_t v;
    if (direct_i32(obj, v)) return v;
    if (!integer_protocol(obj, arg, "must be", v)) return std::nullopt;
    return v;
}

}  // namespace quorvant::frame
