#include "frame/metric_dict.hpp"

#include "frame/convert.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame::detail {

DictItems::DictItems(PyObject* dict, Py_ssize_t pos) {
    // Sized first, so no allocation happens between the reference counts.
    items_.reserve(2 * static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        items_.push_back(Py_NewRef(key));
        items_.push_back(Py_NewRef(value));
    }
}

DictItems::~DictItems() {
    for (PyObject* p : items_) Py_DECREF(p);
}

bool key_type_error(PyObject* key, const char* arg) {
    PyErr_Format(PyExc_TypeError, "argument '%s': keys must be str, not %s", arg, Py_TYPE(key)->tp_name);
    return false;
}

bool value_f32(PyObject* value, const char* arg, float& out) {
    const double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "argument '%s': values must be real numbers, not %s", arg,
                         value == Py_None ? "None" : Py_TYPE(value)->tp_name);
        }
        return false;
    }
    out = static_cast<float>(v);
    return true;
}

std::optional<std::string> key_text(PyObject* key) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(key, &size)) {
        return std::string(text, static_cast<std::size_t>(size));
    }
    // Lone surrogates cannot be encoded; show them escaped instead.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
    PyErr_Clear();
    Owned bytes = Owned::steal(PyUnicode_AsEncodedString(key, "utf-8", "backslashreplace"));
    if (!bytes) return std::nullopt;
    return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

std::optional<std::string_view> ascii_text(PyObject* str) {
    if (!PyUnicode_IS_ASCII(str)) return std::nullopt;
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
}

}  // namespace quorvant::frame::detail
