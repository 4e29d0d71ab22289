// Reading exact ints without running Python code, through the public C API
// only: the compact-int accessors where the interpreter has them (3.12+),
// PyLong_AsLongAndOverflow otherwise.
#pragma once

#include "frame/python.hpp"

namespace quorvant::frame {

// The value of an exact int (no subclass) small enough for a machine word;
// false, with no exception set, for every other object. No Python code runs.
inline bool exact_int_value(PyObject* item, long long& v) {
    if (!PyLong_CheckExact(item)) return false;
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(item))) return false;
    v = static_cast<long long>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(item)));
    return true;
#else
    int overflow = 0;
    const long x = PyLong_AsLongAndOverflow(item, &overflow);
    if (overflow != 0 || (x == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return false;
    }
    v = x;
    return true;
#endif
}

}  // namespace quorvant::frame
