// Python faces of the batch drift detectors.
#include "drift/data_drift.hpp"
#include "drift/python_impl/py_inputs.hpp"
#include "drift/python_impl/py_results.hpp"
#include "drift/state.hpp"
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "registry.hpp"

namespace quorvant::drift::python_impl {

namespace {

using Continuous = ContinuousDataDrift;
using Categorical = CategoricalDataDrift;

// The docstrings both detectors share.
constexpr const char kComputeDriftDoc[] =
    "compute_drift($self, runtime_data, drift_type)\n--\n\nCompute a single drift metric against `runtime_data`.\n\n"
    QUORVANT_DRIFT_TYPE_SENTENCE;
constexpr const char kMultipleDoc[] = "compute_drift_mutliple_criteria($self, runtime_data, drift_types)\n--\n\n";

// ------------------------------------------------------------ continuous --

PyObject* continuous_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"quantile_type_str"}};
    frame::Args<2> a;
    if (!frame::extract("PyContinuousDataDrift", kParams, args, kwargs, a)) return nullptr;
    auto array = F64Array::from(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    // This constructor checks the rule name before contiguity.
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    auto core = frame::run_core(values->span().size(),
                                [&] { return Continuous::new_from_baseline(*rule, values->span()); });
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* continuous_compute_drift(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_type"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift", kParams, args, nargs, kwnames, a)) return nullptr;
    auto array = F64Array::from(a[0], "runtime_data");
    if (!array) return nullptr;
    const auto name = frame::to_string(a[1], "drift_type");
    if (!name) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    const auto type = drift_type(*name);
    if (!type) return nullptr;
    const auto score = frame::run_core(values->span().size(), [&] { return core.compute_drift(values->span(), *type); });
    if (!score) return frame::raise(score.error());
    return PyFloat_FromDouble(*score);
}

PyObject* continuous_compute_multiple(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_types"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift_mutliple_criteria", kParams, args, nargs, kwnames, a)) return nullptr;
    auto array = F64Array::from(a[0], "runtime_data");
    if (!array) return nullptr;
    const auto names = drift_names(a[1], "drift_types");
    if (!names) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    const auto types = drift_types(*names);
    if (!types) return nullptr;
    const auto scores = frame::run_core(values->span().size(),
                                        [&] { return core.compute_drift_multiple_criteria(values->span(), *types); });
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

PyObject* continuous_reset(Continuous& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    auto array = F64Array::from(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    const auto r = frame::run_core(values->span().size(), [&] { return core.reset_baseline(values->span()); });
    if (!r) return frame::raise(r.error());
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

struct ContinuousFace {
    using Core = Continuous;
    using Codec = ContinuousDataDriftCodec;
    static constexpr const char* name = "PyContinuousDataDrift";
    static constexpr const char* doc =
        "PyContinuousDataDrift(baseline_data, quantile_type_str)\n--\n\n"
        "Batch continuous data drift detector. Computes drift metrics between a fixed\n"
        "baseline histogram and a runtime data slice on each call.";
    static constexpr auto construct = continuous_new;
    static auto methods() {
        return std::array{
            frame::exclusive<Core, continuous_compute_drift>("compute_drift", kComputeDriftDoc),
            frame::exclusive<Core, continuous_compute_multiple>("compute_drift_mutliple_criteria", kMultipleDoc),
            frame::exclusive<Core, continuous_reset>(
                "reset_baseline",
                "reset_baseline($self, baseline_data)\n--\n\nReplace the baseline with a new data slice, recomputing "
                "the histogram."),
            frame::shared<Core, continuous_export>("export_baseline", kContinuousExportDoc),
        };
    }
    static auto getset() {
        return std::array{
            frame::getter<Core, continuous_num_bins>("num_bins", "Number of histogram bins used for this baseline.")};
    }
};

// ----------------------------------------------------------- categorical --

PyObject* categorical_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}};
    frame::Args<1> a;
    if (!frame::extract("PyCategoricalDataDrift", kParams, args, kwargs, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    auto bins = build_baseline(*labels);
    if (!bins) return nullptr;
    return frame::allocate(type, Categorical::new_(std::move(*bins)));
}

PyObject* categorical_compute_drift(Categorical& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_type"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "runtime_data");
    if (!labels) return nullptr;
    const auto name = frame::to_string(a[1], "drift_type");
    if (!name) return nullptr;
    const auto type = drift_type(*name);
    if (!type) return nullptr;
    const auto score = frame::run_core(gil_free_size(*labels), [&]() -> Read<double> {
        const auto counts = bin_counts(*labels, core.baseline());
        if (!counts) return std::unexpected(counts.error());
        return read_of(core.compute_drift(*counts, labels->size(), *type));
    });
    if (!score) return raise_failure(score.error());
    return PyFloat_FromDouble(*score);
}

PyObject* categorical_compute_multiple(Categorical& core, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}, {"drift_types"}};
    frame::Args<2> a;
    if (!frame::extract("compute_drift_mutliple_criteria", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "runtime_data");
    if (!labels) return nullptr;
    const auto names = drift_names(a[1], "drift_types");
    if (!names) return nullptr;
    const auto types = drift_types(*names);
    if (!types) return nullptr;
    const auto scores = frame::run_core(gil_free_size(*labels), [&]() -> Read<std::vector<double>> {
        const auto counts = bin_counts(*labels, core.baseline());
        if (!counts) return std::unexpected(counts.error());
        return read_of(core.compute_drift_multiple_criteria(*counts, labels->size(), *types));
    });
    if (!scores) return raise_failure(scores.error());
    return frame::to_py(*scores);
}

PyObject* categorical_reset(Categorical& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"new_baseline"}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "new_baseline");
    if (!labels) return nullptr;
    auto bins = build_baseline(*labels);
    if (!bins) return nullptr;
    core.reset_baseline(std::move(*bins));
    Py_RETURN_NONE;
}

PyObject* categorical_export(const Categorical& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    return label_dict(core.baseline(), core.baseline().baseline_hist());
}

PyObject* categorical_num_bins(const Categorical& core) { return PyLong_FromSize_t(core.num_bins()); }

struct CategoricalFace {
    using Core = Categorical;
    using Codec = CategoricalDataDriftCodec;
    static constexpr const char* name = "PyCategoricalDataDrift";
    static constexpr const char* doc =
        "PyCategoricalDataDrift(baseline_data)\n--\n\n"
        "Batch categorical data drift detector. Computes drift metrics between a fixed\n"
        "baseline label distribution and a runtime label slice on each call.";
    static constexpr auto construct = categorical_new;
    static auto methods() {
        return std::array{
            frame::exclusive<Core, categorical_compute_drift>("compute_drift", kComputeDriftDoc),
            frame::exclusive<Core, categorical_compute_multiple>("compute_drift_mutliple_criteria", kMultipleDoc),
            frame::exclusive<Core, categorical_reset>(
                "reset_baseline",
                "reset_baseline($self, new_baseline)\n--\n\nReplace the baseline with a new set of labels, "
                "recomputing the distribution."),
            frame::shared<Core, categorical_export>("export_baseline", kCategoricalExportDoc),
        };
    }
    static auto getset() { return std::array{frame::getter<Core, categorical_num_bins>("num_bins", nullptr)}; }
};

}  // namespace

}  // namespace quorvant::drift::python_impl

namespace quorvant::registry {

PyType_Spec PyCategoricalDataDrift = frame::class_spec<drift::python_impl::CategoricalFace>();
PyType_Spec PyContinuousDataDrift = frame::class_spec<drift::python_impl::ContinuousFace>();

}  // namespace quorvant::registry
