// The borrow guard of class instances. Reading methods take a shared borrow,
// mutating methods an exclusive one, for the whole call.
//
// A conflict with a holder that runs with the GIL (Python code: a value
// whose conversion calls back into the same object, or another thread
// while the holder's conversion runs Python code) raises RuntimeError at
// once, as a borrow always did. A conflict with holders that all run core
// work with the GIL released (frame/gil.hpp) waits instead: the caller
// releases the GIL, sleeps until one of them takes the GIL back, and tries
// again. So calls from several threads on one object run one after the
// other, exactly as when no call released the GIL, while calls on different
// objects run in parallel.
//
// The borrow state is read and changed only with the GIL held; waiters
// sleep on `generation`, which a holder bumps (and wakes them with) each
// time it takes the GIL back.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

#include "frame/python.hpp"

namespace quorvant::frame {

struct BorrowFlag {
    std::int64_t state = 0;     // > 0: shared borrows in progress; -1: exclusive
    std::int64_t released = 0;  // holders now running core work without the GIL
    std::atomic<std::uint32_t> generation{0};
};

namespace detail {

// The borrow of the method running on this thread, if any (the innermost:
// a method's conversion may call another object's method). Functions and
// constructors run with none, so their GIL release marks no borrow.
inline thread_local BorrowFlag* current_borrow = nullptr;

// Whether every conflicting holder runs without the GIL; if so, waits
// (without the GIL) until one of them takes it back and returns true.
inline bool wait_for_holders(BorrowFlag& flag) {
    const std::int64_t holders = flag.state < 0 ? 1 : flag.state;
    if (flag.released < holders) return false;
    const std::uint32_t seen = flag.generation.load(std::memory_order_acquire);
    Py_BEGIN_ALLOW_THREADS
    flag.generation.wait(seen, std::memory_order_acquire);
    Py_END_ALLOW_THREADS
    return true;
}

}  // namespace detail

class Borrow {
public:
    // The free flag is taken inline; a conflict goes to the slow path.
    static std::optional<Borrow> shared(BorrowFlag& flag) {
        if (flag.state >= 0) [[likely]] {
            ++flag.state;
            return Borrow(&flag);
        }
        return shared_after_conflict(flag);
    }
    static std::optional<Borrow> exclusive(BorrowFlag& flag) {
        if (flag.state == 0) [[likely]] {
            flag.state = -1;
            return Borrow(&flag);
        }
        return exclusive_after_conflict(flag);
    }
    Borrow(Borrow&& o) noexcept : flag_(std::exchange(o.flag_, nullptr)) {}
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (flag_ == nullptr) return;
        if (flag_->state < 0) {
            flag_->state = 0;
        } else {
            --flag_->state;
        }
    }

private:
    explicit Borrow(BorrowFlag* f) : flag_(f) {}

    [[gnu::noinline]] static std::optional<Borrow> shared_after_conflict(BorrowFlag& flag) {
        while (flag.state < 0) {
            if (!detail::wait_for_holders(flag)) {
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
                return std::nullopt;
            }
        }
        ++flag.state;
        return Borrow(&flag);
    }
    [[gnu::noinline]] static std::optional<Borrow> exclusive_after_conflict(BorrowFlag& flag) {
        while (flag.state != 0) {
            if (!detail::wait_for_holders(flag)) {
                PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
                return std::nullopt;
            }
        }
        flag.state = -1;
        return Borrow(&flag);
    }

    BorrowFlag* flag_;
};

// Names the borrow of the call running on this thread for its duration
// (nullptr for functions and constructors).
class CurrentBorrow {
public:
    explicit CurrentBorrow(BorrowFlag* flag) noexcept : saved_(std::exchange(detail::current_borrow, flag)) {}
    CurrentBorrow(const CurrentBorrow&) = delete;
    CurrentBorrow& operator=(const CurrentBorrow&) = delete;
    ~CurrentBorrow() { detail::current_borrow = saved_; }

private:
    BorrowFlag* saved_;
};

}  // namespace quorvant::frame
