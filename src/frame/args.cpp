#include "frame/args.hpp"

#include <string_view>

#include "frame/refs.hpp"

namespace quorvant::frame {

namespace {

std::size_t required_count(std::span<const Param> params) {
    std::size_t n = 0;
    for (const Param& p : params) n += p.optional ? 0 : 1;
    return n;
}

bool too_many(const char* function, std::span<const Param> params, Py_ssize_t given) {
    const std::size_t required = required_count(params);
    if (required == params.size()) {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd positional argument%s (%zd given)", function,
                     static_cast<Py_ssize_t>(params.size()), params.size() == 1 ? "" : "s", given);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd positional argument%s (%zd given)", function,
                     static_cast<Py_ssize_t>(params.size()), params.size() == 1 ? "" : "s", given);
    }
    return false;
}

// Index of the parameter that `key` names, or -1. Interned pointers match
// first (keywords written in source code are interned); otherwise the text
// is compared.
Py_ssize_t find_param(std::span<const Param> params, PyObject* key) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (key == interned(params[i].name, params[i].interned)) return static_cast<Py_ssize_t>(i);
    }
    if (!PyUnicode_Check(key)) return -1;
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
        PyErr_Clear();
        return -1;
    }
    const std::string_view k(text, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].name == k) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

bool place_keyword(const char* function, std::span<const Param> params, PyObject* key, PyObject* value,
                   Py_ssize_t npos, std::span<PyObject*> out) {
    const Py_ssize_t i = find_param(params, key);
    if (i < 0) {
        if (PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", function);
        }
        return false;
    }
    if (i < npos || out[static_cast<std::size_t>(i)] != nullptr) {
        PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%U') and position (%zd)", function, key,
                     i + 1);
        return false;
    }
    out[static_cast<std::size_t>(i)] = value;
    return true;
}

bool check_missing(const char* function, std::span<const Param> params, std::span<PyObject*> out) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (out[i] == nullptr && !params[i].optional) {
            Owned name = Owned::steal(interned_or_new(params[i].name, params[i].interned));
            if (!name) return false;
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%U' (pos %zd)", function, name.get(),
                         static_cast<Py_ssize_t>(i + 1));
            return false;
        }
    }
    return true;
}

}  // namespace

bool extract_fast(const char* function, std::span<const Param> params, PyObject* const* args, Py_ssize_t nargsf,
                  PyObject* kwnames, std::span<PyObject*> out) {
    const Py_ssize_t npos = PyVectorcall_NARGS(nargsf);
    for (PyObject*& slot : out) slot = nullptr;
    if (npos > static_cast<Py_ssize_t>(params.size())) return too_many(function, params, npos);
    for (Py_ssize_t i = 0; i < npos; ++i) out[static_cast<std::size_t>(i)] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!place_keyword(function, params, PyTuple_GET_ITEM(kwnames, k), args[npos + k], npos, out)) {
                return false;
            }
        }
    }
    return check_missing(function, params, out);
}

bool extract_tuple(const char* function, std::span<const Param> params, PyObject* args, PyObject* kwargs,
                   std::span<PyObject*> out) {
    const Py_ssize_t npos = PyTuple_GET_SIZE(args);
    for (PyObject*& slot : out) slot = nullptr;
    if (npos > static_cast<Py_ssize_t>(params.size())) return too_many(function, params, npos);
    for (Py_ssize_t i = 0; i < npos; ++i) out[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(function, params, key, value, npos, out)) return false;
        }
    }
    return check_missing(function, params, out);
}

bool extract_none(const char* function, Py_ssize_t nargsf, PyObject* kwnames) {
    const Py_ssize_t npos = PyVectorcall_NARGS(nargsf);
    if (npos > 0) {
        PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", function, npos);
        return false;
    }
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                     PyTuple_GET_ITEM(kwnames, 0));
        return false;
    }
    return true;
}

}  // namespace quorvant::frame
