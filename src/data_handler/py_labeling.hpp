// The labels of the bias analyzers' arrays (apply_label and the explicit
// segmentation), made in the argument's turn: the elements are read, the
// label or threshold is read, and the labels are made at once into memory
// of their own. A label is one bit per row, so the owned labels are the
// cheapest copy to keep while later arguments are converted (which may run
// Python code that changes or frees this array); the counting then reads
// only owned labels.
//
// A 1-D native-order numeric, bool or '<U' ndarray (the array itself, not a
// subclass) is labeled from its buffer, held meanwhile, with the GIL
// released for large arrays (a strided buffer, or bools that need
// normalising, are copied first). Object arrays of str are labeled from
// the UTF-8 of the str objects the array holds, with the GIL. Every other
// array is read by the generic path, the protocols, which define the
// results and errors the buffer reads match.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "data_handler/labeling.hpp"
#include "errors/errors.hpp"
#include "frame/numpy.hpp"

namespace quorvant::data_handler {

// Labeling by one label-or-threshold value. The elements are read first (a
// reading error is returned before the value is looked at); a value of a
// kind the category does not accept is TypeError "Data passed in is of
// hetergeneous types". nullopt with the Python error set; an element NumPy
// cannot make as a str is the ValueError of argument `arg`.
std::optional<PackedLabels> apply_label(PyArrayObject* array, PyObject* label_or_threshold, const char* arg);

// The explicit segmentation parameters of one array, converted.
struct SegmentationParams {
    std::optional<double> threshold;
    std::optional<std::string> label;
    std::optional<std::string> threshold_type;
};

// Labeling by explicit segmentation parameters: with a threshold, the
// elements read as 64-bit floats (whatever the category) compared by the
// threshold type; without, the elements read as str compared with the
// label. Every parameter problem, and an array that cannot be read the
// chosen way, is BiasConfigError (no Python error is left set).
std::expected<PackedLabels, errors::BiasError> label_python_bias_explicit_seg(PyArrayObject* array,
                                                                            const SegmentationParams& params);

// The four arguments of one array of the explicit-segmentation analyzers in
// signature order: the array (a NumPy array), the threshold (None or a
// number), the label and the threshold type (None or a str). nullopt with
// the argument's conversion error set.
struct ExplicitArgs {
    PyArrayObject* array;  // borrowed from the call's arguments
    SegmentationParams params;
};
std::optional<ExplicitArgs> explicit_segmentation_args(PyObject* const* args, const char* const names[4]);

}  // namespace quorvant::data_handler
