// Conversions to signed 8-bit integers: single ints and sequences of them
// (the already-labeled rows of the streaming bias monitors).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/chunk_source.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

// An int (or an object with __index__) in -128..127. Another type is the
// argument's TypeError; a value out of range its OverflowError.
std::optional<std::int8_t> to_i8(PyObject* obj, const char* arg);

// A sequence other than str whose items convert as to_i8, in order. Lists
// and tuples of small ints and 1-D NumPy integer arrays are read without a
// call per item, with the same results and errors as item by item.
std::optional<std::vector<std::int8_t>> to_i8_sequence(PyObject* obj, const char* arg);

// Whether a view saw an element outside -128..127 while it was read.
struct RangeCheck {
    bool outside = false;
};

// The buffer of an exact, contiguous 1-D NumPy integer array whose
// elements all lie in -128..127, read in place (int8 and uint8 buffers are
// the values themselves; wider ones are narrowed a chunk at a time when
// read). nullopt (no error set) for anything else. Reading runs no Python
// code; the view is valid until Python code can run.
//
// With `deferred`, a wider buffer's range is not checked up front but
// noted in *deferred as the view is read (one pass over the buffer instead
// of two): read it whole, then ask range_checked before using the values.
std::optional<common::ValueSource> i8_buffer(PyObject* obj, RangeCheck* deferred = nullptr);

// False with the argument's OverflowError set when the check saw an
// element out of range (the error converting the items would raise).
bool range_checked(const RangeCheck& check, const char* arg);

// Several sequence arguments as buffers, when every one is such a buffer
// (nothing can then change them before they are read); else nullopt.
// With `deferred`, wider buffers note their ranges there as they are read.
template <std::size_t N>
std::optional<std::array<common::ValueSource, N>> i8_buffers(const std::array<PyObject*, N>& objs,
                                                                    std::array<RangeCheck, N>* deferred = nullptr) {
    std::array<common::ValueSource, N> out;
    for (std::size_t i = 0; i < N; ++i) {
        auto buffer = i8_buffer(objs[i], deferred != nullptr ? &(*deferred)[i] : nullptr);
        if (!buffer) return std::nullopt;
        out[i] = std::move(*buffer);
    }
    return out;
}

// The first argument's range error, in argument order.
template <std::size_t N>
bool ranges_checked(const std::array<RangeCheck, N>& checks, const char* const (&names)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!range_checked(checks[i], names[i])) return false;
    }
    return true;
}

// Several sequence arguments converted in order: the buffers when every
// one is a buffer, else each converted by to_i8_sequence. nullopt with the
// first argument's error set.
template <std::size_t N>
std::optional<std::array<common::ValueSource, N>> to_i8_sources(const std::array<PyObject*, N>& objs,
                                                                       const char* const (&names)[N]) {
    if (auto buffers = i8_buffers(objs)) return buffers;
    std::array<common::ValueSource, N> out;
    for (std::size_t i = 0; i < N; ++i) {
        auto values = to_i8_sequence(objs[i], names[i]);
        if (!values) return std::nullopt;
        out[i] = common::ValueSource::owned(std::move(*values));
    }
    return out;
}

}  // namespace quorvant::frame
