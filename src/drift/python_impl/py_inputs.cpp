#include "drift/python_impl/py_inputs.hpp"

#include <cstring>

#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/items.hpp"
#include "frame/raise.hpp"

namespace quorvant::drift::python_impl {

namespace {

// A one-dimensional native float64 ndarray (subclasses too), or nullopt with
// the argument's TypeError set.
std::optional<PyArrayObject*> float64_array(PyObject* obj, const char* arg) {
    const auto array = frame::as_array(obj, arg);
    if (!array) return std::nullopt;
    PyArrayObject* a = *array;
    if (PyArray_NDIM(a) != 1 || PyArray_TYPE(a) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(a)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': must be a one-dimensional float64 array, not %d-dimensional %S",
                     arg, PyArray_NDIM(a), reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
        return std::nullopt;
    }
    return a;
}

[[gnu::noinline, gnu::cold]] bool items_type_error(const char* arg, PyObject* item) {
    PyErr_Format(PyExc_TypeError, "argument '%s': items must be str, not %s", arg, Py_TYPE(item)->tp_name);
    return false;
}

// A str whose UTF-8 can be read without failing: ASCII, or encoded (and
// cached) now; lone surrogates are refused here.
[[gnu::always_inline]] inline bool readable_str(PyObject* item, const char* arg) {
    if (!PyUnicode_Check(item)) [[unlikely]] return items_type_error(arg, item);
    return PyUnicode_IS_ASCII(item) || PyUnicode_AsUTF8AndSize(item, nullptr) != nullptr;
}

// The text of an exact 1-D str ndarray whose every element makes an
// encodable str; nullopt for anything else (no error set).
std::optional<common::Utf8Text> unicode_text(PyObject* obj) {
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) return std::nullopt;  // no NumPy import for these
    if (!frame::numpy_ready()) {
        PyErr_Clear();  // without NumPy there are no arrays
        return std::nullopt;
    }
    if (!frame::is_exact_array(obj)) return std::nullopt;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(a) != 1 || PyArray_DESCR(a)->type_num != NPY_UNICODE) return std::nullopt;
    return common::Utf8Text::from_ucs4(PyArray_BYTES(a), PyArray_STRIDE(a, 0), static_cast<std::size_t>(PyArray_DIM(a, 0)),
                                       static_cast<std::size_t>(PyArray_ITEMSIZE(a)) / 4, !PyArray_ISNOTSWAPPED(a));
}

}  // namespace

std::optional<F64Array> F64Array::from(PyObject* obj, const char* arg) {
    const auto array = float64_array(obj, arg);
    if (!array) return std::nullopt;
    F64Array a;
    a.held_ = frame::HeldArray::hold(*array);
    a.arg_ = arg;
    return a;
}

std::optional<F64Values> F64Array::values() {
    if (!held_->unchanged()) {
        auto again = from(held_->object(), arg_);
        if (!again) return std::nullopt;
        *this = std::move(*again);
    }
    PyArrayObject* array = held_->array();
    if (!PyArray_IS_C_CONTIGUOUS(array)) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
        return std::nullopt;
    }
    F64Values v;
    const auto n = static_cast<std::size_t>(held_->size());
    const char* data = held_->data();
    if (n == 0) return v;
    if (PyArray_ISALIGNED(array)) {
        v.span_ = {reinterpret_cast<const double*>(data), n};
    } else {
        v.copy_.resize(n);
        std::memcpy(v.copy_.data(), data, n * sizeof(double));
        v.span_ = v.copy_;
    }
    return v;
}

std::optional<LabelSeq> LabelSeq::of(PyObject* obj, const char* arg) {
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) || !PySequence_Check(obj)) {
        frame::argument_type_error(arg, "a sequence of str", obj);
        return std::nullopt;
    }
    LabelSeq s;
    s.arg_ = arg;
    if (auto text = unicode_text(obj)) {
        s.text_ = std::move(*text);
        return s;
    }
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        s.seq_ = frame::Owned::new_ref(obj);
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
        PyObject** items = PySequence_Fast_ITEMS(obj);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!readable_str(items[i], arg)) return std::nullopt;
        }
        return s;
    }
    // Any other sequence: its items in a tuple of our own, each checked as
    // it is taken (see frame/items.hpp).
    const auto items = frame::Items::of(obj, arg, "a sequence of str");
    if (!items) return std::nullopt;
    s.seq_ = items->tuple([&](PyObject* item) { return readable_str(item, arg); });
    if (!s.seq_) return std::nullopt;
    return s;
}

bool LabelSeq::views_of(std::size_t begin, std::size_t count, std::string_view* out) const {
    PyObject** items = PySequence_Fast_ITEMS(seq_.get()) + begin;
    for (std::size_t j = 0; j < count; ++j) {
        PyObject* item = items[j];
        if (!PyUnicode_Check(item)) [[unlikely]] return items_type_error(arg_, item);
        if (PyUnicode_IS_ASCII(item)) [[likely]] {
            out[j] = {static_cast<const char*>(PyUnicode_DATA(item)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(item))};
            continue;
        }
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(item, &n);  // cached by the check, or encoded now
        if (p == nullptr) return false;
        out[j] = {p, static_cast<std::size_t>(n)};
    }
    return true;
}

PyObject* raise_failure(const Failure& f) {
    if (f) frame::raise(*f);
    return nullptr;
}

Read<BaselineCategoricalBins> categorical_baseline(const LabelSeq& labels) {
    DistinctCounter distinct(labels.size());
    if (!labels.read(0, [&](std::span<const std::string_view> chunk) { distinct.add(chunk); })) {
        return std::unexpected(Failure());
    }
    auto b = BaselineCategoricalBins::create(std::move(distinct).take(), labels.size());
    if (!b) return std::unexpected(Failure(b.error()));
    return std::move(*b);
}

std::optional<BaselineCategoricalBins> build_baseline(const LabelSeq& labels) {
    auto b = frame::run_core(gil_free_size(labels), [&] { return categorical_baseline(labels); });
    if (!b) {
        raise_failure(b.error());
        return std::nullopt;
    }
    return std::move(*b);
}

Read<std::vector<std::uint64_t>> bin_counts(const LabelSeq& labels, const BaselineCategoricalBins& baseline,
                                            std::size_t begin) {
    std::vector<std::uint64_t> counts(baseline.baseline_hist().size(), 0);
    BaselineCategoricalBins::Counter counter(baseline, labels.size() - begin);
    if (!labels.read(begin, [&](std::span<const std::string_view> chunk) { counter.add(chunk, counts); })) {
        return std::unexpected(Failure());
    }
    return counts;
}

std::optional<std::string_view> label_of(PyObject* obj, const char* arg) {
    if (!PyUnicode_Check(obj)) {
        frame::argument_type_error(arg, "str", obj);
        return std::nullopt;
    }
    if (!PyUnicode_IS_ASCII(obj) && PyUnicode_AsUTF8AndSize(obj, nullptr) == nullptr) return std::nullopt;
    return LabelSeq::view_of(obj);
}

std::optional<std::vector<std::string>> drift_names(PyObject* obj, const char* arg) {
    return frame::to_string_list(obj, arg);
}

std::optional<std::vector<DriftType>> drift_types(const std::vector<std::string>& names) {
    auto types = drift_types_from(names);
    if (!types) {
        frame::raise(types.error());
        return std::nullopt;
    }
    return std::move(*types);
}

std::optional<DriftType> drift_type(const std::string& name) {
    const auto t = drift_type_from(name);
    if (!t) {
        frame::raise(t.error());
        return std::nullopt;
    }
    return *t;
}

std::optional<std::optional<std::string>> quantile_name(PyObject* obj, const char* arg) {
    return frame::to_optional_string(obj, arg);
}

std::optional<std::optional<QuantileType>> quantile_type(const std::optional<std::string>& name) {
    const auto q = coerce_quantile_type(name ? std::optional<std::string_view>(*name) : std::nullopt);
    if (!q) {
        frame::raise(q.error());
        return std::nullopt;
    }
    return *q;
}

}  // namespace quorvant::drift::python_impl
