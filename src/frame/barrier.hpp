// The barrier between C++ and the interpreter: no C++ exception crosses it.
#pragma once

#include <exception>
#include <new>

#include "frame/borrow.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

inline void set_from_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal error");
    }
}

// Entry points of module functions and methods (METH_FASTCALL | METH_KEYWORDS).
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    CurrentBorrow none(nullptr);  // a function holds no object's borrow
    try {
        return F(self, args, nargs, kwnames);
    } catch (...) {
        set_from_current_exception();
        return nullptr;
    }
}

// Any other entry point: returns `on_error` after setting the exception.
template <class R, class F>
R guarded_call(R on_error, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        set_from_current_exception();
        return on_error;
    }
}

}  // namespace quorvant::frame
