#include "frame/convert.hpp"

#include "frame/items.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

void argument_type_error(const char* arg, const char* expected, PyObject* got) {
    const char* type_name = got == Py_None ? "None" : Py_TYPE(got)->tp_name;
    PyErr_Format(PyExc_TypeError, "argument '%s': must be %s, not %s", arg, expected, type_name);
}

namespace {

// Rewrites a TypeError raised by a protocol into the argument's message;
// other errors (OverflowError, errors raised by user code) pass unchanged.
void retype_error(const char* arg, const char* expected, PyObject* obj) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        argument_type_error(arg, expected, obj);
    }
}

}  // namespace

std::optional<double> to_f64(PyObject* obj, const char* arg) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) {
        retype_error(arg, "real number", obj);
        return std::nullopt;
    }
    return v;
}

std::optional<float> to_f32(PyObject* obj, const char* arg) {
    const auto v = to_f64(obj, arg);
    if (!v) return std::nullopt;
    return static_cast<float>(*v);
}

std::optional<std::uint64_t> to_u64(PyObject* obj, const char* arg) {
    if (!PyLong_Check(obj) && !PyIndex_Check(obj)) {
        argument_type_error(arg, "int", obj);
        return std::nullopt;
    }
    Owned as_int = Owned::steal(PyNumber_Index(obj));
    if (!as_int) {
        retype_error(arg, "int", obj);
        return std::nullopt;
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(as_int.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::optional<std::string_view> utf8_view(PyObject* str) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(str, &size);
    if (text == nullptr) return std::nullopt;
    return std::string_view(text, static_cast<std::size_t>(size));
}

std::optional<std::string> to_string(PyObject* obj, const char* arg) {
    if (!PyUnicode_Check(obj)) {
        argument_type_error(arg, "str", obj);
        return std::nullopt;
    }
    const auto view = utf8_view(obj);
    if (!view) return std::nullopt;
    return std::string(*view);
}

std::optional<std::optional<double>> to_optional_f64(PyObject* obj, const char* arg) {
    if (obj == Py_None) return std::optional<double>{};
    const auto v = to_f64(obj, arg);
    if (!v) return std::nullopt;
    return std::optional<double>{*v};
}

std::optional<std::optional<std::string>> to_optional_string(PyObject* obj, const char* arg) {
    if (obj == Py_None) return std::optional<std::string>{};
    auto v = to_string(obj, arg);
    if (!v) return std::nullopt;
    return std::optional<std::string>{std::move(*v)};
}

std::optional<std::vector<std::string>> to_string_list(PyObject* obj, const char* arg) {
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) || !PySequence_Check(obj)) {
        argument_type_error(arg, "a sequence of str", obj);
        return std::nullopt;
    }
    const auto items = Items::of(obj, arg, "a sequence of str");
    if (!items) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(items->size()));
    const bool read = items->each(0, [&](Py_ssize_t, PyObject* item) {
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "argument '%s': items must be str, not %s", arg, Py_TYPE(item)->tp_name);
            return false;
        }
        const auto view = utf8_view(item);
        if (!view) return false;
        out.emplace_back(*view);
        return true;
    });
    if (!read) return std::nullopt;
    return out;
}

PyObject* to_py(const std::vector<double>& v) {
    Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(v.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyObject* f = PyFloat_FromDouble(v[i]);
        if (f == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), f);
    }
    return list.release();
}

}  // namespace quorvant::frame
