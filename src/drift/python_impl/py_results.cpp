#include "drift/python_impl/py_results.hpp"

#include <cmath>

#include "frame/convert.hpp"
#include "frame/refs.hpp"

namespace quorvant::drift::python_impl {

PyObject* label_dict(const BaselineCategoricalBins& baseline, std::span<const double> values) {
    frame::Owned dict = frame::Owned::steal(PyDict_New());
    if (!dict) return nullptr;
    for (std::size_t i = 0; i < baseline.num_labels(); ++i) {
        const std::string_view label = baseline.label(i);
        frame::Owned key = frame::Owned::steal(
            PyUnicode_DecodeUTF8(label.data(), static_cast<Py_ssize_t>(label.size()), "strict"));
        if (!key) return nullptr;
        frame::Owned value = frame::Owned::steal(PyFloat_FromDouble(values[i]));
        if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) != 0) return nullptr;
    }
    return dict.release();
}

PyObject* snapshot_dict(const ContinuousSnapshot& snapshot) {
    frame::Owned dict = frame::Owned::steal(PyDict_New());
    if (!dict) return nullptr;
    const std::pair<const char*, const std::vector<double>*> entries[] = {
        {"binEdges", &snapshot.bin_edges},
        {"baselineBins", &snapshot.baseline_bins},
        {"streamBins", &snapshot.stream_bins},
    };
    for (const auto& [key, values] : entries) {
        frame::Owned list = frame::Owned::steal(frame::to_py(*values));
        if (!list || PyDict_SetItemString(dict.get(), key, list.get()) != 0) return nullptr;
    }
    return dict.release();
}

PyObject* floor_to_int(double total) { return PyLong_FromDouble(std::floor(total)); }

}  // namespace quorvant::drift::python_impl
