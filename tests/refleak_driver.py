"""Reference-leak hunt over every entry point of the native module (19
functions, 11 classes with all their methods, pickling, copying and merging
included), success and error paths.

Run by `make refleak` on a debug interpreter (sys.gettotalrefcount) with a
NumPy built from source against it, so the total reference count is exact:
a NumPy wheel is a release build whose own reference operations are not
counted, and it would move the total by itself on every call.

Like CPython's -R hunter: each case runs WARMUP times, then MEASURED
times, each run making CALLS calls; a case leaks when every measured run
grows the total reference count (or the allocated blocks by a block per
two calls or more, held through a second, longer set of runs). Exit status 1
on any leak; the table printed gives the deltas per run."""

from __future__ import annotations

import gc
import statistics
import sys
import warnings

import numpy as np

import quorvant._quorvant as q

WARMUP, MEASURED, CALLS = 4, 6, 20

F64 = np.array([0.0, 1.0, 2.0, 2.5, 3.0, 7.0, 9.0, 9.5])
F32 = F64.astype(np.float32)
BITS = np.array([1, 0, 1, 1, 0, 1, 0, 0])
BITS2 = np.array([1, 1, 0, 1, 0, 0, 1, 0])
SCORES = np.array([0.9, 0.2, 0.6, 0.8, 0.4, 0.7, 0.1, 0.3])
LABELS = ["a", "b", "b", "c", "é", "a"]
DRIFT = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
NUL = "Acc\x00uracy"


class Boom:
    """A number whose conversion raises."""

    def __float__(self):
        raise ZeroDivisionError("boom")

    def __index__(self):
        raise ZeroDivisionError("boom")


def attempt(fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except Exception:  # noqa: BLE001 - error paths are what is exercised
        pass


def calls(*items):
    """A case from (callable, args...) tuples, each attempted in turn."""
    def run():
        for fn, *args in items:
            attempt(fn, *args)
    return run


def report_dicts():
    bias = q.py_data_bias_analyzer(BITS, BITS2, 1, 1)
    model = q.py_model_bias_analyzer(BITS, BITS2, BITS[::-1].copy(), 1, 1, 1)
    cls = q.py_model_perf_classification(BITS, BITS2)
    lin = q.py_model_perf_linear_regression(F32, F32[::-1].copy())
    log = q.py_model_perf_logistic_regression(BITS.astype(float), SCORES, 0.5)
    return bias, model, cls, lin, log


def function_cases():
    bias, model, cls, lin, log = report_dicts()
    shifted = {k: v * 1.5 + 0.1 for k, v in cls.items()}
    cases = {
        "py_model_perf_classification": calls(
            (q.py_model_perf_classification, BITS, BITS2), (q.py_model_perf_classification, list(BITS), tuple(BITS2)),
            (q.py_model_perf_classification, BITS, BITS2[:3]), (q.py_model_perf_classification, BITS, "x"),
            (q.py_model_perf_classification, [1, Boom()], [1, 0])),
        "py_model_perf_logistic_regression": calls(
            (q.py_model_perf_logistic_regression, BITS.astype(float), SCORES, 0.5),
            (q.py_model_perf_logistic_regression, list(SCORES), SCORES, Boom()),
            (q.py_model_perf_logistic_regression, SCORES, SCORES[:2], 0.5),
            (q.py_model_perf_logistic_regression, SCORES[:0], SCORES[:0], 0.5)),
        "py_model_perf_linear_regression": calls(
            (q.py_model_perf_linear_regression, F32, F32), (q.py_model_perf_linear_regression, F64, list(F64)),
            (q.py_model_perf_linear_regression, F32, F32[:2]), (q.py_model_perf_linear_regression, F32, None)),
        "py_data_bias_runtime_check": calls(
            (q.py_data_bias_runtime_check, bias, bias), (q.py_data_bias_runtime_check, bias, {**bias, "x": 1.0}, 0.2),
            (q.py_data_bias_runtime_check, {}, bias), (q.py_data_bias_runtime_check, bias, {NUL: 1.0}),
            (q.py_data_bias_runtime_check, bias, {k: "x" for k in bias})),
        "py_data_bias_partial_check": calls(
            (q.py_data_bias_partial_check, bias, bias, ["LpNorm", "KlDivergence"]),
            (q.py_data_bias_partial_check, bias, bias, ["Nope", NUL]), (q.py_data_bias_partial_check, bias, bias, "LpNorm")),
        "py_model_bias_runtime_check": calls(
            (q.py_model_bias_runtime_check, model, model, 0.0), (q.py_model_bias_runtime_check, model, {}),
            (q.py_model_bias_runtime_check, model, model, Boom())),
        "py_model_bias_partial_check": calls(
            (q.py_model_bias_partial_check, model, model, ["DisparateImpact"]),
            (q.py_model_bias_partial_check, model, model, [NUL])),
        "py_model_perf_class_rt_full": calls(
            (q.py_model_perf_class_rt_full, cls, shifted), (q.py_model_perf_class_rt_full, cls, {}),
            (q.py_model_perf_class_rt_full, cls, [1])),
        "py_model_perf_class_rt_partial": calls(
            (q.py_model_perf_class_rt_partial, cls, shifted, ["Accuracy", "F1Score"]),
            (q.py_model_perf_class_rt_partial, cls, shifted, [NUL, "LogLoss"])),
        "py_model_perf_lin_reg_rt_full": calls(
            (q.py_model_perf_lin_reg_rt_full, lin, lin), (q.py_model_perf_lin_reg_rt_full, {}, lin)),
        "py_model_perf_lin_reg_rt_partial": calls(
            (q.py_model_perf_lin_reg_rt_partial, lin, lin, ["RSquared"]),
            (q.py_model_perf_lin_reg_rt_partial, lin, lin, ["x"])),
        "py_model_perf_log_reg_rt_full": calls(
            (q.py_model_perf_log_reg_rt_full, log, log, 0.05), (q.py_model_perf_log_reg_rt_full, log, cls)),
        "py_model_perf_log_reg_rt_partial": calls(
            (q.py_model_perf_log_reg_rt_partial, log, log, ["LogLoss"]),
            (q.py_model_perf_log_reg_rt_partial, log, log, [3])),
        "py_compute_drift_continuous_distribtuion": calls(
            (q.py_compute_drift_continuous_distribtuion, F64, F64[::-1].copy(), DRIFT, None),
            (q.py_compute_drift_continuous_distribtuion, F64, F64, DRIFT, "Scott"),
            (q.py_compute_drift_continuous_distribtuion, F64, F64, ["x"], None),
            (q.py_compute_drift_continuous_distribtuion, F64[:1], F64, DRIFT, None),
            (q.py_compute_drift_continuous_distribtuion, F64, F64[:0], DRIFT, None),
            (q.py_compute_drift_continuous_distribtuion, F64[::2], F64, DRIFT, None),
            (q.py_compute_drift_continuous_distribtuion, list(F64), F64, DRIFT, None)),
        "py_compute_drift_categorical_distribtuion": calls(
            (q.py_compute_drift_categorical_distribtuion, LABELS, ["a", "z"], DRIFT),
            (q.py_compute_drift_categorical_distribtuion, np.array(LABELS), ["a"], DRIFT),
            (q.py_compute_drift_categorical_distribtuion, LABELS, ["a", 1], DRIFT),
            (q.py_compute_drift_categorical_distribtuion, [], ["a"], DRIFT),
            (q.py_compute_drift_categorical_distribtuion, LABELS, ["\ud800"], DRIFT),
            (q.py_compute_drift_categorical_distribtuion, LABELS, LABELS, "JensenShannon")),
        "py_data_bias_analyzer": calls(
            (q.py_data_bias_analyzer, BITS, BITS2, 1, 1), (q.py_data_bias_analyzer, F64, BITS2, 2.5, 1),
            (q.py_data_bias_analyzer, np.array(LABELS[:4]), BITS2[:4], "a", 1),
            (q.py_data_bias_analyzer, BITS, BITS2[:3], 1, 1), (q.py_data_bias_analyzer, BITS, BITS2, Boom(), 1)),
        "py_data_bias_analyzer_explicit_seg": calls(
            (q.py_data_bias_analyzer_explicit_seg, F64, 2.5, None, "GreaterThan", BITS2, None, "1", None),
            (q.py_data_bias_analyzer_explicit_seg, F64, 2.5, "x", "GreaterThan", BITS2, None, "1", None),
            (q.py_data_bias_analyzer_explicit_seg, F64, 2.5, None, "Nope", BITS2, None, "1", None)),
        "py_model_bias_analyzer": calls(
            (q.py_model_bias_analyzer, BITS, BITS2, BITS[::-1].copy(), 1, 1, 1),
            (q.py_model_bias_analyzer, F64, SCORES, SCORES, 2.5, 0.5, 0.5),
            (q.py_model_bias_analyzer, BITS, BITS2, BITS[:3], 1, 1, 1)),
        "py_model_bias_analyzer_explicit_seg": calls(
            (q.py_model_bias_analyzer_explicit_seg, F64, 2.5, None, "GreaterThan", SCORES, 0.5, None,
             "GreaterThanEqualTo", SCORES, 0.5, None, "LessThan"),
            (q.py_model_bias_analyzer_explicit_seg, F64, None, None, None, SCORES, 0.5, None, None, SCORES, 0.5,
             None, None)),
    }
    return cases


def class_cases():
    def perf(make, t, p, names, extra=()):
        def run():
            m = make()
            for fn, *args in [(m.push, t[0], p[0]), (m.push, "x", 1), (m.push_batch, t, p), (m.push_batch, list(t), tuple(p)),
                              (m.push_batch, t, p[:2]), (m.push_batch, [t[0], Boom()], [p[0], p[1]]),
                              (m.performance_snapshot,), (m.drift_snapshot,), (m.drift_report, 0.1),
                              (m.drift_report, None), (m.drift_report_partial_metrics, names, 0.0),
                              (m.drift_report_partial_metrics, [NUL], 0.1), (m.reset_baseline, t, p),
                              (m.reset_baseline, t, p[:1]), (m.flush,), (m.performance_snapshot,)] + [
                                  (getattr(m, e[0]), *e[1:]) for e in extra]:
                attempt(fn, *args)
            attempt(type(m), t, p[:1])
        return run

    def drift_stream(make, batch, one, new_base):
        def run():
            d = make()
            for fn, *args in [(d.update_stream, one), (d.update_stream, "x" if one != "x" else 1),
                              (d.update_stream_batch, batch), (d.update_stream_batch, batch[:0]),
                              (d.compute_drift, "JensenShannon"), (d.compute_drift, NUL),
                              (d.compute_drift_multiple_criteria, DRIFT), (d.export_snapshot,), (d.export_baseline,),
                              (getattr, d, "total_samples"), (getattr, d, "n_bins"), (getattr, d, "last_flush"),
                              (d.reset_baseline, new_base), (d.reset_baseline, new_base[:0])] + (
                                  [(d.flush,)] if hasattr(d, "flush") else []):
                attempt(fn, *args)
        return run

    def drift_batch(make, data, base):
        def run():
            d = make()
            for fn, *args in [(d.compute_drift, data, "KullbackLeibler"), (d.compute_drift, data, "x"),
                              (d.compute_drift_mutliple_criteria, data, DRIFT), (d.compute_drift, data[:0], "x"),
                              (d.export_baseline,), (getattr, d, "num_bins"), (d.reset_baseline, base),
                              (d.reset_baseline, base[:0])]:
                attempt(fn, *args)
        return run

    return {
        "PyBinaryClassificationStreaming": perf(lambda: q.PyBinaryClassificationStreaming(BITS, BITS2), BITS, BITS2,
                                                ["Accuracy", "LogLoss"]),
        "PyLinearRegressionStreaming": perf(lambda: q.PyLinearRegressionStreaming(F32, F32), F32, F32[::-1].copy(),
                                            ["RSquared"]),
        "PyLogisticRegressionStreaming": perf(
            lambda: q.PyLogisticRegressionStreaming(BITS.astype(float), SCORES, 0.5), BITS.astype(float), SCORES,
            ["LogLoss"], extra=[("reset_baseline_and_decision_threshold", SCORES, SCORES, 0.7),
                                ("reset_baseline_and_decision_threshold", SCORES, SCORES[:1], Boom())]),
        "PyDataBiasStreaming": perf(lambda: q.PyDataBiasStreaming(BITS, BITS2), BITS, BITS2, ["LpNorm"]),
        "PyStreamingContinuousDataDriftDecay": drift_stream(
            lambda: q.PyStreamingContinuousDataDriftDecay(F64, "Sturges", 3), F64, 2.5, F64[::-1].copy()),
        "PyStreamingContinuousDataDriftFlush": drift_stream(
            lambda: q.PyStreamingContinuousDataDriftFlush(F64, None, 5, 0), F64, 2.5, F64[::-1].copy()),
        "PyStreamingCategoricalDataDriftDecay": drift_stream(
            lambda: q.PyStreamingCategoricalDataDriftDecay(LABELS, None), LABELS, "x", ["q", "r"]),
        "PyStreamingCategoricalDataDriftFlush": drift_stream(
            lambda: q.PyStreamingCategoricalDataDriftFlush(LABELS, 3, None), LABELS, "x", ["q", "r"]),
        "PyContinuousDataDrift": drift_batch(lambda: q.PyContinuousDataDrift(F64, "Scott"), F64, F64[::-1].copy()),
        "PyCategoricalDataDrift": drift_batch(lambda: q.PyCategoricalDataDrift(LABELS), ["a", "zz"], ["q", "r"]),
    }


def model_bias_case():
    t, p, g = BITS, BITS2, BITS[::-1].copy()

    def run():
        m = q.PyModelBiasStreaming(t, p, g)
        for fn, *args in [(m.push, 1, 0, 1), (m.push, 1, "x", 1), (m.push_batch, t, p, g),
                          (m.push_batch, list(t), tuple(p), g), (m.push_batch, t, p, g[:2]),
                          (m.performance_snapshot,), (m.drift_snapshot,), (m.drift_report, 0.1),
                          (m.drift_report_partial_metrics, ["DisparateImpact"], 0.0),
                          (m.drift_report_partial_metrics, [NUL], 0.1), (m.reset_baseline, t, p, g),
                          (m.reset_baseline, t, p, g[:1]), (m.flush,)]:
            attempt(fn, *args)
        attempt(q.PyModelBiasStreaming, t, p, g[:1])
    return run


def state_cases(makers):
    """Pickling, copying, loading and merging of every class, with the
    refusals: a truncated payload, another class's, a non-buffer, an
    object of another class to merge."""
    import copy
    import pickle

    out = {}
    for name, make in makers.items():
        def run(make=make):
            m = make()
            payload = m.to_state()
            cls = type(m)
            other = q.PyCategoricalDataDrift(LABELS) if cls is not q.PyCategoricalDataDrift else q.PyContinuousDataDrift(F64, None)
            items = [(pickle.loads, pickle.dumps(m, protocol=2)), (pickle.loads, pickle.dumps(m, protocol=5)),
                     (copy.copy, m), (copy.deepcopy, m), (m.__reduce__,), (cls.from_state, payload),
                     (cls.from_state, payload[:-3]), (cls.from_state, other.to_state()), (cls.from_state, "x"),
                     (cls.from_state, memoryview(payload))]
            if hasattr(m, "merge"):
                items += [(m.merge, copy.copy(m)), (m.merge, m), (m.merge, other), (m.merge, 3)]
            for fn, *args in items:
                attempt(fn, *args)
        out[f"{name} state"] = run
    return out


def deltas(run, warmup=WARMUP, measured=MEASURED):
    """Growth of (total references, allocated blocks) in each measured run."""
    refs, blocks = [], []
    for i in range(warmup + measured):
        gc.collect()
        r0, b0 = sys.gettotalrefcount(), sys.getallocatedblocks()
        for _ in range(CALLS):
            run()
        gc.collect()
        if i >= warmup:
            refs.append(sys.gettotalrefcount() - r0)
            blocks.append(sys.getallocatedblocks() - b0)
    return refs, blocks


def steady(values) -> bool:
    """Every run moved the same way: growth (a leak) or shrinkage (a
    reference released once too often)."""
    return all(v >= 1 for v in values) or all(v <= -1 for v in values)


def growing(blocks) -> bool:
    """A block or more lost per two calls, in every run."""
    return all(b >= CALLS // 2 for b in blocks)


def main() -> int:
    if not hasattr(sys, "gettotalrefcount"):
        print("refleak: needs a debug interpreter (sys.gettotalrefcount)", file=sys.stderr)
        return 2
    warnings.simplefilter("ignore")
    cases = {**function_cases(), **class_cases()}
    cases["PyModelBiasStreaming"] = model_bias_case()
    cases.update(state_cases({
        "PyBinaryClassificationStreaming": lambda: q.PyBinaryClassificationStreaming(BITS, BITS2),
        "PyLinearRegressionStreaming": lambda: q.PyLinearRegressionStreaming(F32, F32),
        "PyLogisticRegressionStreaming": lambda: q.PyLogisticRegressionStreaming(BITS.astype(float), SCORES, 0.5),
        "PyDataBiasStreaming": lambda: q.PyDataBiasStreaming(BITS, BITS2),
        "PyModelBiasStreaming": lambda: q.PyModelBiasStreaming(BITS, BITS2, BITS[::-1].copy()),
        "PyStreamingContinuousDataDriftDecay": lambda: q.PyStreamingContinuousDataDriftDecay(F64, "Sturges", 3),
        "PyStreamingContinuousDataDriftFlush": lambda: q.PyStreamingContinuousDataDriftFlush(F64, None, 5, 0),
        "PyStreamingCategoricalDataDriftDecay": lambda: q.PyStreamingCategoricalDataDriftDecay(LABELS, None),
        "PyStreamingCategoricalDataDriftFlush": lambda: q.PyStreamingCategoricalDataDriftFlush(LABELS, 3, None),
        "PyContinuousDataDrift": lambda: q.PyContinuousDataDrift(F64, "Scott"),
        "PyCategoricalDataDrift": lambda: q.PyCategoricalDataDrift(LABELS),
    }))
    # The measuring itself holds a couple of references (the counters
    # read); a case that does nothing gives that offset.
    offset = statistics.median_low(deltas(lambda: None)[0])
    # NumPy must be a debug build as well, or its own work moves the total.
    y, p = np.ones(4), np.arange(4.0)
    control = [r - offset for r in deltas(lambda: y + p)[0]]
    if any(control):
        print(f"refleak: NumPy alone moves the total reference count ({control} per run): it is not built for "
              "this debug interpreter", file=sys.stderr)
        return 2
    leaks = 0
    for name, run in cases.items():
        refs, blocks = deltas(run)
        refs = [r - offset for r in refs]
        # Blocks may settle a little lower after warm-up; only growth counts.
        # They also move by a few per run with the interpreter's own caches
        # (pickle's and copy's dispatch, the type cache), while every case
        # repeats the same calls, so a block lost in a call is lost in each
        # of them: at least CALLS per run.
        leak = steady(refs) or growing(blocks)
        if leak and not steady(refs):
            # Interpreter caches (pickle's and copy's dispatch, the
            # allocator's pools) can fill over a few hundred calls after
            # the warm-up; a lost block per call or two never stops
            # growing, so growth must hold through a second, longer set.
            blocks += deltas(run, warmup=0, measured=2 * MEASURED)[1]
            leak = growing(blocks)
        leaks += leak
        print(f"{'LEAK' if leak else 'ok  '} {name:44s} refs {refs} blocks {blocks}")
    print(f"refleak: {len(cases)} entry points, {WARMUP} warm-up and {MEASURED} measured runs of {CALLS} calls each, "
          f"NumPy control {control}; {leaks} leaking")
    return 1 if leaks else 0


if __name__ == "__main__":
    sys.exit(main())
