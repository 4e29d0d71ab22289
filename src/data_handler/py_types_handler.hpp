// Reading NumPy arrays of any element type into plain vectors, and the
// discrete-versus-continuous decision.
//
// Every reader has two paths with the same results: a fast one over the
// buffer of a 1-D native-order numeric or bool array, and the generic one
// that iterates the array with the Python protocols (object, byte-swapped,
// 0-D and N-D arrays, and whatever the fast path cannot decide). On an
// element the fast path cannot convert, the generic path runs to raise the
// interpreter's own error. Readers return nullopt with that error set.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame/numpy.hpp"

namespace quorvant::data_handler {

enum class ElementCategory : std::uint8_t { Float, Integer, Text, Bool };
enum class DistributionKind : std::uint8_t { Discrete, Continuous };

ElementCategory determine_type(PyArrayObject* array);

// The float protocol per element (any category: bool reads as 0.0 / 1.0).
std::optional<std::vector<double>> read_f64(PyArrayObject* array);
// The integer protocol per element (uint64 beyond the signed range raises
// the interpreter's OverflowError).
std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array);
// Python bool and NumPy bool scalars only.
std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array);
// Python str elements only, as UTF-8.
std::optional<std::vector<std::string>> read_strings(PyArrayObject* array);

// The model-performance conversion: length first (a 0-D array raises
// TypeError), Float and Integer elements through the float protocol
// narrowed to f32; Text and Bool raise ModelPerformanceError UnSupportedType.
std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category);

// Distinct values among `values` against the configured heuristic.
DistributionKind distribution_kind(std::span<const double> values);
DistributionKind distribution_kind(std::span<const std::int64_t> values);

// TypeError "Data passed in is of hetergeneous types"; returns nullptr.
PyObject* generate_type_err();

}  // namespace quorvant::data_handler
