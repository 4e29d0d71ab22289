// Results of the drift classes as fresh Python objects, and the text shared
// by their docstrings.
#pragma once

#include <span>

#include "drift/baseline.hpp"
#include "drift/data_drift.hpp"
#include "frame/python.hpp"

namespace quorvant::drift::python_impl {

// Ends the docstring of every compute_drift method.
#define QUORVANT_DRIFT_TYPE_SENTENCE                                                 \
    "`drift_type` must be one of: `\"JensenShannon\"`, `\"PopulationStabilityIndex\"`,\n" \
    "`\"WassersteinDistance\"`, `\"KullbackLeibler\"`."

// export_baseline of the batch and the streaming detectors, per feature kind.
inline constexpr const char kContinuousExportDoc[] =
    "export_baseline($self)\n--\n\nReturn the baseline as a normalized probability distribution (sums to 1.0).";
inline constexpr const char kCategoricalExportDoc[] =
    "export_baseline($self)\n--\n\nReturn the baseline label frequencies as a normalized distribution.";

// {label: values[index of label]} over the baseline labels (the unseen-label
// bin has no entry).
PyObject* label_dict(const BaselineCategoricalBins& baseline, std::span<const double> values);

// {"binEdges": [...], "baselineBins": [...], "streamBins": [...]}.
PyObject* snapshot_dict(const ContinuousSnapshot& snapshot);

// A non-negative weight total rounded down, as an int.
PyObject* floor_to_int(double total);

}  // namespace quorvant::drift::python_impl
