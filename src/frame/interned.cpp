#include "frame/interned.hpp"

#include "frame/numpy.hpp"

namespace quorvant::frame {

namespace {

std::uint64_t g_life = 1;
std::uint64_t g_watched_life = 0;  // the life whose finalisation hook is registered

// Runs after the interpreter is gone: no Python API here, only forgetting.
// (The objects kept went with the interpreter; they are not released.)
void end_life() {
    ++g_life;
    forget_numpy();
}

}  // namespace

std::uint64_t interpreter_life() noexcept { return g_life; }

bool watch_finalization() {
    if (g_watched_life == g_life) return true;
    if (Py_AtExit(end_life) != 0) {
        PyErr_SetString(PyExc_ImportError, "quorvant._quorvant cannot register its finalization hook");
        return false;
    }
    g_watched_life = g_life;
    return true;
}

PyObject* interned(std::string_view text, InternedSlot& slot) {
    if (slot.str != nullptr && slot.life == g_life) return slot.str;
    slot.str = nullptr;
    PyObject* s = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (s == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    PyUnicode_InternInPlace(&s);
    slot.str = s;
    slot.life = g_life;
    return s;
}

PyObject* interned_or_new(std::string_view text, InternedSlot& slot) {
    if (PyObject* s = interned(text, slot)) return Py_NewRef(s);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace quorvant::frame
