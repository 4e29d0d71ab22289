// Python face of the streaming post-training bias monitor.
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"
#include "model_bias/streaming/streaming_model_bias.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::model_bias::python_impl::py_streaming_api {

namespace {

using Core = streaming::StreamingModelBias;

// A METH_FASTCALL | METH_KEYWORDS method entry (already guarded) as the
// PyMethodDef function type.
template <class F>
PyCFunction method(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

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

PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
    core.flush();
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

PyObject* drift_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("drift_snapshot", nargs, kwnames)) return nullptr;
    const auto drift = core.drift_snapshot();
    if (!drift) return frame::raise(drift.error());
    return reporting::report_to_py_dict(*drift);
}

PyObject* performance_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("performance_snapshot", nargs, kwnames)) return nullptr;
    const auto current = core.current();
    if (!current) return frame::raise(current.error());
    return reporting::report_to_py_dict(current->to_map());
}

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

PyObject* drift_report_partial_metrics(const Core& core, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"metrics"}, {"drift_threshold"}};
    frame::Args<2> a;
    if (!frame::extract("drift_report_partial_metrics", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto names = frame::to_string_list(a[0], "metrics");
    if (!names) return nullptr;
    const auto threshold = frame::to_f32(a[1], "drift_threshold");
    if (!threshold) return nullptr;
    const auto metrics = metrics::parse_model_bias_list(*names);
    if (!metrics) return frame::raise(metrics.error());
    const auto report = core.drift_report_partial_metrics(*metrics, *threshold);
    if (!report) return frame::raise(report.error());
    return reporting::into_py_dict(*report);
}

constexpr int kCall = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"push", method(frame::exclusive_method<Core, push>), kCall, "push($self, feature, pred, gt)\n--\n\n"},
    {"push_batch", method(frame::exclusive_method<Core, push_batch>), kCall,
     "push_batch($self, feature, pred, gt)\n--\n\n"},
    {"flush", method(frame::exclusive_method<Core, flush>), kCall, "flush($self)\n--\n\n"},
    {"reset_baseline", method(frame::exclusive_method<Core, reset_baseline>), kCall,
     "reset_baseline($self, feature, pred, gt)\n--\n\n"},
    {"drift_snapshot", method(frame::shared_method<Core, drift_snapshot>), kCall, "drift_snapshot($self)\n--\n\n"},
    {"performance_snapshot", method(frame::shared_method<Core, performance_snapshot>), kCall,
     "performance_snapshot($self)\n--\n\n"},
    {"drift_report", method(frame::shared_method<Core, drift_report>), kCall,
     "drift_report($self, drift_threshold)\n--\n\n"},
    {"drift_report_partial_metrics", method(frame::shared_method<Core, drift_report_partial_metrics>), kCall,
     "drift_report_partial_metrics($self, metrics, drift_threshold)\n--\n\n"},
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
