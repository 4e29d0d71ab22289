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
#include <optional>
#include <tuple>
#include <utility>

#include "common/chunk_source.hpp"
#include "frame/args.hpp"
#include "frame/gil.hpp"
#include "frame/held.hpp"
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

    static constexpr std::size_t params_count() { return N; }
};

using common::ValueSource;

inline PyObject* none() { Py_RETURN_NONE; }

// The columns of a call: converted in argument order, then settled, as
// sources for the core (see frame/held.hpp and frame/small_ints.hpp).
template <std::size_t N>
struct Rows {
    std::array<frame::I8Column, N> columns;

    static std::optional<Rows> read(const frame::Args<N>& a, const char* const (&names)[N], bool defer = false) {
        auto columns = frame::to_i8_columns(a, names, defer);
        if (!columns || !frame::settle_all(*columns)) return std::nullopt;
        return Rows{std::move(*columns)};
    }

    // f(const ValueSource&...) on the views, with the GIL released for
    // large batches (the views are integer buffers or copies). Deferred
    // ranges are noted in `noted`.
    template <class F>
    decltype(auto) apply(F&& f, std::array<bool, N>* noted = nullptr) const {
        return frame::run_core(columns[0].size(), [&] {
            return [&]<std::size_t... I>(std::index_sequence<I...>) {
                const std::array<ValueSource, N> sources{
                    columns[I].source(noted != nullptr ? &(*noted)[I] : nullptr)...};
                return f(sources[I]...);
            }(std::make_index_sequence<N>{});
        });
    }

    // The deferred ranges in argument order: as noted when every row was
    // read, else checked now. False with the first error set.
    bool ranges(const std::array<bool, N>& noted, bool all_read) {
        for (std::size_t i = 0; i < N; ++i) {
            if (!(all_read ? columns[i].range_read(noted[i]) : columns[i].check_range())) return false;
        }
        return true;
    }
};

template <class Core, std::size_t N>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs, const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract(c.function, c.params, args, kwargs, a)) return nullptr;
    const auto rows = Rows<N>::read(a, c.names);
    if (!rows) return nullptr;
    auto core = rows->apply([](const auto&... r) { return Core::make(r...); });
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

// A batch: counted in one pass with the deferred range checks, then the
// ranges reported (before the core's length error), and only then added;
// a batch that fails changes nothing.
template <class Core, std::size_t N>
PyObject* push_batch(Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract("push_batch", c.params, args, nargs, kwnames, a)) return nullptr;
    auto rows = Rows<N>::read(a, c.names, true);
    if (!rows) return nullptr;
    std::array<bool, N> noted{};
    const auto batch = rows->apply([&](const auto&... r) { return core.count(r...); }, &noted);
    if (!rows->ranges(noted, batch.has_value())) return nullptr;
    if (!batch) return frame::raise(batch.error());
    core.add(*batch);
    return none();
}

// reset_baseline: every column converted first, so that a conversion error
// comes before the core's length error; a reset that fails changes nothing.
template <class Core, std::size_t N, auto Method>
PyObject* rows_method(const char* name, Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      const Columns<N>& c) {
    frame::Args<N> a;
    if (!frame::extract(name, c.params, args, nargs, kwnames, a)) return nullptr;
    const auto rows = Rows<N>::read(a, c.names);
    if (!rows) return nullptr;
    const auto status = rows->apply([&](const auto&... r) { return (core.*Method)(r...); });
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
        return rows_method<Core, Names::row_columns.params_count(), &Core::reset_baseline>(
            "reset_baseline", core, args, nargs, kwnames, Names::row_columns);
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
