// Python face of the streaming pre-training bias monitor.
#include "data_bias/streaming/streaming_data_bias.hpp"
#include "data_handler/py_labeled_rows.hpp"
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"
#include "registry.hpp"
#include "reporting/py_monitor_methods.hpp"

namespace quorvant::data_bias::streaming::py_api {

namespace {

using Core = StreamingDataBias;
using Methods = reporting::MonitorMethods<Core, &Core::current, &metrics::parse_data_bias_list>;

namespace rows = data_handler::labeled_rows;

constexpr frame::Param kNewParams[] = {{"feature_data"}, {"gt_data"}};
constexpr const char* kNewNames[2] = {"feature_data", "gt_data"};
constexpr frame::Param kRowParams[] = {{"f"}, {"g"}};
constexpr const char* kRowNames[2] = {"f", "g"};
constexpr rows::Columns<2> kNew{"PyDataBiasStreaming", kNewParams, kNewNames};
constexpr rows::Columns<2> kRow{nullptr, kRowParams, kRowNames};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return rows::construct<Core>(type, args, kwargs, kNew);
}
PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return rows::push(core, args, nargs, kwnames, kRow);
}
PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return rows::push_batch(core, args, nargs, kwnames, kRow);
}
PyObject* reset_baseline(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return rows::reset_baseline(core, args, nargs, kwnames, kRow);
}

PyMethodDef methods[] = {
    {"push", frame::exclusive<Core, push>(), frame::kFastCall, "push($self, f, g)\n--\n\n"},
    {"push_batch", frame::exclusive<Core, push_batch>(), frame::kFastCall, "push_batch($self, f, g)\n--\n\n"},
    Methods::flush_entry(),
    {"reset_baseline", frame::exclusive<Core, reset_baseline>(), frame::kFastCall,
     "reset_baseline($self, f, g)\n--\n\n"},
    Methods::drift_snapshot_entry(),
    Methods::performance_snapshot_entry(),
    Methods::drift_report_entry(),
    Methods::drift_report_partial_metrics_entry(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(frame::guarded_new<construct>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame::dealloc<Core>)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("PyDataBiasStreaming(feature_data, gt_data)\n--\n\n")},
    {0, nullptr},
};

}  // namespace

}  // namespace quorvant::data_bias::streaming::py_api

namespace quorvant::registry {

PyType_Spec PyDataBiasStreaming = {
    "quorvant._quorvant.PyDataBiasStreaming",
    sizeof(frame::Instance<data_bias::streaming::StreamingDataBias>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    data_bias::streaming::py_api::slots,
};

}  // namespace quorvant::registry
