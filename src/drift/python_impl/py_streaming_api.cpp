// Python faces of the streaming drift detectors: one set of entry points per
// feature kind, instantiated for the decay and the flush mode.
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

using Decay = DecayModeMark;
using Flush = FlushModeMark;
template <class Mode>
using Continuous = StreamingContinuousDataDrift<Mode>;
template <class Mode>
using Categorical = StreamingCategoricalDataDrift<Mode>;

// None, or an integer from 0 to 2^64 - 1 (OverflowError outside).
std::optional<std::optional<std::uint64_t>> mode_param(PyObject* obj, const char* arg) {
    if (obj == Py_None) return std::optional<std::uint64_t>{};
    const auto v = frame::to_u64(obj, arg);
    if (!v) return std::nullopt;
    return std::optional<std::uint64_t>{*v};
}

// A half-life of 0 cannot be a decay; None takes the default.
bool half_life_ok(const std::optional<std::uint64_t>& h) {
    if (h && *h == 0) {
        frame::raise(DriftError::ConfigurationNotSupported);
        return false;
    }
    return true;
}

// ----------------------------------------------------------- constructors --

PyObject* continuous_decay_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"quantile_type_str"}, {"decay_opt"}};
    frame::Args<3> a;
    if (!frame::extract("PyStreamingContinuousDataDriftDecay", kParams, args, kwargs, a)) return nullptr;
    const auto array = float64_array(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    const auto half_life = mode_param(a[2], "decay_opt");
    if (!half_life) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    if (!half_life_ok(*half_life)) return nullptr;
    auto core = Continuous<Decay>::new_decay(values->span(), *rule, half_life->value_or(0));
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* continuous_flush_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {
        {"baseline_data"}, {"quantile_type_str"}, {"flush_rate_opt"}, {"flush_cadence_opt"}};
    frame::Args<4> a;
    if (!frame::extract("PyStreamingContinuousDataDriftFlush", kParams, args, kwargs, a)) return nullptr;
    const auto array = float64_array(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    const auto rate = mode_param(a[2], "flush_rate_opt");
    if (!rate) return nullptr;
    const auto cadence = mode_param(a[3], "flush_cadence_opt");
    if (!cadence) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    auto core = Continuous<Flush>::new_flush(values->span(), *rule, *rate, *cadence);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* categorical_decay_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"half_life_opt"}};
    frame::Args<2> a;
    if (!frame::extract("PyStreamingCategoricalDataDriftDecay", kParams, args, kwargs, a)) return nullptr;
    auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    const auto half_life = mode_param(a[1], "half_life_opt");
    if (!half_life) return nullptr;
    if (!converts_without_code(a[1]) && !labels->refresh()) return nullptr;
    if (!half_life_ok(*half_life)) return nullptr;
    auto core = Categorical<Decay>::new_decay(*labels, half_life->value_or(0));
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* categorical_flush_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"flush_rate"}, {"flush_cadence"}};
    frame::Args<3> a;
    if (!frame::extract("PyStreamingCategoricalDataDriftFlush", kParams, args, kwargs, a)) return nullptr;
    auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    const auto rate = mode_param(a[1], "flush_rate");
    if (!rate) return nullptr;
    const auto cadence = mode_param(a[2], "flush_cadence");
    if (!cadence) return nullptr;
    if ((!converts_without_code(a[1]) || !converts_without_code(a[2])) && !labels->refresh()) return nullptr;
    auto core = Categorical<Flush>::new_flush(*labels, *rate, *cadence);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

// ------------------------------------------------------- adding samples --

template <class Mode>
PyObject* continuous_update(Continuous<Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_example"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto x = frame::to_f64(a[0], "runtime_example");
    if (!x) return nullptr;
    core.update_stream(*x);
    Py_RETURN_NONE;
}

template <class Mode>
PyObject* categorical_update(Categorical<Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_example"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto label = label_of(a[0], "runtime_example");
    if (!label) return nullptr;
    core.update_stream(*label);
    Py_RETURN_NONE;
}

template <class Mode>
PyObject* continuous_update_batch(Continuous<Mode>& core, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream_batch", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto array = float64_array(a[0], "runtime_data");
    if (!array) return nullptr;
    const auto values = F64Values::of(*array);
    if (!values) return nullptr;
    if (auto r = core.update_stream_batch(values->span()); !r) return frame::raise(r.error());
    Py_RETURN_NONE;
}

template <class Mode>
PyObject* categorical_update_batch(Categorical<Mode>& core, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream_batch", kParams, args, nargs, kwnames, a)) return nullptr;
    // Every label is checked before anything is counted.
    const auto labels = LabelSeq::of(a[0], "runtime_data");
    if (!labels) return nullptr;
    if (auto r = core.update_stream_batch(*labels); !r) return frame::raise(r.error());
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------- scores --

template <class Core>
PyObject* compute_drift(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"drift_type"}};
    frame::Args<1> a;
    if (!frame::extract("compute_drift", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto name = frame::to_string(a[0], "drift_type");
    if (!name) return nullptr;
    const auto type = drift_type(*name);
    if (!type) return nullptr;
    const auto score = core.compute_drift(*type);
    if (!score) return frame::raise(score.error());
    return PyFloat_FromDouble(*score);
}

template <class Core>
PyObject* compute_multiple(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"drift_types"}};
    frame::Args<1> a;
    if (!frame::extract("compute_drift_multiple_criteria", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto names = drift_names(a[0], "drift_types");
    if (!names) return nullptr;
    const auto types = drift_types(names->names);
    if (!types) return nullptr;
    const auto scores = core.compute_drift_multiple_criteria(*types);
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

// ------------------------------------------------------------- baseline --

template <class Mode>
PyObject* continuous_reset(Continuous<Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

template <class Mode>
PyObject* categorical_reset(Categorical<Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"new_baseline"}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "new_baseline");
    if (!labels) return nullptr;
    if (auto r = core.reset_baseline(*labels); !r) return frame::raise(r.error());
    Py_RETURN_NONE;
}

template <class Mode>
PyObject* continuous_snapshot(const Continuous<Mode>& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_snapshot", nargs, kwnames)) return nullptr;
    const auto snapshot = core.export_snapshot();
    if (!snapshot) return frame::raise(snapshot.error());
    return snapshot_dict(*snapshot);
}

template <class Mode>
PyObject* categorical_snapshot(const Categorical<Mode>& core, PyObject* const*, Py_ssize_t nargs,
                               PyObject* kwnames) {
    if (!frame::extract_none("export_snapshot", nargs, kwnames)) return nullptr;
    return label_dict(core.baseline(), core.stream().rt_bins());
}

template <class Mode>
PyObject* continuous_export(const Continuous<Mode>& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    const auto hist = core.baseline().baseline_hist();
    return frame::to_py(std::vector<double>(hist.begin(), hist.end()));
}

template <class Mode>
PyObject* categorical_export(const Categorical<Mode>& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    return label_dict(core.baseline(), core.baseline().baseline_hist());
}

template <class Core>
PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
    core.flush();
    Py_RETURN_NONE;
}

// ------------------------------------------------------------ properties --

template <class Core>
PyObject* total_samples(const Core& core) {
    return floor_to_int(core.stream().total_samples());
}

template <class Mode>
PyObject* continuous_n_bins(const Continuous<Mode>& core) {
    return PyLong_FromUnsignedLongLong(core.baseline().num_bins());
}

template <class Mode>
PyObject* categorical_n_bins(const Categorical<Mode>& core) {
    return PyLong_FromSize_t(core.stream().rt_bins().size());
}

template <class Core>
PyObject* last_flush(const Core& core) {
    return PyLong_FromUnsignedLongLong(core.stream().seconds_since_flush());
}

// ---------------------------------------------------------------- tables --

#define QV_EXCLUSIVE(Core, fn) QUORVANT_METHOD_CAST((frame::exclusive_method<Core, fn>))
#define QV_SHARED(Core, fn) QUORVANT_METHOD_CAST((frame::shared_method<Core, fn>))
#define QV_CALL METH_FASTCALL | METH_KEYWORDS

constexpr const char kDecayComputeDoc[] =
    "compute_drift($self, drift_type)\n--\n\nApply decay to stream bins and compute a single drift metric.\n\n"
    QUORVANT_DRIFT_TYPE_SENTENCE;
constexpr const char kFlushComputeDoc[] =
    "compute_drift($self, drift_type)\n--\n\nCompute a single drift metric against the current stream bins. "
    "Triggers a\nflush if the configured flush cadence or rate has been reached.\n\n" QUORVANT_DRIFT_TYPE_SENTENCE;
constexpr const char kDecayMultipleDoc[] =
    "compute_drift_multiple_criteria($self, drift_types)\n--\n\nApply decay and compute multiple drift metrics in a "
    "single pass. Returns\nscores in the same order as `drift_types`.";
constexpr const char kFlushMultipleDoc[] =
    "compute_drift_multiple_criteria($self, drift_types)\n--\n\nCompute multiple drift metrics in a single pass. "
    "Returns scores in the same\norder as `drift_types`.";
constexpr const char kContinuousResetDoc[] =
    "reset_baseline($self, baseline_data)\n--\n\nReplace the baseline distribution with a new data slice and clear "
    "the stream.";
constexpr const char kCategoricalResetDoc[] =
    "reset_baseline($self, new_baseline)\n--\n\nReplace the baseline distribution with a new set of labels and clear "
    "the stream.";
constexpr const char kContinuousBatchDoc[] =
    "update_stream_batch($self, runtime_data)\n--\n\nAdd a batch of runtime samples to the stream buffer.";
constexpr const char kCategoricalBatchDoc[] =
    "update_stream_batch($self, runtime_data)\n--\n\nAdd a batch of runtime labels to the stream buffer.";
constexpr const char kContinuousUpdateDoc[] =
    "update_stream($self, runtime_example)\n--\n\nAdd a single runtime sample to the stream buffer.";
constexpr const char kCategoricalUpdateDoc[] =
    "update_stream($self, runtime_example)\n--\n\nAdd a single runtime label to the stream buffer.";
constexpr const char kContinuousSnapshotDoc[] =
    "export_snapshot($self)\n--\n\nExport the current stream histogram as a map of bin label to bin values.";
constexpr const char kCategoricalSnapshotDoc[] =
    "export_snapshot($self)\n--\n\nExport the current stream label counts as a map of label to count.";
constexpr const char kContinuousExportDoc[] =
    "export_baseline($self)\n--\n\nReturn the baseline as a normalized probability distribution (sums to 1.0).";
constexpr const char kCategoricalExportDoc[] =
    "export_baseline($self)\n--\n\nReturn the baseline label frequencies as a normalized distribution.";
constexpr const char kContinuousFlushDoc[] = "flush($self)\n--\n\nFlush the stream, resetting accumulated runtime bins.";
constexpr const char kCategoricalFlushDoc[] =
    "flush($self)\n--\n\nFlush the stream, resetting accumulated runtime label counts.";

constexpr const char kDecayTotalDoc[] = "Effective sample count after decay weighting.";
constexpr const char kFlushTotalDoc[] = "Total number of runtime samples accumulated since the last flush.";
constexpr const char kLastFlushDoc[] = "Unix timestamp (seconds) of the last flush.";
constexpr const char kContinuousBinsDoc[] = "Number of histogram bins.";
constexpr const char kCategoricalBinsDoc[] = "Number of distinct label bins.";

using CD = Continuous<Decay>;
using CF = Continuous<Flush>;
using KD = Categorical<Decay>;
using KF = Categorical<Flush>;

PyMethodDef continuous_decay_methods[] = {
    {"compute_drift", QV_EXCLUSIVE(CD, compute_drift<CD>), QV_CALL, kDecayComputeDoc},
    {"compute_drift_multiple_criteria", QV_EXCLUSIVE(CD, compute_multiple<CD>), QV_CALL, kDecayMultipleDoc},
    {"reset_baseline", QV_EXCLUSIVE(CD, continuous_reset<Decay>), QV_CALL, kContinuousResetDoc},
    {"update_stream_batch", QV_EXCLUSIVE(CD, continuous_update_batch<Decay>), QV_CALL, kContinuousBatchDoc},
    {"update_stream", QV_EXCLUSIVE(CD, continuous_update<Decay>), QV_CALL, kContinuousUpdateDoc},
    {"export_snapshot", QV_SHARED(CD, continuous_snapshot<Decay>), QV_CALL, kContinuousSnapshotDoc},
    {"export_baseline", QV_SHARED(CD, continuous_export<Decay>), QV_CALL, kContinuousExportDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef continuous_flush_methods[] = {
    {"compute_drift", QV_EXCLUSIVE(CF, compute_drift<CF>), QV_CALL, kFlushComputeDoc},
    {"compute_drift_multiple_criteria", QV_EXCLUSIVE(CF, compute_multiple<CF>), QV_CALL, kFlushMultipleDoc},
    {"reset_baseline", QV_EXCLUSIVE(CF, continuous_reset<Flush>), QV_CALL, kContinuousResetDoc},
    {"update_stream_batch", QV_EXCLUSIVE(CF, continuous_update_batch<Flush>), QV_CALL, kContinuousBatchDoc},
    {"update_stream", QV_EXCLUSIVE(CF, continuous_update<Flush>), QV_CALL, kContinuousUpdateDoc},
    {"export_snapshot", QV_SHARED(CF, continuous_snapshot<Flush>), QV_CALL, kContinuousSnapshotDoc},
    {"export_baseline", QV_SHARED(CF, continuous_export<Flush>), QV_CALL, kContinuousExportDoc},
    {"flush", QV_EXCLUSIVE(CF, flush<CF>), QV_CALL, kContinuousFlushDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef categorical_decay_methods[] = {
    {"compute_drift", QV_EXCLUSIVE(KD, compute_drift<KD>), QV_CALL, kDecayComputeDoc},
    {"compute_drift_multiple_criteria", QV_EXCLUSIVE(KD, compute_multiple<KD>), QV_CALL, kDecayMultipleDoc},
    {"reset_baseline", QV_EXCLUSIVE(KD, categorical_reset<Decay>), QV_CALL, kCategoricalResetDoc},
    {"update_stream_batch", QV_EXCLUSIVE(KD, categorical_update_batch<Decay>), QV_CALL, kCategoricalBatchDoc},
    {"update_stream", QV_EXCLUSIVE(KD, categorical_update<Decay>), QV_CALL, kCategoricalUpdateDoc},
    {"export_snapshot", QV_SHARED(KD, categorical_snapshot<Decay>), QV_CALL, kCategoricalSnapshotDoc},
    {"export_baseline", QV_SHARED(KD, categorical_export<Decay>), QV_CALL, kCategoricalExportDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef categorical_flush_methods[] = {
    {"compute_drift", QV_EXCLUSIVE(KF, compute_drift<KF>), QV_CALL, kFlushComputeDoc},
    {"compute_drift_multiple_criteria", QV_EXCLUSIVE(KF, compute_multiple<KF>), QV_CALL, kFlushMultipleDoc},
    {"reset_baseline", QV_EXCLUSIVE(KF, categorical_reset<Flush>), QV_CALL, kCategoricalResetDoc},
    {"update_stream_batch", QV_EXCLUSIVE(KF, categorical_update_batch<Flush>), QV_CALL, kCategoricalBatchDoc},
    {"update_stream", QV_EXCLUSIVE(KF, categorical_update<Flush>), QV_CALL, kCategoricalUpdateDoc},
    {"export_snapshot", QV_SHARED(KF, categorical_snapshot<Flush>), QV_CALL, kCategoricalSnapshotDoc},
    {"export_baseline", QV_SHARED(KF, categorical_export<Flush>), QV_CALL, kCategoricalExportDoc},
    {"flush", QV_EXCLUSIVE(KF, flush<KF>), QV_CALL, kCategoricalFlushDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef continuous_decay_getset[] = {
    {"total_samples", frame::shared_getter<CD, total_samples<CD>>, nullptr, kDecayTotalDoc, nullptr},
    {"n_bins", frame::shared_getter<CD, continuous_n_bins<Decay>>, nullptr, kContinuousBinsDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef continuous_flush_getset[] = {
    {"total_samples", frame::shared_getter<CF, total_samples<CF>>, nullptr, kFlushTotalDoc, nullptr},
    {"n_bins", frame::shared_getter<CF, continuous_n_bins<Flush>>, nullptr, kContinuousBinsDoc, nullptr},
    {"last_flush", frame::shared_getter<CF, last_flush<CF>>, nullptr, kLastFlushDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef categorical_decay_getset[] = {
    {"total_samples", frame::shared_getter<KD, total_samples<KD>>, nullptr, kDecayTotalDoc, nullptr},
    {"n_bins", frame::shared_getter<KD, categorical_n_bins<Decay>>, nullptr, kCategoricalBinsDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef categorical_flush_getset[] = {
    {"total_samples", frame::shared_getter<KF, total_samples<KF>>, nullptr, kFlushTotalDoc, nullptr},
    {"n_bins", frame::shared_getter<KF, categorical_n_bins<Flush>>, nullptr, kCategoricalBinsDoc, nullptr},
    {"last_flush", frame::shared_getter<KF, last_flush<KF>>, nullptr, kLastFlushDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#define QV_SLOTS(Core, New, methods, getset, doc)                 \
    {                                                               \
        {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<New>)}, \
        {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<Core>)}, \
        {Py_tp_methods, methods},                                   \
        {Py_tp_getset, getset},                                     \
        {Py_tp_doc, const_cast<char*>(doc)},                        \
        {0, nullptr},                                               \
    }

PyType_Slot continuous_decay_slots[] = QV_SLOTS(
    CD, continuous_decay_new, continuous_decay_methods, continuous_decay_getset,
    "PyStreamingContinuousDataDriftDecay(baseline_data, quantile_type_str, decay_opt)\n--\n\n"
    "Streaming continuous data drift detector in decay mode. Applies exponential\n"
    "decay to accumulated runtime bins on each drift computation, giving more weight\nto recent samples.");

PyType_Slot continuous_flush_slots[] = QV_SLOTS(
    CF, continuous_flush_new, continuous_flush_methods, continuous_flush_getset,
    "PyStreamingContinuousDataDriftFlush(baseline_data, quantile_type_str, flush_rate_opt, flush_cadence_opt)\n--\n\n"
    "Streaming continuous data drift detector in flush mode. Accumulates runtime\n"
    "samples and resets accumulated bins on each flush.");

PyType_Slot categorical_decay_slots[] = QV_SLOTS(
    KD, categorical_decay_new, categorical_decay_methods, categorical_decay_getset,
    "PyStreamingCategoricalDataDriftDecay(baseline_data, half_life_opt)\n--\n\n"
    "Streaming categorical data drift detector in decay mode. Applies exponential\n"
    "decay to accumulated label counts on each drift computation, giving more weight\nto recent samples.");

PyType_Slot categorical_flush_slots[] = QV_SLOTS(
    KF, categorical_flush_new, categorical_flush_methods, categorical_flush_getset,
    "PyStreamingCategoricalDataDriftFlush(baseline_data, flush_rate, flush_cadence)\n--\n\n"
    "Streaming categorical data drift detector in flush mode. Accumulates runtime\n"
    "label counts and resets accumulated bins on each flush.");

}  // namespace

}  // namespace quorvant::drift::python_impl

namespace quorvant::registry {

namespace impl = drift::python_impl;

PyType_Spec PyStreamingContinuousDataDriftFlush = {
    "quorvant._quorvant.PyStreamingContinuousDataDriftFlush",
    static_cast<int>(sizeof(frame::Instance<impl::CF>)), 0, Py_TPFLAGS_DEFAULT, impl::continuous_flush_slots,
};

PyType_Spec PyStreamingContinuousDataDriftDecay = {
    "quorvant._quorvant.PyStreamingContinuousDataDriftDecay",
    static_cast<int>(sizeof(frame::Instance<impl::CD>)), 0, Py_TPFLAGS_DEFAULT, impl::continuous_decay_slots,
};

PyType_Spec PyStreamingCategoricalDataDriftFlush = {
    "quorvant._quorvant.PyStreamingCategoricalDataDriftFlush",
    static_cast<int>(sizeof(frame::Instance<impl::KF>)), 0, Py_TPFLAGS_DEFAULT, impl::categorical_flush_slots,
};

PyType_Spec PyStreamingCategoricalDataDriftDecay = {
    "quorvant._quorvant.PyStreamingCategoricalDataDriftDecay",
    static_cast<int>(sizeof(frame::Instance<impl::KD>)), 0, Py_TPFLAGS_DEFAULT, impl::categorical_decay_slots,
};

}  // namespace quorvant::registry
