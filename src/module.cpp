// The extension module: created once per interpreter (so once per process
// unless an embedding program starts a new interpreter after finalising one),
// in the main interpreter, with its functions and classes registered in a
// fixed order.
#include <cstdint>

#include "frame/barrier.hpp"
#include "frame/interned.hpp"
#include "frame/pyclass.hpp"
#include "frame/refs.hpp"
#include "registry.hpp"

namespace {

using quorvant::frame::Owned;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quorvant", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Functions in registration order.
const PyMethodDef* const kFunctions[] = {
    &quorvant::registry::py_data_bias_analyzer,
    &quorvant::registry::py_data_bias_runtime_check,
    &quorvant::registry::py_data_bias_partial_check,
    &quorvant::registry::py_data_bias_analyzer_explicit_seg,
    &quorvant::registry::py_model_bias_analyzer,
    &quorvant::registry::py_model_bias_runtime_check,
    &quorvant::registry::py_model_bias_partial_check,
    &quorvant::registry::py_model_bias_analyzer_explicit_seg,
    &quorvant::registry::py_model_perf_linear_regression,
    &quorvant::registry::py_model_perf_class_rt_full,
    &quorvant::registry::py_model_perf_class_rt_partial,
    &quorvant::registry::py_model_perf_classification,
    &quorvant::registry::py_model_perf_log_reg_rt_partial,
    &quorvant::registry::py_model_perf_logistic_regression,
    &quorvant::registry::py_model_perf_lin_reg_rt_full,
    &quorvant::registry::py_model_perf_lin_reg_rt_partial,
    &quorvant::registry::py_model_perf_log_reg_rt_full,
    &quorvant::registry::py_compute_drift_categorical_distribtuion,
    &quorvant::registry::py_compute_drift_continuous_distribtuion,
};

// Classes in registration order.
PyType_Spec* const kClasses[] = {
    &quorvant::registry::PyCategoricalDataDrift,
    &quorvant::registry::PyContinuousDataDrift,
    &quorvant::registry::PyStreamingContinuousDataDriftFlush,
    &quorvant::registry::PyStreamingContinuousDataDriftDecay,
    &quorvant::registry::PyStreamingCategoricalDataDriftFlush,
    &quorvant::registry::PyStreamingCategoricalDataDriftDecay,
    &quorvant::registry::PyDataBiasStreaming,
    &quorvant::registry::PyModelBiasStreaming,
    &quorvant::registry::PyBinaryClassificationStreaming,
    &quorvant::registry::PyLinearRegressionStreaming,
    &quorvant::registry::PyLogisticRegressionStreaming,
    nullptr,
};

bool register_all(PyObject* module) {
    Owned name = Owned::steal(PyUnicode_FromString("_quorvant"));
    if (!name) return false;
    for (const PyMethodDef* def : kFunctions) {
        Owned fn = Owned::steal(PyCMethod_New(const_cast<PyMethodDef*>(def), module, name.get(), nullptr));
        if (!fn || PyModule_AddObjectRef(module, def->ml_name, fn.get()) != 0) return false;
    }
    for (PyType_Spec* spec : kClasses) {
        if (spec != nullptr && !quorvant::frame::add_type(module, spec)) return false;
    }
    return true;
}

// The module made by the first initialisation of this interpreter's life;
// later ones return it. A module of an earlier life went with its
// interpreter.
PyObject* g_module = nullptr;
std::uint64_t g_module_life = 0;

PyObject* init() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "quorvant._quorvant does not support sub-interpreters");
        return nullptr;
    }
    const std::uint64_t life = quorvant::frame::interpreter_life();
    if (g_module != nullptr && g_module_life == life) return Py_NewRef(g_module);
    if (!quorvant::frame::watch_finalization()) return nullptr;
    Owned module = Owned::steal(PyModule_Create(&module_def));
    if (!module || !register_all(module.get())) return nullptr;
    g_module = Py_NewRef(module.get());
    g_module_life = life;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__quorvant(void) {
    return quorvant::frame::guarded_call<PyObject*>(nullptr, [] { return init(); });
}
