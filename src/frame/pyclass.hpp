// Heap types that own one C++ core object each, and the one way the module
// builds its classes, functions and method tables.
//
// The core is constructed in place inside the Python object by the
// constructor (tp_new) and destroyed in tp_dealloc; an object whose
// constructor failed holds no core. Methods reach the core through a borrow
// (shared for reading methods, exclusive for mutating ones).
//
// A class is described by a face type and built by class_spec:
//
//   struct MonitorFace {
//       using Core = StreamingThing;
//       static constexpr const char* name = "PyThing";  // without the module
//       static constexpr const char* doc = "PyThing(a, b)\n--\n\n";
//       static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs);
//       static auto methods() {  // in their order, without the sentinel
//           return std::array{
//               frame::exclusive<Core, push>("push", "push($self, x)\n--\n\n"),
//               frame::shared<Core, snapshot>("snapshot", "snapshot($self)\n--\n\n"),
//           };
//       }
//       static auto getset() { return std::array{frame::getter<Core, size>("size", "Doc.")}; }  // optional
//   };
//   PyType_Spec registry::PyThing = frame::class_spec<MonitorFace>();
//
// with the entry points
//
//   PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
//   PyObject* snapshot(const Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
//   PyObject* size(const Core& core);
//
// Every class gets the same flags (immutable, not subclassable), slots in
// one order, a nothrow-movable core, and the methods common to all classes
// (common_methods below) after its own.
#pragma once

#include <array>
#include <cstddef>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "frame/barrier.hpp"
#include "frame/borrow.hpp"
#include "frame/instance.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

namespace detail {
inline bool check_alive(bool alive) {
    if (!alive) PyErr_SetString(PyExc_RuntimeError, "object is not initialised");
    return alive;
}

template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* exclusive_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::exclusive(inst->borrow);
    if (!borrow) return nullptr;
    CurrentBorrow current(&inst->borrow);
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core(), args, nargs, kwnames); });
}

// The same for a method whose work is one sample: it never runs core work
// without the GIL, so it need not record its borrow for that (a few ns of
// a call that costs tens).
template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* exclusive_scalar_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::exclusive(inst->borrow);
    if (!borrow) return nullptr;
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core(), args, nargs, kwnames); });
}

template <class Core, PyObject* (*F)(const Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* shared_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::shared(inst->borrow);
    if (!borrow) return nullptr;
    CurrentBorrow current(&inst->borrow);
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core(), args, nargs, kwnames); });
}

template <class Core, PyObject* (*F)(const Core&)>
PyObject* shared_getter(PyObject* self, void*) noexcept {
    Instance<Core>* inst = instance<Core>(self);
    if (!check_alive(inst->alive)) return nullptr;
    auto borrow = Borrow::shared(inst->borrow);
    if (!borrow) return nullptr;
    return guarded_call<PyObject*>(nullptr, [&] { return F(inst->core()); });
}

template <PyObject* (*F)(PyTypeObject*, PyObject*, PyObject*)>
PyObject* guarded_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    CurrentBorrow none(nullptr);
    return guarded_call<PyObject*>(nullptr, [&] { return F(type, args, kwargs); });
}

// A METH_FASTCALL | METH_KEYWORDS entry point as PyMethodDef's function
// type (the one cast of the module).
inline PyCFunction as_method(PyObject* (*f)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}
}  // namespace detail

inline constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

// Two tables as one, in order (for entries only some classes have).
template <class T, std::size_t N, std::size_t M>
std::array<T, N + M> join(const std::array<T, N>& a, const std::array<T, M>& b) {
    std::array<T, N + M> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = a[i];
    for (std::size_t i = 0; i < M; ++i) out[N + i] = b[i];
    return out;
}

namespace detail {
// A table ended by its zeroed sentinel entry.
template <class T, std::size_t N>
std::array<T, N + 1> terminated(const std::array<T, N>& a) {
    return join(a, std::array<T, 1>{T{}});
}
}  // namespace detail

// Method table entries. An exclusive method takes the object's exclusive
// borrow (it may change the core), a shared one a shared borrow.
template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef exclusive(const char* name, const char* doc) {
    return {name, detail::as_method(detail::exclusive_method<Core, F>), kFastCall, doc};
}

// An exclusive method that takes one sample: it must never call run_core.
template <class Core, PyObject* (*F)(Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef exclusive_scalar(const char* name, const char* doc) {
    return {name, detail::as_method(detail::exclusive_scalar_method<Core, F>), kFastCall, doc};
}

template <class Core, PyObject* (*F)(const Core&, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef shared(const char* name, const char* doc) {
    return {name, detail::as_method(detail::shared_method<Core, F>), kFastCall, doc};
}

// A read-only property (shared borrow); `doc` may be null.
template <class Core, PyObject* (*F)(const Core&)>
PyGetSetDef getter(const char* name, const char* doc) {
    return {name, detail::shared_getter<Core, F>, nullptr, doc, nullptr};
}

// A module function.
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef function(const char* name, const char* doc) {
    return {name, detail::as_method(guarded<F>), kFastCall, doc};
}

// ---- methods common to every class -----------------------------------------
//
// common_methods<Face>() returns the entries appended to every class's own
// methods, in order; class_spec adds them, so a method common to all
// classes is written in one place: frame/state_methods.hpp (pickling,
// copying, and merge on the classes whose core can merge), included at the
// end of this file. Each face gives the hooks those methods need:
//
//   using Codec = MonitorCodec;  // the core's state payload (state/envelope.hpp)
//   static constexpr const char* merge_doc = "merge($self, other)\n--\n\n...";  // mergeable cores only
//
// Another common method follows the same pattern: a template over Face
// that uses only a hook of the face and Face::Core, its entry returned by
// common_methods, guarded by `if constexpr` on the hook when only some
// classes have it. Faces: the bias monitors' in
// data_handler/py_labeled_rows.hpp, the performance monitors' in
// model_perf/python_impl/py_streaming_api.cpp, the drift detectors' in
// drift/python_impl/py_batch_api.cpp and py_streaming_api.cpp.
template <class Face>
auto common_methods();

namespace detail {
template <class Face>
concept HasGetset = requires { Face::getset(); };
}  // namespace detail

// The type spec of a class described by `Face` (see the top of this file).
// The tables it points to live as long as the process.
template <class Face>
PyType_Spec class_spec() {
    using Core = typename Face::Core;
    static_assert(kHoldable<Core>, "a core held by a Python object must be nothrow-move-constructible");
    static const std::string qualified = std::string("quorvant._quorvant.") + Face::name;
    static auto methods = detail::terminated(join(Face::methods(), common_methods<Face>()));
    static std::array<PyType_Slot, 6> slots = [] {
        std::array<PyType_Slot, 6> s{};
        std::size_t i = 0;
        s[i++] = {Py_tp_new, reinterpret_cast<void*>(detail::guarded_new<Face::construct>)};
        s[i++] = {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Core>)};
        s[i++] = {Py_tp_methods, methods.data()};
        if constexpr (detail::HasGetset<Face>) {
            static auto getset = detail::terminated(Face::getset());
            s[i++] = {Py_tp_getset, getset.data()};
        }
        s[i++] = {Py_tp_doc, const_cast<char*>(Face::doc)};
        s[i] = {0, nullptr};
        return s;
    }();
    return {qualified.c_str(), static_cast<int>(sizeof(Instance<Core>)), 0,
            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
}

// Creates the heap type from `spec` and adds it to the module under its
// own name. Returns false with an exception set on failure.
bool add_type(PyObject* module, PyType_Spec* spec);

}  // namespace quorvant::frame

// The common methods themselves.
#include "frame/state_methods.hpp"
