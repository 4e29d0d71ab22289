#include "frame/raise.hpp"

#include "frame/refs.hpp"

namespace quorvant::frame {

PyObject* exception_object(errors::ExceptionType t) {
    switch (t) {
        case errors::ExceptionType::ValueError: return PyExc_ValueError;
        case errors::ExceptionType::TypeError: return PyExc_TypeError;
        case errors::ExceptionType::OverflowError: return PyExc_OverflowError;
        case errors::ExceptionType::SystemError: return PyExc_SystemError;
    }
    return PyExc_SystemError;
}

PyObject* raise_text(PyObject* type, std::string_view text) {
    Owned message = Owned::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (message) PyErr_SetObject(type, message.get());
    return nullptr;
}

PyObject* raise(const errors::Error& e) {
    return raise_text(exception_object(errors::exception_type(e)), errors::message(e));
}

}  // namespace quorvant::frame
