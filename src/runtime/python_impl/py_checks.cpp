// Python faces of the ten runtime checks. Two shapes, full (every metric of
// the record) and partial (a list of metric names), described per function
// by a small face type: record, name, list parameter, which dictionary is
// read first, and whether keys that name no metric are refused.
#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/convert.hpp"
#include "frame/metric_dict.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"
#include "runtime/check_rules.hpp"

namespace quorvant::runtime::python_impl {

namespace {

using frame::UnknownKeys;

// Omitted: the default; given: a number (None included is refused).
std::optional<float> threshold_arg(PyObject* obj) {
    if (obj == nullptr) return kDefaultThreshold;
    return frame::to_f32(obj, "threshold");
}

template <class M, class E>
PyObject* answer(const std::expected<reporting::DriftReport<M>, E>& report) {
    if (!report) return frame::raise(report.error());
    return reporting::into_py_dict(*report);
}

// Refuses dictionary keys that name no metric (baseline before latest).
template <class M>
bool refuse_unknown(frame::MetricDict<M>& baseline, frame::MetricDict<M>& latest) {
    for (frame::MetricDict<M>* d : {&baseline, &latest}) {
        if (!d->unknown.empty()) {
            frame::raise(errors::InvalidMetricError{metrics::MetricTraits<M>::family, std::move(d->unknown)});
            return false;
        }
    }
    return true;
}

template <class Face>
PyObject* full_check(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Record = typename Face::Record;
    using M = typename Record::Metric;
    static constexpr frame::Param kParams[] = {{"baseline"}, {"latest"}, {"threshold", true}};
    frame::Args<3> a;
    if (!frame::extract(Face::name, kParams, args, nargs, kwnames, a)) return nullptr;
    auto baseline = frame::read_metric_dict<M>(a[0], "baseline", Face::unknown_keys);
    if (!baseline) return nullptr;
    auto latest = frame::read_metric_dict<M>(a[1], "latest", Face::unknown_keys);
    if (!latest) return nullptr;
    const std::optional<float> threshold = threshold_arg(a[2]);
    if (!threshold) return nullptr;
    if (Face::unknown_keys == UnknownKeys::Collect && !refuse_unknown(*baseline, *latest)) return nullptr;
    return answer(check_maps<Record>(baseline->values, latest->values, all_metrics<Record>, *threshold, Face::order));
}

template <class Face>
PyObject* partial_check(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Record = typename Face::Record;
    using M = typename Record::Metric;
    static constexpr frame::Param kParams[] = {{"baseline"}, {"latest"}, {Face::list_arg}, {"threshold", true}};
    frame::Args<4> a;
    if (!frame::extract(Face::name, kParams, args, nargs, kwnames, a)) return nullptr;
    const auto baseline = frame::read_metric_dict<M>(a[0], "baseline", UnknownKeys::Ignore);
    if (!baseline) return nullptr;
    const auto latest = frame::read_metric_dict<M>(a[1], "latest", UnknownKeys::Ignore);
    if (!latest) return nullptr;
    const auto names = frame::to_string_list(a[2], Face::list_arg);
    if (!names) return nullptr;
    const std::optional<float> threshold = threshold_arg(a[3]);
    if (!threshold) return nullptr;
    // Names are judged before either dictionary is.
    const auto list = Face::parse(*names);
    if (!list) return frame::raise(list.error());
    return answer(check_maps<Record>(baseline->values, latest->values, *list, *threshold, Face::order));
}

struct DataBiasFull {
    using Record = DataBiasRuntime;
    static constexpr const char* name = "py_data_bias_runtime_check";
    static constexpr ReadOrder order = ReadOrder::BaselineFirst;
    static constexpr UnknownKeys unknown_keys = UnknownKeys::Collect;
};

struct DataBiasPartial {
    using Record = DataBiasRuntime;
    static constexpr const char* name = "py_data_bias_partial_check";
    static constexpr const char* list_arg = "metrics";
    static constexpr ReadOrder order = ReadOrder::LatestFirst;
    static constexpr auto parse = &metrics::parse_data_bias_list;
};

struct ModelBiasFull {
    using Record = ModelBiasRuntime;
    static constexpr const char* name = "py_model_bias_runtime_check";
    static constexpr ReadOrder order = ReadOrder::LatestFirst;
    static constexpr UnknownKeys unknown_keys = UnknownKeys::Ignore;
};

struct ModelBiasPartial {
    using Record = ModelBiasRuntime;
    static constexpr const char* name = "py_model_bias_partial_check";
    static constexpr const char* list_arg = "metrics";
    static constexpr ReadOrder order = ReadOrder::LatestFirst;
    static constexpr auto parse = &metrics::parse_model_bias_list;
};

// The performance checks share their reading rules.
template <class R>
struct PerformanceFull {
    using Record = R;
    static constexpr ReadOrder order = ReadOrder::BaselineFirst;
    static constexpr UnknownKeys unknown_keys = UnknownKeys::Ignore;
};

template <class R>
struct PerformancePartial {
    using Record = R;
    static constexpr const char* list_arg = "evaluation_metrics";
    static constexpr ReadOrder order = ReadOrder::BaselineFirst;
};

struct ClassificationFull : PerformanceFull<BinaryClassificationRuntime> {
    static constexpr const char* name = "py_model_perf_class_rt_full";
};

struct ClassificationPartial : PerformancePartial<BinaryClassificationRuntime> {
    static constexpr const char* name = "py_model_perf_class_rt_partial";
    static constexpr auto parse = &metrics::parse_classification_list;
};

struct LinearRegressionFull : PerformanceFull<LinearRegressionRuntime> {
    static constexpr const char* name = "py_model_perf_lin_reg_rt_full";
};

struct LinearRegressionPartial : PerformancePartial<LinearRegressionRuntime> {
    static constexpr const char* name = "py_model_perf_lin_reg_rt_partial";
    static constexpr auto parse = &metrics::parse_linear_list;
};

struct LogisticRegressionFull : PerformanceFull<LogisticRegressionRuntime> {
    static constexpr const char* name = "py_model_perf_log_reg_rt_full";
};

struct LogisticRegressionPartial : PerformancePartial<LogisticRegressionRuntime> {
    static constexpr const char* name = "py_model_perf_log_reg_rt_partial";
    static constexpr auto parse = &metrics::parse_logistic_list;
};

}  // namespace

}  // namespace quorvant::runtime::python_impl

namespace quorvant::registry {

namespace {

using namespace runtime::python_impl;

template <class Face>
PyMethodDef full(const char* doc) {
    return frame::function<full_check<Face>>(Face::name, doc);
}

template <class Face>
PyMethodDef partial(const char* doc) {
    return frame::function<partial_check<Face>>(Face::name, doc);
}

}  // namespace

const PyMethodDef py_data_bias_runtime_check =
    full<DataBiasFull>("py_data_bias_runtime_check(baseline, latest, threshold=0.10)\n--\n\n");
const PyMethodDef py_data_bias_partial_check =
    partial<DataBiasPartial>("py_data_bias_partial_check(baseline, latest, metrics, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_bias_runtime_check =
    full<ModelBiasFull>("py_model_bias_runtime_check(baseline, latest, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_bias_partial_check =
    partial<ModelBiasPartial>("py_model_bias_partial_check(baseline, latest, metrics, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_class_rt_full =
    full<ClassificationFull>("py_model_perf_class_rt_full(baseline, latest, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_class_rt_partial = partial<ClassificationPartial>(
    "py_model_perf_class_rt_partial(baseline, latest, evaluation_metrics, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_lin_reg_rt_full =
    full<LinearRegressionFull>("py_model_perf_lin_reg_rt_full(baseline, latest, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_lin_reg_rt_partial = partial<LinearRegressionPartial>(
    "py_model_perf_lin_reg_rt_partial(baseline, latest, evaluation_metrics, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_log_reg_rt_full =
    full<LogisticRegressionFull>("py_model_perf_log_reg_rt_full(baseline, latest, threshold=0.10)\n--\n\n");
const PyMethodDef py_model_perf_log_reg_rt_partial = partial<LogisticRegressionPartial>(
    "py_model_perf_log_reg_rt_partial(baseline, latest, evaluation_metrics, threshold=0.10)\n--\n\n");

}  // namespace quorvant::registry
