"""The streaming post-training bias monitor."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvant as q
from state_cases import bitwise, snapshots as state
from support import SANITIZED, Reenter, assert_no_leak, raises_exactly
from test_model_bias import FACET, NAMES, PRED, TRUTH, assert_matches, post_training_reference

EMPTY = "Empty data vectors"
INVALID = "Metric cannot be computed with given data"
LENGTH = "Bias Error: DataLengthError"
RANGE = "argument '{}': value out of range for a signed 8-bit integer (-128..127)"
f32 = np.float32


def monitor():
    return q.PyModelBiasStreaming(FACET, PRED, TRUTH)


def bucket_ge(pred, truth):
    """The closed form from the benefit counts, in f32 (benefits 0, 1, 2 give 9 / 9 * 5 - 3 = 2)."""
    pred, truth = np.asarray(pred) == 1, np.asarray(truth) == 1
    c0 = int((~pred & truth).sum())
    c1 = int((pred & truth).sum())
    c2 = len(pred) - c0 - c1
    n, s, sq = f32(c0 + c1 + c2), f32(c1 + 2 * c2), f32(c1 + 4 * c2)
    with np.errstate(all="ignore"):
        return float(n * n / (s * s) * sq - n)


def streaming_reference(facet, pred, truth):
    expected = post_training_reference(np.asarray(facet) == 1, np.asarray(pred) == 1, np.asarray(truth) == 1)
    expected["GeneralizedEntropy"] = bucket_ge(pred, truth)
    return expected


def test_signatures():
    M = q.PyModelBiasStreaming
    assert M.__text_signature__ == "(features, predictions, ground_truth)"
    assert {M.push.__text_signature__, M.push_batch.__text_signature__, M.reset_baseline.__text_signature__} == {
        "($self, feature, pred, gt)"}
    assert M.drift_report_partial_metrics.__text_signature__ == "($self, metrics, drift_threshold)"
    assert M.drift_report.__text_signature__ == "($self, drift_threshold)"


def test_generalized_entropy_buckets_match_the_batch_sum():
    rng = np.random.default_rng(3)
    n = 20_000
    facet, pred, truth = (rng.integers(0, 2, n) for _ in range(3))
    m = monitor()
    m.push_batch(facet, pred, truth)
    streamed = m.performance_snapshot()["GeneralizedEntropy"]
    batch = q.py_model_bias_analyzer(facet, truth, pred, 1, 1, 1)["GeneralizedEntropy"]
    assert streamed == bucket_ge(pred, truth)
    assert streamed == pytest.approx(batch, rel=1e-6)


def test_pushing_the_baseline_rows_gives_zero_drift():
    m = monitor()
    m.push_batch(FACET, PRED, TRUTH)
    assert_matches(m.performance_snapshot(), streaming_reference(FACET, PRED, TRUTH))
    drift = m.drift_snapshot()
    baseline = streaming_reference(FACET, PRED, TRUTH)
    for k in NAMES:
        if baseline[k] == 0.0:
            assert math.isnan(drift[k]), k  # 0 / 0, no epsilon
        else:
            assert drift[k] == 0.0, k


def test_relative_drift_without_epsilon():
    m = monitor()
    rows = ([1, 1, 1, 1, 0, 0, 0, 0, 1, 0], [1, 0, 1, 0, 1, 0, 1, 0, 0, 1], [1, 0, 0, 1, 1, 0, 0, 1, 1, 0])
    m.push_batch(*rows)
    base, cur = streaming_reference(FACET, PRED, TRUTH), streaming_reference(*rows)
    with np.errstate(all="ignore"):
        expected = {k: float(abs((f32(cur[k]) - f32(base[k])) / f32(base[k]))) for k in NAMES}
    assert state(m)[1] == bitwise(expected)
    zero_baseline = [k for k in NAMES if base[k] == 0.0 and cur[k] != 0.0]
    assert zero_baseline and all(expected[k] == math.inf for k in zero_baseline)
    report = m.drift_report(expected["DisparateImpact"])
    failed = {e["metric"]: e["drift"] for e in report["failed_report"]}
    assert failed == {k: v for k, v in expected.items() if v >= f32(expected["DisparateImpact"])}
    assert failed[zero_baseline[0]] == math.inf
    partial = m.drift_report_partial_metrics(["DisparateImpact"], expected["DisparateImpact"])
    assert partial["failed_report"] == [{"metric": "DisparateImpact", "drift": expected["DisparateImpact"]}]
    assert m.drift_report_partial_metrics([], 0.0) == {"passed": True}


@pytest.mark.parametrize(
    "rows, exc, message",
    [
        (([1, 1, 1], [1, 0, 1], [1, 0, 0]), ValueError, EMPTY),  # facet 0 has no rows
        (([1, 1, 0, 0, 1, 0], [1, 0, 1, 0, 1, 0], [1, 0, 1, 0, 1, 0]), TypeError, INVALID),  # exact predictions
        (([1, 0, 1], [1, 0], [1, 0, 1]), TypeError, LENGTH),
        (([], [], []), TypeError, LENGTH),
        (([1, 0], [1, 0], [1, 128]), OverflowError, RANGE.format("ground_truth")),
        (([1, 0], "10", [1, 0]), TypeError, "argument 'predictions': must be a sequence of int, not str"),
    ],
)
def test_constructor_errors(rows, exc, message):
    with raises_exactly(exc, message):
        q.PyModelBiasStreaming(*rows)


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda m: m.push(128, 1, 1), OverflowError, RANGE.format("feature")),
        (lambda m: m.push(1, 1, "1"), TypeError, "argument 'gt': must be int, not str"),
        (lambda m: m.push_batch([1, 0], [1, 0], [1]), TypeError, LENGTH),
        (lambda m: m.push_batch([], [1], [1]), TypeError, LENGTH),
        (lambda m: m.push_batch(np.array([1, 0]), np.array([1, 0]), np.array([1, 1000])), OverflowError,
         RANGE.format("gt")),
        (lambda m: m.push_batch(np.array([1, 0]), np.array([1, -200, 1]), np.array([1, 0])), OverflowError,
         RANGE.format("pred")),
        (lambda m: m.push_batch([1, 0], [1, 0], [1.0, 0.0]), TypeError, "argument 'gt': items must be int, not float"),
        (lambda m: m.reset_baseline([1, 1, 1], [1, 0, 1], [1, 0, 0]), ValueError, EMPTY),
        (lambda m: m.reset_baseline([1, 0], [1, 0, 1], [1, 0]), TypeError, LENGTH),
        (lambda m: m.drift_report_partial_metrics(["Speciality"], 0.1), ValueError,
         'Metrics: ["Speciality"] are not supported'),
    ],
)
def test_failed_calls_change_nothing(call, exc, message):
    m = monitor()
    m.push_batch(FACET, PRED, TRUTH)
    before = state(m)
    with raises_exactly(exc, message):
        call(m)
    assert state(m) == before


def test_reads_and_flush():
    m = monitor()
    for read in (m.performance_snapshot, m.drift_snapshot, lambda: m.drift_report(0.1)):
        with raises_exactly(ValueError, EMPTY):
            read()
    m.push(1, 1, 1)  # facet 0 empty
    with raises_exactly(ValueError, EMPTY):
        m.drift_report(0.1)
    m.push_batch(FACET, PRED, TRUTH)
    m.flush()
    with raises_exactly(ValueError, EMPTY):
        m.drift_report(0.1)
    m.push_batch(FACET, PRED, TRUTH)  # the baseline survived the flush
    assert_matches(m.performance_snapshot(), streaming_reference(FACET, PRED, TRUTH))


def test_conflicting_borrow_raises_at_once():
    m = monitor()
    m.push_batch(FACET, PRED, TRUTH)
    before = state(m)
    with raises_exactly(RuntimeError, "Already mutably borrowed"):
        m.push(1, Reenter(m.performance_snapshot), 1)
    assert state(m) == before


rows = st.lists(st.tuples(*[st.sampled_from([0, 1, 1, 2, -3])] * 3), min_size=1, max_size=200)


@settings(max_examples=25 if SANITIZED else 150, deadline=None)
@given(rows, st.integers(1, 40), st.sampled_from([list, tuple, np.int8, np.int32, np.int64]))
def test_singly_in_batches_or_analyzed_agree(data, batch, kind):
    f, p, g = (list(x) for x in zip(*data))
    singly, batched = monitor(), monitor()
    for row in data:
        singly.push(*row)
    for i in range(0, len(f), batch):
        chunk = [x[i:i + batch] for x in (f, p, g)]
        batched.push_batch(*[kind(c) if kind in (list, tuple) else np.array(c, dtype=kind) for c in chunk])
    assert state(singly) == state(batched)
    try:
        expected = streaming_reference(f, p, g)
    except Exception:  # a guard fails: the monitor says so too
        return
    assert_matches(singly.performance_snapshot(), expected)
    assert singly.performance_snapshot()["GeneralizedEntropy"] == expected["GeneralizedEntropy"]
    facet, pred, truth = ((np.array(x) == 1).astype(np.int8) for x in (f, p, g))
    analyzed = q.py_model_bias_analyzer(facet, truth, pred, 1, 1, 1)
    analyzed.pop("GeneralizedEntropy")
    assert all(repr(analyzed[k]) == repr(expected[k]) for k in analyzed)


def test_counts_are_exact_past_two_to_the_24():
    m = monitor()
    big = 2**24 + 1
    m.push_batch(np.ones(big, dtype=np.int8), np.zeros(big, dtype=np.int8), np.zeros(big, dtype=np.int8))
    m.push_batch(FACET, PRED, TRUTH)
    facet = np.concatenate([np.ones(big, np.int8), FACET])
    pred = np.concatenate([np.zeros(big, np.int8), PRED])
    truth = np.concatenate([np.zeros(big, np.int8), TRUTH])
    assert_matches(m.performance_snapshot(), streaming_reference(facet, pred, truth))


def test_constant_memory_and_no_leaks():
    m = monitor()
    batch = [np.array(x * 8, dtype=np.int64) for x in (FACET, PRED, TRUTH)]
    assert_no_leak(m.push_batch, *batch)
    assert_no_leak(m.push_batch, FACET * 8, PRED * 8, TRUTH * 8)
    assert_no_leak(m.push, 1, 0, 1)
    assert_no_leak(m.drift_report, 0.1)
    assert_no_leak(m.push_batch, [1, 0], [1, 0], [1, None])
    assert_no_leak(q.PyModelBiasStreaming, [1, 1], [1, 0], [1, 0])
    assert_no_leak(q.PyModelBiasStreaming, FACET, PRED, TRUTH)
