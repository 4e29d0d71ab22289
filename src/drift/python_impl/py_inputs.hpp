// Conversions of the drift family's Python arguments: float64 arrays read
// in place, sequences of str read in place (no str object is created), and
// lists of drift type names.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drift/distribution.hpp"
#include "drift/drift_metrics.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::drift::python_impl {

// A one-dimensional native float64 ndarray, or nullopt with the argument's
// TypeError set. The data is not looked at yet.
std::optional<PyArrayObject*> float64_array(PyObject* obj, const char* arg);

// The values of a float64 array; a non-contiguous array is refused with
// TypeError "The given array is not contiguous". An unaligned buffer is
// copied so the span can be read as doubles.
class F64Values {
public:
    static std::optional<F64Values> of(PyArrayObject* array);
    std::span<const double> span() const { return span_; }

private:
    std::span<const double> span_;
    std::vector<double> copy_;
};

// A sequence of str, held alive and read in place: element i is the UTF-8
// view of the i-th str (ASCII text is its own UTF-8; other text uses the
// str's cached encoding). A single str (or bytes) is refused.
class LabelSeq {
public:
    static std::optional<LabelSeq> of(PyObject* obj, const char* arg);

    std::size_t size() const { return size_; }
    std::string_view operator[](std::size_t i) const { return view_of(items_[i]); }

    // Reads the sequence again after Python code may have run (it may have
    // changed a list we read in place); false with the exception set.
    bool refresh();

    static std::string_view view_of(PyObject* str) {
        if (PyUnicode_IS_ASCII(str)) {
            return {static_cast<const char*>(PyUnicode_DATA(str)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
        }
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(str, &n);  // cached by validation
        return {p, static_cast<std::size_t>(n)};
    }

private:
    frame::Owned seq_;
    PyObject** items_ = nullptr;
    std::size_t size_ = 0;
    const char* arg_ = nullptr;
};

// One str as a label view (TypeError naming the argument otherwise).
std::optional<std::string_view> label_of(PyObject* obj, const char* arg);

// A sequence of drift type names. `ran_code` tells whether reading it may
// have run Python code (anything but an exact list or tuple).
struct DriftNames {
    std::vector<std::string> names;
    bool ran_code;
};
std::optional<DriftNames> drift_names(PyObject* obj, const char* arg);

// The drift types of names (raising "Unsupported drift type" on the first
// unknown one).
std::optional<std::vector<DriftType>> drift_types(const std::vector<std::string>& names);
std::optional<DriftType> drift_type(const std::string& name);

// None, or the name of a rule (conversion only; the name is checked later).
std::optional<std::optional<std::string>> quantile_name(PyObject* obj, const char* arg);
// The rule of a converted name (raising "Unsupported drift type").
std::optional<std::optional<QuantileType>> quantile_type(const std::optional<std::string>& name);

}  // namespace quorvant::drift::python_impl
