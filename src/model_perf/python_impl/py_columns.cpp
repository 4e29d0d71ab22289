#include "model_perf/python_impl/py_columns.hpp"

#include "data_handler/py_types_handler.hpp"
#include "frame/buffer_kernels.hpp"
#include "frame/sequences.hpp"

namespace quorvant::model_perf::python_impl {

namespace {

// The column of an exact ndarray whose element type `accept` takes.
template <class Accept>
std::optional<Column> exact_buffer(PyObject* obj, Accept accept) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return std::nullopt;  // no NumPy import for these
    if (!frame::numpy_ready()) {
        PyErr_Clear();  // without NumPy there are no arrays
        return std::nullopt;
    }
    if (!frame::is_exact_array(obj)) return std::nullopt;
    const auto column = frame::numeric_column(reinterpret_cast<PyArrayObject*>(obj));
    if (!column || !accept(column->type)) return std::nullopt;
    return column;
}

}  // namespace

std::optional<Column> float_buffer(PyObject* obj) {
    return exact_buffer(obj, [](ElementType) { return true; });
}

std::optional<Column> number_buffer(PyObject* obj) {
    return exact_buffer(obj, [](ElementType t) { return t != ElementType::Bool; });
}

std::optional<Column> narrow_int_buffer(PyObject* obj) {
    const auto column = exact_buffer(obj, [](ElementType t) {
        return t != ElementType::F64 && t != ElementType::F32 && t != ElementType::Bool;
    });
    if (!column) return std::nullopt;
    // The range is checked in the argument's turn; the loop reads the
    // values in place after every argument is converted.
    const bool fits = visit(*column, [&]<class T>(Typed<T> t) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            return frame::all_in_i32<T>(t.data, t.stride, t.size);
        } else {
            return false;
        }
    });
    if (!fits) return std::nullopt;
    return column;
}

std::optional<std::vector<float>> convert_array_f32(PyObject* obj, const char*) {
    PyArrayObject* array = reinterpret_cast<PyArrayObject*>(obj);
    return data_handler::convert_f32(array, data_handler::determine_type(array));
}

std::optional<std::vector<float>> convert_f32_sequence(PyObject* obj, const char* arg) {
    return frame::to_f32_sequence(obj, arg);
}

std::optional<std::vector<std::int32_t>> convert_i32_sequence(PyObject* obj, const char* arg) {
    return frame::to_i32_sequence(obj, arg);
}

}  // namespace quorvant::model_perf::python_impl
