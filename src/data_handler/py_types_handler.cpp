#include "data_handler/py_types_handler.hpp"

#include <cstring>
#include <utility>


#include "config/config.hpp"
#include "data_handler/distinct_values.hpp"
#include "common/kernel.hpp"
#include "errors/errors.hpp"
#include "frame/raise.hpp"
#include "frame/refs.hpp"

namespace quorvant::data_handler {

using frame::Owned;

namespace {

bool equivalent(PyArrayObject* array, int typenum) {
    PyArray_Descr* native = PyArray_DescrFromType(typenum);  // new reference
    const bool same = PyArray_EquivTypes(PyArray_DESCR(array), native);
    Py_DECREF(native);
    return same;
}

// Product of the dimensions (1 for a 0-D array).
std::size_t element_count(PyArrayObject* array) {
    return static_cast<std::size_t>(PyArray_SIZE(array));
}

// The generic path: the Python iteration protocol, one conversion per item.
// With `arg`, an element NumPy cannot make is that argument's ValueError.
template <class T, class Convert>
std::optional<std::vector<T>> read_generic(PyArrayObject* array, std::size_t reserve, Convert convert,
                                           const char* arg = nullptr) {
    std::vector<T> out;
    out.reserve(reserve);
    Owned iter = Owned::steal(PyObject_GetIter(reinterpret_cast<PyObject*>(array)));
    if (!iter) return std::nullopt;
    while (true) {
        Owned item = Owned::steal(PyIter_Next(iter.get()));
        if (!item) {
            if (!PyErr_Occurred()) break;
            if (arg != nullptr) frame::name_invalid_code_point(reinterpret_cast<PyObject*>(array), arg);
            return std::nullopt;
        }
        std::optional<T> v = convert(item.get());
        if (!v) return std::nullopt;
        out.push_back(std::move(*v));
    }
    return out;
}

std::optional<double> float_protocol(PyObject* item) {
    const double v = PyFloat_AsDouble(item);
    if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
    return v;
}

std::optional<std::int64_t> integer_protocol(PyObject* item) {
    const long long v = PyLong_AsLongLong(item);
    if (v == -1 && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

std::optional<std::uint8_t> bool_protocol(PyObject* item) {
    if (PyBool_Check(item)) return static_cast<std::uint8_t>(item == Py_True);
    if (PyArray_IsScalar(item, Bool)) return static_cast<std::uint8_t>(PyArrayScalar_VAL(item, Bool) != 0);
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'bool'", Py_TYPE(item)->tp_name);
    return std::nullopt;
}

std::optional<std::string> str_protocol(PyObject* item) {
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'str'", Py_TYPE(item)->tp_name);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item, &size);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(size));
}

// Float protocol values of a buffer element: exact widening of floats and
// bools, nearest double for integers (what their __float__ does).
template <class T>
double as_double(T v) {
    return static_cast<double>(v);
}

}  // namespace

ElementCategory determine_type(PyArrayObject* array) {
    if (equivalent(array, NPY_FLOAT64) || equivalent(array, NPY_FLOAT32)) return ElementCategory::Float;
    static constexpr int kIntegers[] = {NPY_INT8,  NPY_INT16,  NPY_INT32,  NPY_INT64,
                                        NPY_UINT8, NPY_UINT16, NPY_UINT32, NPY_UINT64};
    for (int t : kIntegers) {
        if (equivalent(array, t)) return ElementCategory::Integer;
    }
    if (equivalent(array, NPY_BOOL)) return ElementCategory::Bool;
    return ElementCategory::Text;
}

std::optional<std::vector<double>> read_f64(PyArrayObject* array) {
    std::optional<std::vector<double>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        std::vector<double> v(static_cast<std::size_t>(s.size));
        for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = as_double(s[i]);
        out = std::move(v);
    });
    if (fast) return out;
    return read_generic<double>(array, element_count(array), float_protocol);
}

std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array) {
    std::optional<std::vector<std::int64_t>> out;
    bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            std::vector<std::int64_t> v(static_cast<std::size_t>(s.size));
            std::uint64_t out_of_range = 0;
            for (npy_intp i = 0; i < s.size; ++i) {
                const T x = s[i];
                if constexpr (std::is_same_v<T, std::uint64_t>) out_of_range |= x >> 63;
                v[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(x);
            }
            // The generic path raises the interpreter's own OverflowError.
            if (out_of_range == 0) out = std::move(v);
        }
    });
    if (fast && out) return out;
    return read_generic<std::int64_t>(array, element_count(array), integer_protocol);
}

std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array) {
    std::optional<std::vector<std::uint8_t>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        if constexpr (std::is_same_v<T, bool>) {
            std::vector<std::uint8_t> v(static_cast<std::size_t>(s.size));
            for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = s[i];
            out = std::move(v);
        }
    });
    if (fast && out) return out;
    return read_generic<std::uint8_t>(array, element_count(array), bool_protocol);
}

std::optional<std::vector<std::string>> read_strings(PyArrayObject* array) {
    return read_generic<std::string>(array, element_count(array), str_protocol);
}

std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category) {
    const Py_ssize_t length = PyObject_Length(reinterpret_cast<PyObject*>(array));
    if (length < 0) return std::nullopt;
    if (category == ElementCategory::Text || category == ElementCategory::Bool) {
        frame::raise(errors::kUnsupportedType);
        return std::nullopt;
    }
    std::optional<std::vector<float>> out;
    const bool fast = frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        std::vector<float> v(static_cast<std::size_t>(s.size));
        if (s.contiguous()) {
            const T* p = reinterpret_cast<const T*>(s.data);
            if (reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0) {
                for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = static_cast<float>(as_double(p[i]));
                out = std::move(v);
                return;
            }
        }
        for (npy_intp i = 0; i < s.size; ++i) v[static_cast<std::size_t>(i)] = static_cast<float>(as_double(s[i]));
        out = std::move(v);
    });
    if (fast) return out;
    return read_generic<float>(array, static_cast<std::size_t>(length), [](PyObject* item) -> std::optional<float> {
        const auto v = float_protocol(item);
        if (!v) return std::nullopt;
        return static_cast<float>(*v);
    });
}

// The distinct count stops as soon as the answer is known (distinct_values).
DistributionKind distribution_kind(std::span<const double> values) {
    return is_continuous(values, config::distribution_heuristic()) ? DistributionKind::Continuous
                                                                   : DistributionKind::Discrete;
}

DistributionKind distribution_kind(std::span<const std::int64_t> values) {
    return is_continuous(values, config::distribution_heuristic()) ? DistributionKind::Continuous
                                                                   : DistributionKind::Discrete;
}

PyObject* generate_type_err() {
    PyErr_SetString(PyExc_TypeError, "Data passed in is of hetergeneous types");
    return nullptr;
}

namespace {

std::uint32_t load_u32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t load_u64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A str made from a '<U' element fails for a surrogate (when encoded) or a
// value past U+10FFFF (when created); either sends the array to the generic
// path, which raises that error.
std::uint32_t bad_code_point(std::uint32_t c) {
    return static_cast<std::uint32_t>(c - 0xD800u < 0x800u) | static_cast<std::uint32_t>(c > 0x10FFFFu);
}

QUORVANT_KERNEL bool valid_ucs4(const char* data, npy_intp stride, std::size_t n, std::size_t width) {
    constexpr std::size_t kBlock = 64;
    std::uint32_t bad = 0;
    if (static_cast<std::size_t>(stride) == 4 * width) {
        const std::size_t total = n * width;
        std::size_t i = 0;
        for (; i + kBlock <= total; i += kBlock) {
            for (std::size_t j = 0; j < kBlock; ++j) bad |= bad_code_point(load_u32(data + 4 * (i + j)));
        }
        for (; i < total; ++i) bad |= bad_code_point(load_u32(data + 4 * i));
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const char* e = data + static_cast<npy_intp>(i) * stride;
            for (std::size_t j = 0; j < width; ++j) bad |= bad_code_point(load_u32(e + 4 * j));
        }
    }
    return bad == 0;
}

// Code points of valid UTF-8.
std::vector<std::uint32_t> decode_utf8(std::string_view s) {
    std::vector<std::uint32_t> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t c;
        std::size_t len;
        if (b < 0x80) {
            c = b, len = 1;
        } else if (b < 0xE0) {
            c = b & 0x1Fu, len = 2;
        } else if (b < 0xF0) {
            c = b & 0x0Fu, len = 3;
        } else {
            c = b & 0x07u, len = 4;
        }
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
        }
        out.push_back(c);
        i += len;
    }
    return out;
}

// Elements of W code points at data + i * stride against a pattern of the
// same width; W fixed at compile time for the common narrow widths.
template <std::size_t W>
void equal_ucs4_fixed(const char* data, npy_intp stride, std::size_t n, const std::uint32_t* pattern, Label* out) {
    constexpr std::size_t kBytes = 4 * W;
    if constexpr (kBytes < 8) {
        const std::uint32_t pat = pattern[0];
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<Label>(load_u32(data + static_cast<npy_intp>(i) * stride) == pat);
        }
    } else {
        // Whole 8-byte words, the last one overlapping its neighbour.
        constexpr std::size_t kWords = (kBytes + 7) / 8;
        const char* pbytes = reinterpret_cast<const char*>(pattern);
        std::uint64_t pat[kWords];
        for (std::size_t k = 0; k < kWords; ++k) pat[k] = load_u64(pbytes + std::min(8 * k, kBytes - 8));
        for (std::size_t i = 0; i < n; ++i) {
            const char* e = data + static_cast<npy_intp>(i) * stride;
            std::uint64_t diff = 0;
            for (std::size_t k = 0; k < kWords; ++k) diff |= load_u64(e + std::min(8 * k, kBytes - 8)) ^ pat[k];
            out[i] = static_cast<Label>(diff == 0);
        }
    }
}

template <std::size_t... W>
bool equal_ucs4_dispatch(std::index_sequence<W...>, std::size_t width, const char* data, npy_intp stride,
                         std::size_t n, const std::uint32_t* pattern, Label* out) {
    return ((width == W + 1 ? (equal_ucs4_fixed<W + 1>(data, stride, n, pattern, out), true) : false) || ...);
}

QUORVANT_KERNEL void label_equal_ucs4(const char* data, npy_intp stride, std::size_t n,
                                      const std::vector<std::uint32_t>& pattern, Label* out) {
    const std::size_t width = pattern.size();
    if (equal_ucs4_dispatch(std::make_index_sequence<16>{}, width, data, stride, n, pattern.data(), out)) return;
    const std::uint32_t* pat = pattern.data();
    for (std::size_t i = 0; i < n; ++i) {
        const char* e = data + static_cast<npy_intp>(i) * stride;
        std::uint32_t diff = 0;
        for (std::size_t j = 0; j < width; ++j) diff |= load_u32(e + 4 * j) ^ pat[j];
        out[i] = static_cast<Label>(diff == 0);
    }
}

PyObject* load_object(const char* p) {
    PyObject* o;
    std::memcpy(&o, p, sizeof o);
    return o;
}

// The UTF-8 of a str that has already been encoded once (or is compact
// ASCII, whose data is its UTF-8), so this cannot fail.
std::string_view known_utf8(PyObject* s) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return {static_cast<const char*>(PyUnicode_DATA(s)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(s))};
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(s, &size);
    return {text, static_cast<std::size_t>(size)};
}

// Every slot of an object array holds a str that UTF-8 can encode. Encoding
// caches the UTF-8 in each non-ASCII str, as the str protocol would.
bool valid_objects(const char* data, npy_intp stride, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = load_object(data + static_cast<npy_intp>(i) * stride);
        if (item == nullptr || !PyUnicode_Check(item)) return false;
        if (PyUnicode_IS_COMPACT_ASCII(item)) continue;
        if (PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) {
            PyErr_Clear();
            return false;
        }
    }
    return true;
}

void label_equal_objects(const char* data, npy_intp stride, std::size_t n, std::string_view label, Label* out) {
    constexpr std::size_t kAhead = 8;  // str headers are scattered: fetch ahead
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) __builtin_prefetch(load_object(data + static_cast<npy_intp>(i + kAhead) * stride));
        out[i] = static_cast<Label>(known_utf8(load_object(data + static_cast<npy_intp>(i) * stride)) == label);
    }
}

}  // namespace

std::optional<TextColumn> TextColumn::read(PyArrayObject* array, const char* arg) {
    TextColumn col;
    const int type = PyArray_DESCR(array)->type_num;
    if (PyArray_NDIM(array) == 1) {
        const auto n = static_cast<std::size_t>(PyArray_DIM(array, 0));
        const npy_intp stride = PyArray_STRIDE(array, 0);
        const char* data = PyArray_BYTES(array);
        if (type == NPY_UNICODE && PyArray_ISNOTSWAPPED(array)) {
            const auto width = static_cast<std::size_t>(PyArray_ITEMSIZE(array)) / 4;
            if (valid_ucs4(data, stride, n, width)) {
                col.form_ = Form::Ucs4;
                col.size_ = n;
                col.data_ = data;
                col.stride_ = stride;
                col.width_ = width;
                return col;
            }
        } else if (type == NPY_OBJECT && valid_objects(data, stride, n)) {
            col.form_ = Form::Objects;
            col.size_ = n;
            col.data_ = data;
            col.stride_ = stride;
            return col;
        }
    }
    // Arrays that cannot hold str elements fail on their first element:
    // reserve room only where strings are expected.
    const bool textual = type == NPY_UNICODE || type == NPY_OBJECT;
    auto strings = read_generic<std::string>(array, textual ? element_count(array) : 0, str_protocol, arg);
    if (!strings) return std::nullopt;
    col.form_ = Form::Owned;
    col.size_ = strings->size();
    col.owned_ = std::move(*strings);
    return col;
}

QUORVANT_KERNEL bool all_zero_or_one(const std::uint8_t* p, std::size_t n) {
    constexpr std::size_t kBlock = 64;
    std::uint8_t high = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) high |= p[i + j];
    }
    for (; i < n; ++i) high |= p[i];
    return (high & 0xFE) == 0;
}

bool is_plain_buffer(PyArrayObject* array) {
    if (!PyArray_CheckExact(reinterpret_cast<PyObject*>(array))) return false;
    if (PyArray_NDIM(array) != 1 || !PyArray_ISNOTSWAPPED(array)) return false;
    switch (PyArray_DESCR(array)->kind) {
        case 'f':
        case 'i':
        case 'u':
        case 'b':
        case 'U':
            return true;
        default:
            return false;
    }
}

LabelSource TextColumn::equal(std::string_view label) && {
    switch (form_) {
        case Form::Ucs4: {
            // An element is its code points with trailing NULs removed, so it
            // equals the label exactly when its whole slot equals the label
            // padded with NULs, and never when the label ends in NUL.
            const std::vector<std::uint32_t> cps = decode_utf8(label);
            if (cps.size() > width_ || (!cps.empty() && cps.back() == 0)) return LabelSource::owned(Labels(size_));
            std::vector<std::uint32_t> pattern(width_, 0);
            std::copy(cps.begin(), cps.end(), pattern.begin());
            return LabelSource::view(size_, [data = data_, stride = stride_, pattern = std::move(pattern)](
                                                std::size_t begin, std::size_t count, Label* out) {
                label_equal_ucs4(data + static_cast<npy_intp>(begin) * stride, stride, count, pattern, out);
            });
        }
        case Form::Objects:
            return LabelSource::view(size_, [data = data_, stride = stride_, text = std::string(label)](
                                                std::size_t begin, std::size_t count, Label* out) {
                label_equal_objects(data + static_cast<npy_intp>(begin) * stride, stride, count, text, out);
            });
        case Form::Owned:
            break;
    }
    Labels out(size_);
    for (std::size_t i = 0; i < size_; ++i) out[i] = static_cast<Label>(owned_[i] == label);
    return LabelSource::owned(std::move(out));
}

}  // namespace quorvant::data_handler
