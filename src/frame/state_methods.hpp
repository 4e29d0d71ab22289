// The methods every class has: pickling (__reduce__ with from_state and
// to_state), copying (__copy__, __deepcopy__), and on the streaming classes
// merge. They need one hook of the face,
//
//   using Codec = ThingCodec;   // state::encode / state::decode of Core
//
// and, for merge, a core with merge(const Core&) returning
// std::expected<void, state::Error> plus the face's docstring:
//
//   static constexpr const char* merge_doc = "merge($self, other)\n--\n\n...";
//
// Included at the end of frame/pyclass.hpp, whose class_spec appends
// common_methods<Face>() to every class's own methods.
#pragma once

#include <array>
#include <string>
#include <utility>

#include "frame/args.hpp"
#include "frame/barrier.hpp"
#include "frame/borrow.hpp"
#include "frame/convert.hpp"
#include "frame/instance.hpp"
#include "frame/pyclass.hpp"
#include "frame/python.hpp"
#include "frame/raise.hpp"
#include "frame/refs.hpp"
#include "state/envelope.hpp"

namespace quorvant::frame {

// A refused payload or merge: ValueError with its sentence.
inline PyObject* raise(const state::Error& e) { return raise_text(PyExc_ValueError, e.message); }

namespace state_docs {
inline constexpr const char* to_state =
    "to_state($self)\n--\n\n"
    "The object's whole state as bytes: a compact, versioned, checksummed\n"
    "payload (docs/state-format.md) from which from_state() builds an object\n"
    "that answers every call exactly as this one, in any process and in every\n"
    "later version. A flush-mode detector stores the time elapsed since its\n"
    "last flush (a monotonic instant means nothing in another process); loading\n"
    "sets its last flush that long before the loading process's now.";
inline constexpr const char* from_state =
    "from_state($type, data)\n--\n\n"
    "A new object from the bytes of to_state() (bytes, bytearray or\n"
    "memoryview). Everything is checked before anything is built: a\n"
    "truncated, corrupted, foreign or newer-version payload, a payload of\n"
    "another class, or numbers no such object can hold raise ValueError\n"
    "saying which.";
inline constexpr const char* reduce =
    "__reduce__($self)\n--\n\n"
    "Pickling: (type(self).from_state, (self.to_state(),)), at every protocol.\n"
    "A flush-mode detector carries the time since its last flush as elapsed\n"
    "time: on loading, last_flush = now - elapsed.";
inline constexpr const char* copy = "__copy__($self)\n--\n\nAn independent object with the same state.";
inline constexpr const char* deepcopy =
    "__deepcopy__($self, memo)\n--\n\nAn independent object with the same state (nothing is shared).";
}  // namespace state_docs

namespace detail {

template <class Core>
concept Mergeable = requires(Core& a, const Core& b) {
    { a.merge(b) };
};

// The bytes of a bytes-like object, held until the scope ends.
class HeldBuffer {
public:
    explicit HeldBuffer(PyObject* obj, const char* arg) {
        if (PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0) {
            held_ = true;
            return;
        }
        PyErr_Clear();
        argument_type_error(arg, "a bytes-like object", obj);
    }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    explicit operator bool() const { return held_; }
    std::string_view bytes() const {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

inline PyObject* to_bytes(const std::string& s) {
    return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace detail

template <class Face>
struct StateMethods {
    using Core = typename Face::Core;
    using Codec = typename Face::Codec;

    static PyObject* to_state(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
        if (!extract_none("to_state", nargs, kwnames)) return nullptr;
        return detail::to_bytes(state::encode<Codec>(core));
    }

    // A new object of `type` from a payload.
    static PyObject* load(PyTypeObject* type, std::string_view bytes) {
        auto core = state::decode<Codec>(bytes);
        if (!core) return raise(core.error());
        return allocate(type, std::move(*core));
    }

    static PyObject* from_state(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded_call<PyObject*>(nullptr, [&]() -> PyObject* {
            static constexpr Param kParams[] = {{"data"}};
            Args<1> a;
            if (!extract("from_state", kParams, args, nargs, kwnames, a)) return nullptr;
            const detail::HeldBuffer data(a[0], "data");
            if (!data) return nullptr;
            return load(reinterpret_cast<PyTypeObject*>(type), data.bytes());
        });
    }

    // The rest take `self`: its core under a shared borrow, and its type.
    template <class F>
    static PyObject* with_core(PyObject* self, F&& f) noexcept {
        Instance<Core>* inst = instance<Core>(self);
        if (!detail::check_alive(inst->alive)) return nullptr;
        auto borrow = Borrow::shared(inst->borrow);
        if (!borrow) return nullptr;
        return guarded_call<PyObject*>(nullptr, [&] { return f(static_cast<const Core&>(inst->core())); });
    }

    static PyObject* reduce(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        if (!extract_none("__reduce__", nargs, kwnames)) return nullptr;
        return with_core(self, [&](const Core& core) -> PyObject* {
            Owned loader = Owned::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_state"));
            if (!loader) return nullptr;
            Owned payload = Owned::steal(detail::to_bytes(state::encode<Codec>(core)));
            if (!payload) return nullptr;
            return Py_BuildValue("(O(O))", loader.get(), payload.get());
        });
    }

    static PyObject* copy_of(PyObject* self) {
        return with_core(self, [&](const Core& core) -> PyObject* {
            Core copy = core;
            return allocate(Py_TYPE(self), std::move(copy));
        });
    }

    static PyObject* copy(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        if (!extract_none("__copy__", nargs, kwnames)) return nullptr;
        return copy_of(self);
    }

    // Nothing in a core refers to a Python object, so the memo is not used.
    static PyObject* deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        static constexpr Param kParams[] = {{"memo"}};
        Args<1> a;
        if (!extract("__deepcopy__", kParams, args, nargs, kwnames, a)) return nullptr;
        return copy_of(self);
    }

    static PyObject* merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        static constexpr Param kParams[] = {{"other"}};
        Args<1> a;
        if (!extract("merge", kParams, args, nargs, kwnames, a)) return nullptr;
        PyObject* other = a[0];
        Instance<Core>* inst = instance<Core>(self);
        if (!detail::check_alive(inst->alive)) return nullptr;
        auto borrow = Borrow::exclusive(inst->borrow);
        if (!borrow) return nullptr;
        if (Py_TYPE(other) != Py_TYPE(self)) {
            Owned got = Owned::steal(PyType_GetName(Py_TYPE(other)));
            if (!got) return nullptr;
            return PyErr_Format(PyExc_ValueError, "cannot merge: other is a %U, not a %s", got.get(), Face::name);
        }
        Instance<Core>* theirs = instance<Core>(other);
        if (!detail::check_alive(theirs->alive)) return nullptr;
        return guarded_call<PyObject*>(nullptr, [&]() -> PyObject* {
            if (other == self) {
                // Merging with itself: what it holds, twice.
                const Core same = inst->core();
                const auto merged = inst->core().merge(same);
                if (!merged) return raise(merged.error());
                Py_RETURN_NONE;
            }
            auto shared = Borrow::shared(theirs->borrow);
            if (!shared) return nullptr;
            const auto merged = inst->core().merge(static_cast<const Core&>(theirs->core()));
            if (!merged) return raise(merged.error());
            Py_RETURN_NONE;
        });
    }
};

template <class Face>
auto common_methods() {
    using M = StateMethods<Face>;
    const auto all = std::array{
        PyMethodDef{"__reduce__", detail::as_method(M::reduce), kFastCall, state_docs::reduce},
        PyMethodDef{"__copy__", detail::as_method(M::copy), kFastCall, state_docs::copy},
        PyMethodDef{"__deepcopy__", detail::as_method(M::deepcopy), kFastCall, state_docs::deepcopy},
        shared<typename Face::Core, M::to_state>("to_state", state_docs::to_state),
        PyMethodDef{"from_state", detail::as_method(M::from_state), kFastCall | METH_CLASS, state_docs::from_state},
    };
    if constexpr (detail::Mergeable<typename Face::Core>) {
        return join(all, std::array{PyMethodDef{"merge", detail::as_method(M::merge), kFastCall, Face::merge_doc}});
    } else {
        return all;
    }
}

}  // namespace quorvant::frame
