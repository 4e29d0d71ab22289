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
// Runtime checks.
extern const PyMethodDef py_data_bias_runtime_check;
extern const PyMethodDef py_data_bias_partial_check;
extern const PyMethodDef py_model_bias_runtime_check;
extern const PyMethodDef py_model_bias_partial_check;
extern const PyMethodDef py_model_perf_class_rt_full;
extern const PyMethodDef py_model_perf_class_rt_partial;
extern const PyMethodDef py_model_perf_lin_reg_rt_full;
extern const PyMethodDef py_model_perf_lin_reg_rt_partial;
extern const PyMethodDef py_model_perf_log_reg_rt_full;
extern const PyMethodDef py_model_perf_log_reg_rt_partial;
extern const PyMethodDef py_compute_drift_categorical_distribtuion;
extern const PyMethodDef py_compute_drift_continuous_distribtuion;

// Classes.
extern PyType_Spec PyCategoricalDataDrift;
extern PyType_Spec PyContinuousDataDrift;
extern PyType_Spec PyStreamingContinuousDataDriftFlush;
extern PyType_Spec PyStreamingContinuousDataDriftDecay;
extern PyType_Spec PyStreamingCategoricalDataDriftFlush;
extern PyType_Spec PyStreamingCategoricalDataDriftDecay;
extern const PyMethodDef py_model_perf_classification;
extern const PyMethodDef py_model_perf_logistic_regression;
extern PyType_Spec PyBinaryClassificationStreaming;
extern PyType_Spec PyLinearRegressionStreaming;
extern PyType_Spec PyLogisticRegressionStreaming;
extern PyType_Spec PyDataBiasStreaming;
extern PyType_Spec PyModelBiasStreaming;

}  // namespace quorvant::registry
