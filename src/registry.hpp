// Everything the module registers. Each family's Python face defines its
// entries; src/module.cpp registers them in their fixed order.
#pragma once

#include "frame/python.hpp"

namespace quorvant::registry {

// Module functions.
extern const PyMethodDef py_data_bias_analyzer;
extern const PyMethodDef py_data_bias_analyzer_explicit_seg;
extern const PyMethodDef py_model_bias_analyzer;
extern const PyMethodDef py_model_bias_analyzer_explicit_seg;
extern const PyMethodDef py_model_perf_linear_regression;

// Classes.
extern PyType_Spec PyDataBiasStreaming;
extern PyType_Spec PyModelBiasStreaming;

}  // namespace quorvant::registry

// A METH_FASTCALL | METH_KEYWORDS entry point as PyMethodDef's function type.
#define QUORVANT_FASTCALL(fn)                                                                            \
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(::quorvant::frame::guarded<fn>))
