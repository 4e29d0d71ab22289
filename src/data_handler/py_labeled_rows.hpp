// The Python faces shared by the two streaming bias monitors, whose rows are
// N already-labeled signed 8-bit columns (feature and ground truth, plus the
// prediction for the model monitor). Each monitor names its columns and
// wraps these in its own functions.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "frame/args.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"

namespace quorvant::data_handler::labeled_rows {

template <std::size_t N>
struct Columns {
    const char* function;  // for argument messages
    const frame::Param (&params)[N];
    const char* const (&names)[N];
};

inline PyObject* none() { Py_RETURN_NONE; }

template <class Core, std::size_t N>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs, const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract(c.function, c.params, args, kwargs, a)) return nullptr;
    const auto rows = frame::to_i8_sources(a, c.names);
    if (!rows) return nullptr;
    auto core = std::apply([](const auto&... r) { return Core::make(r...); }, *rows);
    if (!core) return frame::raise(core.error());
    return frame::allocate(type, std::move(*core));
}

// One row: each value converted in argument order, then counted.
template <class Core, std::size_t N>
PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract("push", c.params, args, nargs, kwnames, a)) return nullptr;
    std::array<std::int8_t, N> row{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto v = frame::to_i8(a[i], c.names[i]);
        if (!v) return nullptr;
        row[i] = *v;
    }
    std::apply([&](auto... v) { core.push(v...); }, row);
    return none();
}

template <class Core, std::size_t N>
PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract("push_batch", c.params, args, nargs, kwnames, a)) return nullptr;
    // Buffers are counted in one pass and their ranges checked after; a
    // batch that fails counts nothing.
    std::array<frame::RangeCheck, N> checks;
    if (const auto buffers = frame::i8_buffers(a, &checks)) {
        if (const auto batch = std::apply([&](const auto&... b) { return core.count(b...); }, *buffers)) {
            if (!frame::ranges_checked(checks, c.names)) return nullptr;
            core.add(*batch);
            return none();
        }
    }
    // Everything else, and a batch of the wrong length, converted first so
    // that a conversion error comes before the length error.
    const auto rows = frame::to_i8_sources(a, c.names);
    if (!rows) return nullptr;
    const auto status = std::apply([&](const auto&... r) { return core.push_batch(r...); }, *rows);
    if (!status) return frame::raise(status.error());
    return none();
}

template <class Core, std::size_t N>
PyObject* reset_baseline(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract("reset_baseline", c.params, args, nargs, kwnames, a)) return nullptr;
    const auto rows = frame::to_i8_sources(a, c.names);
    if (!rows) return nullptr;
    const auto status = std::apply([&](const auto&... r) { return core.reset_baseline(r...); }, *rows);
    if (!status) return frame::raise(status.error());
    return none();
}

}  // namespace quorvant::data_handler::labeled_rows
