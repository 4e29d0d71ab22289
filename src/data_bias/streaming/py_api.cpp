// Python face of the streaming pre-training bias monitor.
#include "data_bias/streaming/streaming_data_bias.hpp"
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
