#include "data_handler/apply_label.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>

#include "config/config.hpp"
#include "data_handler/distinct_values.hpp"
#include "data_handler/py_types_handler.hpp"
#include "frame/convert.hpp"

namespace quorvant::data_handler {

namespace {

// The label or threshold, read by category. nullopt with an error set.

std::optional<std::int64_t> int_value(PyObject* v) {
    const long long x = PyLong_AsLongLong(v);
    if (x == -1 && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::int64_t>(x);
}

std::optional<double> float_value(PyObject* v) {
    if (PyFloat_Check(v)) return PyFloat_AS_DOUBLE(v);
    if (PyLong_Check(v)) {
        const auto x = int_value(v);
        if (!x) return std::nullopt;
        return static_cast<double>(*x);
    }
    generate_type_err();
    return std::nullopt;
}

// Truncation toward zero, saturating at the integer range; NaN gives 0.
std::int64_t saturating_trunc(double d) {
    if (d != d) return 0;
    if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

std::optional<std::int64_t> integer_value(PyObject* v) {
    if (PyFloat_Check(v)) return saturating_trunc(PyFloat_AS_DOUBLE(v));
    if (PyLong_Check(v)) return int_value(v);
    generate_type_err();
    return std::nullopt;
}

std::optional<bool> bool_value(PyObject* v) {
    if (PyBool_Check(v)) return v == Py_True;
    if (PyLong_Check(v)) {
        int overflow = 0;
        const long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (x == -1 && PyErr_Occurred()) return std::nullopt;
        return overflow == 0 && x == 1;
    }
    generate_type_err();
    return std::nullopt;
}

std::optional<std::string_view> text_value(PyObject* v) {
    if (!PyUnicode_Check(v)) {
        generate_type_err();
        return std::nullopt;
    }
    return frame::utf8_view(v);
}

// A label for discrete arrays, a threshold for continuous ones.
template <class T>
Comparison rule_for(std::span<const T> xs) {
    return is_continuous(xs, config::distribution_heuristic()) ? Comparison::GreaterEqual : Comparison::Equal;
}

// Labels of numeric elements by `label_kernel(span, comparison, value,
// out)`, where the comparison is the discrete or continuous rule. Buffers
// the fast path reads in place are labeled on demand.
template <class T, class V, class Kernel>
LabelSource numeric_labels(NativeValues<T> xs, V value, Kernel label_kernel) {
    const Comparison op = rule_for(xs.span());
    return LabelSource::view(xs.span().size(), [xs = std::move(xs), op, value, label_kernel](
                                                   std::size_t begin, std::size_t count, Label* out) {
        label_kernel(xs.span().subspan(begin, count), op, value, out);
    });
}

template <class T, class V, class Kernel>
LabelSource numeric_labels(std::span<const T> xs, V value, Kernel label_kernel) {
    Labels labels(xs.size());
    label_kernel(xs, rule_for(xs), value, labels.data());
    return LabelSource::owned(std::move(labels));
}

std::optional<LabelSource> label_float(PyArrayObject* array, PyObject* value) {
    constexpr auto kernel = []<class T>(std::span<const T> xs, Comparison op, double v, Label* out) {
        label_compare_f64(xs, op, v, out);
    };
    std::optional<LabelSource> out;
    bool handled = false;
    visit_native(array, [&]<class T>(NativeValues<T> xs) {
        if constexpr (std::is_floating_point_v<T>) {
            handled = true;
            const auto v = float_value(value);
            if (v) out = numeric_labels(std::move(xs), *v, kernel);
        }
    });
    if (handled) return out;
    const auto values = read_f64(array);
    if (!values) return std::nullopt;
    const auto v = float_value(value);
    if (!v) return std::nullopt;
    return numeric_labels(std::span<const double>(*values), *v, kernel);
}

std::optional<LabelSource> label_integer(PyArrayObject* array, PyObject* value) {
    constexpr auto kernel = []<class T>(std::span<const T> xs, Comparison op, std::int64_t v, Label* out) {
        label_compare_i64(xs, op, v, out);
    };
    std::optional<LabelSource> out;
    bool handled = false;
    visit_native(array, [&]<class T>(NativeValues<T> xs) {
        if constexpr (std::is_integral_v<T>) {
            if (PyArray_DESCR(array)->kind == 'b') return;  // never Integer; defensive
            if constexpr (std::is_same_v<T, std::uint64_t>) {
                // Past the signed range the integer protocol fails: the
                // generic path raises its OverflowError.
                std::uint64_t high = 0;
                for (std::uint64_t x : xs.span()) high |= x;
                if (high >> 63) return;
            }
            handled = true;
            const auto v = integer_value(value);
            if (v) out = numeric_labels(std::move(xs), *v, kernel);
        }
    });
    if (handled) return out;
    const auto values = read_i64(array);
    if (!values) return std::nullopt;
    const auto v = integer_value(value);
    if (!v) return std::nullopt;
    return numeric_labels(std::span<const std::int64_t>(*values), *v, kernel);
}

std::optional<LabelSource> label_bool(PyArrayObject* array, PyObject* value) {
    std::optional<LabelSource> out;
    bool handled = false;
    visit_native(array, [&]<class T>(NativeValues<T> xs) {
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            if (PyArray_DESCR(array)->kind != 'b') return;
            handled = true;
            const auto v = bool_value(value);
            if (!v) return;
            out = LabelSource::view(xs.span().size(), [xs = std::move(xs), v = *v](std::size_t begin, std::size_t count,
                                                                                    Label* labels) {
                label_equal_bool(xs.span().subspan(begin, count), v, labels);
            });
        }
    });
    if (handled) return out;
    const auto values = read_bool(array);
    if (!values) return std::nullopt;
    const auto v = bool_value(value);
    if (!v) return std::nullopt;
    Labels labels(values->size());
    label_equal_bool(*values, *v, labels.data());
    return LabelSource::owned(std::move(labels));
}

std::optional<LabelSource> label_text(PyArrayObject* array, PyObject* value, const char* arg) {
    auto column = TextColumn::read(array, arg);
    if (!column) return std::nullopt;
    const auto label = text_value(value);
    if (!label) return std::nullopt;
    return std::move(*column).equal(*label);
}

}  // namespace

std::optional<LabelSource> apply_label(PyArrayObject* array, PyObject* label_or_threshold, const char* arg) {
    switch (determine_type(array)) {
        case ElementCategory::Float: return label_float(array, label_or_threshold);
        case ElementCategory::Integer: return label_integer(array, label_or_threshold);
        case ElementCategory::Bool: return label_bool(array, label_or_threshold);
        case ElementCategory::Text: return label_text(array, label_or_threshold, arg);
    }
    return std::nullopt;
}

}  // namespace quorvant::data_handler
