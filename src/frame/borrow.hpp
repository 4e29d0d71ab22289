// The borrow guard of class instances. Reading methods take a shared borrow,
// mutating methods an exclusive one; a conflict (for example a value whose
// conversion calls back into the same object) raises RuntimeError at once.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "frame/python.hpp"

namespace quorvant::frame {

struct BorrowFlag {
    std::int64_t state = 0;  // > 0: shared borrows in progress; -1: exclusive
};

class Borrow {
public:
    static std::optional<Borrow> shared(BorrowFlag& flag) {
        if (flag.state < 0) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            return std::nullopt;
        }
        ++flag.state;
        return Borrow(&flag);
    }
    static std::optional<Borrow> exclusive(BorrowFlag& flag) {
        if (flag.state != 0) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            return std::nullopt;
        }
        flag.state = -1;
        return Borrow(&flag);
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
    BorrowFlag* flag_;
};

}  // namespace quorvant::frame
