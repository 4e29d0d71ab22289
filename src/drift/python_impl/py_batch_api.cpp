// Python faces of the batch drift detectors.
#include "drift/data_drift.hpp"
#include "drift/python_impl/py_inputs.hpp"
#include "drift/python_impl/py_results.hpp"
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "registry.hpp"

namespace quorvant::drift::python_impl {

namespace {

using Continuous = ContinuousDataDrift;
using Categorical = CategoricalDataDrift;

// ------------------------------------------------------------ continuous --

PyObject* continuous_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"quantile_type_str"}};
    frame::Args<2> a;
    if (!frame::extract("PyContinuousDataDrift", kParams, args, kwargs, a)) return nullptr;
    const auto array = float64_array(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    // This constructor checks the rule name before contiguity.
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    auto core = Continuous::new_from_baseline(*rule, values->span());
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* continuous_compute_drift(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_type"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto array = float64_array(a[0], "runtime_data");
    if (!array) return nullptr;
    const auto name = frame::to_string(a[1], "drift_type");
    if (!name) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    const auto type = drift_type(*name);
    if (!type) return nullptr;
    const auto score = core.compute_drift(values->span(), *type);
    if (!score) return frame::raise(score.error());
    return PyFloat_FromDouble(*score);
}

PyObject* continuous_compute_multiple(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_types"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift_mutliple_criteria", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto array = float64_array(a[0], "runtime_data");
    if (!array) return nullptr;
    const auto names = drift_names(a[1], "drift_types");
    if (!names) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    const auto types = drift_types(names->names);
    if (!types) return nullptr;
    const auto scores = core.compute_drift_multiple_criteria(values->span(), *types);
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

PyObject* continuous_reset(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto array = float64_array(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    if (auto r = core.reset_baseline(values->span()); !r) return frame::raise(r.error());
    Py_RETURN_NONE;
}

PyObject* continuous_export(const Continuous& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    const auto hist = core.baseline().baseline_hist();
    return frame::to_py(std::vector<double>(hist.begin(), hist.end()));
}

PyObject* continuous_num_bins(const Continuous& core) {
    return PyLong_FromUnsignedLongLong(core.baseline().num_bins());
}

PyMethodDef continuous_methods[] = {
    {"compute_drift", QUORVANT_METHOD_CAST(frame::exclusive_method<Continuous, continuous_compute_drift>),
     METH_FASTCALL | METH_KEYWORDS,
     "compute_drift($self, runtime_data, drift_type)\n--\n\nCompute a single drift metric against `runtime_data`.\n\n"
     QUORVANT_DRIFT_TYPE_SENTENCE},
    {"compute_drift_mutliple_criteria",
     QUORVANT_METHOD_CAST(frame::exclusive_method<Continuous, continuous_compute_multiple>),
     METH_FASTCALL | METH_KEYWORDS, "compute_drift_mutliple_criteria($self, runtime_data, drift_types)\n--\n\n"},
    {"reset_baseline", QUORVANT_METHOD_CAST(frame::exclusive_method<Continuous, continuous_reset>),
     METH_FASTCALL | METH_KEYWORDS,
     "reset_baseline($self, baseline_data)\n--\n\nReplace the baseline with a new data slice, recomputing the "
     "histogram."},
    {"export_baseline", QUORVANT_METHOD_CAST(frame::shared_method<Continuous, continuous_export>),
     METH_FASTCALL | METH_KEYWORDS,
     "export_baseline($self)\n--\n\nReturn the baseline as a normalized probability distribution (sums to 1.0)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef continuous_getset[] = {
    {"num_bins", frame::shared_getter<Continuous, continuous_num_bins>, nullptr,
     "Number of histogram bins used for this baseline.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot continuous_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<continuous_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<Continuous>)},
    {Py_tp_methods, continuous_methods},
    {Py_tp_getset, continuous_getset},
    {Py_tp_doc, const_cast<char*>(
                    "PyContinuousDataDrift(baseline_data, quantile_type_str)\n--\n\n"
                    "Batch continuous data drift detector. Computes drift metrics between a fixed\n"
                    "baseline histogram and a runtime data slice on each call.")},
    {0, nullptr},
};

// ----------------------------------------------------------- categorical --

PyObject* categorical_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}};
    frame::Args<1> a;
    if (!frame::extract("PyCategoricalDataDrift", kParams, args, kwargs, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    auto core = Categorical::new_(*labels);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* categorical_compute_drift(Categorical& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_type"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift", kParams, args, nargs, kwnames, a)) return nullptr;
    auto labels = LabelSeq::of(a[0], "runtime_data");
    if (!labels) return nullptr;
    const auto name = frame::to_string(a[1], "drift_type");
    if (!name) return nullptr;
    const auto type = drift_type(*name);
    if (!type) return nullptr;
    const auto score = core.compute_drift(*labels, *type);
    if (!score) return frame::raise(score.error());
    return PyFloat_FromDouble(*score);
}

PyObject* categorical_compute_multiple(Categorical& core, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_types"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift_mutliple_criteria", kParams, args, nargs, kwnames, a)) return nullptr;
    auto labels = LabelSeq::of(a[0], "runtime_data");
    if (!labels) return nullptr;
    const auto names = drift_names(a[1], "drift_types");
    if (!names) return nullptr;
    if (names->ran_code && !labels->refresh()) return nullptr;
    const auto types = drift_types(names->names);
    if (!types) return nullptr;
    const auto scores = core.compute_drift_multiple_criteria(*labels, *types);
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

PyObject* categorical_reset(Categorical& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"new_baseline"}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "new_baseline");
    if (!labels) return nullptr;
    if (auto r = core.reset_baseline(*labels); !r) return frame::raise(r.error());
    Py_RETURN_NONE;
}

PyObject* categorical_export(const Categorical& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    return label_dict(core.baseline(), core.baseline().baseline_hist());
}

PyObject* categorical_num_bins(const Categorical& core) { return PyLong_FromSize_t(core.num_bins()); }

PyMethodDef categorical_methods[] = {
    {"compute_drift", QUORVANT_METHOD_CAST(frame::exclusive_method<Categorical, categorical_compute_drift>),
     METH_FASTCALL | METH_KEYWORDS,
     "compute_drift($self, runtime_data, drift_type)\n--\n\nCompute a single drift metric against `runtime_data`.\n\n"
     QUORVANT_DRIFT_TYPE_SENTENCE},
    {"compute_drift_mutliple_criteria",
     QUORVANT_METHOD_CAST(frame::exclusive_method<Categorical, categorical_compute_multiple>),
     METH_FASTCALL | METH_KEYWORDS, "compute_drift_mutliple_criteria($self, runtime_data, drift_types)\n--\n\n"},
    {"reset_baseline", QUORVANT_METHOD_CAST(frame::exclusive_method<Categorical, categorical_reset>),
     METH_FASTCALL | METH_KEYWORDS,
     "reset_baseline($self, new_baseline)\n--\n\nReplace the baseline with a new set of labels, recomputing the "
     "distribution."},
    {"export_baseline", QUORVANT_METHOD_CAST(frame::shared_method<Categorical, categorical_export>),
     METH_FASTCALL | METH_KEYWORDS,
     "export_baseline($self)\n--\n\nReturn the baseline label frequencies as a normalized distribution."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef categorical_getset[] = {
    {"num_bins", frame::shared_getter<Categorical, categorical_num_bins>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot categorical_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<categorical_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<Categorical>)},
    {Py_tp_methods, categorical_methods},
    {Py_tp_getset, categorical_getset},
    {Py_tp_doc, const_cast<char*>(
                    "PyCategoricalDataDrift(baseline_data)\n--\n\n"
                    "Batch categorical data drift detector. Computes drift metrics between a fixed\n"
                    "baseline label distribution and a runtime label slice on each call.")},
    {0, nullptr},
};

}  // namespace

}  // namespace quorvant::drift::python_impl

namespace quorvant::registry {

PyType_Spec PyCategoricalDataDrift = {
    "quorvant._quorvant.PyCategoricalDataDrift",
    static_cast<int>(sizeof(frame::Instance<drift::CategoricalDataDrift>)),
    0,
    Py_TPFLAGS_DEFAULT,
    drift::python_impl::categorical_slots,
};

PyType_Spec PyContinuousDataDrift = {
    "quorvant._quorvant.PyContinuousDataDrift",
    static_cast<int>(sizeof(frame::Instance<drift::ContinuousDataDrift>)),
    0,
    Py_TPFLAGS_DEFAULT,
    drift::python_impl::continuous_slots,
};

}  // namespace quorvant::registry
