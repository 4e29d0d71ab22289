// Arguments of the model-performance faces as the columns their loops read,
// in the two phases of frame/held.hpp: an exact ndarray of a dtype the loop
// reads in place is held and viewed once every argument is converted; any
// other argument is converted in its turn into an owned copy.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "frame/held.hpp"
#include "frame/python.hpp"
#include "model_perf/columns.hpp"

namespace quorvant::model_perf::python_impl {

// Hold(obj) gives the column of an array read in place (nullopt: convert
// it); Convert(obj, arg) the owned values (nullopt with the error set).
template <class T, auto Hold, auto Convert>
class ColumnArg {
public:
    static std::optional<ColumnArg> from(PyObject* obj, const char* arg) {
        ColumnArg c;
        c.arg_ = arg;
        if (const std::optional<Column> in_place = Hold(obj)) {
            c.held_ = frame::HeldArray::hold(reinterpret_cast<PyArrayObject*>(obj));
            c.in_place_ = *in_place;
            return c;
        }
        auto values = Convert(obj, arg);
        if (!values) return std::nullopt;
        c.values_ = std::move(*values);
        return c;
    }

    bool settle() {
        if (!held_ || held_->unchanged()) return true;
        auto again = from(held_->object(), arg_);
        if (!again) return false;
        *this = std::move(*again);
        return true;
    }

    Column column() const { return held_ ? in_place_ : Column::of(values_); }
    std::size_t size() const { return column().size; }

private:
    std::optional<frame::HeldArray> held_;
    Column in_place_;
    std::vector<T> values_;
    const char* arg_ = nullptr;
};

std::optional<Column> float_buffer(PyObject* obj);
std::optional<Column> number_buffer(PyObject* obj);
std::optional<Column> narrow_int_buffer(PyObject* obj);
std::optional<std::vector<float>> convert_array_f32(PyObject* obj, const char* arg);
std::optional<std::vector<float>> convert_f32_sequence(PyObject* obj, const char* arg);
std::optional<std::vector<std::int32_t>> convert_i32_sequence(PyObject* obj, const char* arg);

// The batch functions' arrays: an int or float array read in place, any
// other converted by convert_f32 (its errors are the function's).
using BatchColumn = ColumnArg<float, number_buffer, convert_array_f32>;

// The monitors' float sequences: a numeric or bool array read in place, any
// other sequence through the float protocol.
using FloatColumn = ColumnArg<float, float_buffer, convert_f32_sequence>;

// The monitors' label sequences: an integer array whose values all fit in
// 32 bits (checked in the argument's turn) read in place; any other
// sequence through the integer protocol into int32 (which raises the
// protocol's errors, out-of-range values included).
using IntColumn = ColumnArg<std::int32_t, narrow_int_buffer, convert_i32_sequence>;

}  // namespace quorvant::model_perf::python_impl
