// The methods every streaming monitor's Python face has in common: flush,
// the two snapshots and the two drift reports, with their method-table
// entries (one signature and docstring for all of them).
//
//   using Methods = reporting::MonitorMethods<Core, &Core::current, &metrics::parse_data_bias_list>;
//   std::array{
//       frame::exclusive<Core, push>("push", "push($self, x)\n--\n\n"),
//       Methods::flush_entry(),
//       Methods::drift_snapshot_entry(),
//       ...
//   };
//
// Current is the core's const member returning its current values (an
// expected runtime with to_map()). ParseMetrics turns the names given to
// drift_report_partial_metrics into what the core takes; without one the
// names are passed to the core as they are, and the core parses them.
#pragma once

#include <type_traits>

#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/pyclass.hpp"
#include "frame/python.hpp"
#include "frame/raise.hpp"
#include "reporting/py_report_utils.hpp"

namespace quorvant::reporting {

template <class Core, auto Current, auto ParseMetrics = nullptr>
struct MonitorMethods {
    static PyObject* flush(Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
        if (!frame::extract_none("flush", nargs, kwnames)) return nullptr;
        core.flush();
        Py_RETURN_NONE;
    }

    static PyObject* drift_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
        if (!frame::extract_none("drift_snapshot", nargs, kwnames)) return nullptr;
        const auto drift = core.drift_snapshot();
        if (!drift) return frame::raise(drift.error());
        return report_to_py_dict(*drift);
    }

    static PyObject* performance_snapshot(const Core& core, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
        if (!frame::extract_none("performance_snapshot", nargs, kwnames)) return nullptr;
        const auto current = (core.*Current)();
        if (!current) return frame::raise(current.error());
        return report_to_py_dict(current->to_map());
    }

    static PyObject* drift_report(const Core& core, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        static constexpr frame::Param kParams[] = {{"drift_threshold"}};
        frame::Args<1> a;
        if (!frame::extract("drift_report", kParams, args, nargs, kwnames, a)) return nullptr;
        const auto threshold = frame::to_f32(a[0], "drift_threshold");
        if (!threshold) return nullptr;
        return report_dict(core.drift_report(*threshold));
    }

    // Both arguments are converted before the names are parsed, so a
    // conversion error comes before an unknown metric name.
    static PyObject* drift_report_partial_metrics(const Core& core, PyObject* const* args, Py_ssize_t nargs,
                                                  PyObject* kwnames) {
        static constexpr frame::Param kParams[] = {{"metrics"}, {"drift_threshold"}};
        frame::Args<2> a;
        if (!frame::extract("drift_report_partial_metrics", kParams, args, nargs, kwnames, a)) return nullptr;
        const auto names = frame::to_string_list(a[0], "metrics");
        if (!names) return nullptr;
        const auto threshold = frame::to_f32(a[1], "drift_threshold");
        if (!threshold) return nullptr;
        if constexpr (std::is_null_pointer_v<decltype(ParseMetrics)>) {
            return report_dict(core.drift_report_partial_metrics(*names, *threshold));
        } else {
            const auto metrics = ParseMetrics(*names);
            if (!metrics) return frame::raise(metrics.error());
            return report_dict(core.drift_report_partial_metrics(*metrics, *threshold));
        }
    }

    static PyMethodDef flush_entry() {
        return frame::exclusive<Core, flush>("flush", "flush($self)\n--\n\n");
    }
    static PyMethodDef drift_snapshot_entry() {
        return frame::shared<Core, drift_snapshot>("drift_snapshot", "drift_snapshot($self)\n--\n\n");
    }
    static PyMethodDef performance_snapshot_entry() {
        return frame::shared<Core, performance_snapshot>("performance_snapshot",
                                                         "performance_snapshot($self)\n--\n\n");
    }
    static PyMethodDef drift_report_entry() {
        return frame::shared<Core, drift_report>("drift_report", "drift_report($self, drift_threshold)\n--\n\n");
    }
    static PyMethodDef drift_report_partial_metrics_entry() {
        return frame::shared<Core, drift_report_partial_metrics>(
            "drift_report_partial_metrics", "drift_report_partial_metrics($self, metrics, drift_threshold)\n--\n\n");
    }

private:
    template <class Report>
    static PyObject* report_dict(const Report& report) {
        if (!report) return frame::raise(report.error());
        return into_py_dict(*report);
    }
};

}  // namespace quorvant::reporting
