// Python faces of the streaming performance monitors.
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
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
#include "reporting/py_report_utils.hpp"

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

template <class T>
PyObject* none_or_raise(const T& result) {
    if (!result) return frame::raise(result.error());
    Py_RETURN_NONE;
}

// Methods every monitor has.

template <class Core>
PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
    core.flush();
    Py_RETURN_NONE;
}

template <class Core>
PyObject* performance_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("performance_snapshot", nargs, kwnames)) return nullptr;
    const auto current = core.performance_snapshot();
    if (!current) return frame::raise(current.error());
    return reporting::report_to_py_dict(current->to_map());
}

template <class Core>
PyObject* drift_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("drift_snapshot", nargs, kwnames)) return nullptr;
    const auto drift = core.drift_snapshot();
    if (!drift) return frame::raise(drift.error());
    return reporting::report_to_py_dict(*drift);
}

template <class Core>
PyObject* drift_report(const Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"drift_threshold"}};
    frame::Args<1> a;
    if (!frame::extract("drift_report", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto threshold = frame::to_f32(a[0], "drift_threshold");
    if (!threshold) return nullptr;
    const auto report = core.drift_report(*threshold);
    if (!report) return frame::raise(report.error());
    return reporting::into_py_dict(*report);
}

template <class Core>
PyObject* drift_report_partial_metrics(const Core& core, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"metrics"}, {"drift_threshold"}};
    frame::Args<2> a;
    if (!frame::extract("drift_report_partial_metrics", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto names = frame::to_string_list(a[0], "metrics");
    if (!names) return nullptr;
    const auto threshold = frame::to_f32(a[1], "drift_threshold");
    if (!threshold) return nullptr;
    const auto report = core.drift_report_partial_metrics(*names, *threshold);
    if (!report) return frame::raise(report.error());
    return reporting::into_py_dict(*report);
}

// PyBinaryClassificationStreaming: sequences of 32-bit integers.

PyObject* classification_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract("PyBinaryClassificationStreaming", kParams, args, kwargs, a)) return nullptr;
    const auto y_true = IntColumn::from(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = IntColumn::from(a[1], "y_pred");
    if (!y_pred) return nullptr;
    auto core = ClassificationCore::create(y_true->column(), y_pred->column());
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* classification_push(ClassificationCore& core, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract("push", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = frame::to_i32(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_i32(a[1], "y_pred");
    if (!y_pred) return nullptr;
    core.push(*y_true, *y_pred);
    Py_RETURN_NONE;
}

template <auto Method>
PyObject* classification_pairs(const char* name, ClassificationCore& core, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract(name, kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = IntColumn::from(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = IntColumn::from(a[1], "y_pred");
    if (!y_pred) return nullptr;
    return none_or_raise((core.*Method)(y_true->column(), y_pred->column()));
}

PyObject* classification_push_batch(ClassificationCore& core, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return classification_pairs<&ClassificationCore::push_batch>("push_batch", core, args, nargs, kwnames);
}

PyObject* classification_reset_baseline(ClassificationCore& core, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return classification_pairs<&ClassificationCore::reset_baseline>("reset_baseline", core, args, nargs, kwnames);
}

// PyLinearRegressionStreaming: sequences of floats.

PyObject* linear_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract("PyLinearRegressionStreaming", kParams, args, kwargs, a)) return nullptr;
    const auto y_true = frame::to_f32_sequence(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_f32_sequence(a[1], "y_pred");
    if (!y_pred) return nullptr;
    auto core = LinearCore::create(*y_true, *y_pred);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

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

template <auto Method>
PyObject* linear_pairs(const char* name, LinearCore& core, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract(name, kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = frame::to_f32_sequence(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_f32_sequence(a[1], "y_pred");
    if (!y_pred) return nullptr;
    return none_or_raise((core.*Method)(*y_true, *y_pred));
}

PyObject* linear_push_batch(LinearCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return linear_pairs<&LinearCore::push_batch>("push_batch", core, args, nargs, kwnames);
}

PyObject* linear_reset_baseline(LinearCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return linear_pairs<&LinearCore::reset_baseline>("reset_baseline", core, args, nargs, kwnames);
}

// PyLogisticRegressionStreaming: sequences of floats and a decision threshold.

PyObject* logistic_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}, {"threshold"}};
    frame::Args<3> a;
    if (!frame::extract("PyLogisticRegressionStreaming", kParams, args, kwargs, a)) return nullptr;
    const auto y_true = FloatColumn::from(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = FloatColumn::from(a[1], "y_pred");
    if (!y_pred) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold) return nullptr;
    auto core = LogisticCore::create(y_true->column(), y_pred->column(), *threshold);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* logistic_push(LogisticCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract("push", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = frame::to_f32(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = frame::to_f32(a[1], "y_pred");
    if (!y_pred) return nullptr;
    return none_or_raise(core.push(*y_true, *y_pred));
}

template <auto Method>
PyObject* logistic_pairs(const char* name, LogisticCore& core, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}};
    frame::Args<2> a;
    if (!frame::extract(name, kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = FloatColumn::from(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = FloatColumn::from(a[1], "y_pred");
    if (!y_pred) return nullptr;
    return none_or_raise((core.*Method)(y_true->column(), y_pred->column()));
}

PyObject* logistic_push_batch(LogisticCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return logistic_pairs<&LogisticCore::push_batch>("push_batch", core, args, nargs, kwnames);
}

PyObject* logistic_reset_baseline(LogisticCore& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return logistic_pairs<&LogisticCore::reset_baseline>("reset_baseline", core, args, nargs, kwnames);
}

PyObject* logistic_reset_baseline_and_decision_threshold(LogisticCore& core, PyObject* const* args,
                                                         Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true"}, {"y_pred"}, {"threshold"}};
    frame::Args<3> a;
    if (!frame::extract("reset_baseline_and_decision_threshold", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true = FloatColumn::from(a[0], "y_true");
    if (!y_true) return nullptr;
    const auto y_pred = FloatColumn::from(a[1], "y_pred");
    if (!y_pred) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold) return nullptr;
    return none_or_raise(core.reset_baseline_and_decision_threshold(y_true->column(), y_pred->column(), *threshold));
}

// Method tables.

template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction exclusive() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(frame::exclusive_method<Core, F>));
}

template <class Core, PyObject* (*F)(const Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction shared() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(frame::shared_method<Core, F>));
}

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

#define QUORVANT_READING_METHODS(Core)                                                                         \
    {"performance_snapshot", shared<Core, performance_snapshot<Core>>(), kFast,                              \
     "performance_snapshot($self)\n--\n\n"},                                                                   \
        {"drift_snapshot", shared<Core, drift_snapshot<Core>>(), kFast, "drift_snapshot($self)\n--\n\n"},     \
        {"drift_report", shared<Core, drift_report<Core>>(), kFast, "drift_report($self, drift_threshold)\n--\n\n"}, \
        {"drift_report_partial_metrics", shared<Core, drift_report_partial_metrics<Core>>(), kFast,           \
         "drift_report_partial_metrics($self, metrics, drift_threshold)\n--\n\n"},                            \
        {"flush", exclusive<Core, flush<Core>>(), kFast, "flush($self)\n--\n\n"}

PyMethodDef classification_methods[] = {
    {"push", exclusive<ClassificationCore, classification_push>(), kFast, "push($self, y_true, y_pred)\n--\n\n"},
    {"push_batch", exclusive<ClassificationCore, classification_push_batch>(), kFast,
     "push_batch($self, y_true, y_pred)\n--\n\n"},
    {"reset_baseline", exclusive<ClassificationCore, classification_reset_baseline>(), kFast,
     "reset_baseline($self, y_true, y_pred)\n--\n\n"},
    QUORVANT_READING_METHODS(ClassificationCore),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef linear_methods[] = {
    {"push", exclusive<LinearCore, linear_push>(), kFast, "push($self, t, p)\n--\n\n"},
    {"push_batch", exclusive<LinearCore, linear_push_batch>(), kFast, "push_batch($self, y_true, y_pred)\n--\n\n"},
    {"reset_baseline", exclusive<LinearCore, linear_reset_baseline>(), kFast,
     "reset_baseline($self, y_true, y_pred)\n--\n\n"},
    QUORVANT_READING_METHODS(LinearCore),
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef logistic_methods[] = {
    {"push", exclusive<LogisticCore, logistic_push>(), kFast, "push($self, y_true, y_pred)\n--\n\n"},
    {"push_batch", exclusive<LogisticCore, logistic_push_batch>(), kFast,
     "push_batch($self, y_true, y_pred)\n--\n\n"},
    {"reset_baseline", exclusive<LogisticCore, logistic_reset_baseline>(), kFast,
     "reset_baseline($self, y_true, y_pred)\n--\n\n"},
    {"reset_baseline_and_decision_threshold", exclusive<LogisticCore, logistic_reset_baseline_and_decision_threshold>(),
     kFast, "reset_baseline_and_decision_threshold($self, y_true, y_pred, threshold)\n--\n\n"},
    QUORVANT_READING_METHODS(LogisticCore),
    {nullptr, nullptr, 0, nullptr},
};

#undef QUORVANT_READING_METHODS

PyType_Slot classification_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<classification_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<ClassificationCore>)},
    {Py_tp_methods, classification_methods},
    {Py_tp_doc, const_cast<char*>("PyBinaryClassificationStreaming(y_true, y_pred)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot linear_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<linear_new>)},
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
