#include "data_handler/py_types_handler.hpp"

#include <bit>
#include <unordered_set>

#include "config/config.hpp"
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
template <class T, class Convert>
std::optional<std::vector<T>> read_generic(PyArrayObject* array, std::size_t reserve, Convert convert) {
    std::vector<T> out;
    out.reserve(reserve);
    Owned iter = Owned::steal(PyObject_GetIter(reinterpret_cast<PyObject*>(array)));
    if (!iter) return std::nullopt;
    while (true) {
        Owned item = Owned::steal(PyIter_Next(iter.get()));
        if (!item) {
            if (PyErr_Occurred()) return std::nullopt;
            break;
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

// Float protocol values of a buffer element: exact widening of floats and
// bools, nearest double for integers (what their __float__ does).
template <class T>
double as_double(T v) {
    return static_cast<double>(v);
}

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
    std::optional<std::vector<double>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        std::vector<double> v(static_cast<std::size_t>(s.size));
        for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = as_double(s[i]);
        out = std::move(v);
    });
    if (fast) return out;
    return read_generic<double>(array, element_count(array), float_protocol);
}

std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array) {
    std::optional<std::vector<std::int64_t>> out;
    bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            std::vector<std::int64_t> v(static_cast<std::size_t>(s.size));
            std::uint64_t out_of_range = 0;
            for (npy_intp i = 0; i < s.size; ++i) {
                const T x = s[i];
                if constexpr (std::is_same_v<T, std::uint64_t>) out_of_range |= x >> 63;
                v[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(x);
            }
            // The generic path raises the interpreter's own OverflowError.
            if (out_of_range == 0) out = std::move(v);
        }
    });
    if (fast && out) return out;
    return read_generic<std::int64_t>(array, element_count(array), integer_protocol);
}

std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array) {
    std::optional<std::vector<std::uint8_t>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        if constexpr (std::is_same_v<T, bool>) {
            std::vector<std::uint8_t> v(static_cast<std::size_t>(s.size));
            for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = s[i];
            out = std::move(v);
        }
    });
    if (fast && out) return out;
    return read_generic<std::uint8_t>(array, element_count(array), bool_protocol);
}

std::optional<std::vector<std::string>> read_strings(PyArrayObject* array) {
    return read_generic<std::string>(array, element_count(array), str_protocol);
}

std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category) {
    const Py_ssize_t length = PyObject_Length(reinterpret_cast<PyObject*>(array));
    if (length < 0) return std::nullopt;
    if (category == ElementCategory::Text || category == ElementCategory::Bool) {
        frame::raise(errors::kUnsupportedType);
        return std::nullopt;
    }
    std::optional<std::vector<float>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        std::vector<float> v(static_cast<std::size_t>(s.size));
        if (s.contiguous()) {
            const T* p = reinterpret_cast<const T*>(s.data);
            if (reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0) {
                for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = static_cast<float>(as_double(p[i]));
                out = std::move(v);
                return;
            }
        }
        for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = static_cast<float>(as_double(s[i]));
        out = std::move(v);
    });
    if (fast) return out;
    return read_generic<float>(array, static_cast<std::size_t>(length), [](PyObject* item) -> std::optional<float> {
        const auto v = float_protocol(item);
        if (!v) return std::nullopt;
        return static_cast<float>(*v);
    });
}

namespace {

// k distinct of n against the heuristic, in f32 as the rule says.
bool ratio_continuous(std::size_t k, std::size_t n) {
    if (k < 4) return false;
    const float r = static_cast<float>(k) / static_cast<float>(n);
    return r > config::distribution_heuristic();
}

template <class Key, class T, class ToKey>
DistributionKind decide(std::span<const T> values, ToKey to_key) {
    const std::size_t n = values.size();
    std::unordered_set<Key> seen;
    std::size_t k = 0;
    // Once the count of distinct values is above the bound for all n, the
    // answer cannot change: k only grows.
    for (std::size_t i = 0; i < n; ++i) {
        const std::optional<Key> key = to_key(values[i]);
        if (!key || seen.insert(*key).second) {
            ++k;
            if ((k & 1023) == 0 && ratio_continuous(k, n)) return DistributionKind::Continuous;
        }
    }
    return ratio_continuous(k, n) ? DistributionKind::Continuous : DistributionKind::Discrete;
}

}  // namespace

DistributionKind distribution_kind(std::span<const double> values) {
    // Same bit pattern and equal: every NaN is new, 0.0 and -0.0 differ.
    return decide<std::uint64_t>(values, [](double v) -> std::optional<std::uint64_t> {
        if (v != v) return std::nullopt;
        return std::bit_cast<std::uint64_t>(v);
    });
}

DistributionKind distribution_kind(std::span<const std::int64_t> values) {
    return decide<std::int64_t>(values, [](std::int64_t v) -> std::optional<std::int64_t> { return v; });
}

PyObject* generate_type_err() {
    PyErr_SetString(PyExc_TypeError, "Data passed in is of hetergeneous types");
    return nullptr;
}

}  // namespace quorvant::data_handler
