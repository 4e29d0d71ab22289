// Python faces of the streaming performance monitors.
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

// Method tables.

// push_batch and reset_baseline of a monitor whose pair is read by Reader.
template <class Core, class Reader>
PyMethodDef push_batch_entry() {
    return {"push_batch", frame::exclusive<Core, pair_method<Core, Reader, kPushBatch, &Core::push_batch>>(),
            frame::kFastCall, "push_batch($self, y_true, y_pred)\n--\n\n"};
}

template <class Core, class Reader>
PyMethodDef reset_baseline_entry() {
    return {"reset_baseline",
            frame::exclusive<Core, pair_method<Core, Reader, kResetBaseline, &Core::reset_baseline>>(),
            frame::kFastCall, "reset_baseline($self, y_true, y_pred)\n--\n\n"};
}

// The entries after push and the reset methods, in the same order for all three.
#define QUORVANT_READING_METHODS(Methods)                                                              \
    Methods::performance_snapshot_entry(), Methods::drift_snapshot_entry(), Methods::drift_report_entry(), \
        Methods::drift_report_partial_metrics_entry(), Methods::flush_entry()

PyMethodDef classification_methods[] = {
    {"push", frame::exclusive<ClassificationCore, classification_push>(), frame::kFastCall,
     "push($self, y_true, y_pred)\n--\n\n"},
    push_batch_entry<ClassificationCore, IntColumn>(),
    reset_baseline_entry<ClassificationCore, IntColumn>(),
    QUORVANT_READING_METHODS(ClassificationMethods),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef linear_methods[] = {
    {"push", frame::exclusive<LinearCore, linear_push>(), frame::kFastCall, "push($self, t, p)\n--\n\n"},
    push_batch_entry<LinearCore, FloatValues>(),
    reset_baseline_entry<LinearCore, FloatValues>(),
    QUORVANT_READING_METHODS(LinearMethods),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef logistic_methods[] = {
    {"push", frame::exclusive<LogisticCore, logistic_push>(), frame::kFastCall,
     "push($self, y_true, y_pred)\n--\n\n"},
    push_batch_entry<LogisticCore, FloatColumn>(),
    reset_baseline_entry<LogisticCore, FloatColumn>(),
    {"reset_baseline_and_decision_threshold",
     frame::exclusive<LogisticCore, logistic_reset_baseline_and_decision_threshold>(), frame::kFastCall,
     "reset_baseline_and_decision_threshold($self, y_true, y_pred, threshold)\n--\n\n"},
    QUORVANT_READING_METHODS(LogisticMethods),
    {nullptr, nullptr, 0, nullptr},
};

#undef QUORVANT_READING_METHODS

PyType_Slot classification_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(
                    frame::guarded_new<pair_new<ClassificationCore, IntColumn, kClassificationType>>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<ClassificationCore>)},
    {Py_tp_methods, classification_methods},
    {Py_tp_doc, const_cast<char*>("PyBinaryClassificationStreaming(y_true, y_pred)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot linear_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<pair_new<LinearCore, FloatValues, kLinearType>>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<LinearCore>)},
    {Py_tp_methods, linear_methods},
    {Py_tp_doc, const_cast<char*>("PyLinearRegressionStreaming(y_true, y_pred)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot logistic_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<logistic_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<LogisticCore>)},
    {Py_tp_methods, logistic_methods},
    {Py_tp_doc, const_cast<char*>("PyLogisticRegressionStreaming(y_true, y_pred, threshold)\n--\n\n")},
    {0, nullptr},
};

constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

}  // namespace

}  // namespace quorvant::model_perf::python_impl

namespace quorvant::registry {

namespace perf = model_perf::python_impl;

PyType_Spec PyBinaryClassificationStreaming = {
    "quorvant._quorvant.PyBinaryClassificationStreaming",
    static_cast<int>(sizeof(frame::Instance<perf::ClassificationCore>)),
    0,
    perf::kFlags,
    perf::classification_slots,
};

PyType_Spec PyLinearRegressionStreaming = {
    "quorvant._quorvant.PyLinearRegressionStreaming",
    static_cast<int>(sizeof(frame::Instance<perf::LinearCore>)),
    0,
    perf::kFlags,
    perf::linear_slots,
};

PyType_Spec PyLogisticRegressionStreaming = {
    "quorvant._quorvant.PyLogisticRegressionStreaming",
    static_cast<int>(sizeof(frame::Instance<perf::LogisticCore>)),
    0,
    perf::kFlags,
    perf::logistic_slots,
};

}  // namespace quorvant::registry
