// The items of a sequence argument on the generic path, converted one by
// one in order.
//
// Usually the items are taken all at once, into a tuple of their own:
// converting one may run code that changes the caller's sequence, and a
// failure to make an item comes before any conversion error, as with the
// sequence protocol. An exact ndarray of a dtype without object references
// is different: NumPy makes its items, and no Python code runs making or
// converting them, so they are made one at a time and the first conversion
// failure ends the reading at once. A cheap wrong-typed array (say
// np.broadcast_to(np.float64(1), (10**8,)) passed as labels) is refused at
// its first item instead of after making an object of every element. A '<U'
// element NumPy cannot make (a code point past U+10FFFF) still wins over an
// earlier conversion failure, as it would with all items made first.
#pragma once

#include <optional>
#include <utility>

#include "frame/python.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

class Items {
public:
    // nullopt with the argument's error set: a TypeError of the protocol
    // becomes "argument 'x': must be <expected>, not T", an element NumPy
    // cannot make the argument's ValueError; any other error is unchanged.
    static std::optional<Items> of(PyObject* obj, const char* arg, const char* expected);

    Py_ssize_t size() const { return size_; }

    // f(i, item) for i in [from, size()) in order (item borrowed for the
    // call) while f returns true. False when f failed (its error set) or an
    // item could not be made (the argument's error set).
    template <class F>
    bool each(Py_ssize_t from, F&& f) const {
        for (Py_ssize_t i = from; i < size_; ++i) {
            if (streamed_) {
                const Owned item = Owned::steal(PySequence_GetItem(source_.get(), i));
                if (!item) return item_failed();
                if (!f(i, item.get())) return conversion_failed();
            } else if (!f(i, PyTuple_GET_ITEM(source_.get(), i))) {
                return false;
            }
        }
        return true;
    }

    // The items as a tuple of their own, each passed to check(item) as it
    // is taken (false with an error set stops: a null result).
    template <class Check>
    Owned tuple(Check&& check) const {
        if (!streamed_) {
            if (!each(0, [&](Py_ssize_t, PyObject* item) { return check(item); })) return Owned();
            return Owned::new_ref(source_.get());
        }
        // The first item is checked before room is made for all of them: a
        // wrong-typed array costs nothing.
        Owned out;
        const bool taken = each(0, [&](Py_ssize_t i, PyObject* item) {
            if (!check(item)) return false;
            if (i == 0) {
                out = Owned::steal(PyTuple_New(size_));
                if (!out) return false;
            }
            PyTuple_SET_ITEM(out.get(), i, Py_NewRef(item));
            return true;
        });
        if (!taken) return Owned();
        return size_ == 0 ? Owned::steal(PyTuple_New(0)) : std::move(out);
    }

private:
    bool item_failed() const;
    bool conversion_failed() const;

    Owned source_;  // the tuple, or the array whose items are made one by one
    Py_ssize_t size_ = 0;
    bool streamed_ = false;
    const char* arg_ = nullptr;
};

}  // namespace quorvant::frame
