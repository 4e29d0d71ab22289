#include "data_handler/py_types_handler.hpp"

#include <cstring>
#include <utility>

#include "common/kernel.hpp"
#include "common/utf8_text.hpp"
#include "errors/errors.hpp"
#include "frame/raise.hpp"
#include "frame/refs.hpp"

namespace quorvant::data_handler {

using frame::Owned;

namespace {

bool equivalent(PyArrayObject* array, int typenum) {
    PyArray_Descr* native = PyArray_DescrFromType(typenum);  // new reference
    const bool same = PyArray_EquivTypes(PyArray_DESCR(array), native);
    Py_DECREF(native);
    return same;
}

// Product of the dimensions (1 for a 0-D array).
std::size_t element_count(PyArrayObject* array) {
    return static_cast<std::size_t>(PyArray_SIZE(array));
}

// The generic path: the Python iteration protocol, one conversion per item.
// With `arg`, an element NumPy cannot make is that argument's ValueError.
template <class T, class Convert>
std::optional<std::vector<T>> read_generic(PyArrayObject* array, std::size_t reserve, Convert convert,
                                           const char* arg = nullptr) {
    std::vector<T> out;
    out.reserve(reserve);
    Owned iter = Owned::steal(PyObject_GetIter(reinterpret_cast<PyObject*>(array)));
    if (!iter) return std::nullopt;
    while (true) {
        Owned item = Owned::steal(PyIter_Next(iter.get()));
        if (!item) {
            if (!PyErr_Occurred()) break;
            if (arg != nullptr) frame::name_invalid_code_point(reinterpret_cast<PyObject*>(array), arg);
            return std::nullopt;
        }
        std::optional<T> v = convert(item.get());
        if (!v) return std::nullopt;
        out.push_back(std::move(*v));
    }
    return out;
}

std::optional<double> float_protocol(PyObject* item) {
    const double v = PyFloat_AsDouble(item);
    if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
    return v;
}

std::optional<std::int64_t> integer_protocol(PyObject* item) {
    const long long v = PyLong_AsLongLong(item);
    if (v == -1 && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

std::optional<std::uint8_t> bool_protocol(PyObject* item) {
    if (PyBool_Check(item)) return static_cast<std::uint8_t>(item == Py_True);
    if (PyArray_IsScalar(item, Bool)) return static_cast<std::uint8_t>(PyArrayScalar_VAL(item, Bool) != 0);
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bool'", Py_TYPE(item)->tp_name);
    return std::nullopt;
}

std::optional<std::string> str_protocol(PyObject* item) {
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(item)->tp_name);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item, &size);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(size));
}

std::uint32_t load_u32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A str made from a '<U' element fails for a surrogate (when encoded) or a
// value past U+10FFFF (when created).
using common::unencodable_code_point;

}  // namespace

ElementCategory determine_type(PyArrayObject* array) {
    if (equivalent(array, NPY_FLOAT64) || equivalent(array, NPY_FLOAT32)) return ElementCategory::Float;
    static constexpr int kIntegers[] = {NPY_INT8,  NPY_INT16,  NPY_INT32,  NPY_INT64,
                                        NPY_UINT8, NPY_UINT16, NPY_UINT32, NPY_UINT64};
    for (int t : kIntegers) {
        if (equivalent(array, t)) return ElementCategory::Integer;
    }
    if (equivalent(array, NPY_BOOL)) return ElementCategory::Bool;
    return ElementCategory::Text;
}

std::optional<std::vector<double>> read_f64(PyArrayObject* array) {
    return read_generic<double>(array, element_count(array), float_protocol);
}

std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array) {
    return read_generic<std::int64_t>(array, element_count(array), integer_protocol);
}

std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array) {
    return read_generic<std::uint8_t>(array, element_count(array), bool_protocol);
}

std::optional<std::vector<std::string>> read_strings(PyArrayObject* array, const char* arg) {
    // Arrays that cannot hold str elements fail on their first element:
    // reserve room only where strings are expected.
    const int type = PyArray_DESCR(array)->type_num;
    const bool textual = type == NPY_UNICODE || type == NPY_OBJECT;
    return read_generic<std::string>(array, textual ? element_count(array) : 0, str_protocol, arg);
}

std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category) {
    const Py_ssize_t length = PyObject_Length(reinterpret_cast<PyObject*>(array));
    if (length < 0) return std::nullopt;
    if (category == ElementCategory::Text || category == ElementCategory::Bool) {
        frame::raise(errors::kUnsupportedType);
        return std::nullopt;
    }
    std::optional<std::vector<float>> out;
    // The buffer of the array itself; a subclass goes through the protocol.
    const bool fast = PyArray_CheckExact(reinterpret_cast<PyObject*>(array)) &&
                      frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
                          std::vector<float> v(static_cast<std::size_t>(s.size));
                          if (s.contiguous()) {
                              const T* p = reinterpret_cast<const T*>(s.data);
                              if (reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0) {
                                  for (npy_intp i = 0; i < s.size; ++i) {
                                      v[static_cast<std::size_t>(i)] = static_cast<float>(static_cast<double>(p[i]));
                                  }
                                  out = std::move(v);
                                  return;
                              }
                          }
                          for (npy_intp i = 0; i < s.size; ++i) {
                              v[static_cast<std::size_t>(i)] = static_cast<float>(static_cast<double>(s[i]));
                          }
                          out = std::move(v);
                      });
    if (fast) return out;
    return read_generic<float>(array, static_cast<std::size_t>(length), [](PyObject* item) -> std::optional<float> {
        const auto v = float_protocol(item);
        if (!v) return std::nullopt;
        return static_cast<float>(*v);
    });
}

PyObject* generate_type_err() {
    PyErr_SetString(PyExc_TypeError, "Data passed in is of hetergeneous types");
    return nullptr;
}

QUORVANT_KERNEL bool all_zero_or_one(const std::uint8_t* p, std::size_t n) {
    constexpr std::size_t kBlock = 64;
    std::uint8_t high = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) high |= p[i + j];
    }
    for (; i < n; ++i) high |= p[i];
    return (high & 0xFE) == 0;
}

QUORVANT_KERNEL bool valid_ucs4(const char* data, npy_intp stride, std::size_t n, std::size_t width) {
    constexpr std::size_t kBlock = 64;
    std::uint32_t bad = 0;
    if (static_cast<std::size_t>(stride) == 4 * width) {
        const std::size_t total = n * width;
        std::size_t i = 0;
        for (; i + kBlock <= total; i += kBlock) {
            for (std::size_t j = 0; j < kBlock; ++j) bad |= unencodable_code_point(load_u32(data + 4 * (i + j)));
        }
        for (; i < total; ++i) bad |= unencodable_code_point(load_u32(data + 4 * i));
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const char* e = data + static_cast<npy_intp>(i) * stride;
            for (std::size_t j = 0; j < width; ++j) bad |= unencodable_code_point(load_u32(e + 4 * j));
        }
    }
    return bad == 0;
}

bool valid_objects(const char* data, npy_intp stride, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = object_at(data, stride, i);
        if (item == nullptr || !PyUnicode_Check(item)) return false;
        if (PyUnicode_IS_COMPACT_ASCII(item)) continue;
        if (PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) {
            PyErr_Clear();
            return false;
        }
    }
    return true;
}

}  // namespace quorvant::data_handler
