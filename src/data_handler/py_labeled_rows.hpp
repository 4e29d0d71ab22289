// The Python face shared by the two streaming bias monitors, whose rows are
// N already-labeled signed 8-bit columns (feature and ground truth, plus the
// prediction for the model monitor). The monitors differ only by their
// names: each gives a Names type and gets a class face (frame/pyclass.hpp):
//
//   struct Names {
//       using Core = StreamingDataBias;
//       static constexpr const char* name = "PyDataBiasStreaming";
//       static constexpr const char* doc = "PyDataBiasStreaming(feature_data, gt_data)\n--\n\n";
//       static constexpr Columns<2> construct_columns{name, kNewParams, kNewNames};
//       static constexpr Columns<2> row_columns{nullptr, kRowParams, kRowNames};
//       static constexpr auto parse = &metrics::parse_data_bias_list;
//       static constexpr const char* row_docs[3] = {"push($self, f, g)\n--\n\n", ...};  // push, push_batch, reset_baseline
//       using Codec = StreamingDataBiasCodec;  // its state payload
//   };
//   PyType_Spec registry::PyDataBiasStreaming = frame::class_spec<labeled_rows::Face<Names>>();
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "frame/args.hpp"
#include "frame/pyclass.hpp"
#include "frame/raise.hpp"
#include "frame/small_ints.hpp"
#include "reporting/py_monitor_methods.hpp"

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

inline constexpr const char* kMergeDoc =
    "merge($self, other)\n--\n\n"
    "Adds the rows `other` has counted to this monitor, as if it had seen them\n"
    "too; `other` is unchanged. Counts add exactly, so merging the monitors of\n"
    "any split of a stream gives the monitor of the whole stream. Refused with\n"
    "ValueError, nothing changed, when `other` is not of this class, its\n"
    "baseline or segmentation rules differ (bit for bit), or a count would\n"
    "pass 64 bits. m.merge(m) doubles the counts; quorvant.merge_all folds\n"
    "many monitors into a new one.";

template <class Names>
struct Face {
    using Core = typename Names::Core;
    using Codec = typename Names::Codec;
    static constexpr const char* name = Names::name;
    static constexpr const char* doc = Names::doc;
    static constexpr const char* merge_doc = kMergeDoc;

    static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return labeled_rows::construct<Core>(type, args, kwargs, Names::construct_columns);
    }
    static PyObject* push(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return labeled_rows::push(core, args, nargs, kwnames, Names::row_columns);
    }
    static PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return labeled_rows::push_batch(core, args, nargs, kwnames, Names::row_columns);
    }
    static PyObject* reset_baseline(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return labeled_rows::reset_baseline(core, args, nargs, kwnames, Names::row_columns);
    }

    static auto methods() {
        using Methods = reporting::MonitorMethods<Core, &Core::current, Names::parse>;
        return std::array{
            frame::exclusive<Core, push>("push", Names::row_docs[0]),
            frame::exclusive<Core, push_batch>("push_batch", Names::row_docs[1]),
            Methods::flush_entry(),
            frame::exclusive<Core, reset_baseline>("reset_baseline", Names::row_docs[2]),
            Methods::drift_snapshot_entry(),
            Methods::performance_snapshot_entry(),
            Methods::drift_report_entry(),
            Methods::drift_report_partial_metrics_entry(),
        };
    }
};

}  // namespace quorvant::data_handler::labeled_rows
