// Labeling by explicit segmentation parameters: a threshold with its
// threshold type, or a label string.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "data_handler/label_source.hpp"
#include "errors/errors.hpp"
#include "frame/numpy.hpp"

namespace quorvant::data_handler {

// Threshold given: the elements read as 64-bit floats (whatever the
// category) and compared by the threshold type. No threshold: the elements
// read as str and compared with the label. Every parameter problem, and an
// array that cannot be read the chosen way, is BiasConfigError (no Python
// error is left set). The result may view the array's buffer (see
// LabelSource).
std::expected<LabelSource, errors::BiasError> label_python_bias_explicit_seg(PyArrayObject* array,
                                                                        const std::optional<double>& threshold,
                                                                        const std::optional<std::string>& label,
                                                                        const std::optional<std::string>& threshold_type);

// One array with its three explicit segmentation parameters, as the
// analyzers receive them.
struct ExplicitSegmentation {
    PyArrayObject* array;  // borrowed from the call's arguments
    std::optional<double> threshold;
    std::optional<std::string> label;
    std::optional<std::string> threshold_type;
};

// Converts four arguments in signature order: the array (a NumPy array),
// the threshold (None or a number), the label and the threshold type (None
// or a str). nullopt with the argument's conversion error set.
std::optional<ExplicitSegmentation> explicit_segmentation_args(PyObject* const* args, const char* const names[4]);

inline std::expected<LabelSource, errors::BiasError> label_python_bias_explicit_seg(const ExplicitSegmentation& s) {
    return label_python_bias_explicit_seg(s.array, s.threshold, s.label, s.threshold_type);
}

}  // namespace quorvant::data_handler
