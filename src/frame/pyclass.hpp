// Heap types that own one C++ core object each.
//
// The core is constructed in place inside the Python object by the
// constructor (tp_new) and destroyed in tp_dealloc; an object whose
// constructor failed holds no core. Methods reach the core through a borrow:
//
//   PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
//   PyObject* snapshot(const Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
//
//   {"push", frame::exclusive_method<Core, push>, METH_FASTCALL | METH_KEYWORDS, "push($self, x)\n--\n\n"},
//   {"snapshot", frame::shared_method<Core, snapshot>, METH_FASTCALL | METH_KEYWORDS, ...},
//
// and properties through frame::shared_getter<Core, get>.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "frame/barrier.hpp"
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

template <class Core>
Instance<Core>* instance(PyObject* self) {
    return reinterpret_cast<Instance<Core>*>(self);
}

// Allocates an instance of `type` holding `core` (moved in). Returns a new
// reference, or nullptr with an exception set.
template <class Core>
PyObject* allocate(PyTypeObject* type, Core&& core) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    Instance<Core>* inst = instance<Core>(self);
    inst->borrow = BorrowFlag{};
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

namespace detail {
inline bool check_alive(bool alive) {
    if (!alive) PyErr_SetString(PyExc_RuntimeError, "object is not initialised");
    return alive;
}
}  // namespace detail

template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* exclusive_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!detail::check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::exclusive(inst->borrow);
    if (!borrow) return nullptr;
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core(), args, nargs, kwnames); });
}

template <class Core, PyObject* (*F)(const Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* shared_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!detail::check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::shared(inst->borrow);
    if (!borrow) return nullptr;
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core(), args, nargs, kwnames); });
}

// The two above as a PyMethodDef entry's function (flags kFastCall):
//
//   {"push", frame::exclusive<Core, push>(), frame::kFastCall, "push($self, x)\n--\n\n"},
inline constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction exclusive() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(exclusive_method<Core, F>));
}

template <class Core, PyObject* (*F)(const Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction shared() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(shared_method<Core, F>));
}

template <class Core, PyObject* (*F)(const Core&)>
PyObject* shared_getter(PyObject* self, void*) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!detail::check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::shared(inst->borrow);
    if (!borrow) return nullptr;
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core()); });
}

// Constructors: F parses (args, kwargs) and returns a new instance of `type`
// (normally through allocate), or nullptr with an exception set.
template <PyObject* (*F)(PyTypeObject*, PyObject*, PyObject*)>
PyObject* guarded_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_call<PyObject*>(nullptr, [&] { return F(type, args, kwargs); });
}

// Creates the heap type from `spec` and adds it to the module under its
// own name. Returns false with an exception set on failure.
bool add_type(PyObject* module, PyType_Spec* spec);

}  // namespace quorvant::frame
