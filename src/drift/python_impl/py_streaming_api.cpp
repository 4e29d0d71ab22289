// Python faces of the streaming drift detectors: one set of entry points per
// feature kind, instantiated for the decay and the flush mode.
#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

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
    auto array = F64Array::from(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    const auto half_life = mode_param(a[2], "decay_opt");
    if (!half_life) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    if (!half_life_ok(*half_life)) return nullptr;
    auto core = frame::run_core(values->span().size(), [&] {
        return Continuous<Decay>::new_decay(values->span(), *rule, half_life->value_or(0));
    });
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* continuous_flush_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {
        {"baseline_data"}, {"quantile_type_str"}, {"flush_rate_opt"}, {"flush_cadence_opt"}};
    frame::Args<4> a;
    if (!frame::extract("PyStreamingContinuousDataDriftFlush", kParams, args, kwargs, a)) return nullptr;
    auto array = F64Array::from(a[0], "baseline_data");
    if (!array) return nullptr;
    const auto rule_name = quantile_name(a[1], "quantile_type_str");
    if (!rule_name) return nullptr;
    const auto rate = mode_param(a[2], "flush_rate_opt");
    if (!rate) return nullptr;
    const auto cadence = mode_param(a[3], "flush_cadence_opt");
    if (!cadence) return nullptr;
    const auto values = array->values();
    if (!values) return nullptr;
    const auto rule = quantile_type(*rule_name);
    if (!rule) return nullptr;
    auto core = frame::run_core(values->span().size(), [&] {
        return Continuous<Flush>::new_flush(values->span(), *rule, *rate, *cadence);
    });
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* categorical_decay_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"half_life_opt"}};
    frame::Args<2> a;
    if (!frame::extract("PyStreamingCategoricalDataDriftDecay", kParams, args, kwargs, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    const auto half_life = mode_param(a[1], "half_life_opt");
    if (!half_life) return nullptr;
    if (!half_life_ok(*half_life)) return nullptr;
    auto bins = build_baseline(*labels);
    if (!bins) return nullptr;
    return frame::allocate(type, Categorical<Decay>::new_decay(std::move(*bins), half_life->value_or(0)));
}

PyObject* categorical_flush_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"baseline_data"}, {"flush_rate"}, {"flush_cadence"}};
    frame::Args<3> a;
    if (!frame::extract("PyStreamingCategoricalDataDriftFlush", kParams, args, kwargs, a)) return nullptr;
    const auto labels = LabelSeq::of(a[0], "baseline_data");
    if (!labels) return nullptr;
    const auto rate = mode_param(a[1], "flush_rate");
    if (!rate) return nullptr;
    const auto cadence = mode_param(a[2], "flush_cadence");
    if (!cadence) return nullptr;
    auto bins = build_baseline(*labels);
    if (!bins) return nullptr;
    return frame::allocate(type, Categorical<Flush>::new_flush(std::move(*bins), *rate, *cadence));
}

template <class T>
PyObject* none_or_raise(const T& result) {
    if (!result) return frame::raise(result.error());
    Py_RETURN_NONE;
}

// ------------------------------------------------------------ feature kinds --
//
// What differs between the two feature kinds: how samples are read, what
// the exports look like, and the docstrings that say so.

struct ContinuousKind {
    template <class Mode>
    using Core = Continuous<Mode>;
    template <class Mode>
    using Codec = StreamingContinuousCodec<Mode>;

    // A batch or a baseline: a contiguous float64 array.
    static std::optional<F64Values> read(PyObject* obj, const char* arg) {
        auto array = F64Array::from(obj, arg);
        if (!array) return std::nullopt;
        return array->values();
    }
    template <class Mode>
    static PyObject* update_batch(Core<Mode>& core, PyObject* obj, const char* arg) {
        const auto values = read(obj, arg);
        if (!values) return nullptr;
        const auto r = frame::run_core(values->span().size(),
                                       [&] { return core.update_stream_batch(values->span()); });
        return none_or_raise(r);
    }
    template <class Mode>
    static PyObject* reset(Core<Mode>& core, PyObject* obj, const char* arg) {
        const auto values = read(obj, arg);
        if (!values) return nullptr;
        const auto r = frame::run_core(values->span().size(), [&] { return core.reset_baseline(values->span()); });
        return none_or_raise(r);
    }
    static std::optional<double> sample(PyObject* obj, const char* arg) { return frame::to_f64(obj, arg); }

    template <class Mode>
    static PyObject* snapshot(const Core<Mode>& core) {
        const auto snapshot = core.export_snapshot();
        if (!snapshot) return frame::raise(snapshot.error());
        return snapshot_dict(*snapshot);
    }
    template <class Mode>
    static PyObject* exported(const Core<Mode>& core) {
        const auto hist = core.baseline().baseline_hist();
        return frame::to_py(std::vector<double>(hist.begin(), hist.end()));
    }
    template <class Mode>
    static PyObject* n_bins(const Core<Mode>& core) {
        return PyLong_FromUnsignedLongLong(core.baseline().num_bins());
    }

    static constexpr const char* reset_param = "baseline_data";
    static constexpr const char* reset_doc =
        "reset_baseline($self, baseline_data)\n--\n\nReplace the baseline distribution with a new data slice and "
        "clear the stream.";
    static constexpr const char* batch_doc =
        "update_stream_batch($self, runtime_data)\n--\n\nAdd a batch of runtime samples to the stream buffer.";
    static constexpr const char* update_doc =
        "update_stream($self, runtime_example)\n--\n\nAdd a single runtime sample to the stream buffer.";
    static constexpr const char* snapshot_doc =
        "export_snapshot($self)\n--\n\nExport the current stream histogram as a map of bin label to bin values.";
    static constexpr const char* export_doc = kContinuousExportDoc;
    static constexpr const char* flush_doc = "flush($self)\n--\n\nFlush the stream, resetting accumulated runtime bins.";
    static constexpr const char* bins_doc = "Number of histogram bins.";
};

struct CategoricalKind {
    template <class Mode>
    using Core = Categorical<Mode>;
    template <class Mode>
    using Codec = StreamingCategoricalCodec<Mode>;

    // A batch or a baseline: a sequence of str, every label checked first.
    template <class Mode>
    static PyObject* update_batch(Core<Mode>& core, PyObject* obj, const char* arg) {
        const auto labels = LabelSeq::of(obj, arg);
        if (!labels) return nullptr;
        const auto batch = core.plan_batch(labels->size());
        if (!batch) return frame::raise(batch.error());
        const auto counts = frame::run_core(gil_free_size(*labels),
                                            [&] { return bin_counts(*labels, core.baseline(), batch->start); });
        if (!counts) return raise_failure(counts.error());
        core.commit_batch(*batch, *counts);
        Py_RETURN_NONE;
    }
    template <class Mode>
    static PyObject* reset(Core<Mode>& core, PyObject* obj, const char* arg) {
        const auto labels = LabelSeq::of(obj, arg);
        if (!labels) return nullptr;
        auto bins = build_baseline(*labels);
        if (!bins) return nullptr;
        core.reset_baseline(std::move(*bins));
        Py_RETURN_NONE;
    }
    static std::optional<std::string_view> sample(PyObject* obj, const char* arg) { return label_of(obj, arg); }

    template <class Mode>
    static PyObject* snapshot(const Core<Mode>& core) {
        return label_dict(core.baseline(), core.stream().rt_bins());
    }
    template <class Mode>
    static PyObject* exported(const Core<Mode>& core) {
        return label_dict(core.baseline(), core.baseline().baseline_hist());
    }
    template <class Mode>
    static PyObject* n_bins(const Core<Mode>& core) {
        return PyLong_FromSize_t(core.stream().rt_bins().size());
    }

    static constexpr const char* reset_param = "new_baseline";
    static constexpr const char* reset_doc =
        "reset_baseline($self, new_baseline)\n--\n\nReplace the baseline distribution with a new set of labels and "
        "clear the stream.";
    static constexpr const char* batch_doc =
        "update_stream_batch($self, runtime_data)\n--\n\nAdd a batch of runtime labels to the stream buffer.";
    static constexpr const char* update_doc =
        "update_stream($self, runtime_example)\n--\n\nAdd a single runtime label to the stream buffer.";
    static constexpr const char* snapshot_doc =
        "export_snapshot($self)\n--\n\nExport the current stream label counts as a map of label to count.";
    static constexpr const char* export_doc = kCategoricalExportDoc;
    static constexpr const char* flush_doc =
        "flush($self)\n--\n\nFlush the stream, resetting accumulated runtime label counts.";
    static constexpr const char* bins_doc = "Number of distinct label bins.";
};

// What differs between the two modes: the docstrings.
template <class Mode>
struct ModeDocs;

template <>
struct ModeDocs<Decay> {
    static constexpr const char* compute =
        "compute_drift($self, drift_type)\n--\n\nApply decay to stream bins and compute a single drift metric.\n\n"
        QUORVANT_DRIFT_TYPE_SENTENCE;
    static constexpr const char* multiple =
        "compute_drift_multiple_criteria($self, drift_types)\n--\n\nApply decay and compute multiple drift metrics in a "
        "single pass. Returns\nscores in the same order as `drift_types`.";
    static constexpr const char* total = "Effective sample count after decay weighting.";
    static constexpr const char* merge =
        "merge($self, other)\n--\n\n"
        "Adds the weights `other` has accumulated to this detector, as if it had\n"
        "seen its samples too; `other` is unchanged. Each bin weight and the total\n"
        "add in one addition, so samples keep the decay their own detector applied:\n"
        "streams that saw no drift call in between merge into exactly the weights of\n"
        "one stream (whole counts below 2^53 add exactly), decayed ones up to the\n"
        "rounding of that one addition. Refused with ValueError, nothing changed,\n"
        "when `other` is not of this class or its baseline (bin rule, edges or\n"
        "labels, shares) or decay factor differ (bit for bit). m.merge(m) doubles\n"
        "the weights; quorvant.merge_all folds many detectors into a new one.";
};

template <>
struct ModeDocs<Flush> {
    static constexpr const char* compute =
        "compute_drift($self, drift_type)\n--\n\nCompute a single drift metric against the current stream bins. "
        "Triggers a\nflush if the configured flush cadence or rate has been reached.\n\n" QUORVANT_DRIFT_TYPE_SENTENCE;
    static constexpr const char* multiple =
        "compute_drift_multiple_criteria($self, drift_types)\n--\n\nCompute multiple drift metrics in a single pass. "
        "Returns scores in the same\norder as `drift_types`.";
    static constexpr const char* total = "Total number of runtime samples accumulated since the last flush.";
    static constexpr const char* merge =
        "merge($self, other)\n--\n\n"
        "Adds the samples `other` has counted since its last flush to this\n"
        "detector, as if it had seen them too; `other` is unchanged. Counts add\n"
        "exactly (below 2^53). The merged detector keeps the older of the two last\n"
        "flushes, so its cadence runs from the oldest sample it may hold, and the\n"
        "flush rate applies at the next added sample, as for one stream: a merged\n"
        "count at or above the rate flushes before that sample is counted. Refused\n"
        "with ValueError, nothing changed, when `other` is not of this class or its\n"
        "baseline (bin rule, edges or labels, shares), flush rate or cadence differ.\n"
        "m.merge(m) doubles the counts; quorvant.merge_all folds many detectors\n"
        "into a new one.";
};

// ---------------------------------------------------------- entry points --

template <class Kind, class Mode>
using CoreOf = typename Kind::template Core<Mode>;

template <class Kind, class Mode>
PyObject* update(CoreOf<Kind, Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_example"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto x = Kind::sample(a[0], "runtime_example");
    if (!x) return nullptr;
    core.update_stream(*x);
    Py_RETURN_NONE;
}

template <class Kind, class Mode>
PyObject* update_batch(CoreOf<Kind, Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"runtime_data"}};
    frame::Args<1> a;
    if (!frame::extract("update_stream_batch", kParams, args, nargs, kwnames, a)) return nullptr;
    return Kind::update_batch(core, a[0], "runtime_data");
}

template <class Kind, class Mode>
PyObject* reset(CoreOf<Kind, Mode>& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{Kind::reset_param}};
    frame::Args<1> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    return Kind::reset(core, a[0], Kind::reset_param);
}

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
    const auto types = drift_types(*names);
    if (!types) return nullptr;
    const auto scores = core.compute_drift_multiple_criteria(*types);
    if (!scores) return frame::raise(scores.error());
    return frame::to_py(*scores);
}

template <class Kind, class Mode>
PyObject* snapshot(const CoreOf<Kind, Mode>& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_snapshot", nargs, kwnames)) return nullptr;
    return Kind::snapshot(core);
}

template <class Kind, class Mode>
PyObject* exported(const CoreOf<Kind, Mode>& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("export_baseline", nargs, kwnames)) return nullptr;
    return Kind::exported(core);
}

template <class Core>
PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
    core.flush();
    Py_RETURN_NONE;
}

template <class Core>
PyObject* total_samples(const Core& core) {
    return floor_to_int(core.stream().total_samples());
}

template <class Kind, class Mode>
PyObject* n_bins(const CoreOf<Kind, Mode>& core) {
    return Kind::n_bins(core);
}

template <class Core>
PyObject* last_flush(const Core& core) {
    return PyLong_FromUnsignedLongLong(core.stream().seconds_since_flush());
}

// --------------------------------------------------------------- classes --

// The four classes: one face, per kind and mode.
template <class Kind, class Mode>
struct Class;

template <>
struct Class<ContinuousKind, Decay> {
    static constexpr const char* name = "PyStreamingContinuousDataDriftDecay";
    static constexpr const char* doc =
        "PyStreamingContinuousDataDriftDecay(baseline_data, quantile_type_str, decay_opt)\n--\n\n"
        "Streaming continuous data drift detector in decay mode. Applies exponential\n"
        "decay to accumulated runtime bins on each drift computation, giving more weight\nto recent samples.";
    static constexpr auto construct = continuous_decay_new;
};

template <>
struct Class<ContinuousKind, Flush> {
    static constexpr const char* name = "PyStreamingContinuousDataDriftFlush";
    static constexpr const char* doc =
        "PyStreamingContinuousDataDriftFlush(baseline_data, quantile_type_str, flush_rate_opt, flush_cadence_opt)\n"
        "--\n\n"
        "Streaming continuous data drift detector in flush mode. Accumulates runtime\n"
        "samples and resets accumulated bins on each flush.";
    static constexpr auto construct = continuous_flush_new;
};

template <>
struct Class<CategoricalKind, Decay> {
    static constexpr const char* name = "PyStreamingCategoricalDataDriftDecay";
    static constexpr const char* doc =
        "PyStreamingCategoricalDataDriftDecay(baseline_data, half_life_opt)\n--\n\n"
        "Streaming categorical data drift detector in decay mode. Applies exponential\n"
        "decay to accumulated label counts on each drift computation, giving more weight\nto recent samples.";
    static constexpr auto construct = categorical_decay_new;
};

template <>
struct Class<CategoricalKind, Flush> {
    static constexpr const char* name = "PyStreamingCategoricalDataDriftFlush";
    static constexpr const char* doc =
        "PyStreamingCategoricalDataDriftFlush(baseline_data, flush_rate, flush_cadence)\n--\n\n"
        "Streaming categorical data drift detector in flush mode. Accumulates runtime\n"
        "label counts and resets accumulated bins on each flush.";
    static constexpr auto construct = categorical_flush_new;
};

template <class Kind, class Mode>
struct StreamingFace : Class<Kind, Mode> {
    using Core = CoreOf<Kind, Mode>;
    using Codec = typename Kind::template Codec<Mode>;
    static constexpr const char* merge_doc = ModeDocs<Mode>::merge;
    static constexpr bool kFlush = std::is_same_v<Mode, Flush>;

    static auto methods() {
        const auto both = std::array{
            frame::exclusive<Core, compute_drift<Core>>("compute_drift", ModeDocs<Mode>::compute),
            frame::exclusive<Core, compute_multiple<Core>>("compute_drift_multiple_criteria", ModeDocs<Mode>::multiple),
            frame::exclusive<Core, reset<Kind, Mode>>("reset_baseline", Kind::reset_doc),
            frame::exclusive<Core, update_batch<Kind, Mode>>("update_stream_batch", Kind::batch_doc),
            frame::exclusive_scalar<Core, update<Kind, Mode>>("update_stream", Kind::update_doc),
            frame::shared<Core, snapshot<Kind, Mode>>("export_snapshot", Kind::snapshot_doc),
            frame::shared<Core, exported<Kind, Mode>>("export_baseline", Kind::export_doc),
        };
        if constexpr (kFlush) {
            return frame::join(both, std::array{frame::exclusive<Core, flush<Core>>("flush", Kind::flush_doc)});
        } else {
            return both;
        }
    }

    static auto getset() {
        const auto both = std::array{
            frame::getter<Core, total_samples<Core>>("total_samples", ModeDocs<Mode>::total),
            frame::getter<Core, n_bins<Kind, Mode>>("n_bins", Kind::bins_doc),
        };
        if constexpr (kFlush) {
            return frame::join(both, std::array{frame::getter<Core, last_flush<Core>>(
                                         "last_flush", "Unix timestamp (seconds) of the last flush.")});
        } else {
            return both;
        }
    }
};

}  // namespace

}  // namespace quorvant::drift::python_impl

namespace quorvant::registry {

namespace impl = drift::python_impl;

PyType_Spec PyStreamingContinuousDataDriftFlush =
    frame::class_spec<impl::StreamingFace<impl::ContinuousKind, impl::Flush>>();
PyType_Spec PyStreamingContinuousDataDriftDecay =
    frame::class_spec<impl::StreamingFace<impl::ContinuousKind, impl::Decay>>();
PyType_Spec PyStreamingCategoricalDataDriftFlush =
    frame::class_spec<impl::StreamingFace<impl::CategoricalKind, impl::Flush>>();
PyType_Spec PyStreamingCategoricalDataDriftDecay =
    frame::class_spec<impl::StreamingFace<impl::CategoricalKind, impl::Decay>>();

}  // namespace quorvant::registry
