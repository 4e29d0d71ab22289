#include "frame/small_ints.hpp"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "common/kernel.hpp"
#include "frame/convert.hpp"
#include "frame/ints.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

namespace {

void range_error(const char* arg) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': value out of range for a signed 8-bit integer (-128..127)",
                 arg);
}

bool in_range(long long v) { return v >= -128 && v <= 127; }

// One item by the integer protocol; false with the argument's error set.
bool item_to_i8(PyObject* item, const char* arg, const char* expected, std::int8_t& out) {
    long long v = 0;
    if (!exact_int_value(item, v)) {
        if (!PyLong_Check(item) && !PyIndex_Check(item)) {
            PyErr_Format(PyExc_TypeError, "argument '%s': %s, not %s", arg, expected,
                         item == Py_None ? "None" : Py_TYPE(item)->tp_name);
            return false;
        }
        int overflow = 0;
        v = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        if (overflow != 0) {
            range_error(arg);
            return false;
        }
    }
    if (!in_range(v)) {
        range_error(arg);
        return false;
    }
    out = static_cast<std::int8_t>(v);
    return true;
}

constexpr const char* kItemExpected = "items must be int";

// One item read as an exact int of a machine word into int8; false for any
// other item. `outside` notes a value out of -128..127 (stored truncated).
[[gnu::always_inline]] inline bool exact_i8(PyObject* item, std::int8_t& out, std::uint32_t& outside) {
    long long v = 0;
    if (!exact_int_value(item, v)) return false;
    outside |= static_cast<std::uint32_t>(!in_range(v));
    out = static_cast<std::int8_t>(v);
    return true;
}

// Items [0, n) read by exact_i8 for as long as they are exact ints: returns
// how many were read, and whether all of those lie in -128..127.
//
// Labeled rows repeat a few values, so the int objects already read in this
// call are remembered by identity (an int never changes its value, and the
// list holds every item alive; no Python code runs meanwhile): a repeated
// object costs one comparison. When a stretch of items shows the values do
// not repeat, the rest is read directly.
std::size_t read_exact_i8(PyObject* const* items, std::size_t n, std::int8_t* out, bool& all_in_range) {
    constexpr std::size_t kSlots = 256;
    constexpr std::size_t kStretch = 1024;
    PyObject* seen[kSlots] = {};
    std::int8_t value[kSlots];
    std::uint32_t outside = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t end = std::min(n, i + kStretch);
        std::size_t misses = 0;
        for (; i < end; ++i) {
            PyObject* item = items[i];
            const std::size_t slot = (reinterpret_cast<std::uintptr_t>(item) >> 5) % kSlots;
            if (seen[slot] == item) [[likely]] {
                out[i] = value[slot];
                continue;
            }
            ++misses;
            std::uint32_t bad = 0;
            if (!exact_i8(item, out[i], bad)) {
                all_in_range = outside == 0;
                return i;
            }
            outside |= bad;
            if (bad == 0) {
                seen[slot] = item;
                value[slot] = out[i];
            }
        }
        if (misses > kStretch / 8) break;
    }
    for (; i < n && exact_i8(items[i], out[i], outside); ++i) {
    }
    all_in_range = outside == 0;
    return i;
}

// Items [from, n) of a tuple, one by one.
bool convert_items(PyObject* tuple, Py_ssize_t from, const char* arg, std::vector<std::int8_t>& out) {
    const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    for (Py_ssize_t i = from; i < n; ++i) {
        if (!item_to_i8(PyTuple_GET_ITEM(tuple, i), arg, kItemExpected, out[static_cast<std::size_t>(i)])) {
            return false;
        }
    }
    return true;
}

template <class T>
[[gnu::always_inline]] inline bool outside_i8(T x) {
    if constexpr (std::is_signed_v<T>) {
        return x < -128 || x > 127;
    } else {
        return x > 127;
    }
}

// Narrows a contiguous buffer; false when an element is out of range.
// Masks of the element's width and fixed blocks keep it vectorisable.
template <class T>
QUORVANT_KERNEL bool narrow_to_i8(const T* __restrict xs, std::size_t n, std::int8_t* __restrict out) {
    using U = std::make_unsigned_t<T>;
    constexpr std::size_t kBlock = 64;
    U outside = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) {
            const T x = xs[i + j];
            outside |= outside_i8(x) ? static_cast<U>(~U{0}) : U{0};
            out[i + j] = static_cast<std::int8_t>(x);
        }
    }
    for (; i < n; ++i) {
        outside |= outside_i8(xs[i]) ? static_cast<U>(~U{0}) : U{0};
        out[i] = static_cast<std::int8_t>(xs[i]);
    }
    return outside == 0;
}

// A 1-D native NumPy integer array straight from its buffer. nullopt
// (nothing set) when the array is not one; an out-of-range element is the
// same OverflowError the items would give.
std::optional<std::optional<std::vector<std::int8_t>>> from_integer_array(PyObject* obj, const char* arg) {
    if (!numpy_ready()) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (!PyArray_CheckExact(obj)) return std::nullopt;
    std::optional<std::optional<std::vector<std::int8_t>>> result;
    visit_numeric(reinterpret_cast<PyArrayObject*>(obj), [&]<class T>(Strided<T> s) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            const auto n = static_cast<std::size_t>(s.size);
            std::vector<std::int8_t> out(n);
            bool ok = true;
            const T* p = reinterpret_cast<const T*>(s.data);
            if (s.contiguous() && reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0) {
                ok = narrow_to_i8(p, n, out.data());
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    const T x = s[static_cast<npy_intp>(i)];
                    ok &= !outside_i8(x);
                    out[i] = static_cast<std::int8_t>(x);
                }
            }
            if (ok) {
                result.emplace(std::move(out));
            } else {
                range_error(arg);
                result.emplace(std::nullopt);
            }
        }
    });
    return result;
}

template <class T>
QUORVANT_KERNEL bool in_i8_range(const T* __restrict xs, std::size_t n) {
    using U = std::make_unsigned_t<T>;
    constexpr std::size_t kBlock = 64;
    U outside = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) outside |= outside_i8(xs[i + j]) ? static_cast<U>(~U{0}) : U{0};
    }
    for (; i < n; ++i) outside |= outside_i8(xs[i]) ? static_cast<U>(~U{0}) : U{0};
    return outside == 0;
}

QUORVANT_KERNEL bool all_below_128(const std::uint8_t* xs, std::size_t n) {
    constexpr std::size_t kBlock = 64;
    std::uint8_t high = 0;
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t j = 0; j < kBlock; ++j) high |= xs[i + j];
    }
    for (; i < n; ++i) high |= xs[i];
    return (high & 0x80) == 0;
}

}  // namespace

bool range_checked(const RangeCheck& check, const char* arg) {
    if (check.outside) range_error(arg);
    return !check.outside;
}

std::optional<common::ValueSource> i8_buffer(PyObject* obj, RangeCheck* deferred) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return std::nullopt;  // no NumPy import for these
    if (!numpy_ready()) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (!PyArray_CheckExact(obj)) return std::nullopt;
    std::optional<common::ValueSource> out;
    visit_numeric(reinterpret_cast<PyArrayObject*>(obj), [&]<class T>(Strided<T> s) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            const T* p = reinterpret_cast<const T*>(s.data);
            if (!s.contiguous() || reinterpret_cast<std::uintptr_t>(p) % alignof(T) != 0) return;
            const auto n = static_cast<std::size_t>(s.size);
            if constexpr (std::is_same_v<T, std::int8_t>) {
                out = common::ValueSource::borrowed({p, n});
            } else if constexpr (std::is_same_v<T, std::uint8_t>) {
                if (all_below_128(p, n)) out = common::ValueSource::borrowed({reinterpret_cast<const std::int8_t*>(p), n});
            } else {
                // Narrowed a chunk at a time while counting; the range is
                // checked whole first, or noted while reading.
                if (deferred == nullptr && !in_i8_range(p, n)) return;
                out = common::ValueSource::view(
                    n, [p, deferred](std::size_t begin, std::size_t count, std::int8_t* values) {
                        if (!narrow_to_i8(p + begin, count, values) && deferred != nullptr) deferred->outside = true;
                    });
            }
        }
    });
    return out;
}

std::optional<std::int8_t> to_i8(PyObject* obj, const char* arg) {
    std::int8_t v = 0;
    long long compact = 0;
    if (exact_int_value(obj, compact)) {
        if (!in_range(compact)) {
            range_error(arg);
            return std::nullopt;
        }
        return static_cast<std::int8_t>(compact);
    }
    if (!PyLong_Check(obj) && !PyIndex_Check(obj)) {
        argument_type_error(arg, "int", obj);
        return std::nullopt;
    }
    if (!item_to_i8(obj, arg, "must be int", v)) return std::nullopt;
    return v;
}

std::optional<std::vector<std::int8_t>> to_i8_sequence(PyObject* obj, const char* arg) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        argument_type_error(arg, "a sequence of int", obj);
        return std::nullopt;
    }
    if (!PyList_CheckExact(obj) && !PyTuple_CheckExact(obj)) {
        if (auto array = from_integer_array(obj, arg)) return std::move(*array);
    }

    Py_ssize_t done = 0;
    std::vector<std::int8_t> out;
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        // Exact ints in place: no Python code runs, so the items stay put.
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
        out.resize(static_cast<std::size_t>(n));
        bool range_ok = true;
        done = static_cast<Py_ssize_t>(
            read_exact_i8(PySequence_Fast_ITEMS(obj), static_cast<std::size_t>(n), out.data(), range_ok));
        if (!range_ok) {
            range_error(arg);
            return std::nullopt;
        }
        if (done == n) return out;
    }
    // The rest one by one, from a private copy: converting an item may run
    // code that changes the caller's sequence.
    const Owned tuple = item_tuple(obj, arg, "a sequence of int");
    if (!tuple) return std::nullopt;
    out.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(tuple.get())));
    if (!convert_items(tuple.get(), done, arg, out)) return std::nullopt;
    return out;
}

}  // namespace quorvant::frame
