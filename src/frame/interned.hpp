// State the extension keeps between calls lives as long as the interpreter
// that made it. An embedding program may finalise the interpreter and start
// a new one in the same process; everything kept from the old one (the
// module object, interned names, NumPy's API table) is then gone, so it is
// tagged with the interpreter's life and made again in the next life.
//
// Interned names: a fixed text (a parameter name, a metric name, a report
// key) as an interned str of the running interpreter, kept in a slot.
// Keywords written in source code arrive interned, so comparing pointers
// finds them without looking at their text.
#pragma once

#include <cstdint>
#include <string_view>

#include "frame/python.hpp"

namespace quorvant::frame {

// 1 for the first interpreter of the process, one more after each
// finalisation.
std::uint64_t interpreter_life() noexcept;

// Registers, once per interpreter, the hook that ends a life when the
// interpreter finalises (module creation calls it). False with an
// exception set when the interpreter takes no more finalisation hooks.
bool watch_finalization();

struct InternedSlot {
    PyObject* str = nullptr;  // a strong reference, valid in life `life`
    std::uint64_t life = 0;
};

// The interned str of `text` held by `slot` (borrowed), made when the slot
// is empty or from an earlier life. nullptr with no exception set when it
// cannot be made (no memory): the next call tries again.
PyObject* interned(std::string_view text, InternedSlot& slot);

// A new reference to the interned str, or to a fresh str when interning
// failed; nullptr with an exception set only when no str can be made.
PyObject* interned_or_new(std::string_view text, InternedSlot& slot);

}  // namespace quorvant::frame
