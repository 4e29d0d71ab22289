// Python faces of the one-shot drift functions.
#include "drift/drift_metrics.hpp"
#include "drift/python_impl/py_inputs.hpp"
#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "registry.hpp"

namespace quorvant::drift::python_impl {

namespace {

PyObject* continuous_distribution(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"baseline"}, {"candidate"}, {"drift_metrics"}, {"quantile_type"}};
    frame::Args<4> a;
    if (!frame::extract("py_compute_drift_continuous_distribtuion", kParams, args, nargs, kwnames, a)) return nullptr;
    auto baseline_array = F64Array::from(a[0], "baseline");
    if (!baseline_array) return nullptr;
    auto candidate_array = F64Array::from(a[1], "candidate");
    if (!candidate_array) return nullptr;
    const auto names = drift_names(a[2], "drift_metrics");
    if (!names) return nullptr;
    const auto rule_name = quantile_name(a[3], "quantile_type");
    if (!rule_name) return nullptr;

    // Buffers are read only now, after every conversion that may run code.
    const auto baseline = baseline_array->values();
    if (!baseline) return nullptr;
    const auto candidate = candidate_array->values();
    if (!candidate) return nullptr;
    const auto types = drift_types(*names);
    if (!types) return nullptr;
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;

    const std::size_t values = baseline->span().size() + candidate->span().size();
    const auto scores = frame::run_core(values, [&] {
        return compute_drift_continuous_distribution(baseline->span(), candidate->span(), *types, *rule);
    });
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

PyObject* categorical_distribution(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"baseline"}, {"candidate"}, {"drift_metrics"}};
    frame::Args<3> a;
    if (!frame::extract("py_compute_drift_categorical_distribtuion", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto baseline = LabelSeq::of(a[0], "baseline");
    if (!baseline) return nullptr;
    const auto candidate = LabelSeq::of(a[1], "candidate");
    if (!candidate) return nullptr;
    const auto names = drift_names(a[2], "drift_metrics");
    if (!names) return nullptr;
    const auto types = drift_types(*names);
    if (!types) return nullptr;

    // The labels are read now: str objects with the GIL held, owned text of
    // a large input without it.
    const auto scores = frame::run_core(gil_free_size(*baseline, *candidate), [&]() -> Read<std::vector<double>> {
        const auto bins = categorical_baseline(*baseline);
        if (!bins) return std::unexpected(bins.error());
        const auto counts = bin_counts(*candidate, *bins);
        if (!counts) return std::unexpected(counts.error());
        return read_of(compute_drift_categorical_distribution(*bins, *counts, candidate->size(), *types));
    });
    if (!scores) return raise_failure(scores.error());
    return frame::to_py(*scores);
}

}  // namespace

}  // namespace quorvant::drift::python_impl

namespace quorvant::registry {

const PyMethodDef py_compute_drift_categorical_distribtuion = frame::function<drift::python_impl::categorical_distribution>(
    "py_compute_drift_categorical_distribtuion",
    "py_compute_drift_categorical_distribtuion(baseline, candidate, drift_metrics)\n--\n\n");

const PyMethodDef py_compute_drift_continuous_distribtuion = frame::function<drift::python_impl::continuous_distribution>(
    "py_compute_drift_continuous_distribtuion",
    "py_compute_drift_continuous_distribtuion(baseline, candidate, drift_metrics, quantile_type)\n--\n\n");

}  // namespace quorvant::registry
