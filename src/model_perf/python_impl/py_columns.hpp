// NumPy arrays as columns the model-performance loops read in place.
#pragma once

#include <optional>
#include <vector>

#include "frame/numpy.hpp"
#include "model_perf/columns.hpp"

namespace quorvant::model_perf::python_impl {

// The array's buffer as a column when it is one-dimensional, native-order,
// of an integer or float32/float64 element type (and bool when `with_bool`);
// nullopt otherwise (no exception set).
std::optional<Column> buffer_column(PyArrayObject* array, bool with_bool);

// The two inputs of a batch function as f32-valued columns: read in place
// when both arrays allow it, otherwise each converted by convert_f32 (first
// y_true, then y_pred), whose error is then set and nullopt returned.
class BatchColumns {
public:
    static std::optional<BatchColumns> from(PyArrayObject* y_true, PyArrayObject* y_pred);
    Column y_true() const { return converted_ ? Column::of(t_values_) : t_; }
    Column y_pred() const { return converted_ ? Column::of(p_values_) : p_; }

private:
    bool converted_ = false;
    Column t_, p_;
    std::vector<float> t_values_, p_values_;
};

}  // namespace quorvant::model_perf::python_impl
