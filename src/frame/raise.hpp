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

}  // namespace quorvant::frame
