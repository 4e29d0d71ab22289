// Everything the module registers. Each family's Python face defines its
// entries; src/module.cpp registers them in their fixed order.
#pragma once

#include "frame/python.hpp"

namespace quorvant::registry {

// Module functions.
extern const PyMethodDef py_model_perf_linear_regression;
extern const PyMethodDef py_model_perf_classification;
extern const PyMethodDef py_model_perf_logistic_regression;

// Classes.
extern PyType_Spec PyBinaryClassificationStreaming;
extern PyType_Spec PyLinearRegressionStreaming;
extern PyType_Spec PyLogisticRegressionStreaming;

}  // namespace quorvant::registry

// A METH_FASTCALL | METH_KEYWORDS entry point as PyMethodDef's function type.
#define QUORVANT_FASTCALL(fn)                                                                            \
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(::quorvant::frame::guarded<fn>))
