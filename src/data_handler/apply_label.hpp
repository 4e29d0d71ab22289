// Labeling by one label-or-threshold value: its meaning follows the array's
// element category and, for numbers, whether the array is discrete (the
// value is a label, matched by equality) or continuous (a threshold, met by
// element >= value).
#pragma once

#include <optional>

#include "data_handler/label_source.hpp"
#include "frame/numpy.hpp"

namespace quorvant::data_handler {

// The array's elements are read first (a reading error is returned before
// the value is looked at); a value of a kind the category does not accept
// is TypeError "Data passed in is of hetergeneous types". Returns nullopt
// with the Python error set; an element NumPy cannot make as a str is the
// ValueError of argument `arg`. The result may view the array's buffer (see
// LabelSource).
std::optional<LabelSource> apply_label(PyArrayObject* array, PyObject* label_or_threshold, const char* arg);

}  // namespace quorvant::data_handler
