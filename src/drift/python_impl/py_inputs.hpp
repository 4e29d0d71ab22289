// Conversions of the drift family's Python arguments, in the two phases of
// frame/held.hpp: float64 arrays held and read in place, sequences of str
// read in place (no str object is created), NumPy str arrays as UTF-8 of
// our own, and lists of drift type names.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8_text.hpp"
#include "drift/baseline.hpp"
#include "drift/distribution.hpp"
#include "drift/drift_metrics.hpp"
#include "frame/held.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::drift::python_impl {

// The values of a float64 array: the held buffer, or a copy of an unaligned
// one (so the span can be read as doubles).
class F64Values {
public:
    std::span<const double> span() const { return span_; }

private:
    friend class F64Array;
    std::span<const double> span_;
    std::vector<double> copy_;
};

// A one-dimensional native float64 ndarray argument. The continuous faces
// are defined by the array's memory: a subclass of ndarray is read through
// its buffer too (a masked array counts its masked values as they are
// stored), since these faces have no element-by-element path.
class F64Array {
public:
    // The argument's TypeError unless it is such an array; the data is not
    // looked at yet.
    static std::optional<F64Array> from(PyObject* obj, const char* arg);

    // Phase 2: the values; a non-contiguous array is refused with TypeError
    // "The given array is not contiguous". An array whose layout changed
    // since it was converted is converted again first.
    std::optional<F64Values> values();

private:
    std::optional<frame::HeldArray> held_;
    const char* arg_ = nullptr;
};

// A sequence of str, held and read in place: an exact list or tuple itself,
// any other sequence as a tuple of its items (an ndarray of a NumPy dtype
// other than str is refused at its first item). Every item is checked in
// the argument's turn; a single str (or bytes) is refused.
//
// An exact 1-D ndarray of dtype str (either byte order, any stride) is
// different: its text is converted in the argument's turn into UTF-8 of our
// own (no str per element), each element as NumPy's item would read. An
// array holding an element whose str cannot be made or encoded takes the
// path of other sequences, which raises the interpreter's error.
//
// The labels are read, after every argument is converted, a chunk of UTF-8
// views at a time (ASCII text is its own UTF-8; other text uses the str's
// cached encoding): the views are valid only during the call of the sink.
// An item the caller's own code replaced by something other than a str in
// between is its TypeError then (the GIL is held for str objects; owned
// text never fails and may be read without it).
class LabelSeq {
public:
    static std::optional<LabelSeq> of(PyObject* obj, const char* arg);

    std::size_t size() const {
        return text_ ? text_->size() : static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq_.get()));
    }
    // Whether the labels are owned text (read without the GIL).
    bool owned() const { return text_.has_value(); }

    // sink(std::span<const std::string_view>) over the labels [begin,
    // size()) in order; false with the error set if an item is no longer a
    // str.
    template <class Sink>
    bool read(std::size_t begin, Sink&& sink) const {
        std::string_view views[kViews];
        for (std::size_t i = begin; i < size(); i += kViews) {
            const std::size_t m = std::min(kViews, size() - i);
            if (text_) {
                for (std::size_t j = 0; j < m; ++j) views[j] = (*text_)[i + j];
            } else if (!views_of(i, m, views)) {
                return false;
            }
            sink(std::span<const std::string_view>(views, m));
        }
        return true;
    }

    static std::string_view view_of(PyObject* str) {
        if (PyUnicode_IS_ASCII(str)) {
            return {static_cast<const char*>(PyUnicode_DATA(str)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
        }
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(str, &n);  // cached by the check
        return {p, static_cast<std::size_t>(n)};
    }

private:
    static constexpr std::size_t kViews = 1024;

    // Checks items [begin, begin + count) and writes their views.
    bool views_of(std::size_t begin, std::size_t count, std::string_view* out) const;

    frame::Owned seq_;  // an exact list or tuple, unless text_ is there
    std::optional<common::Utf8Text> text_;
    const char* arg_ = nullptr;
};

// The input size above which the core may run without the GIL: the labels
// in all when every sequence is owned text, else 0 (str objects are read
// with the GIL held).
template <class... Seqs>
std::size_t gil_free_size(const Seqs&... seqs) {
    return (seqs.owned() && ...) ? (seqs.size() + ...) : 0;
}

// Why reading labels or the core failed: a Python error already set (only
// a read of str objects, which holds the GIL), or a core error to raise
// once the GIL is held.
using Failure = std::optional<errors::DriftError>;
template <class T>
using Read = std::expected<T, Failure>;

// A core result as a Read.
template <class T>
Read<T> read_of(std::expected<T, errors::DriftError> r) {
    if (!r) return std::unexpected(Failure(r.error()));
    return std::move(*r);
}

// Raises a core error (a Python error is set already); nullptr.
PyObject* raise_failure(const Failure& f);

// The baseline of a label sequence.
Read<BaselineCategoricalBins> categorical_baseline(const LabelSeq& labels);

// The same, built without the GIL for large owned text; nullopt with the
// error raised.
std::optional<BaselineCategoricalBins> build_baseline(const LabelSeq& labels);

// The bin counts of labels [begin, size()) against a baseline.
Read<std::vector<std::uint64_t>> bin_counts(const LabelSeq& labels, const BaselineCategoricalBins& baseline,
                                            std::size_t begin = 0);

// One str as a label view (TypeError naming the argument otherwise).
std::optional<std::string_view> label_of(PyObject* obj, const char* arg);

// A sequence of drift type names (conversion only; the names are checked
// later).
std::optional<std::vector<std::string>> drift_names(PyObject* obj, const char* arg);

// The drift types of names (raising "Unsupported drift type" on the first
// unknown one).
std::optional<std::vector<DriftType>> drift_types(const std::vector<std::string>& names);
std::optional<DriftType> drift_type(const std::string& name);

// None, or the name of a rule (conversion only; the name is checked later).
std::optional<std::optional<std::string>> quantile_name(PyObject* obj, const char* arg);
// The rule of a converted name (raising "Unsupported drift type").
std::optional<std::optional<QuantileType>> quantile_type(const std::optional<std::string>& name);

}  // namespace quorvant::drift::python_impl
