// The two Python result shapes: the drift-report dictionary and the
// metric-map dictionary (metric display name -> float).
#pragma once

#include <array>

#include "frame/python.hpp"
#include "frame/refs.hpp"
#include "metrics/metrics.hpp"
#include "reporting/drift_report.hpp"

namespace quorvant::reporting {

// Interned display names, made once per enumeration and kept for the life
// of the process (constants, like the names themselves).
template <class M>
PyObject* py_name(M m) {
    static const std::array<PyObject*, metrics::metric_count<M>> names = [] {
        std::array<PyObject*, metrics::metric_count<M>> out{};
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::string_view n = metrics::MetricTraits<M>::names[i];
            out[i] = PyUnicode_InternFromString(std::string(n).c_str());
        }
        return out;
    }();
    PyObject* s = names[metrics::index(m)];
    if (s == nullptr) {
        const std::string_view n = metrics::name(m);
        return PyUnicode_FromStringAndSize(n.data(), static_cast<Py_ssize_t>(n.size()));
    }
    return Py_NewRef(s);
}

namespace detail {
// The report's four keys, interned once (constants, like the names).
struct ReportKeys {
    PyObject* passed;
    PyObject* failed_report;
    PyObject* metric;
    PyObject* drift;
};
inline const ReportKeys* report_keys() {
    static const ReportKeys keys = {
        PyUnicode_InternFromString("passed"),
        PyUnicode_InternFromString("failed_report"),
        PyUnicode_InternFromString("metric"),
        PyUnicode_InternFromString("drift"),
    };
    if (!keys.passed || !keys.failed_report || !keys.metric || !keys.drift) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
        return nullptr;
    }
    return &keys;
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
    const detail::ReportKeys* keys = detail::report_keys();
    if (keys == nullptr) return nullptr;
    frame::Owned dict = frame::Owned::steal(PyDict_New());
    if (!dict) return nullptr;
    if (PyDict_SetItem(dict.get(), keys->passed, report.passed ? Py_True : Py_False) != 0) return nullptr;
    if (report.passed || !report.failed_report) return dict.release();
    frame::Owned list = frame::Owned::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const FailureEntry<M>& entry : *report.failed_report) {
        frame::Owned item = frame::Owned::steal(PyDict_New());
        if (!item) return nullptr;
        frame::Owned name = frame::Owned::steal(py_name(entry.metric));
        frame::Owned drift = frame::Owned::steal(PyFloat_FromDouble(static_cast<double>(entry.drift)));
        if (!name || !drift) return nullptr;
        if (PyDict_SetItem(item.get(), keys->metric, name.get()) != 0) return nullptr;
        if (PyDict_SetItem(item.get(), keys->drift, drift.get()) != 0) return nullptr;
        if (PyList_Append(list.get(), item.get()) != 0) return nullptr;
    }
    if (PyDict_SetItem(dict.get(), keys->failed_report, list.get()) != 0) return nullptr;
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
