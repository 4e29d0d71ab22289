#include "frame/items.hpp"

#include "frame/convert.hpp"
#include "frame/numpy.hpp"
#include "frame/raise.hpp"

namespace quorvant::frame {

namespace {

// An exact ndarray of at least one dimension whose items NumPy makes
// without holding or calling Python objects.
bool streams_items(PyObject* obj) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return false;  // no NumPy import for these
    if (!numpy_ready()) {
        PyErr_Clear();  // without NumPy there are no arrays
        return false;
    }
    if (!PyArray_CheckExact(obj)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(obj);
    return PyArray_NDIM(a) >= 1 && !PyDataType_REFCHK(PyArray_DESCR(a));
}

}  // namespace

std::optional<Items> Items::of(PyObject* obj, const char* arg, const char* expected) {
    Items items;
    items.arg_ = arg;
    if (streams_items(obj)) {
        items.source_ = Owned::new_ref(obj);
        items.size_ = PyArray_DIM(reinterpret_cast<PyArrayObject*>(obj), 0);
        items.streamed_ = true;
        return items;
    }
    items.source_ = Owned::steal(PySequence_Tuple(obj));
    if (!items.source_) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            argument_type_error(arg, expected, obj);
        }
        name_invalid_code_point(obj, arg);
        return std::nullopt;
    }
    items.size_ = PyTuple_GET_SIZE(items.source_.get());
    return items;
}

bool Items::item_failed() const {
    name_invalid_code_point(source_.get(), arg_);
    return false;
}

bool Items::conversion_failed() const {
    invalid_code_point_wins(source_.get(), arg_);
    return false;
}

}  // namespace quorvant::frame
