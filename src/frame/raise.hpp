// Error kinds to Python exceptions, in one place.
#pragma once

#include <string_view>
#include <type_traits>

#include "errors/errors.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

PyObject* exception_object(errors::ExceptionType t);

// Raises `type` with `text` as its message, every character kept (a name
// the caller gave may hold a NUL); returns nullptr. Should the text not
// decode, the decoding error is raised instead.
PyObject* raise_text(PyObject* type, std::string_view text);

// Raise the exception of an error kind with its display text; returns
// nullptr so callers can `return raise(e);`.
PyObject* raise(const errors::Error& e);

template <class E>
    requires(!std::is_same_v<std::remove_cvref_t<E>, errors::Error>)
PyObject* raise(const E& e) {
    return raise_text(exception_object(errors::exception_type(e)), errors::message(e));
}

// The exception being raised, set aside while other calls run, and raised
// again when the scope ends unless dropped.
class SavedError {
public:
    SavedError() {
#if PY_VERSION_HEX >= 0x030C0000
        exc_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &exc_, &traceback_);
#endif
    }
    SavedError(const SavedError&) = delete;
    SavedError& operator=(const SavedError&) = delete;
    ~SavedError() {
        if (dropped_) return;
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(exc_);
#else
        PyErr_Restore(type_, exc_, traceback_);
#endif
    }
    // Forgets the exception for good.
    void drop() {
#if PY_VERSION_HEX < 0x030C0000
        Py_CLEAR(type_);
        Py_CLEAR(traceback_);
#endif
        Py_CLEAR(exc_);
        dropped_ = true;
    }

private:
    PyObject* exc_ = nullptr;
#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
    bool dropped_ = false;
};

}  // namespace quorvant::frame
