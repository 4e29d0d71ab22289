#include "drift/python_impl/py_inputs.hpp"

#include <cstring>

#include "frame/convert.hpp"
#include "frame/raise.hpp"

namespace quorvant::drift::python_impl {

std::optional<PyArrayObject*> float64_array(PyObject* obj, const char* arg) {
    const auto array = frame::as_array(obj, arg);
    if (!array) return std::nullopt;
    PyArrayObject* a = *array;
    if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(a)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': must be a one-dimensional float64 array, not %d-dimensional %S",
                     arg, PyArray_NDIM(a), reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
        return std::nullopt;
    }
    return a;
}

std::optional<F64Values> F64Values::of(PyArrayObject* array) {
    if (!PyArray_IS_C_CONTIGUOUS(array)) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
        return std::nullopt;
    }
    F64Values v;
    const auto n = static_cast<std::size_t>(PyArray_DIM(array, 0));
    const char* data = PyArray_BYTES(array);
    if (n == 0) return v;
    if (PyArray_ISALIGNED(array)) {
        v.span_ = {reinterpret_cast<const double*>(data), n};
    } else {
        v.copy_.resize(n);
        std::memcpy(v.copy_.data(), data, n * sizeof(double));
        v.span_ = v.copy_;
    }
    return v;
}

std::optional<LabelSeq> LabelSeq::of(PyObject* obj, const char* arg) {
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) || !PySequence_Check(obj)) {
        frame::argument_type_error(arg, "a sequence of str", obj);
        return std::nullopt;
    }
    LabelSeq s;
    s.arg_ = arg;
    // An exact list or tuple is read in place; anything else becomes a
    // private tuple.
    s.seq_ = PyList_CheckExact(obj) || PyTuple_CheckExact(obj) ? frame::Owned::new_ref(obj)
                                                                : frame::item_tuple(obj, arg, "a sequence of str");
    if (!s.seq_) return std::nullopt;
    if (!s.refresh()) return std::nullopt;
    return s;
}

bool LabelSeq::refresh() {
    PyObject* seq = seq_.get();
    items_ = PySequence_Fast_ITEMS(seq);
    size_ = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq));
    for (std::size_t i = 0; i < size_; ++i) {
        PyObject* item = items_[i];
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "argument '%s': items must be str, not %s", arg_, Py_TYPE(item)->tp_name);
            return false;
        }
        // Encodes (and caches) non-ASCII text now, so reading it later
        // cannot fail; lone surrogates are refused here.
        if (!PyUnicode_IS_ASCII(item) && PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) return false;
    }
    return true;
}

std::optional<std::string_view> label_of(PyObject* obj, const char* arg) {
    if (!PyUnicode_Check(obj)) {
        frame::argument_type_error(arg, "str", obj);
        return std::nullopt;
    }
    if (!PyUnicode_IS_ASCII(obj) && PyUnicode_AsUTF8AndSize(obj, nullptr) == nullptr) return std::nullopt;
    return LabelSeq::view_of(obj);
}

std::optional<DriftNames> drift_names(PyObject* obj, const char* arg) {
    const bool ran_code = !(PyList_CheckExact(obj) || PyTuple_CheckExact(obj));
    auto names = frame::to_string_list(obj, arg);
    if (!names) return std::nullopt;
    return DriftNames{std::move(*names), ran_code};
}

std::optional<std::vector<DriftType>> drift_types(const std::vector<std::string>& names) {
    auto types = drift_types_from(names);
    if (!types) {
        frame::raise(types.error());
        return std::nullopt;
    }
    return std::move(*types);
}

std::optional<DriftType> drift_type(const std::string& name) {
    const auto t = drift_type_from(name);
    if (!t) {
        frame::raise(t.error());
        return std::nullopt;
    }
    return *t;
}

std::optional<std::optional<std::string>> quantile_name(PyObject* obj, const char* arg) {
    return frame::to_optional_string(obj, arg);
}

std::optional<std::optional<QuantileType>> quantile_type(const std::optional<std::string>& name) {
    const auto q = coerce_quantile_type(name ? std::optional<std::string_view>(*name) : std::nullopt);
    if (!q) {
        frame::raise(q.error());
        return std::nullopt;
    }
    return *q;
}

}  // namespace quorvant::drift::python_impl
