// Python face of the streaming pre-training bias monitor.
#include "data_bias/streaming/streaming_data_bias.hpp"
#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"
#include "registry.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::data_bias::streaming::py_api {

namespace {

using Core = StreamingDataBias;

// A METH_FASTCALL | METH_KEYWORDS method entry (already guarded) as the
// PyMethodDef function type.
template <class F>
PyCFunction method(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyObject* none() { Py_RETURN_NONE; }

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static constexpr frame::Param kParams[] = {{"feature_data"}, {"gt_data"}};
    frame::Args<2> a;
    if (!frame::extract("PyDataBiasStreaming", kParams, args, kwargs, a)) return nullptr;
    static constexpr const char* kNames[2] = {"feature_data", "gt_data"};
    const auto rows = frame::to_i8_sources(a, kNames);
    if (!rows) return nullptr;
    auto core = Core::make((*rows)[0], (*rows)[1]);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"f"}, {"g"}};
    frame::Args<2> a;
    if (!frame::extract("push", kParams, args, nargs, kwnames, a)) return nullptr;
    const auto f = frame::to_i8(a[0], "f");
    if (!f) return nullptr;
    const auto g = frame::to_i8(a[1], "g");
    if (!g) return nullptr;
    core.push(*f, *g);
    return none();
}

PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"f"}, {"g"}};
    frame::Args<2> a;
    if (!frame::extract("push_batch", kParams, args, nargs, kwnames, a)) return nullptr;
    static constexpr const char* kNames[2] = {"f", "g"};
    // Buffers are counted in one pass and their ranges checked after; a
    // batch that fails counts nothing.
    std::array<frame::RangeCheck, 2> checks;
    if (const auto buffers = frame::i8_buffers(a, &checks)) {
        if (const auto batch = core.count((*buffers)[0], (*buffers)[1])) {
            if (!frame::ranges_checked(checks, kNames)) return nullptr;
            core.add(*batch);
            return none();
        }
    }
    // Everything else, and a batch of the wrong length, converted first so
    // that a conversion error comes before the length error.
    const auto rows = frame::to_i8_sources(a, kNames);
    if (!rows) return nullptr;
    const auto status = core.push_batch((*rows)[0], (*rows)[1]);
    if (!status) return frame::raise(status.error());
    return none();
}

PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
    core.flush();
    return none();
}

PyObject* reset_baseline(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr frame::Param kParams[] = {{"f"}, {"g"}};
    frame::Args<2> a;
    if (!frame::extract("reset_baseline", kParams, args, nargs, kwnames, a)) return nullptr;
    static constexpr const char* kNames[2] = {"f", "g"};
    const auto rows = frame::to_i8_sources(a, kNames);
    if (!rows) return nullptr;
    const auto status = core.reset_baseline((*rows)[0], (*rows)[1]);
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
    const auto metrics = metrics::parse_data_bias_list(*names);
    if (!metrics) return frame::raise(metrics.error());
    const auto report = core.drift_report_partial_metrics(*metrics, *threshold);
    if (!report) return frame::raise(report.error());
    return reporting::into_py_dict(*report);
}

constexpr int kCall = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"push", method(frame::exclusive_method<Core, push>), kCall, "push($self, f, g)\n--\n\n"},
    {"push_batch", method(frame::exclusive_method<Core, push_batch>), kCall,
     "push_batch($self, f, g)\n--\n\n"},
    {"flush", method(frame::exclusive_method<Core, flush>), kCall, "flush($self)\n--\n\n"},
    {"reset_baseline", method(frame::exclusive_method<Core, reset_baseline>), kCall,
     "reset_baseline($self, f, g)\n--\n\n"},
    {"drift_snapshot", method(frame::shared_method<Core, drift_snapshot>), kCall,
     "drift_snapshot($self)\n--\n\n"},
    {"performance_snapshot", method(frame::shared_method<Core, performance_snapshot>), kCall,
     "performance_snapshot($self)\n--\n\n"},
    {"drift_report", method(frame::shared_method<Core, drift_report>), kCall,
     "drift_report($self, drift_threshold)\n--\n\n"},
    {"drift_report_partial_metrics", method(frame::shared_method<Core, drift_report_partial_metrics>),
     kCall, "drift_report_partial_metrics($self, metrics, drift_threshold)\n--\n\n"},
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
