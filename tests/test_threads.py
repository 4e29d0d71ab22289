"""Eight threads on one object: every call gives a correct result or the borrow guard's RuntimeError, and the
object then equals a serial one given the calls that succeeded (mutations repeat one batch, so the interleaving
does not matter). Eight threads on eight objects give exactly the results of one thread. Inputs are past the size
from which the GIL may be let go."""

from __future__ import annotations

import numpy as np
import pytest

import quorvant as q
from support import SANITIZED
from test_gil_threads import run_threads
from test_stateful import canonical, read

THREADS = 8
ROUNDS = 3 if SANITIZED else 12
N = 100_000
BORROW = {"Already borrowed", "Already mutably borrowed"}

rng = np.random.default_rng(20)
INTS = rng.integers(-1, 3, N)
BITS = rng.integers(0, 2, N)
SCORES = rng.random(N)
TRUTHS = rng.integers(0, 2, N).astype(np.float64)
REG_T = rng.integers(0, 40, N).astype(np.float32)
REG_P = (REG_T + rng.integers(-2, 3, N)).astype(np.float32)
VALUES = rng.normal(size=N)
BASE_VALUES = rng.normal(size=2000)
LABELS = [("a", "b", "c", "d", "zz")[i] for i in rng.integers(0, 5, N)]
BASE_LABELS = ["a", "b", "b", "c", "d"]
DRIFT = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


class Case:
    """One class: how to build it, its batch mutation, its reads and some
    calls that must fail with a ValueError or TypeError."""

    def __init__(self, name, make, mutate, reads, failing):
        self.name, self.make, self.mutate, self.reads, self.failing = name, make, mutate, reads, failing

    def state(self, obj):
        return canonical([read(r, obj) for r in self.reads])


def perf_reads(names):
    return [lambda o: o.performance_snapshot(), lambda o: o.drift_snapshot(), lambda o: o.drift_report(0.1),
            lambda o: o.drift_report_partial_metrics(names, 0.05)]


CASES = [
    Case("classification", lambda: q.PyBinaryClassificationStreaming(BITS[:500], INTS[:500]),
         lambda o: o.push_batch(BITS, INTS), perf_reads(["Accuracy", "F1Score"]),
         [lambda o: o.push_batch(BITS, INTS[:-1]), lambda o: o.push(1, "x"),
          lambda o: o.drift_report_partial_metrics(["LogLoss"], 0.1)]),
    Case("linear", lambda: q.PyLinearRegressionStreaming(REG_T[:500], REG_P[:500]),
         lambda o: o.push_batch(REG_T, REG_P), perf_reads(["RSquared", "MaxError"]),
         [lambda o: o.push_batch(REG_T, REG_P[:-1]), lambda o: o.push_batch([], []),
          lambda o: o.drift_report_partial_metrics(["Nope"], 0.1)]),
    Case("logistic", lambda: q.PyLogisticRegressionStreaming(TRUTHS[:500], SCORES[:500], 0.5),
         lambda o: o.push_batch(TRUTHS, SCORES), perf_reads(["LogLoss", "Accuracy"]),
         [lambda o: o.push_batch(TRUTHS[:-1], SCORES), lambda o: o.reset_baseline_and_decision_threshold(
             TRUTHS, SCORES[:-1], 0.7), lambda o: o.push(None, 0.5)]),
    Case("data bias", lambda: q.PyDataBiasStreaming(BITS[:500], INTS[:500]),
         lambda o: o.push_batch(BITS, INTS), perf_reads(["ClassImbalance", "LpNorm"]),
         [lambda o: o.push_batch(BITS, INTS[:-1]), lambda o: o.reset_baseline(np.zeros(10, int), INTS[:10]),
          lambda o: o.drift_report(None)]),
    Case("model bias", lambda: q.PyModelBiasStreaming(BITS[:500], BITS[500:1000], BITS[1000:1500]),
         lambda o: o.push_batch(BITS, INTS, BITS[::-1].copy()), perf_reads(["DisparateImpact"]),
         [lambda o: o.push_batch(BITS, INTS, BITS[:-1]), lambda o: o.drift_report_partial_metrics(["x"], 0.1)]),
    Case("continuous decay", lambda: q.PyStreamingContinuousDataDriftDecay(BASE_VALUES, None, None),
         lambda o: o.update_stream_batch(VALUES), [lambda o: o.export_snapshot(), lambda o: o.total_samples],
         [lambda o: o.compute_drift("Nope"), lambda o: o.update_stream_batch(VALUES[::2]),
          lambda o: o.reset_baseline(VALUES[:1])]),
    Case("continuous flush", lambda: q.PyStreamingContinuousDataDriftFlush(BASE_VALUES, None, None, None),
         lambda o: o.update_stream_batch(VALUES),
         [lambda o: o.export_snapshot(), lambda o: o.compute_drift_multiple_criteria(DRIFT)],
         [lambda o: o.compute_drift_multiple_criteria(["JensenShannon", "x"]),
          lambda o: o.update_stream_batch(VALUES.astype(np.float32))]),
    Case("categorical decay", lambda: q.PyStreamingCategoricalDataDriftDecay(BASE_LABELS, None),
         lambda o: o.update_stream_batch(LABELS), [lambda o: o.export_snapshot(), lambda o: o.total_samples],
         [lambda o: o.update_stream_batch(LABELS[:10] + [3]), lambda o: o.reset_baseline([])]),
    Case("categorical flush", lambda: q.PyStreamingCategoricalDataDriftFlush(BASE_LABELS, None, None),
         lambda o: o.update_stream_batch(LABELS),
         [lambda o: o.export_snapshot(), lambda o: o.compute_drift_multiple_criteria(DRIFT)],
         [lambda o: o.update_stream(3), lambda o: o.compute_drift("")]),
    # Batch detectors: every score call uses and clears the runtime bins.
    Case("continuous batch", lambda: q.PyContinuousDataDrift(BASE_VALUES, None),
         lambda o: o.compute_drift_mutliple_criteria(VALUES, DRIFT), [lambda o: o.num_bins],
         [lambda o: o.compute_drift(VALUES, "x"), lambda o: o.compute_drift(VALUES[:0], "JensenShannon")]),
    Case("categorical batch", lambda: q.PyCategoricalDataDrift(BASE_LABELS),
         lambda o: o.compute_drift_mutliple_criteria(LABELS, DRIFT), [lambda o: o.export_baseline()],
         [lambda o: o.compute_drift(LABELS, "x"), lambda o: o.reset_baseline([])]),
]


def borrow_conflict(exc: BaseException) -> bool:
    return isinstance(exc, RuntimeError) and str(exc) in BORROW


@pytest.mark.parametrize("case", CASES, ids=lambda c: c.name)
def test_one_object_hammered_from_eight_threads(case):
    obj = case.make()
    serial = case.make()
    mutation_result = read(case.mutate, serial)  # what each successful mutation returns first
    mutated = [0] * THREADS
    results: list[object] = []

    def body(i):
        for r in range(ROUNDS):
            calls = [case.mutate] + case.reads + case.failing
            fn = calls[(i + r) % len(calls)]
            try:
                out = fn(obj)
            except (ValueError, TypeError) as exc:
                assert fn in case.failing or fn in case.reads, f"{case.name}: unexpected {exc!r}"
                continue
            except RuntimeError as exc:
                assert borrow_conflict(exc), f"{case.name}: {exc!r}"
                continue
            assert fn not in case.failing, f"{case.name}: a failing call succeeded"
            if fn is case.mutate:
                mutated[i] += 1
                results.append(canonical(out))

    failures = [r for r in run_threads([lambda i=i: body(i) for i in range(THREADS)]) if r is not None]
    assert not failures, failures
    successes = sum(mutated)
    for _ in range(successes - 1):
        case.mutate(serial)
    if successes == 0:
        serial = case.make()
    assert case.state(obj) == case.state(serial)
    # Batch detectors return scores: each equals the serial call's.
    assert all(r == canonical(mutation_result) for r in results)


def drift_sequence(make):
    """A sequence of every kind of call on a fresh detector, with its results."""
    def go():
        d = make()
        out = []
        for k in range(3):
            out.append(read(d.update_stream_batch, VALUES[k * 1000:] if not isinstance(d, CAT) else LABELS[k:]))
            out.append(read(d.compute_drift_multiple_criteria, DRIFT))
            out.append(read(d.update_stream, 0.5 if not isinstance(d, CAT) else "a"))
            out.append(read(d.compute_drift, "Nope"))
            out.append(read(d.export_snapshot))
            if hasattr(d, "flush") and k == 1:
                d.flush()
            if k == 2:
                out.append(read(d.reset_baseline, VALUES[:5000] if not isinstance(d, CAT) else LABELS[:5000]))
                out.append(read(d.export_baseline))
        return canonical(out)
    return go


CAT = (q.PyStreamingCategoricalDataDriftDecay, q.PyStreamingCategoricalDataDriftFlush)


def perf_sequence(make, t, p):
    def go():
        m = make()
        out = []
        for k in range(3):
            out.append(read(m.push_batch, t[k:], p[k:]))
            out.append(read(m.performance_snapshot))
            out.append(read(m.push_batch, t, p[:-1]))
            out.append(read(m.drift_report, 0.05))
            if k == 1:
                m.flush()
            if k == 2:
                out.append(read(m.reset_baseline, t[:7000], p[:7000]))
                out.append(read(m.drift_snapshot))
        return canonical(out)
    return go


SEQUENCES = {
    "classification": perf_sequence(lambda: q.PyBinaryClassificationStreaming(BITS[:50], INTS[:50]), BITS, INTS),
    "linear": perf_sequence(lambda: q.PyLinearRegressionStreaming(REG_T[:50], REG_P[:50]), REG_T, REG_P),
    "logistic": perf_sequence(lambda: q.PyLogisticRegressionStreaming(TRUTHS[:50], SCORES[:50], 0.5),
                              TRUTHS, SCORES),
    "data bias": perf_sequence(lambda: q.PyDataBiasStreaming(BITS[:50], INTS[:50]), BITS, INTS),
    "continuous decay": drift_sequence(lambda: q.PyStreamingContinuousDataDriftDecay(BASE_VALUES, "Scott", 3)),
    "continuous flush": drift_sequence(lambda: q.PyStreamingContinuousDataDriftFlush(BASE_VALUES, None, 150_000,
                                                                                       None)),
    "categorical decay": drift_sequence(lambda: q.PyStreamingCategoricalDataDriftDecay(BASE_LABELS, 5)),
    "categorical flush": drift_sequence(lambda: q.PyStreamingCategoricalDataDriftFlush(BASE_LABELS, 150_000,
                                                                                         None)),
}


@pytest.mark.parametrize("name", list(SEQUENCES))
def test_eight_threads_on_eight_objects_match_one_thread(name):
    go = SEQUENCES[name]
    want = go()
    assert run_threads([go] * THREADS) == [want] * THREADS
