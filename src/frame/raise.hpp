// Error kinds to Python exceptions, in one place.
#pragma once

#include "errors/errors.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

PyObject* exception_object(errors::ExceptionType t);

// Raise the exception of an error kind with its display text; returns
// nullptr so callers can `return raise(e);`.
PyObject* raise(const errors::Error& e);

template <class E>
    requires(!std::is_same_v<std::remove_cvref_t<E>, errors::Error>)
PyObject* raise(const E& e) {
    const std::string text(errors::message(e));
    PyErr_SetString(exception_object(errors::exception_type(e)), text.c_str());
    return nullptr;
}

}  // namespace quorvant::frame
