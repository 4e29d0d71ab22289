// Owned and borrowed object references as distinct types. An Owned holds one
// strong reference and releases it when it goes out of scope, so error paths
// need no hand-written Py_DECREF ladders.
#pragma once

#include <utility>

#include "frame/python.hpp"

namespace quorvant::frame {

class Borrowed {
public:
    constexpr Borrowed() = default;
    constexpr explicit Borrowed(PyObject* p) : p_(p) {}
    PyObject* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

class Owned {
public:
    Owned() = default;
    // Takes over a reference the caller owns (typically a fresh result).
    static Owned steal(PyObject* p) { return Owned(p); }
    // Adds a reference of its own.
    static Owned new_ref(PyObject* p) {
        Py_XINCREF(p);
        return Owned(p);
    }
    static Owned new_ref(Borrowed b) { return new_ref(b.get()); }

    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Owned() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    Borrowed borrow() const { return Borrowed(p_); }
    // Hands the reference to the caller (for returning results).
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    explicit Owned(PyObject* p) : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace quorvant::frame
