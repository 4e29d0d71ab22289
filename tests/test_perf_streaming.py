"""Streaming performance monitors: equal to the batch functions on the same
rows, independent of how the stream is split, and unchanged by failed calls."""

from __future__ import annotations

import inspect
import json
import math
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvant as q
from state_cases import bitwise, snapshots as state
from support import SANITIZED, Reenter, assert_no_leak, child_env, raises_exactly

Classification = q.PyBinaryClassificationStreaming
Linear = q.PyLinearRegressionStreaming
Logistic = q.PyLogisticRegressionStreaming
F32 = np.float32
EMPTY = "Empty data vectors"
LENGTHS = "Data vectors must be equal length"
CANNOT = "Metric cannot be computed with given data"
BELOW_ONE = float(np.nextafter(F32(1), F32(0)))


def same(a, b) -> bool:
    return bitwise(a) == bitwise(b)


# -- equal to the batch functions, whatever the split ------------------------

@st.composite
def streams(draw, kind):
    n = draw(st.integers(1, 40))
    if kind == "classification":
        values = st.sampled_from([0, 1, 1, 2, -1])
    elif kind == "logistic":
        values = st.one_of(st.sampled_from([0.0, 1.0, 1.0]), st.floats(0, 1, width=32))
    else:
        values = st.floats(-0.5, 50, width=32)
    t = draw(st.lists(values if kind != "logistic" else st.sampled_from([0.0, 1.0]), min_size=n, max_size=n))
    p = draw(st.lists(values, min_size=n, max_size=n))
    cuts = sorted(draw(st.lists(st.integers(0, n), max_size=6)))
    forms = draw(st.lists(st.sampled_from(["list", "tuple", "numpy", "push"]), min_size=len(cuts) + 1,
                          max_size=len(cuts) + 1))
    return t, p, cuts, forms


def feed(monitor, t, p, cuts, forms, dtype):
    bounds = [0, *cuts, len(t)]
    for (lo, hi), form in zip(zip(bounds, bounds[1:]), forms):
        if form == "push":
            for a, b in zip(t[lo:hi], p[lo:hi]):
                monitor.push(a, b)
        elif hi > lo or isinstance(monitor, Classification):
            convert = {"list": list, "tuple": tuple, "numpy": lambda v: np.array(v, dtype=dtype)}[form]
            monitor.push_batch(convert(t[lo:hi]), convert(p[lo:hi]))


@settings(max_examples=40 if SANITIZED else 150, deadline=None)
@given(streams("classification"))
def test_classification_split_and_batch_equality(stream):
    t, p, cuts, forms = stream
    monitor = Classification([1, 0, 1, 1], [1, 0, 0, 1])
    feed(monitor, t, p, cuts, forms, np.int64)
    want = q.py_model_perf_classification(np.array(t), np.array(p))
    assert same(monitor.performance_snapshot(), want)
    baseline = q.py_model_perf_classification(np.array([1, 0, 1, 1]), np.array([1, 0, 0, 1]))
    drift = monitor.drift_snapshot()
    assert all(drift[k] == F32(baseline[k]) - F32(want[k]) or math.isnan(drift[k]) for k in drift)


@settings(max_examples=40 if SANITIZED else 150, deadline=None)
@given(streams("logistic"))
def test_logistic_split_and_batch_equality(stream):
    t, p, cuts, forms = stream
    monitor = Logistic([1.0, 0.0, 1.0], [0.8, 0.3, 0.4], 0.5)
    feed(monitor, t, p, cuts, forms, np.float64)
    whole = Logistic([1.0, 0.0, 1.0], [0.8, 0.3, 0.4], 0.5)
    whole.push_batch(t, p)
    assert same(monitor.performance_snapshot(), whole.performance_snapshot())
    # With truths of 0 and 1 the batch function classifies them the same way.
    assert same(monitor.performance_snapshot(), q.py_model_perf_logistic_regression(np.array(t), np.array(p), 0.5))


@settings(max_examples=40 if SANITIZED else 150, deadline=None)
@given(streams("linear"))
def test_linear_split_and_batch_equality(stream):
    t, p, cuts, forms = stream
    monitor = Linear([1.0, 2.0, 3.0], [1.0, 2.5, 2.0])
    feed(monitor, t, p, cuts, forms, np.float32)
    got = monitor.performance_snapshot()
    want = q.py_model_perf_linear_regression(np.array(t, dtype=F32), np.array(p, dtype=F32))
    # The monitor takes the roots in f32 of the rounded means.
    for root, mean in [("RootMeanSquaredError", "MeanSquaredError"), ("RootMeanSquaredLogError", "MeanSquaredLogError")]:
        want.pop(root)
        assert same(got.pop(root), float(np.sqrt(F32(want[mean]))))
    assert same(got, want)


def test_sequence_kinds_are_read_alike():
    values = [0.25, 1, 2.5, 7, -3]
    kinds = [values, tuple(values), np.array(values), np.array(values, dtype=F32), np.array(values)[::-1][::-1],
             np.array(values, dtype=object)]
    snapshots = []
    for kind in kinds:
        m = Linear(kind, values)
        m.push_batch(values, kind)
        snapshots.append(m.performance_snapshot())
    assert all(same(s, snapshots[0]) for s in snapshots)
    ints = [1, 0, 1, 2**31 - 1, -(2**31)]
    for kind in [ints, tuple(ints), np.array(ints), np.array(ints, dtype=np.int32), np.array(ints, dtype=object),
                 [np.int64(v) for v in ints]]:
        m = Classification(kind, ints)
        m.push_batch(kind, ints)
        assert same(m.performance_snapshot(), q.py_model_perf_classification(np.array(ints), np.array(ints)))


# -- worked cases -------------------------------------------------------------

def test_linear_worked_example():
    m = Linear([1, 2, 3], [1, 2, 3])
    m.push(1.0, 2.0)
    got = m.performance_snapshot()
    for k in ["RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "MaxError", "MeanAbsolutePercentageError"]:
        assert got[k] == 1.0
    assert got["RSquared"] == 0.0
    assert math.isclose(got["MeanSquaredLogError"], 0.1644, rel_tol=1e-3)
    assert math.isclose(got["RootMeanSquaredLogError"], 0.4055, rel_tol=1e-3)
    report = m.drift_report(0.5)
    assert not report["passed"]
    assert {e["metric"]: e["drift"] for e in report["failed_report"]} == dict.fromkeys(
        ["RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "RSquared", "MaxError",
         "MeanAbsolutePercentageError"], 1.0)
    # A threshold of 0 fails every metric whose drift is a number, unchanged ones included.
    assert len(m.drift_report(0.0)["failed_report"]) == 8
    # A reset keeps the pairs: they are now compared with the new baseline.
    m.reset_baseline([1.0, 2.0], [2.0, 3.0])  # RSquared -3, the rest close to the pushed pair
    assert m.drift_report(0.5)["failed_report"] == [{"metric": "RSquared", "drift": 3.0}]
    assert m.drift_report_partial_metrics([], 0.0) == {"passed": True}


def test_classification_resets_and_empty_batches():
    m = Classification([1, 0, 1, 0], [1, 0, 0, 0])
    with raises_exactly(ValueError, EMPTY):
        m.performance_snapshot()
    assert m.push_batch([], []) is None
    with raises_exactly(ValueError, EMPTY):
        m.drift_report(0.1)
    m.push(1, 1)
    m.push(0, 1)
    assert m.performance_snapshot()["PrecisionPositive"] == 0.5
    m.reset_baseline([], [])  # accepted: a baseline of NaN, counts emptied
    with raises_exactly(ValueError, EMPTY):
        m.drift_snapshot()
    m.push(1, 1)
    assert all(math.isnan(v) for v in m.drift_snapshot().values())
    assert m.drift_report(-1.0) == {"passed": True}  # NaN never fails
    with raises_exactly(ValueError, 'Metrics: ["LogLoss"] are not supported'):
        m.drift_report_partial_metrics(["LogLoss"], 0.1)


def test_logistic_drift_directions_and_truth_rule():
    m = Logistic([1.0, 0.0, 1.0, 0.0], [0.6, 0.4, 0.6, 0.4], 0.5)
    m.push_batch([1.0, 0.0], [0.95, 0.05])  # a better log loss than the baseline
    failed = {e["metric"] for e in m.drift_report_partial_metrics(["LogLoss"], 0.1).get("failed_report", [])}
    assert failed == {"LogLoss"}
    m.flush()
    m.push_batch([1.0, 0.0], [0.55, 0.45])  # worse: a negative drift never fails
    assert m.drift_report_partial_metrics(["LogLoss"], 0.01) == {"passed": True}
    # A truth of 0.7 is negative here (the batch function would threshold it).
    m.flush()
    m.push(0.7, 0.9)
    snap = m.performance_snapshot()
    assert snap["PrecisionPositive"] == 0.0 and math.isnan(snap["RecallPositive"])
    assert math.isclose(snap["LogLoss"], -(0.7 * math.log(0.9) + 0.3 * math.log(0.1)), rel_tol=1e-6)


@pytest.mark.parametrize("truth, score, loss", [(1.0, 1.0, -math.log(BELOW_ONE)), (0.0, 1.0, -math.log(1 - BELOW_ONE)),
                                                (0.0, 2.0, -math.log(1 - BELOW_ONE)), (1.0, 0.5, math.log(2))])
def test_logistic_scores_of_one_stay_finite(truth, score, loss):
    m = Logistic([truth, 1.0 - truth], [score, 1.0 - score], 0.5)  # a baseline of perfect or clamped scores
    m.push(truth, score)
    m.push_batch(np.array([truth]), np.array([score]))
    assert math.isclose(m.performance_snapshot()["LogLoss"], loss, rel_tol=1e-5)
    assert math.isfinite(m.drift_snapshot()["LogLoss"])  # so is the baseline


def test_counts_stay_exact_past_2_to_the_24():
    # Float counters would stop at 2**24; 17 batches of 2**20 rows cross it.
    n, rounds = (2**20, 17) if not SANITIZED else (2**16, 1)
    t = np.ones(n, dtype=np.int8)
    p = np.ones(n, dtype=np.int8)
    p[:3] = 0
    c = Classification([1, 0], [1, 0])
    lg = Logistic([1.0, 0.0], [0.9, 0.1], 0.5)
    for _ in range(rounds):
        c.push_batch(t, p)
        lg.push_batch(t, p)
    tp, fn = rounds * (n - 3), rounds * 3
    recall = float(F32(tp) / F32(tp + fn))
    assert c.performance_snapshot()["RecallPositive"] == recall
    assert lg.performance_snapshot()["RecallPositive"] == recall


# -- failures change nothing --------------------------------------------------

def monitors():
    return {
        "classification": Classification([1, 0, 1], [1, 1, 0]),
        "linear": Linear([1.0, 2.0], [1.5, 2.0]),
        "logistic": Logistic([1.0, 0.0], [0.7, 0.2], 0.5),
    }


BAD_CALLS = [
    # (monitors, method, args, exception, message)
    ("all", "push_batch", ([1, 0], [1]), ValueError, LENGTHS),
    ("all", "push_batch", ("10", "01"), TypeError, None),
    ("all", "push_batch", (5, [1]), TypeError, None),
    ("all", "push_batch", ([1, None], [1, 0]), TypeError, None),
    ("all", "reset_baseline", ([1, 0], [1]), ValueError, LENGTHS),
    ("all", "drift_report", (None,), TypeError, "argument 'drift_threshold': must be real number, not None"),
    ("all", "drift_report_partial_metrics", ("Accuracy", 0.1), TypeError, None),
    ("all", "drift_report_partial_metrics", (["Bogus"], 0.1), ValueError, None),
    ("all", "push", (1,), TypeError, None),
    ("classification", "push_batch", ([1.0, 0.0], [1, 0]), TypeError, "argument 'y_true': items must be int, not float"),
    ("classification", "push_batch", ([1, 2**31], [1, 0]), OverflowError, None),
    ("classification", "push_batch", (np.array([1, 2**40]), [1, 0]), OverflowError, None),
    ("classification", "push_batch", ([1, 0], np.array([1.0, 0.0])), TypeError, None),
    ("classification", "push", (1, 2**31), OverflowError, None),
    ("classification", "push", (1.0, 1), TypeError, "argument 'y_true': must be int, not float"),
    ("linear", "push_batch", ([], []), ValueError, EMPTY),
    ("linear", "reset_baseline", ([], []), ValueError, EMPTY),
    ("linear", "push", ("a", 1.0), TypeError, "argument 't': must be real number, not str"),
    ("logistic", "push_batch", ([], []), ValueError, EMPTY),
    ("logistic", "reset_baseline", ([], []), TypeError, CANNOT),
    ("logistic", "reset_baseline", ([1.0], [float("nan")]), TypeError, CANNOT),
    ("logistic", "reset_baseline_and_decision_threshold", ([1.0, 0.0], [0.2], 0.9), ValueError, LENGTHS),
    ("logistic", "reset_baseline_and_decision_threshold", ([], [], 0.9), TypeError, CANNOT),
    ("logistic", "push", (1.0, "x"), TypeError, "argument 'y_pred': must be real number, not str"),
]


@pytest.mark.parametrize("which, method, args, exc, msg", BAD_CALLS)
def test_failed_calls_change_nothing(which, method, args, exc, msg):
    for name, m in monitors().items():
        if which not in ("all", name):
            continue
        m.push_batch([1, 0, 1], [1, 1, 0])
        before = state(m)
        with pytest.raises(exc) as info:
            getattr(m, method)(*args)
        if msg is not None:
            assert str(info.value) == msg
        assert state(m) == before
        assert_no_leak(getattr(m, method), *args, rounds=100)


def test_a_failed_threshold_reset_keeps_the_old_threshold():
    m = Logistic([1.0, 0.0], [0.7, 0.2], 0.5)
    with raises_exactly(ValueError, LENGTHS):
        m.reset_baseline_and_decision_threshold([1.0], [0.6, 0.1], 0.9)
    m.push(1.0, 0.6)  # positive at 0.5, negative at 0.9
    assert m.performance_snapshot()["RecallPositive"] == 1.0
    m.reset_baseline_and_decision_threshold([1.0, 0.0], [0.95, 0.2], 0.9)
    m.flush()
    m.push(1.0, 0.6)
    assert m.performance_snapshot()["RecallPositive"] == 0.0


def test_construction_errors():
    cases = [
        (Classification, ([1, 0], [1]), ValueError, LENGTHS),
        (Classification, ([], []), ValueError, EMPTY),
        (Linear, ([], []), ValueError, EMPTY),
        (Linear, ([1.0], [1.0, 2.0]), ValueError, LENGTHS),
        (Logistic, ([], [], 0.5), TypeError, CANNOT),
        (Logistic, ([1.0], [float("nan")], 0.5), TypeError, CANNOT),
        (Logistic, ([1.0], [0.5]), TypeError, None),
        (Logistic, ([1.0], [0.5], None), TypeError, "argument 'threshold': must be real number, not None"),
        (Classification, ("10", [1, 0]), TypeError, "argument 'y_true': must be a sequence of int, not str"),
        (Linear, ([1.0], {1.0}), TypeError, "argument 'y_pred': must be a sequence of real numbers, not set"),
    ]
    for cls, args, exc, msg in cases:
        with pytest.raises(exc) as info:
            cls(*args)
        if msg is not None:
            assert str(info.value) == msg
        assert_no_leak(cls, *args, rounds=100)


def test_a_conflicting_borrow_fails_at_once():
    m = Logistic([1.0, 0.0], [0.7, 0.2], 0.5)
    with raises_exactly(RuntimeError, "Already borrowed"):  # the inner push needs the object the outer one changes
        m.push_batch([1.0, Reenter(lambda: m.push(1.0, 1.0), 0.5)], [0.5, 0.5])
    with raises_exactly(ValueError, EMPTY):
        m.performance_snapshot()


def test_signatures():
    for cls, sig in [(Classification, "(y_true, y_pred)"), (Linear, "(y_true, y_pred)"),
                     (Logistic, "(y_true, y_pred, threshold)")]:
        assert str(inspect.signature(cls)) == sig
        assert str(inspect.signature(cls.drift_report_partial_metrics)) == "(self, /, metrics, drift_threshold)"
    assert str(inspect.signature(Linear.push)) == "(self, /, t, p)"
    assert str(inspect.signature(Logistic.push)) == "(self, /, y_true, y_pred)"


def test_no_leaks_while_streaming():
    m = Logistic([1.0, 0.0], [0.7, 0.2], 0.5)
    assert_no_leak(m.push, 1.0, 0.7)
    assert_no_leak(m.push_batch, [1.0, 0.0] * 50, np.linspace(0, 1, 100))
    assert_no_leak(m.drift_report, 0.1)


def test_an_invalid_epsilon_refuses_the_logistic_monitor():
    script = ("import json, quorvant as q\n"
              "try:\n    q.PyLogisticRegressionStreaming([1.0], [0.5], 0.5); print(json.dumps('built'))\n"
              "except Exception as e:\n    print(json.dumps([type(e).__name__, str(e)]))\n"
              "q.PyLinearRegressionStreaming([1.0], [0.5]); q.PyBinaryClassificationStreaming([1], [1])\n")
    for eps, want in [("0.6", ["TypeError", CANNOT]), ("nan", ["TypeError", CANNOT]), ("0.5", "built")]:
        env = child_env(QUORVANT_STABILITY_EPS=eps)
        out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
        assert json.loads(out.stdout) == want
