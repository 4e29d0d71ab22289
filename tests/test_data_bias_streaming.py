"""The streaming pre-training bias monitor."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvant as q
from state_cases import snapshots as state
from support import SANITIZED, Reenter, assert_no_leak, raises_exactly
from test_data_bias import NAMES, counts_of, pre_training_reference, same

EMPTY = "Empty data vectors"
LENGTH = "Bias Error: DataLengthError"
NO_FACET = "Bias Error: NoFacetDeviation"
RANGE = "argument '{}': value out of range for a signed 8-bit integer (-128..127)"
F, G = [1, 0, 1, 0, 1, 0, 0], [1, 1, 0, 0, 1, 0, 1]
f32 = np.float32


def monitor():
    return q.PyDataBiasStreaming(F, G)


def test_signatures():
    S = q.PyDataBiasStreaming
    assert S.__text_signature__ == "(feature_data, gt_data)"
    for names, sig in [("push push_batch reset_baseline", "($self, f, g)"),
                       ("flush drift_snapshot performance_snapshot", "($self)"),
                       ("drift_report", "($self, drift_threshold)"),
                       ("drift_report_partial_metrics", "($self, metrics, drift_threshold)")]:
        assert all(getattr(S, name).__text_signature__ == sig for name in names.split()), names


@pytest.mark.parametrize(
    "f, g, exc, message",
    [
        ([1, 1], [1, 0], TypeError, NO_FACET),
        ([1, 0, 1], [1, 0], TypeError, LENGTH),
        ([], [], TypeError, LENGTH),
        ([1, 0], [1, 200], OverflowError, RANGE.format("gt_data")),
        ([1, 0.5], [1, 0], TypeError, "argument 'feature_data': items must be int, not float"),
        ("10", [1, 0], TypeError, "argument 'feature_data': must be a sequence of int, not str"),
        ([1, 0], {1, 0}, TypeError, "argument 'gt_data': must be a sequence of int, not set"),
        (np.array([1.0, 0.0]), [1, 0], TypeError, "argument 'feature_data': items must be int, not numpy.float64"),
        pytest.param(
            np.array([True, False]), [1, 0], TypeError, "argument 'feature_data': items must be int, not numpy.bool",
            marks=pytest.mark.skipif(np.lib.NumpyVersion(np.__version__) < "2.0.0",
                                     reason="NumPy 1 bools still convert through __index__"),
        ),
    ],
)
def test_constructor_errors(f, g, exc, message):
    with raises_exactly(exc, message):
        q.PyDataBiasStreaming(f, g)


@pytest.mark.parametrize("read", ["performance_snapshot", "drift_snapshot", "drift_report", "partial"])
def test_reads_need_rows_in_both_facets(read):
    m = monitor()
    call = {"drift_report": lambda: m.drift_report(0.1),
            "partial": lambda: m.drift_report_partial_metrics(["LpNorm"], 0.1)}.get(read, getattr(m, read, None))
    with raises_exactly(ValueError, EMPTY):
        call()
    for _ in range(3):
        m.push(1, 1)
    with raises_exactly(TypeError, LENGTH):  # facet d is still empty
        call()
    m.push(2, 1)  # 2 is not 1: facet d
    call()
    m.flush()
    with raises_exactly(ValueError, EMPTY):
        call()


def test_relative_drift_and_inclusive_threshold():
    m = monitor()
    rows_f, rows_g = [1, 1, 0, 0, 0, -1], [1, 0, 1, 1, 0, 7]
    m.push_batch(rows_f, rows_g)
    base = pre_training_reference(counts_of(np.array(F) == 1, np.array(G) == 1))
    cur = pre_training_reference(counts_of(np.array(rows_f) == 1, np.array(rows_g) == 1))
    eps = f32(1e-12)
    expected = {k: float(abs(f32(cur[k]) - f32(base[k])) / max(abs(f32(base[k])), eps)) for k in NAMES}
    assert same(m.drift_snapshot(), expected)
    threshold = expected["LpNorm"]
    failed = {e["metric"]: e["drift"] for e in m.drift_report(threshold)["failed_report"]}
    assert failed == {k: v for k, v in expected.items() if v >= f32(threshold)}
    assert "LpNorm" in failed  # equal to the threshold fails
    partial = m.drift_report_partial_metrics(["LpNorm", "LpNorm", "ClassImbalance"], threshold)
    assert {e["metric"] for e in partial.get("failed_report", [])} <= {"LpNorm", "ClassImbalance"}
    assert m.drift_report_partial_metrics([], 0.0) == {"passed": True}
    assert m.drift_report(math.inf) == {"passed": True} and m.drift_report(math.nan) == {"passed": True}


def test_partial_metric_names_are_checked_first():
    m = monitor()  # no rows: names are parsed before anything is computed
    with raises_exactly(ValueError, 'Metrics: ["lpnorm", "Foo"] are not supported'):
        m.drift_report_partial_metrics(["lpnorm", "LpNorm", "Foo"], 0.1)
    with raises_exactly(TypeError, "argument 'metrics': must be a sequence of str, not str"):
        m.drift_report_partial_metrics("LpNorm", 0.1)
    with raises_exactly(TypeError, "argument 'drift_threshold': must be real number, not None"):
        m.drift_report(None)


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda m: m.push(200, 1), OverflowError, RANGE.format("f")),
        (lambda m: m.push(1, -129), OverflowError, RANGE.format("g")),
        (lambda m: m.push(1.0, 1), TypeError, "argument 'f': must be int, not float"),
        (lambda m: m.push_batch([1, 0], [1]), TypeError, LENGTH),
        (lambda m: m.push_batch([], []), TypeError, LENGTH),
        (lambda m: m.push_batch([1, 0], [1, None]), TypeError, "argument 'g': items must be int, not None"),
        (lambda m: m.push_batch(np.array([1, 300]), np.array([1, 0])), OverflowError, RANGE.format("f")),
        (lambda m: m.push_batch(np.array([1, 0]), np.array([1, 0, 1], dtype=np.int8)), TypeError, LENGTH),
        # a conversion error comes before the length error
        (lambda m: m.push_batch(np.array([1, 0]), np.array([1, 0, 999])), OverflowError, RANGE.format("g")),
        (lambda m: m.push_batch([1, 0], "10"), TypeError, "argument 'g': must be a sequence of int, not str"),
        (lambda m: m.reset_baseline([1, 1], [1, 0]), TypeError, NO_FACET),
        (lambda m: m.reset_baseline([1, 0], [1]), TypeError, LENGTH),
        (lambda m: m.flush(1), TypeError, "flush() takes no arguments (1 given)"),
    ],
)
def test_failed_calls_change_nothing(call, exc, message):
    m = monitor()
    m.push_batch([1, 0, 0, 1], [1, 1, 0, 0])
    before = state(m)
    with raises_exactly(exc, message):
        call(m)
    assert state(m) == before


def test_conflicting_borrow_raises_at_once():
    m = monitor()
    m.push_batch([1, 0], [1, 0])
    before = state(m)
    with raises_exactly(RuntimeError, "Already mutably borrowed"):  # a read inside a push
        m.push_batch([1, Reenter(m.drift_snapshot)], [1, 0])
    with raises_exactly(RuntimeError, "Already borrowed"):  # a push inside a read
        m.drift_report(Reenter(lambda: m.push(1, 1)))
    assert state(m) == before
    m.drift_report(Reenter(m.performance_snapshot))  # two reads may share


# ---- one by one, in batches, or all at once ------------------------------

rows = st.lists(st.tuples(st.integers(-128, 127) | st.sampled_from([0, 1]), st.sampled_from([0, 1, 2, -1])),
                min_size=1, max_size=200)


@settings(max_examples=25 if SANITIZED else 150, deadline=None)
@given(rows, st.integers(1, 50), st.sampled_from([list, np.int8, np.int16, np.int64, np.uint8]))
def test_singly_in_batches_or_analyzed_agree(data, batch, kind):
    if kind is np.uint8:
        data = [(abs(f) % 128, abs(g) % 128) for f, g in data]
    f, g = (list(x) for x in zip(*data))
    singly, batched = monitor(), monitor()
    for a, b in data:
        singly.push(a, b)
    for i in range(0, len(f), batch):
        chunk_f, chunk_g = f[i:i + batch], g[i:i + batch]
        if kind is not list:
            chunk_f, chunk_g = np.array(chunk_f, dtype=kind), np.array(chunk_g, dtype=kind)
        batched.push_batch(chunk_f, chunk_g)
    assert state(singly) == state(batched)
    facet, truth = (np.array(f) == 1).astype(np.int8), (np.array(g) == 1).astype(np.int8)
    if facet.all() or not facet.any():
        return
    analyzed = q.py_data_bias_analyzer(facet, truth, 1, 1)
    assert same(singly.performance_snapshot(), analyzed)


def test_counts_are_exact_past_two_to_the_24():
    n = 2**24 + 5
    f = np.zeros(n, dtype=np.int8)
    f[:3] = 1
    g = np.ones(n, dtype=np.int8)
    g[-1] = 0
    m = monitor()
    m.push_batch(f, g)
    m.push(0, 1)
    expected = pre_training_reference((3, 3, n - 3 - 1 + 1, n - 3 + 1))
    assert same(m.performance_snapshot(), expected)


def test_constant_memory_and_no_leaks():
    m = monitor()
    f = np.array([1, 0, 0, 1] * 64, dtype=np.int64)
    assert_no_leak(m.push_batch, f, f)
    assert_no_leak(m.push_batch, [1, 0, 0, 1] * 64, [1, 1, 0, 0] * 64)
    assert_no_leak(m.push, 1, 0)
    assert_no_leak(m.drift_report, 0.1)
    assert_no_leak(m.push_batch, [1, 0], [1, None])
    assert_no_leak(m.drift_report_partial_metrics, ["Foo"], 0.1)
    assert_no_leak(q.PyDataBiasStreaming, [1, 1], [1, 0])
    assert_no_leak(q.PyDataBiasStreaming, F, G)
