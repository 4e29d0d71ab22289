#define QUORVANT_NUMPY_IMPORT
#include "frame/numpy.hpp"

#include "frame/convert.hpp"

namespace quorvant::frame {

bool numpy_ready() { return PyArray_ImportNumPyAPI() == 0; }

void forget_numpy() noexcept { PyArray_API = nullptr; }

std::optional<PyArrayObject*> as_array(PyObject* obj, const char* arg) {
    if (!numpy_ready()) return std::nullopt;
    if (!PyArray_Check(obj)) {
        argument_type_error(arg, "numpy.ndarray", obj);
        return std::nullopt;
    }
    return reinterpret_cast<PyArrayObject*>(obj);
}

}  // namespace quorvant::frame
