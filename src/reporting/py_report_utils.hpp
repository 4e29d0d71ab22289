// The two Python result shapes: the drift-report dictionary and the
// metric-map dictionary (metric display name -> float).
#pragma once

#include <optional>
#include <string_view>

#include "frame/interned.hpp"
#include "frame/metric_dict.hpp"
#include "frame/python.hpp"
#include "frame/refs.hpp"
#include "metrics/metrics.hpp"
#include "reporting/drift_report.hpp"

namespace quorvant::reporting {

// A metric's display name as a str (a new reference): the interned name
// the metric dictionaries are read with, or a fresh str if it cannot be
// made; nullptr with the error set only when no str can be made.
template <class M>
PyObject* py_name(M m) {
    if (PyObject* s = frame::interned_metric_names<M>()[metrics::index(m)]) return Py_NewRef(s);
    const std::string_view n = metrics::name(m);
    return PyUnicode_FromStringAndSize(n.data(), static_cast<Py_ssize_t>(n.size()));
}

namespace detail {
// The report's four keys (new references, interned like the names).
struct ReportKeys {
    frame::Owned passed, failed_report, metric, drift;
};
inline std::optional<ReportKeys> report_keys() {
    static frame::InternedSlot slots[4];
    ReportKeys keys{
        frame::Owned::steal(frame::interned_or_new("passed", slots[0])),
        frame::Owned::steal(frame::interned_or_new("failed_report", slots[1])),
        frame::Owned::steal(frame::interned_or_new("metric", slots[2])),
        frame::Owned::steal(frame::interned_or_new("drift", slots[3])),
    };
    if (!keys.passed || !keys.failed_report || !keys.metric || !keys.drift) return std::nullopt;
    return keys;
}

inline bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
    frame::Owned k = frame::Owned::steal(key);
    frame::Owned v = frame::Owned::steal(value);
    if (!k || !v) return false;
    return PyDict_SetItem(dict, k.get(), v.get()) == 0;
}
}  // namespace detail

// {"passed": True} or {"passed": False, "failed_report": [{"metric": name,
// "drift": float}, ...]}.
template <class M>
PyObject* into_py_dict(const DriftReport<M>& report) {
    const std::optional<detail::ReportKeys> keys = detail::report_keys();
    if (!keys) return nullptr;
    frame::Owned dict = frame::Owned::steal(PyDict_New());
    if (!dict) return nullptr;
    if (PyDict_SetItem(dict.get(), keys->passed.get(), report.passed ? Py_True : Py_False) != 0) return nullptr;
    if (report.passed || !report.failed_report) return dict.release();
    frame::Owned list = frame::Owned::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const FailureEntry<M>& entry : *report.failed_report) {
        frame::Owned item = frame::Owned::steal(PyDict_New());
        if (!item) return nullptr;
        frame::Owned name = frame::Owned::steal(py_name(entry.metric));
        frame::Owned drift = frame::Owned::steal(PyFloat_FromDouble(static_cast<double>(entry.drift)));
        if (!name || !drift) return nullptr;
        if (PyDict_SetItem(item.get(), keys->metric.get(), name.get()) != 0) return nullptr;
        if (PyDict_SetItem(item.get(), keys->drift.get(), drift.get()) != 0) return nullptr;
        if (PyList_Append(list.get(), item.get()) != 0) return nullptr;
    }
    if (PyDict_SetItem(dict.get(), keys->failed_report.get(), list.get()) != 0) return nullptr;
    return dict.release();
}

// Metric display name -> the f32 score widened exactly to a float.
template <class M>
PyObject* report_to_py_dict(const metrics::MetricMap<M>& map) {
    frame::Owned dict = frame::Owned::steal(PyDict_New());
    if (!dict) return nullptr;
    bool ok = true;
    map.for_each([&](M m, float value) {
        if (ok) ok = detail::set_item(dict.get(), py_name(m), PyFloat_FromDouble(static_cast<double>(value)));
    });
    return ok ? dict.release() : nullptr;
}

}  // namespace quorvant::reporting
