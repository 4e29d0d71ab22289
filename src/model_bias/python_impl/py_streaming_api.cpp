// Python face of the streaming post-training bias monitor.
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"
#include "model_bias/streaming/streaming_model_bias.hpp"
#include "registry.hpp"
#include "reporting/py_monitor_methods.hpp"

namespace quorvant::model_bias::python_impl::py_streaming_api {

namespace {

using Core = streaming::StreamingModelBias;
using Methods = reporting::MonitorMethods<Core, &Core::current, &metrics::parse_model_bias_list>;

PyObject* none() { Py_RETURN_NONE; }

constexpr const char* kRowNames[3] = {"feature", "pred", "gt"};
constexpr frame::Param kRowParams[] = {{"feature"}, {"pred"}, {"gt"}};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"features"}, {"predictions"}, {"ground_truth"}};
    static constexpr const char* kNames[3] = {"features", "predictions", "ground_truth"};
    frame::Args<3> a;
    if (!frame::extract("PyModelBiasStreaming", kParams, args, kwargs, a)) return nullptr;
    const auto r = frame::to_i8_sources(a, kNames);
    if (!r) return nullptr;
    auto core = Core::make((*r)[0], (*r)[1], (*r)[2]);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<3> a;
    if (!frame::extract("push", kRowParams, args, nargs, kwnames, a)) return nullptr;
    const auto f = frame::to_i8(a[0], "feature");
    if (!f) return nullptr;
    const auto p = frame::to_i8(a[1], "pred");
    if (!p) return nullptr;
    const auto g = frame::to_i8(a[2], "gt");
    if (!g) return nullptr;
    core.push(*f, *p, *g);
    return none();
}

PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<3> a;
    if (!frame::extract("push_batch", kRowParams, args, nargs, kwnames, a)) return nullptr;
    // Buffers are counted in one pass and their ranges checked after; a
    // batch that fails counts nothing.
    std::array<frame::RangeCheck, 3> checks;
    if (const auto buffers = frame::i8_buffers(a, &checks)) {
        if (const auto batch = core.count((*buffers)[0], (*buffers)[1], (*buffers)[2])) {
            if (!frame::ranges_checked(checks, kRowNames)) return nullptr;
            core.add(*batch);
            return none();
        }
    }
    // Everything else, and a batch of the wrong length, converted first so
    // that a conversion error comes before the length error.
    const auto r = frame::to_i8_sources(a, kRowNames);
    if (!r) return nullptr;
    const auto status = core.push_batch((*r)[0], (*r)[1], (*r)[2]);
    if (!status) return frame::raise(status.error());
    return none();
}

PyObject* reset_baseline(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    frame::Args<3> a;
    if (!frame::extract("reset_baseline", kRowParams, args, nargs, kwnames, a)) return nullptr;
    const auto r = frame::to_i8_sources(a, kRowNames);
    if (!r) return nullptr;
    const auto status = core.reset_baseline((*r)[0], (*r)[1], (*r)[2]);
    if (!status) return frame::raise(status.error());
    return none();
}

PyMethodDef methods[] = {
    {"push", frame::exclusive<Core, push>(), frame::kFastCall, "push($self, feature, pred, gt)\n--\n\n"},
    {"push_batch", frame::exclusive<Core, push_batch>(), frame::kFastCall, "push_batch($self, feature, pred, gt)\n--\n\n"},
    Methods::flush_entry(),
    {"reset_baseline", frame::exclusive<Core, reset_baseline>(), frame::kFastCall,
     "reset_baseline($self, feature, pred, gt)\n--\n\n"},
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
    {Py_tp_doc, const_cast<char*>("PyModelBiasStreaming(features, predictions, ground_truth)\n--\n\n")},
    {0, nullptr},
};

}  // namespace

}  // namespace quorvant::model_bias::python_impl::py_streaming_api

namespace quorvant::registry {

PyType_Spec PyModelBiasStreaming = {
    "quorvant._quorvant.PyModelBiasStreaming",
    sizeof(frame::Instance<model_bias::streaming::StreamingModelBias>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    model_bias::python_impl::py_streaming_api::slots,
};

}  // namespace quorvant::registry
