#define QUORVANT_NUMPY_IMPORT
#include "frame/numpy.hpp"

#include <cstdint>
#include <utility>

#include "frame/convert.hpp"
#include "frame/raise.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

bool numpy_ready() { return PyArray_ImportNumPyAPI() == 0; }

void forget_numpy() noexcept { PyArray_API = nullptr; }

namespace {

// The first element of a 1-D str array holding a code point past U+10FFFF,
// with that code point.
std::optional<std::pair<npy_intp, std::uint32_t>> first_invalid_code_point(PyArrayObject* a) {
    if (PyArray_NDIM(a) != 1 || PyArray_DESCR(a)->type_num != NPY_UNICODE) return std::nullopt;
    const bool swapped = !PyArray_ISNOTSWAPPED(a);
    const npy_intp width = PyArray_ITEMSIZE(a) / 4;
    for (npy_intp i = 0; i < PyArray_DIM(a, 0); ++i) {
        const char* element = PyArray_BYTES(a) + i * PyArray_STRIDE(a, 0);
        for (npy_intp j = 0; j < width; ++j) {
            std::uint32_t c = load<std::uint32_t>(element + 4 * j);
            if (swapped) c = __builtin_bswap32(c);
            if (c > 0x10FFFF) return std::pair{i, c};
        }
    }
    return std::nullopt;
}

// The same for any object; leaves no error set.
std::optional<std::pair<npy_intp, std::uint32_t>> invalid_code_point_of(PyObject* obj) {
    if (PyArray_API == nullptr) {
        // An ndarray exists only once NumPy is loaded: import nothing.
        Owned name = Owned::steal(PyUnicode_FromString("numpy"));
        Owned numpy = name ? Owned::steal(PyImport_GetModule(name.get())) : Owned();
        if (!numpy || !numpy_ready()) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    if (!PyArray_Check(obj)) return std::nullopt;
    return first_invalid_code_point(reinterpret_cast<PyArrayObject*>(obj));
}

}  // namespace

namespace {

// Replaces the error being raised by the argument's ValueError when `obj`
// holds an element NumPy cannot make.
void prefer_invalid_code_point(PyObject* obj, const char* arg) {
    SavedError saved;
    const auto bad = invalid_code_point_of(obj);
    if (!bad) return;  // the saved error is raised again
    saved.drop();
    PyErr_Format(PyExc_ValueError, "argument '%s': item %zd holds code point 0x%x, not in range(0x110000)", arg,
                 static_cast<Py_ssize_t>(bad->first), static_cast<unsigned>(bad->second));
}

}  // namespace

void name_invalid_code_point(PyObject* obj, const char* arg) {
    // NumPy 2 passes on the interpreter's SystemError; a ValueError would
    // be a decoder's word for the same.
    if (!PyErr_ExceptionMatches(PyExc_SystemError) && !PyErr_ExceptionMatches(PyExc_ValueError)) return;
    prefer_invalid_code_point(obj, arg);
}

void invalid_code_point_wins(PyObject* obj, const char* arg) { prefer_invalid_code_point(obj, arg); }

std::optional<PyArrayObject*> as_array(PyObject* obj, const char* arg) {
    if (!numpy_ready()) return std::nullopt;
    if (!PyArray_Check(obj)) {
        argument_type_error(arg, "numpy.ndarray", obj);
        return std::nullopt;
    }
    return reinterpret_cast<PyArrayObject*>(obj);
}

}  // namespace quorvant::frame
