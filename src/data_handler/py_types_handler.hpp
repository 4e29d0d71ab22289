// Reading NumPy arrays of any element type into plain vectors, and the
// discrete-versus-continuous decision.
//
// Every reader has two paths with the same results: a fast one over the
// buffer of a 1-D native-order numeric or bool array, and the generic one
// that iterates the array with the Python protocols (object, byte-swapped,
// 0-D and N-D arrays, and whatever the fast path cannot decide). On an
// element the fast path cannot convert, the generic path runs to raise the
// interpreter's own error. Readers return nullopt with that error set.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "data_handler/label_source.hpp"
#include "data_handler/labels.hpp"
#include "frame/numpy.hpp"

namespace quorvant::data_handler {

enum class ElementCategory : std::uint8_t { Float, Integer, Text, Bool };
enum class DistributionKind : std::uint8_t { Discrete, Continuous };

ElementCategory determine_type(PyArrayObject* array);

// The float protocol per element (any category: bool reads as 0.0 / 1.0).
std::optional<std::vector<double>> read_f64(PyArrayObject* array);
// The integer protocol per element (uint64 beyond the signed range raises
// the interpreter's OverflowError).
std::optional<std::vector<std::int64_t>> read_i64(PyArrayObject* array);
// Python bool and NumPy bool scalars only.
std::optional<std::vector<std::uint8_t>> read_bool(PyArrayObject* array);
// Python str elements only, as UTF-8.
std::optional<std::vector<std::string>> read_strings(PyArrayObject* array);

// The model-performance conversion: length first (a 0-D array raises
// TypeError), Float and Integer elements through the float protocol
// narrowed to f32; Text and Bool raise ModelPerformanceError UnSupportedType.
std::optional<std::vector<float>> convert_f32(PyArrayObject* array, ElementCategory category);

// Distinct values among `values` against the configured heuristic.
DistributionKind distribution_kind(std::span<const double> values);
DistributionKind distribution_kind(std::span<const std::int64_t> values);

// TypeError "Data passed in is of hetergeneous types"; returns nullptr.
PyObject* generate_type_err();

// The elements of a 1-D numeric array in their own C type: the array's
// buffer itself when it is contiguous and aligned, else a private copy.
// A view of the buffer is valid only until Python code can run.
template <class T>
class NativeValues {
public:
    static NativeValues view(std::span<const T> values) { return NativeValues(values, nullptr); }
    static NativeValues copy(std::vector<T> values) {
        auto owned = std::make_shared<const std::vector<T>>(std::move(values));
        const std::span<const T> view(*owned);
        return NativeValues(view, std::move(owned));
    }
    std::span<const T> span() const { return values_; }

private:
    NativeValues(std::span<const T> v, std::shared_ptr<const std::vector<T>> o)
        : values_(v), owned_(std::move(o)) {}
    std::span<const T> values_;
    std::shared_ptr<const std::vector<T>> owned_;
};

// True when every byte is 0 or 1 (a bool buffer needs no normalising).
bool all_zero_or_one(const std::uint8_t* p, std::size_t n);

// Calls f(NativeValues<T>) with the elements of a 1-D native-order numeric
// or bool array, bool elements as 0/1 bytes (T = uint8_t, any non-zero byte
// being true). Returns false (f not called) for every other array, which
// takes the generic path.
template <class F>
bool visit_native(PyArrayObject* array, F&& f) {
    return frame::visit_numeric(array, [&]<class T>(frame::Strided<T> s) {
        const auto n = static_cast<std::size_t>(s.size);
        if constexpr (std::is_same_v<T, bool>) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(s.data);
            if (s.stride == 1 && all_zero_or_one(p, n)) {
                f(NativeValues<std::uint8_t>::view(std::span<const std::uint8_t>(p, n)));
                return;
            }
            std::vector<std::uint8_t> v(n);
            for (std::size_t i = 0; i < n; ++i) v[i] = s[static_cast<npy_intp>(i)];
            f(NativeValues<std::uint8_t>::copy(std::move(v)));
        } else {
            const T* p = reinterpret_cast<const T*>(s.data);
            if (s.contiguous() && reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0) {
                f(NativeValues<T>::view(std::span<const T>(p, n)));
                return;
            }
            std::vector<T> v(n);
            for (std::size_t i = 0; i < n; ++i) v[i] = s[static_cast<npy_intp>(i)];
            f(NativeValues<T>::copy(std::move(v)));
        }
    });
}

// True for an exact ndarray (no subclass) that is 1-D, native-order, of a
// numeric, bool or str ('<U') element type: labeling such an array never
// runs Python code, so views of it stay valid for the whole call.
bool is_plain_buffer(PyArrayObject* array);

// The elements of a Text array as read by the str protocol, without making
// a str object per element where the array allows: native-order '<U' arrays
// are compared in their UCS4 buffer, object arrays through the UTF-8 of the
// str objects they hold (no copy); everything else is read by the generic
// path.
//
// A column refers to the array's memory: use it at once, before any Python
// code can run.
class TextColumn {
public:
    // nullopt with the reading error set (the generic path's error; with
    // `arg`, an element NumPy cannot make is that argument's ValueError).
    static std::optional<TextColumn> read(PyArrayObject* array, const char* arg = nullptr);

    std::size_t size() const { return size_; }

    // 1 where the element's UTF-8 bytes equal `label` exactly. `label` must
    // be valid UTF-8. A view for the in-place forms.
    LabelSource equal(std::string_view label) &&;

private:
    enum class Form : std::uint8_t { Ucs4, Objects, Owned };

    Form form_ = Form::Owned;
    std::size_t size_ = 0;
    // Ucs4: element i is `width_` code points at data_ + i * stride_.
    // Objects: element i is the str whose pointer is at data_ + i * stride_.
    const char* data_ = nullptr;
    npy_intp stride_ = 0;
    std::size_t width_ = 0;
    std::vector<std::string> owned_;
};

}  // namespace quorvant::data_handler
