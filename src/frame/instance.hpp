// The Python object that owns one C++ core: its layout, its allocation
// with a core moved in, and its deallocation.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "frame/borrow.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

template <class Core>
struct Instance {
    PyObject ob_base;
    BorrowFlag borrow;
    bool alive;  // the core was constructed
    alignas(Core) unsigned char storage[sizeof(Core)];

    Core& core() { return *std::launder(reinterpret_cast<Core*>(storage)); }
};

// A core is moved into its Python object after every check has passed, so
// the move must not fail.
template <class Core>
inline constexpr bool kHoldable = std::is_nothrow_move_constructible_v<Core> && std::is_nothrow_destructible_v<Core>;

template <class Core>
Instance<Core>* instance(PyObject* self) {
    return reinterpret_cast<Instance<Core>*>(self);
}

// Allocates an instance of `type` holding `core` (moved in). Returns a new
// reference, or nullptr with an exception set.
template <class Core>
PyObject* allocate(PyTypeObject* type, Core&& core) {
    static_assert(kHoldable<Core>, "a core held by a Python object must be nothrow-move-constructible");
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    Instance<Core>* inst = instance<Core>(self);
    new (&inst->borrow) BorrowFlag();
    new (inst->storage) Core(std::move(core));
    inst->alive = true;
    return self;
}

template <class Core>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Instance<Core>* inst = instance<Core>(self);
    if (inst->alive) {
        inst->core().~Core();
        inst->alive = false;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace quorvant::frame
