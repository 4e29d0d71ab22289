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
#include "frame/buffer_kernels.hpp"
#include "frame/convert.hpp"
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

// A float sequence argument as a column: a NumPy buffer read in place, any
// other sequence converted first.
class FloatColumn {
public:
    static std::optional<FloatColumn> from(PyObject* obj, const char* arg) {
        FloatColumn c;
        if (frame::numpy_ready()) {
            if (frame::is_array(obj)) {
                if (const auto col = buffer_column(reinterpret_cast<PyArrayObject*>(obj), true)) {
                    c.in_place_ = *col;
                    return c;
                }
            }
        } else {
            PyErr_Clear();
        }
        auto values = frame::to_f32_sequence(obj, arg);
        if (!values) return std::nullopt;
        c.values_ = std::move(*values);
        return c;
    }
    Column column() const { return in_place_ ? *in_place_ : Column::of(values_); }

private:
    std::optional<Column> in_place_;
    std::vector<float> values_;
};

// An integer sequence argument as a column: a NumPy integer buffer whose
// values all fit in 32 bits read in place, any other sequence converted
// first (which raises the protocol's errors, out-of-range values included).
class IntColumn {
public:
    static std::optional<IntColumn> from(PyObject* obj, const char* arg) {
        IntColumn c;
        if (frame::numpy_ready()) {
            if (frame::is_array(obj)) {
                const auto col = buffer_column(reinterpret_cast<PyArrayObject*>(obj), false);
                if (col && col->type != ElementType::F64 && col->type != ElementType::F32 && fits_i32(*col)) {
                    c.in_place_ = *col;
                    return c;
                }
            }
        } else {
            PyErr_Clear();
        }
        auto values = frame::to_i32_sequence(obj, arg);
        if (!values) return std::nullopt;
        c.values_ = std::move(*values);
        return c;
    }
    Column column() const { return in_place_ ? *in_place_ : Column::of(values_); }

private:
    static bool fits_i32(const Column& col) {
        return visit(col, [&]<class T>(Typed<T> t) {
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
                return frame::all_in_i32<T>(t.data, t.stride, t.size);
            } else {
                return false;
            }
        });
    }

    std::optional<Column> in_place_;
    std::vector<std::int32_t> values_;
};

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
    const std::vector<float>& column() const { return values_; }

private:
    std::vector<float> values_;
};

template <class T>
PyObject* none_or_raise(const T& result) {
    if (!result) return frame::raise(result.error());
    Py_RETURN_NONE;
}

// The (y_true, y_pred) pair every monitor takes whole, read in that order
// by the monitor's column reader (one of the three above).
template <class Reader>
struct Pair {
    Reader y_true;
    Reader y_pred;
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
    const auto pair = read_pair<Reader>(a);
    if (!pair) return nullptr;
    auto core = Core::create(pair->y_true.column(), pair->y_pred.column());
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

// A method taking the pair alone (push_batch, reset_baseline).
template <class Core, class Reader, const char* Name, auto Method>
PyObject* pair_method(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<2> a;
    if (!frame::extract(Name, kPairParams, args, nargs, kwnames, a)) return nullptr;
    const auto pair = read_pair<Reader>(a);
    if (!pair) return nullptr;
    return none_or_raise((core.*Method)(pair->y_true.column(), pair->y_pred.column()));
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
    const auto pair = read_pair<FloatColumn>(a);
    if (!pair) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold) return nullptr;
    auto core = LogisticCore::create(pair->y_true.column(), pair->y_pred.column(), *threshold);
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
    const auto pair = read_pair<FloatColumn>(a);
    if (!pair) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold) return nullptr;
    return none_or_raise(
        core.reset_baseline_and_decision_threshold(pair->y_true.column(), pair->y_pred.column(), *threshold));
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
        return frame::join(std::array{frame::exclusive<Core, classification_push>("push", "push($self, y_true, y_pred)\n--\n\n"),
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
        return frame::join(std::array{frame::exclusive<Core, linear_push>("push", "push($self, t, p)\n--\n\n"),
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
            std::array{frame::exclusive<Core, logistic_push>("push", "push($self, y_true, y_pred)\n--\n\n"),
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
