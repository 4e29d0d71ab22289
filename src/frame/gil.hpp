// Core work without the GIL, so threads computing on different objects use
// different cores.
//
// A face releases the GIL only around a call of the core that reads owned
// memory or held buffers of numbers or '<U' text (frame/held.hpp), never
// str objects, and only for inputs large enough that the release pays
// (kReleaseGilAt values). While released, no Python object is touched, no
// exception is set and nothing is allocated through the interpreter's
// allocator (the core allocates with new). A C++ exception thrown by the
// core (std::bad_alloc) passes through once the GIL is taken back and
// becomes the Python exception at the barrier as usual.
//
// A method marks its object's borrow as running without the GIL for that
// time, so another thread's conflicting call waits for it instead of
// failing (see frame/borrow.hpp).
#pragma once

#include <cstddef>
#include <atomic>

#include "frame/borrow.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

// Below this many values a release costs more than it gives.
inline constexpr std::size_t kReleaseGilAt = std::size_t{1} << 16;

class GilReleased {
public:
    GilReleased() : flag_(detail::current_borrow) {
        if (flag_ != nullptr) ++flag_->released;
        state_ = PyEval_SaveThread();
    }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;
    ~GilReleased() {
        PyEval_RestoreThread(state_);
        if (flag_ != nullptr) {
            --flag_->released;
            flag_->generation.fetch_add(1, std::memory_order_release);
            flag_->generation.notify_all();
        }
    }

private:
    BorrowFlag* flag_;
    PyThreadState* state_ = nullptr;
};

// f() with the GIL released when the input has at least kReleaseGilAt
// values, with the GIL held otherwise. f must not touch the interpreter,
// and every view it reads must be owned memory or a held numeric or '<U'
// buffer (never str objects: faces that read those call their core with
// the GIL held).
template <class F>
decltype(auto) run_core(std::size_t values, F&& f) {
    if (values < kReleaseGilAt) return f();
    GilReleased released;
    return f();
}

}  // namespace quorvant::frame
