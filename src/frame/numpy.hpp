// NumPy's C API for the binding frame. The API table is imported lazily, on
// first use, in numpy.cpp only; every other translation unit sees it through
// PY_ARRAY_UNIQUE_SYMBOL.
#pragma once

#include "frame/python.hpp"

#ifndef QUORVANT_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

#include <cstdint>
#include <optional>

#include "common/column.hpp"

namespace quorvant::frame {

// Imports NumPy's C API once per interpreter. False with ImportError set
// when NumPy is missing (or refuses to load again in this process).
bool numpy_ready();

// Forgets the API table when the interpreter finalises (its objects are
// gone), so the next interpreter imports NumPy again. No Python API is
// called.
void forget_numpy() noexcept;

// The argument as an ndarray (borrowed), or nullopt with the argument's
// TypeError set ("argument 'x': must be numpy.ndarray, not list").
std::optional<PyArrayObject*> as_array(PyObject* obj, const char* arg);

// After reading the items of `obj` failed: NumPy cannot make the str of a
// str-array element holding a code point past U+10FFFF and says so with a
// SystemError. When `obj` is a 1-D str array holding such an element, the
// error becomes the argument's ValueError ("argument 'x': item i holds code
// point 0x110000, not in range(0x110000)"); any other error is left as it
// is.
void name_invalid_code_point(PyObject* obj, const char* arg);

// After converting an item of `obj` failed: when `obj` is a 1-D str array
// holding an element NumPy cannot make, that element's ValueError replaces
// the error (making every item first would have met it before).
void invalid_code_point_wins(PyObject* obj, const char* arg);

using common::load;

// A one-dimensional, native-order numeric buffer, any stride.
template <class T>
struct Strided {
    const char* data;
    npy_intp stride;
    npy_intp size;
    T operator[](npy_intp i) const { return load<T>(data + i * stride); }
    bool contiguous() const { return stride == static_cast<npy_intp>(sizeof(T)); }
};

// Calls f(Strided<T>) with the array's C element type for every 1-D array
// of a native-order bool, integer or float32/float64 dtype and returns true;
// returns false (f not called) for every other array, which then takes the
// generic iteration path. Bool elements are passed as bool.
template <class F>
bool visit_numeric(PyArrayObject* a, F&& f) {
    if (PyArray_NDIM(a) != 1 || !PyArray_ISNOTSWAPPED(a)) return false;
    PyArray_Descr* d = PyArray_DESCR(a);
    const char* data = PyArray_BYTES(a);
    const npy_intp stride = PyArray_STRIDE(a, 0);
    const npy_intp n = PyArray_DIM(a, 0);
    const npy_intp size = PyArray_ITEMSIZE(a);
    auto go = [&]<class T>() {
        f(Strided<T>{data, stride, n});
        return true;
    };
    switch (d->kind) {
        case 'f':
            if (size == 8) return go.template operator()<double>();
            if (size == 4) return go.template operator()<float>();
            return false;
        case 'i':
            if (size == 8) return go.template operator()<std::int64_t>();
            if (size == 4) return go.template operator()<std::int32_t>();
            if (size == 2) return go.template operator()<std::int16_t>();
            if (size == 1) return go.template operator()<std::int8_t>();
            return false;
        case 'u':
            if (size == 8) return go.template operator()<std::uint64_t>();
            if (size == 4) return go.template operator()<std::uint32_t>();
            if (size == 2) return go.template operator()<std::uint16_t>();
            if (size == 1) return go.template operator()<std::uint8_t>();
            return false;
        case 'b':
            if (size == 1) return go.template operator()<bool>();
            return false;
        default:
            return false;
    }
}

}  // namespace quorvant::frame
