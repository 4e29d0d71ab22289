// How a face reads its arguments: two phases, and views that say what keeps
// their memory alive.
//
// 1. Convert, in signature order (so errors come out in that order), every
//    argument, running whatever Python code its conversion runs (__float__,
//    __index__, a sequence's iteration). An argument the core will read in
//    place is validated now and held (HeldArray: an owned reference to an
//    exact ndarray and the layout that was validated); no pointer into it
//    is kept. Everything else becomes an owned copy now, as do arguments
//    whose copy is cheaper than a second read (the analyzers' labels, one
//    bit per row, are made in the argument's turn).
// 2. Once every argument is converted, settle the held arrays and hand the
//    core views: held buffers and owned copies only, bytes, lengths and
//    numbers. Nothing between the views and the end of the core runs Python
//    code, so the views stay valid, also with the GIL released.
//
// A held array whose layout changed between the phases (only the caller's
// own conversion code can do that: a resize, a new shape or dtype) is
// converted again from scratch when it is settled; an exact ndarray of a
// NumPy dtype converts without running Python code. Values the caller's
// code rewrote in place are read as they are then (their checks ran in the
// argument's turn; an in-place rewrite cannot make a read unsafe).
//
// A value check that would cost a pass of its own over a held buffer may
// run while the core reads it instead (the small ints of the bias
// monitors' batches): when a later argument then fails to convert, the
// pending checks of the arguments before it run first, so the error that
// comes out is still the first bad argument's.
//
// Holding the array keeps it alive; with NumPy's default resize check it
// also keeps its buffer in place (a resize sees the extra reference). Only
// resize(..., refcheck=False) from another thread while the core runs
// without the GIL could free the buffer, which NumPy documents as unsafe.
#pragma once

#include <cstddef>
#include <optional>

#include "common/column.hpp"
#include "frame/numpy.hpp"
#include "frame/refs.hpp"

namespace quorvant::frame {

// Whether `obj` is an ndarray itself, not a subclass: only those are read
// through their buffer; a subclass goes through the protocols, which may
// run its own code and define what it yields. NumPy must be ready.
inline bool is_exact_array(PyObject* obj) { return PyArray_CheckExact(obj); }

class HeldArray {
public:
    static HeldArray hold(PyArrayObject* array) {
        HeldArray h;
        h.array_ = Owned::new_ref(reinterpret_cast<PyObject*>(array));
        h.layout_ = Layout::of(array);
        return h;
    }

    PyArrayObject* array() const { return reinterpret_cast<PyArrayObject*>(array_.get()); }
    PyObject* object() const { return array_.get(); }

    // The array still has the layout validated when it was held.
    bool unchanged() const { return Layout::of(array()) == layout_; }

    // The buffer as validated (read only when unchanged()).
    const char* data() const { return layout_.data; }
    npy_intp size() const { return layout_.size; }
    npy_intp stride() const { return layout_.stride; }

private:
    struct Layout {
        const char* data = nullptr;
        npy_intp size = 0;    // first dimension
        npy_intp stride = 0;  // of the first dimension
        int ndim = 0;
        int type_num = 0;
        npy_intp itemsize = 0;
        char byteorder = 0;

        static Layout of(PyArrayObject* a) {
            const int nd = PyArray_NDIM(a);
            PyArray_Descr* d = PyArray_DESCR(a);
            return {PyArray_BYTES(a), nd > 0 ? PyArray_DIM(a, 0) : 0, nd > 0 ? PyArray_STRIDE(a, 0) : 0, nd,
                    d->type_num, PyArray_ITEMSIZE(a), d->byteorder};
        }
        friend bool operator==(const Layout&, const Layout&) = default;
    };

    Owned array_;
    Layout layout_;
};

// The buffer of a 1-D array of a native numeric or bool dtype as a column;
// nullopt for any other array. Of a held array: only once it is settled.
std::optional<common::Column> numeric_column(PyArrayObject* array);

// Settles every reader in argument order (phase 2): each re-converts its
// held array if the array changed. False with the first error set.
template <class... Readers>
bool settle(Readers&... readers) {
    return (readers.settle() && ...);
}

// The same for a range of readers of one kind.
template <class Range>
bool settle_all(Range& readers) {
    for (auto& r : readers) {
        if (!r.settle()) return false;
    }
    return true;
}

}  // namespace quorvant::frame
