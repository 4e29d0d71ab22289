// Python faces of the streaming performance monitors.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/held.hpp"
#include "frame/numpy.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/sequences.hpp"
#include "model_perf/python_impl/py_columns.hpp"
#include "model_perf/streaming/binary_classification_streaming.hpp"
#include "model_perf/streaming/linear_regression_streaming.hpp"
#include "model_perf/streaming/logistic_regression_streaming.hpp"
#include "model_perf/streaming/state.hpp"
#include "registry.hpp"
#include "reporting/py_monitor_methods.hpp"

namespace quorvant::model_perf::python_impl {

namespace {

using ClassificationCore = streaming::BinaryClassificationStreaming<std::int32_t>;
using LinearCore = streaming::LinearRegressionStreaming;
using LogisticCore = streaming::LogisticRegressionStreaming;

// A float sequence argument converted to a vector (the linear monitor
// takes spans of floats).
class FloatValues {
public:
    static std::optional<FloatValues> from(PyObject* obj, const char* arg) {
        auto values = frame::to_f32_sequence(obj, arg);
        if (!values) return std::nullopt;
        FloatValues v;
        v.values_ = std::move(*values);
        return v;
    }
    bool settle() { return true; }  // always a copy
    const std::vector<float>& column() const { return values_; }
    std::size_t size() const { return values_.size(); }

private:
    std::vector<float> values_;
};

template <class T>
PyObject* none_or_raise(const T& result) {
    if (!result) return frame::raise(result.error());
    Py_RETURN_NONE;
}

// The (y_true, y_pred) pair every monitor takes whole, converted in that
// order by the monitor's column reader (FloatValues above, FloatColumn or
// IntColumn), settled once every argument of the call is converted.
template <class Reader>
struct Pair {
    Reader y_true;
    Reader y_pred;

    bool settle() { return frame::settle(y_true, y_pred); }

    // f(y_true, y_pred) on the views; the GIL is released for large pairs
    // (the views are numeric buffers or copies).
    template <class F>
    decltype(auto) apply(F&& f) const {
        return frame::run_core(y_true.size(), [&] { return f(y_true.column(), y_pred.column()); });
    }
};

template <class Reader, std::size_t N>
std::optional<Pair<Reader>> read_pair(const frame::Args<N>& a) {
    auto y_true = Reader::from(a[0], "y_true");
    if (!y_true) return std::nullopt;
    auto y_pred = Reader::from(a[1], "y_pred");
    if (!y_pred) return std::nullopt;
    return Pair<Reader>{std::move(*y_true), std::move(*y_pred)};
}

constexpr frame::Param kPairParams[] = {{"y_true"}, {"y_pred"}};
constexpr char kPushBatch[] = "push_batch";
constexpr char kResetBaseline[] = "reset_baseline";

// A constructor taking the pair alone.
template <class Core, class Reader, const char* Type>
PyObject* pair_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    frame::Args<2> a;
    if (!frame::extract(Type, kPairParams, args, kwargs, a)) return nullptr;
    auto pair = read_pair<Reader>(a);
    if (!pair || !pair->settle()) return nullptr;
    auto core = pair->apply([](const auto& t, const auto& p) { return Core::create(t, p); });
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

// A method taking the pair alone (push_batch, reset_baseline).
template <class Core, class Reader, const char* Name, auto Method>
PyObject* pair_method(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<2> a;
    if (!frame::extract(Name, kPairParams, args, nargs, kwnames, a)) return nullptr;
    auto pair = read_pair<Reader>(a);
    if (!pair || !pair->settle()) return nullptr;
    return none_or_raise(pair->apply([&](const auto& t, const auto& p) { return (core.*Method)(t, p); }));
}

// PyBinaryClassificationStreaming: sequences of 32-bit integers.

using ClassificationMethods = reporting::MonitorMethods<ClassificationCore, &ClassificationCore::performance_snapshot>;
constexpr char kClassificationType[] = "PyBinaryClassificationStreaming";

PyObject* classification_push(ClassificationCore& core, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    frame::Args<2> a;
    if (!frame::extract("push", kPairParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = frame::to_i32(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_i32(a[1], "y_pred");
    if (!y_pred) return nullptr;
    core.push(*y_true, *y_pred);
    Py_RETURN_NONE;
}

// PyLinearRegressionStreaming: sequences of floats.

using LinearMethods = reporting::MonitorMethods<LinearCore, &LinearCore::performance_snapshot>;
constexpr char kLinearType[] = "PyLinearRegressionStreaming";

PyObject* linear_push(LinearCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"t"}, {"p"}};
    frame::Args<2> a;
    if (!frame::extract("push", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto t = frame::to_f32(a[0], "t");
    if (!t) return nullptr;
    const auto p = frame::to_f32(a[1], "p");
    if (!p) return nullptr;
    core.push(*t, *p);
    Py_RETURN_NONE;
}

// PyLogisticRegressionStreaming: sequences of floats and a decision threshold.

using LogisticMethods = reporting::MonitorMethods<LogisticCore, &LogisticCore::performance_snapshot>;

PyObject* logistic_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}, {"threshold"}};
    frame::Args<3> a;
    if (!frame::extract("PyLogisticRegressionStreaming", kParams, args, kwargs, a)) return nullptr;
    auto pair = read_pair<FloatColumn>(a);
    if (!pair) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold || !pair->settle()) return nullptr;
    auto core = pair->apply([&](const Column& t, const Column& p) { return LogisticCore::create(t, p, *threshold); });
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* logistic_push(LogisticCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<2> a;
    if (!frame::extract("push", kPairParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = frame::to_f32(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_f32(a[1], "y_pred");
    if (!y_pred) return nullptr;
    return none_or_raise(core.push(*y_true, *y_pred));
}

PyObject* logistic_reset_baseline_and_decision_threshold(LogisticCore& core, PyObject* const* args,
                                                         Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}, {"threshold"}};
    frame::Args<3> a;
    if (!frame::extract("reset_baseline_and_decision_threshold", kParams, args, nargs, kwnames, a)) return nullptr;
    auto pair = read_pair<FloatColumn>(a);
    if (!pair) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold || !pair->settle()) return nullptr;
    return none_or_raise(pair->apply([&](const Column& t, const Column& p) {
        return core.reset_baseline_and_decision_threshold(t, p, *threshold);
    }));
}

// Classes.

// push_batch and reset_baseline of a monitor whose pair is read by Reader.
template <class Core, class Reader>
PyMethodDef push_batch_entry() {
    return frame::exclusive<Core, pair_method<Core, Reader, kPushBatch, &Core::push_batch>>(
        "push_batch", "push_batch($self, y_true, y_pred)\n--\n\n");
}

template <class Core, class Reader>
PyMethodDef reset_baseline_entry() {
    return frame::exclusive<Core, pair_method<Core, Reader, kResetBaseline, &Core::reset_baseline>>(
        "reset_baseline", "reset_baseline($self, y_true, y_pred)\n--\n\n");
}

// The entries after push and the reset methods, in the same order for all three.
template <class Methods>
std::array<PyMethodDef, 5> reading_methods() {
    return {Methods::performance_snapshot_entry(), Methods::drift_snapshot_entry(), Methods::drift_report_entry(),
            Methods::drift_report_partial_metrics_entry(), Methods::flush_entry()};
}

// merge: the counts add exactly; the regression monitors' sums add in one
// addition each.
constexpr const char kClassificationMergeDoc[] =
    "merge($self, other)\n--\n\n"
    "Adds the pairs `other` has counted to this monitor, as if it had seen them\n"
    "too; `other` is unchanged. Counts add exactly, so merging the monitors of\n"
    "any split of a stream gives the monitor of the whole stream. Refused with\n"
    "ValueError, nothing changed, when `other` is not of this class, its\n"
    "baseline differs (bit for bit), or a count would pass 64 bits. m.merge(m)\n"
    "doubles the counts; quorvant.merge_all folds many monitors into a new one.";

constexpr const char kLinearMergeDoc[] =
    "merge($self, other)\n--\n\n"
    "Adds the pairs `other` has seen to this monitor, as if it had seen them\n"
    "too; `other` is unchanged. Each of the ten f64 sums (the pair count\n"
    "included) adds in one addition and the maximum error is the larger of the\n"
    "two, so the result equals one pass over both streams up to the rounding of\n"
    "that one addition per sum (metrics computed from the sums may differ from a\n"
    "single pass in their last bits). Refused with ValueError, nothing changed,\n"
    "when `other` is not of this class or its baseline differs (bit for bit).\n"
    "m.merge(m) doubles the sums; quorvant.merge_all folds many monitors into a\n"
    "new one.";

constexpr const char kLogisticMergeDoc[] =
    "merge($self, other)\n--\n\n"
    "Adds the pairs `other` has seen to this monitor, as if it had seen them\n"
    "too; `other` is unchanged. Counts add exactly; the f64 log-loss sum adds in\n"
    "one addition, so it equals one pass over both streams up to the rounding of\n"
    "that addition. Refused with ValueError, nothing changed, when `other` is not\n"
    "of this class, its baseline, decision threshold or stored eps differ (bit\n"
    "for bit), or a count would pass 64 bits. m.merge(m) doubles what m holds;\n"
    "quorvant.merge_all folds many monitors into a new one.";

struct ClassificationFace {
    using Core = ClassificationCore;
    using Codec = streaming::BinaryClassificationCodec;
    static constexpr const char* merge_doc = kClassificationMergeDoc;
    static constexpr const char* name = kClassificationType;
    static constexpr const char* doc = "PyBinaryClassificationStreaming(y_true, y_pred)\n--\n\n";
    static constexpr auto construct = pair_new<Core, IntColumn, kClassificationType>;
    static auto methods() {
        return frame::join(std::array{frame::exclusive_scalar<Core, classification_push>("push", "push($self, y_true, y_pred)\n--\n\n"),
                                      push_batch_entry<Core, IntColumn>(), reset_baseline_entry<Core, IntColumn>()},
                           reading_methods<ClassificationMethods>());
    }
};

struct LinearFace {
    using Core = LinearCore;
    using Codec = streaming::LinearRegressionCodec;
    static constexpr const char* merge_doc = kLinearMergeDoc;
    static constexpr const char* name = kLinearType;
    static constexpr const char* doc = "PyLinearRegressionStreaming(y_true, y_pred)\n--\n\n";
    static constexpr auto construct = pair_new<Core, FloatValues, kLinearType>;
    static auto methods() {
        return frame::join(std::array{frame::exclusive_scalar<Core, linear_push>("push", "push($self, t, p)\n--\n\n"),
                                      push_batch_entry<Core, FloatValues>(), reset_baseline_entry<Core, FloatValues>()},
                           reading_methods<LinearMethods>());
    }
};

struct LogisticFace {
    using Core = LogisticCore;
    using Codec = streaming::LogisticRegressionCodec;
    static constexpr const char* merge_doc = kLogisticMergeDoc;
    static constexpr const char* name = "PyLogisticRegressionStreaming";
    static constexpr const char* doc = "PyLogisticRegressionStreaming(y_true, y_pred, threshold)\n--\n\n";
    static constexpr auto construct = logistic_new;
    static auto methods() {
        return frame::join(
            std::array{frame::exclusive_scalar<Core, logistic_push>("push", "push($self, y_true, y_pred)\n--\n\n"),
                       push_batch_entry<Core, FloatColumn>(), reset_baseline_entry<Core, FloatColumn>(),
                       frame::exclusive<Core, logistic_reset_baseline_and_decision_threshold>(
                           "reset_baseline_and_decision_threshold",
                           "reset_baseline_and_decision_threshold($self, y_true, y_pred, threshold)\n--\n\n")},
            reading_methods<LogisticMethods>());
    }
};

}  // namespace

}  // namespace quorvant::model_perf::python_impl

namespace quorvant::registry {

namespace perf = model_perf::python_impl;

PyType_Spec PyBinaryClassificationStreaming = frame::class_spec<perf::ClassificationFace>();
PyType_Spec PyLinearRegressionStreaming = frame::class_spec<perf::LinearFace>();
PyType_Spec PyLogisticRegressionStreaming = frame::class_spec<perf::LogisticFace>();

}  // namespace quorvant::registry
