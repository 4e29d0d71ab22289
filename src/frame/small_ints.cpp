#include "frame/small_ints.hpp"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "common/kernel.hpp"
#include "frame/convert.hpp"
#include "frame/ints.hpp"
#include "frame/items.hpp"
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

}  // namespace

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
    // The rest one by one (see frame/items.hpp).
    const auto items = Items::of(obj, arg, "a sequence of int");
    if (!items) return std::nullopt;
    out.resize(static_cast<std::size_t>(items->size()));
    const bool read = items->each(done, [&](Py_ssize_t i, PyObject* item) {
        return item_to_i8(item, arg, kItemExpected, out[static_cast<std::size_t>(i)]);
    });
    if (!read) return std::nullopt;
    return out;
}

namespace {

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

// The column of an exact, contiguous, aligned 1-D integer ndarray whose
// values all lie in -128..127 (unless `unchecked`: their range is left to
// check); nullopt (nothing set) for anything else.
std::optional<common::Column> small_int_buffer(PyObject* obj, bool unchecked) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return std::nullopt;  // no NumPy import for these
    if (!numpy_ready()) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (!is_exact_array(obj)) return std::nullopt;
    std::optional<common::Column> out;
    const auto column = numeric_column(reinterpret_cast<PyArrayObject*>(obj));
    if (!column) return std::nullopt;
    common::visit(*column, [&]<class T>(common::Typed<T> t) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            const T* p = reinterpret_cast<const T*>(t.data);
            if (!t.contiguous() || reinterpret_cast<std::uintptr_t>(p) % alignof(T) != 0) return;
            if (std::is_same_v<T, std::int8_t> || unchecked || in_i8_range(p, t.size)) out = column;
        }
    });
    return out;
}

}  // namespace

std::optional<I8Column> I8Column::from(PyObject* obj, const char* arg, bool defer) {
    I8Column c;
    c.arg_ = arg;
    if (const auto column = small_int_buffer(obj, defer)) {
        c.held_ = HeldArray::hold(reinterpret_cast<PyArrayObject*>(obj));
        c.column_ = *column;
        c.pending_ = defer && column->type != common::ElementType::I8;
        return c;
    }
    auto values = to_i8_sequence(obj, arg);
    if (!values) return std::nullopt;
    c.copy_ = std::move(*values);
    return c;
}

bool I8Column::settle() {
    if (!held_ || held_->unchanged()) return true;
    auto again = from(held_->object(), arg_, pending_);
    if (!again) return false;
    *this = std::move(*again);
    return true;
}

bool I8Column::check_range() {
    if (!pending_) return true;
    if (!settle()) return false;
    if (!pending_) return true;
    const bool in_range = common::visit(column_, [&]<class T>(common::Typed<T> t) {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            return in_i8_range(reinterpret_cast<const T*>(t.data), t.size);
        } else {
            return true;
        }
    });
    if (!in_range) {
        range_error(arg_);
        return false;
    }
    pending_ = false;
    return true;
}

bool I8Column::range_read(bool noted) const {
    if (pending_ && noted) {
        range_error(arg_);
        return false;
    }
    return true;
}

std::size_t I8Column::size() const { return held_ ? column_.size : copy_.size(); }

common::ValueSource I8Column::source(bool* noted) const {
    if (!held_) return common::ValueSource::borrowed(copy_);
    return common::visit(column_, [&]<class T>(common::Typed<T> t) -> common::ValueSource {
        if constexpr (std::is_same_v<T, std::int8_t>) {
            return common::ValueSource::borrowed({reinterpret_cast<const std::int8_t*>(t.data), t.size});
        } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            // Narrowed a chunk at a time as the counts read it; a deferred
            // range is noted meanwhile.
            const T* p = reinterpret_cast<const T*>(t.data);
            bool* note = pending_ ? noted : nullptr;
            return common::ValueSource::view(t.size, [p, note](std::size_t begin, std::size_t count, std::int8_t* out) {
                if (!narrow_to_i8(p + begin, count, out) && note != nullptr) *note = true;
            });
        } else {
            return common::ValueSource::borrowed(copy_);  // never held
        }
    });
}

}  // namespace quorvant::frame
