#include "data_handler/py_labeling.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "data_handler/py_types_handler.hpp"
#include "frame/convert.hpp"
#include "frame/gil.hpp"
#include "frame/held.hpp"
#include "frame/raise.hpp"

namespace quorvant::data_handler {

namespace {

using common::Column;
using common::ElementType;
using common::Typed;

constexpr auto kConfigError = errors::BiasError::BiasConfigError;

// ---- the label or threshold, read by category (no Python code runs) ------

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

std::optional<std::string> text_value(PyObject* v) {
    if (!PyUnicode_Check(v)) {
        generate_type_err();
        return std::nullopt;
    }
    const auto text = frame::utf8_view(v);
    if (!text) return std::nullopt;
    return std::string(*text);
}

// ---- buffers ---------------------------------------------------------------

// The buffer of an ndarray itself (not a subclass) that is 1-D, native
// order, of a numeric or bool dtype.
std::optional<Column> exact_numeric(PyArrayObject* array) {
    if (!PyArray_CheckExact(reinterpret_cast<PyObject*>(array))) return std::nullopt;
    return frame::numeric_column(array);
}

// Read in place: contiguous and aligned for its element type.
bool in_place(const Column& c) {
    return common::visit(c, [&]<class T>(Typed<T> t) {
        return t.contiguous() && reinterpret_cast<std::uintptr_t>(t.data) % alignof(T) == 0;
    });
}

bool is_integer(ElementType t) { return t != ElementType::F64 && t != ElementType::F32 && t != ElementType::Bool; }

// The values of a column converted as the protocols would (bools as 0/1).
template <class Out>
std::vector<Out> copy_of(const Column& c) {
    return common::visit(c, [&]<class T>(Typed<T> t) {
        std::vector<Out> out(t.size);
        for (std::size_t i = 0; i < t.size; ++i) out[i] = static_cast<Out>(t[i]);
        return out;
    });
}

// Whether some uint64 element is past the signed range (the integer
// protocol's OverflowError).
bool beyond_i64(const Column& c) {
    if (c.type != ElementType::U64) return false;
    return common::visit(c, [&]<class T>(Typed<T> t) {
        std::uint64_t high = 0;
        for (std::size_t i = 0; i < t.size; ++i) high |= static_cast<std::uint64_t>(t[i]);
        return (high >> 63) != 0;
    });
}

// ---- text --------------------------------------------------------------------

// Labels of str objects compared with `label`, made from their UTF-8 a chunk
// at a time (the array holds the objects; no Python code runs meanwhile).
PackedLabels label_objects(const char* data, npy_intp stride, std::size_t n, std::string_view label) {
    PackedLabels out(n);
    Label labels[kChunk];
    constexpr std::size_t kAhead = 8;  // str headers are scattered: fetch ahead
    std::string_view views[kChunk];
    for (std::size_t i = 0; i < n; i += kChunk) {
        const std::size_t m = std::min(kChunk, n - i);
        for (std::size_t j = 0; j < m; ++j) {
            if (i + j + kAhead < n) __builtin_prefetch(object_at(data, stride, i + j + kAhead));
            views[j] = utf8_of(object_at(data, stride, i + j));
        }
        label_equal_texts(std::span<const std::string_view>(views, m), label, labels);
        out.set(i, labels, m);
    }
    return out;
}

PackedLabels label_strings(const std::vector<std::string>& strings, std::string_view label) {
    PackedLabels out(strings.size());
    Label labels[kChunk];
    for (std::size_t i = 0; i < strings.size(); i += kChunk) {
        const std::size_t m = std::min(kChunk, strings.size() - i);
        for (std::size_t j = 0; j < m; ++j) labels[j] = static_cast<Label>(strings[i + j] == label);
        out.set(i, labels, m);
    }
    return out;
}

// A '<U' or object array read in place, or nullopt for the generic path.
struct TextBuffer {
    enum class Form : std::uint8_t { Ucs4, Objects } form;
    const char* data;
    npy_intp stride;
    std::size_t size;
    std::size_t width;

    static std::optional<TextBuffer> of(PyArrayObject* array) {
        if (!PyArray_CheckExact(reinterpret_cast<PyObject*>(array)) || PyArray_NDIM(array) != 1) return std::nullopt;
        const auto n = static_cast<std::size_t>(PyArray_DIM(array, 0));
        const npy_intp stride = PyArray_STRIDE(array, 0);
        const char* data = PyArray_BYTES(array);
        const int type = PyArray_DESCR(array)->type_num;
        if (type == NPY_UNICODE && PyArray_ISNOTSWAPPED(array)) {
            const auto width = static_cast<std::size_t>(PyArray_ITEMSIZE(array)) / 4;
            if (valid_ucs4(data, stride, n, width)) return TextBuffer{Form::Ucs4, data, stride, n, width};
        } else if (type == NPY_OBJECT && valid_objects(data, stride, n)) {
            return TextBuffer{Form::Objects, data, stride, n, 0};
        }
        return std::nullopt;
    }
};

// The labels of a labeling over the buffer of `array` (held meanwhile) or
// over owned copies (array null), without the GIL for large inputs.
PackedLabels labels_of(const Labeling& labeling, PyArrayObject* array = nullptr) {
    const std::optional<frame::HeldArray> held =
        array != nullptr ? std::optional(frame::HeldArray::hold(array)) : std::nullopt;
    return frame::run_core(size_of(labeling), [&] { return make_labels(labeling); });
}

// The numbers of a column read in place (bools as 0/1 bytes).
Numbers numbers_of(const Column& c) {
    return common::visit(c, [&]<class T>(Typed<T> t) -> Numbers {
        if constexpr (std::is_same_v<T, bool>) {
            return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(t.data), t.size);
        } else {
            return std::span<const T>(reinterpret_cast<const T*>(t.data), t.size);
        }
    });
}

// Text elements equal to the label `read_label()` gives (read after the
// elements; nullopt: its error is set): a '<U' buffer compared in place,
// str objects through their UTF-8, anything else by the generic path.
template <class ReadLabel>
std::optional<PackedLabels> text_labels(PyArrayObject* array, const char* arg, ReadLabel read_label) {
    if (const auto buffer = TextBuffer::of(array)) {
        const std::optional<std::string> label = read_label();
        if (!label) return std::nullopt;
        if (buffer->form == TextBuffer::Form::Ucs4) {
            return labels_of(ByUcs4{buffer->data, buffer->stride, buffer->size, buffer->width, *label}, array);
        }
        return label_objects(buffer->data, buffer->stride, buffer->size, *label);
    }
    const auto strings = read_strings(array, arg);
    if (!strings) return std::nullopt;
    const std::optional<std::string> label = read_label();
    if (!label) return std::nullopt;
    return label_strings(*strings, *label);
}

}  // namespace

std::optional<PackedLabels> apply_label(PyArrayObject* array, PyObject* value, const char* arg) {
    switch (determine_type(array)) {
        case ElementCategory::Float: {
            if (const auto col = exact_numeric(array)) {
                const auto v = float_value(value);
                if (!v) return std::nullopt;
                if (in_place(*col)) return labels_of(ByFloatValue{numbers_of(*col), *v}, array);
                const std::vector<double> copy = copy_of<double>(*col);
                return labels_of(ByFloatValue{std::span<const double>(copy), *v});
            }
            const auto values = read_f64(array);
            if (!values) return std::nullopt;
            const auto v = float_value(value);
            if (!v) return std::nullopt;
            return labels_of(ByFloatValue{std::span<const double>(*values), *v});
        }
        case ElementCategory::Integer: {
            // Past the signed range the integer protocol fails: the generic
            // path raises its OverflowError.
            if (const auto col = exact_numeric(array); col && is_integer(col->type) && !beyond_i64(*col)) {
                const auto v = integer_value(value);
                if (!v) return std::nullopt;
                if (in_place(*col) && col->type != ElementType::U64) {
                    return labels_of(ByIntegerValue{numbers_of(*col), *v}, array);
                }
                const std::vector<std::int64_t> copy = copy_of<std::int64_t>(*col);
                return labels_of(ByIntegerValue{std::span<const std::int64_t>(copy), *v});
            }
            const auto values = read_i64(array);
            if (!values) return std::nullopt;
            const auto v = integer_value(value);
            if (!v) return std::nullopt;
            return labels_of(ByIntegerValue{std::span<const std::int64_t>(*values), *v});
        }
        case ElementCategory::Bool: {
            if (const auto col = exact_numeric(array); col && col->type == ElementType::Bool) {
                const auto v = bool_value(value);
                if (!v) return std::nullopt;
                const auto* p = reinterpret_cast<const std::uint8_t*>(col->data);
                if (col->stride == 1 && all_zero_or_one(p, col->size)) {
                    return labels_of(ByBool{{p, col->size}, *v}, array);
                }
                const std::vector<std::uint8_t> copy = copy_of<std::uint8_t>(*col);
                return labels_of(ByBool{copy, *v});
            }
            const auto values = read_bool(array);
            if (!values) return std::nullopt;
            const auto v = bool_value(value);
            if (!v) return std::nullopt;
            return labels_of(ByBool{*values, *v});
        }
        case ElementCategory::Text:
            return text_labels(array, arg, [&] { return text_value(value); });
    }
    return std::nullopt;
}

std::expected<PackedLabels, errors::BiasError> label_python_bias_explicit_seg(PyArrayObject* array,
                                                                            const SegmentationParams& params) {
    if (params.threshold) {
        if (params.label || !params.threshold_type) return std::unexpected(kConfigError);
        // The type is parsed after the array is read; reading a buffer
        // cannot fail, so only the generic path has to come first.
        const std::optional<ThresholdType> type = parse_threshold_type(*params.threshold_type);
        if (const auto col = exact_numeric(array)) {
            if (!type) return std::unexpected(kConfigError);
            const bool bytes_ok = col->type != ElementType::Bool ||
                                  (col->stride == 1 &&
                                   all_zero_or_one(reinterpret_cast<const std::uint8_t*>(col->data), col->size));
            if (in_place(*col) && bytes_ok) {
                return labels_of(ByComparison{numbers_of(*col), comparison_of(*type), *params.threshold}, array);
            }
            const std::vector<double> copy = copy_of<double>(*col);
            return labels_of(ByComparison{std::span<const double>(copy), comparison_of(*type), *params.threshold});
        }
        const auto values = read_f64(array);
        if (!values) {
            PyErr_Clear();
            return std::unexpected(kConfigError);
        }
        if (!type) return std::unexpected(kConfigError);
        return labels_of(ByComparison{std::span<const double>(*values), comparison_of(*type), *params.threshold});
    }
    if (!params.label || params.threshold_type) return std::unexpected(kConfigError);
    auto labels = text_labels(array, nullptr, [&] { return std::optional<std::string>(*params.label); });
    if (!labels) {
        PyErr_Clear();
        return std::unexpected(kConfigError);
    }
    return std::move(*labels);
}

std::optional<ExplicitArgs> explicit_segmentation_args(PyObject* const* args, const char* const names[4]) {
    const auto array = frame::as_array(args[0], names[0]);
    if (!array) return std::nullopt;
    auto threshold = frame::to_optional_f64(args[1], names[1]);
    if (!threshold) return std::nullopt;
    auto label = frame::to_optional_string(args[2], names[2]);
    if (!label) return std::nullopt;
    auto type = frame::to_optional_string(args[3], names[3]);
    if (!type) return std::nullopt;
    return ExplicitArgs{*array, SegmentationParams{*threshold, std::move(*label), std::move(*type)}};
}

}  // namespace quorvant::data_handler
