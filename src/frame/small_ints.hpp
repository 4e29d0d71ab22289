// Conversions to signed 8-bit integers: single ints and sequences of them
// (the already-labeled rows of the streaming bias monitors).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <utility>

#include "common/chunk_source.hpp"
#include "common/column.hpp"
#include "frame/held.hpp"
#include "frame/python.hpp"
#include "frame/raise.hpp"

namespace quorvant::frame {

// An int (or an object with __index__) in -128..127. Another type is the
// argument's TypeError; a value out of range its OverflowError.
std::optional<std::int8_t> to_i8(PyObject* obj, const char* arg);

// A sequence other than str whose items convert as to_i8, in order. Lists
// and tuples of small ints and 1-D NumPy integer arrays are read without a
// call per item, with the same results and errors as item by item.
std::optional<std::vector<std::int8_t>> to_i8_sequence(PyObject* obj, const char* arg);

// A sequence argument of small ints as the core reads it, in the two
// phases of frame/held.hpp: a contiguous 1-D integer ndarray whose values
// all lie in -128..127 is held and read in place, wider types narrowed a
// chunk at a time as they are read; anything else is converted in its turn
// by to_i8_sequence into a copy.
//
// The range of a held wider array is checked in the argument's turn, or,
// with `defer`, while the core reads it (one pass instead of two): the
// caller then checks ranges() after the core has read every row, and
// check_range() of the earlier arguments when a later one fails to
// convert, so the error that comes out is the first bad argument's, as if
// each had been checked in its turn (to_i8_columns does the latter).
class I8Column {
public:
    static std::optional<I8Column> from(PyObject* obj, const char* arg, bool defer = false);
    bool settle();
    std::size_t size() const;
    // The values, valid while this object lives (only once settled). A
    // deferred range check notes a value out of range in `noted`.
    common::ValueSource source(bool* noted = nullptr) const;

    // A deferred range, checked now (false with the OverflowError set).
    bool check_range();
    // After the core read every row of source(&noted): the OverflowError
    // when `noted` saw a value out of range.
    bool range_read(bool noted) const;

private:
    std::optional<HeldArray> held_;
    common::Column column_;  // of the held array
    std::vector<std::int8_t> copy_;
    const char* arg_ = nullptr;
    bool pending_ = false;  // the range is yet to be checked
};

// Several such arguments converted in argument order; nullopt with the
// first bad argument's error set.
template <std::size_t N>
std::optional<std::array<I8Column, N>> to_i8_columns(const std::array<PyObject*, N>& objs,
                                                     const char* const (&names)[N], bool defer = false) {
    std::array<std::optional<I8Column>, N> columns;
    for (std::size_t i = 0; i < N; ++i) {
        columns[i] = I8Column::from(objs[i], names[i], defer);
        if (!columns[i]) {
            // An earlier argument's deferred range error comes first.
            SavedError later;
            for (std::size_t j = 0; j < i; ++j) {
                if (!columns[j]->check_range()) {
                    later.drop();
                    return std::nullopt;
                }
            }
            return std::nullopt;
        }
    }
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<I8Column, N>{std::move(*columns[I])...};
    }(std::make_index_sequence<N>{});
}

}  // namespace quorvant::frame
