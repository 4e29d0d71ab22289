// Table-driven argument extraction for METH_FASTCALL | METH_KEYWORDS
// functions and methods (and tuple/dict calls, for constructors).
//
//   static constexpr frame::Param kParams[] = {{"baseline"}, {"latest"}, {"threshold", true}};
//   frame::Args<3> a;
//   if (!frame::extract("py_x", kParams, args, nargs, kwnames, a)) return nullptr;
//
// Each slot receives a borrowed reference, or nullptr when an optional
// parameter was omitted. Messages follow CPython's wording.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "frame/interned.hpp"
#include "frame/python.hpp"

namespace quorvant::frame {

struct Param {
    std::string_view name;
    bool optional = false;  // has a default; omitted leaves the slot null
    // The name as an interned str, made on the first call with keywords
    // (the tables are constants otherwise).
    mutable InternedSlot interned{};
};

template <std::size_t N>
using Args = std::array<PyObject*, N>;

bool extract_fast(const char* function, std::span<const Param> params, PyObject* const* args,
                  Py_ssize_t nargsf, PyObject* kwnames, std::span<PyObject*> out);

bool extract_tuple(const char* function, std::span<const Param> params, PyObject* args, PyObject* kwargs,
                   std::span<PyObject*> out);

template <std::size_t N>
bool extract(const char* function, const Param (&params)[N], PyObject* const* args, Py_ssize_t nargsf,
             PyObject* kwnames, Args<N>& out) {
    return extract_fast(function, params, args, nargsf, kwnames, out);
}

template <std::size_t N>
bool extract(const char* function, const Param (&params)[N], PyObject* args, PyObject* kwargs, Args<N>& out) {
    return extract_tuple(function, params, args, kwargs, out);
}

// Functions without parameters still refuse arguments.
bool extract_none(const char* function, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace quorvant::frame
