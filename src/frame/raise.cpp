#include "frame/raise.hpp"

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

PyObject* raise(const errors::Error& e) {
    const std::string text = errors::message(e);
    PyErr_SetString(exception_object(errors::exception_type(e)), text.c_str());
    return nullptr;
}

}  // namespace quorvant::frame
