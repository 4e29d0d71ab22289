// Python faces of the model-performance functions.
#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/held.hpp"
#include "frame/numpy.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "model_perf/classification.hpp"
#include "model_perf/linear_regression.hpp"
#include "model_perf/python_impl/py_columns.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::model_perf::python_impl {

namespace {

PyObject* linear_regression(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true_src"}, {"y_pred_src"}};
    frame::Args<2> a;
    if (!frame::extract("py_model_perf_linear_regression", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto y_true_array = frame::as_array(a[0], "y_true_src");
    if (!y_true_array) return nullptr;
    const auto y_pred_array = frame::as_array(a[1], "y_pred_src");
    if (!y_pred_array) return nullptr;

    auto y_true = BatchColumn::from(a[0], "y_true_src");
    std::optional<BatchColumn> y_pred;
    if (y_true) y_pred = BatchColumn::from(a[1], "y_pred_src");
    if (!y_true || !y_pred || !frame::settle(*y_true, *y_pred)) {
        // This function reports every conversion failure the same way.
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError, "Invalid types passed");
        return nullptr;
    }
    const auto result = frame::run_core(y_true->size(), [&] {
        return linear_regression_runtime(y_true->column(), y_pred->column());
    });
    if (!result) return frame::raise(result.error());
    return reporting::report_to_py_dict(result->to_map());
}

PyObject* classification(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true_src"}, {"y_pred_src"}};
    frame::Args<2> a;
    if (!frame::extract("py_model_perf_classification", kParams, args, nargs, kwnames, a)) return nullptr;
    if (!frame::as_array(a[0], "y_true_src") || !frame::as_array(a[1], "y_pred_src")) return nullptr;
    auto y_true = BatchColumn::from(a[0], "y_true_src");
    if (!y_true) return nullptr;
    auto y_pred = BatchColumn::from(a[1], "y_pred_src");
    if (!y_pred || !frame::settle(*y_true, *y_pred)) return nullptr;
    const auto result = frame::run_core(y_true->size(), [&] {
        return binary_classification_runtime(y_true->column(), y_pred->column());
    });
    if (!result) return frame::raise(result.error());
    return reporting::report_to_py_dict(result->to_map());
}

PyObject* logistic_regression(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"y_true_src"}, {"y_pred_src"}, {"threshold"}};
    frame::Args<3> a;
    if (!frame::extract("py_model_perf_logistic_regression", kParams, args, nargs, kwnames, a)) return nullptr;
    if (!frame::as_array(a[0], "y_true_src") || !frame::as_array(a[1], "y_pred_src")) return nullptr;
    const auto threshold = frame::to_f32(a[2], "threshold");
    if (!threshold) return nullptr;
    auto y_true = BatchColumn::from(a[0], "y_true_src");
    if (!y_true) return nullptr;
    auto y_pred = BatchColumn::from(a[1], "y_pred_src");
    if (!y_pred || !frame::settle(*y_true, *y_pred)) return nullptr;
    const auto result = frame::run_core(y_true->size(), [&] {
        return logistic_regression_runtime(y_true->column(), y_pred->column(), *threshold);
    });
    if (!result) return frame::raise(result.error());
    return reporting::report_to_py_dict(result->to_map());
}

}  // namespace

}  // namespace quorvant::model_perf::python_impl

namespace quorvant::registry {

const PyMethodDef py_model_perf_linear_regression = frame::function<model_perf::python_impl::linear_regression>(
    "py_model_perf_linear_regression",
    "py_model_perf_linear_regression(y_true_src, y_pred_src)\n--\n\n");

const PyMethodDef py_model_perf_classification = frame::function<model_perf::python_impl::classification>(
    "py_model_perf_classification",
    "py_model_perf_classification(y_true_src, y_pred_src)\n--\n\n");

const PyMethodDef py_model_perf_logistic_regression = frame::function<model_perf::python_impl::logistic_regression>(
    "py_model_perf_logistic_regression",
    "py_model_perf_logistic_regression(y_true_src, y_pred_src, threshold)\n--\n\n");

}  // namespace quorvant::registry
