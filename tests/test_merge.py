"""Merging: any split of a stream, monitored by shard and merged, equals one pass (counts exactly, float sums up to
the additions that join them); refusals; merge_all; the Monitor."""

from __future__ import annotations

import copy
import math
import pickle
import struct

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import quorvant as q
from state_cases import CASES, STREAMING, bits, bitwise, labels, sample, values
from state_format import body_of, read, seal
from support import Reenter, raises_exactly

NAMES = ["north", "south", "east", "west"]

# A monitor of each streaming class (flush rates that never fire, so that
# shards and the whole stream see the same rule), and how rows reach it.
MAKE = {
    "PyDataBiasStreaming": lambda: q.PyDataBiasStreaming([1, 0, 1, 0, 1], [1, 1, 0, 0, 1]),
    "PyModelBiasStreaming": CASES["PyModelBiasStreaming"].make,
    "PyBinaryClassificationStreaming": lambda: q.PyBinaryClassificationStreaming([1, 0, 1, 0], [1, 0, 0, 0]),
    "PyLinearRegressionStreaming": lambda: q.PyLinearRegressionStreaming([1.0, 2.0, 4.0], [1.5, 2.0, 3.0]),
    "PyLogisticRegressionStreaming": lambda: q.PyLogisticRegressionStreaming([1.0, 0.0, 1.0], [0.8, 0.3, 0.4], 0.5),
    "PyStreamingContinuousDataDriftFlush": lambda: q.PyStreamingContinuousDataDriftFlush(values(200), None, None, None),
    "PyStreamingContinuousDataDriftDecay": lambda: q.PyStreamingContinuousDataDriftDecay(values(200), "Scott", 10),
    "PyStreamingCategoricalDataDriftFlush": lambda: q.PyStreamingCategoricalDataDriftFlush(NAMES, None, None),
    "PyStreamingCategoricalDataDriftDecay": lambda: q.PyStreamingCategoricalDataDriftDecay(NAMES * 2 + ["east"], 4),
}


def rows(name: str, rng: np.random.Generator, n: int) -> tuple:
    if name in ("PyDataBiasStreaming", "PyModelBiasStreaming", "PyBinaryClassificationStreaming"):
        width = {"PyDataBiasStreaming": 2, "PyModelBiasStreaming": 3}.get(name, 2)
        return tuple(rng.integers(-1, 3, n) for _ in range(width))
    if name == "PyLinearRegressionStreaming":
        return rng.normal(5, 3, n).astype(np.float32), rng.normal(5, 3, n).astype(np.float32)
    if name == "PyLogisticRegressionStreaming":
        return rng.choice([0.0, 1.0, 0.5], n), rng.random(n)
    if "Continuous" in name:
        return (rng.normal(12, 9, n),)
    return (list(rng.choice(NAMES + ["unseen"], n)),)


def feed(m, part: tuple) -> None:
    if len(part[0]) == 0:
        return
    if hasattr(m, "update_stream_batch"):
        m.update_stream_batch(part[0])
    else:
        m.push_batch(*part)


def cut(data: tuple, points: list[int]) -> list[tuple]:
    edges = [0, *points, len(data[0])]
    return [tuple(col[a:b] for col in data) for a, b in zip(edges, edges[1:])]


def tree_sum(parts: list[float], add) -> float:
    # The order merge_all joins its inputs: neighbours, level by level.
    level = list(parts)
    while len(level) > 1:
        nxt = [add(level[i], level[i + 1]) for i in range(0, len(level) - 1, 2)]
        if len(level) % 2:
            nxt.append(level[-1])
        level = nxt
    return level[0]


def close_metrics(a: dict, b: dict) -> bool:
    return all(math.isclose(a[k], b[k], rel_tol=1e-6, abs_tol=1e-9) or (math.isnan(a[k]) and math.isnan(b[k]))
               for k in a)


@pytest.mark.parametrize("name", STREAMING)
@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_any_split_merged_equals_one_pass(name, data):
    seed = data.draw(st.integers(0, 2**32 - 1), label="seed")
    n = data.draw(st.integers(0, 300), label="rows")
    k = data.draw(st.integers(1, 8), label="shards")
    points = sorted(data.draw(st.lists(st.integers(0, n), min_size=k - 1, max_size=k - 1), label="cuts"))
    stream = rows(name, np.random.default_rng(seed), n)
    whole = MAKE[name]()
    feed(whole, stream)
    shards = []
    for part in cut(stream, points):
        shards.append(MAKE[name]())
        feed(shards[-1], part)
    before = [s.to_state() for s in shards if not name.endswith("Flush")]
    merged = q.merge_all(shards)
    assert [s.to_state() for s in shards if not name.endswith("Flush")] == before  # inputs unchanged
    if name == "PyLinearRegressionStreaming":
        # Each sum is the shards' sums joined by one addition per merge.
        sums = [read(s.to_state())["sums"] for s in shards]
        expected = [tree_sum([s[i] for s in sums], max if i == 2 else float.__add__) for i in range(10)]
        assert bitwise(read(merged.to_state())["sums"]) == bitwise(expected)
        if n:
            assert close_metrics(merged.performance_snapshot(), whole.performance_snapshot())
        return
    if name == "PyLogisticRegressionStreaming":
        parts = [read(s.to_state()) for s in shards]
        got = read(merged.to_state())
        assert got["counts"] == read(whole.to_state())["counts"]
        assert bitwise(got["log_loss"]) == bitwise(tree_sum([p["log_loss"] for p in parts], float.__add__))
        single = read(whole.to_state())["log_loss"]
        assert math.isclose(got["log_loss"], single, rel_tol=1e-12, abs_tol=1e-12) or math.isnan(single)
        if n:
            assert close_metrics(merged.performance_snapshot(), whole.performance_snapshot())
        return
    # Counts (whole counts in the drift detectors too): exactly one pass.
    if name.endswith("Flush"):
        assert read(merged.to_state())["stream"]["weights"] == read(whole.to_state())["stream"]["weights"]
    else:
        assert merged.to_state() == whole.to_state()
    observe = CASES[name].observe
    assert bitwise(observe(merged)) == bitwise(observe(whole))


def test_decayed_weights_add_in_one_addition():
    a, b = MAKE["PyStreamingCategoricalDataDriftDecay"](), MAKE["PyStreamingCategoricalDataDriftDecay"]()
    a.update_stream_batch(labels(50, 1))
    b.update_stream_batch(labels(70, 2))
    a.compute_drift("JensenShannon")
    b.compute_drift("JensenShannon")
    b.compute_drift("JensenShannon")
    wa, wb = read(a.to_state())["stream"], read(b.to_state())["stream"]
    a.merge(b)
    got = read(a.to_state())["stream"]
    assert got["weights"] == [x + y for x, y in zip(wa["weights"], wb["weights"])]
    assert got["total"] == wa["total"] + wb["total"]


# ---- what a merge refuses, and what it leaves alone --------------------------

OTHER_BASELINE = {
    "PyDataBiasStreaming": lambda: q.PyDataBiasStreaming([1, 0, 1, 0], [1, 1, 0, 0]),
    "PyModelBiasStreaming": lambda: q.PyModelBiasStreaming(bits(90, 1, 0, 2), bits(90, 3, 1), bits(90, 5, 2)),
    "PyBinaryClassificationStreaming": lambda: q.PyBinaryClassificationStreaming([1, 0, 1, 0], [1, 1, 0, 0]),
    "PyLinearRegressionStreaming": lambda: q.PyLinearRegressionStreaming([1.0, 2.0, 4.0], [1.5, 2.0, 3.5]),
    "PyLogisticRegressionStreaming": lambda: q.PyLogisticRegressionStreaming([1.0, 0.0, 1.0], [0.8, 0.3, 0.6], 0.5),
    "PyStreamingContinuousDataDriftFlush": lambda: q.PyStreamingContinuousDataDriftFlush(values(201), None, None, None),
    "PyStreamingContinuousDataDriftDecay": lambda: q.PyStreamingContinuousDataDriftDecay(values(200), "Sturges", 10),
    "PyStreamingCategoricalDataDriftFlush": lambda: q.PyStreamingCategoricalDataDriftFlush(NAMES + ["x"], None, None),
    "PyStreamingCategoricalDataDriftDecay": lambda: q.PyStreamingCategoricalDataDriftDecay(NAMES, 4),
}

OTHER_SETTINGS = [
    ("PyLogisticRegressionStreaming", lambda: q.PyLogisticRegressionStreaming([1.0, 0.0, 1.0], [0.8, 0.3, 0.4], 0.45),
     "cannot merge: the decision thresholds differ (0.5 and 0.44999998807907104)"),
    ("PyStreamingContinuousDataDriftDecay", lambda: q.PyStreamingContinuousDataDriftDecay(values(200), "Scott", 11),
     "cannot merge: the decay factors differ (0.93303299153680741 and 0.93893091066170631)"),
    ("PyStreamingCategoricalDataDriftFlush", lambda: q.PyStreamingCategoricalDataDriftFlush(NAMES, 10, None),
     "cannot merge: the flush rates differ (1000000 and 10)"),
    ("PyStreamingCategoricalDataDriftFlush", lambda: q.PyStreamingCategoricalDataDriftFlush(NAMES, None, 60),
     "cannot merge: the flush cadences differ"),
]


def fed(name: str, make=None, k: int = 1):
    m = (make or MAKE[name])()
    feed(m, rows(name, np.random.default_rng(k), 40))
    return m


def unchanged(m, name: str):
    state = m.to_state()
    return lambda: (read(m.to_state()).get("stream", {}).get("weights") == read(state).get("stream", {}).get("weights")
                    if name.endswith("Flush") else m.to_state() == state)


@pytest.mark.parametrize("name", STREAMING)
def test_a_different_baseline_or_class_is_refused_and_changes_nothing(name):
    a = fed(name)
    same = unchanged(a, name)
    with raises_exactly(ValueError, "cannot merge: the baselines differ"):
        a.merge(fed(name, OTHER_BASELINE[name]))
    other_class = next(n for n in STREAMING if n != name)
    with raises_exactly(ValueError, f"cannot merge: other is a {other_class}, not a {name}"):
        a.merge(fed(other_class))
    with raises_exactly(ValueError, f"cannot merge: other is a int, not a {name}"):
        a.merge(3)
    assert same()


@pytest.mark.parametrize("name, make, message", OTHER_SETTINGS, ids=[m for _, _, m in OTHER_SETTINGS])
def test_different_settings_are_refused(name, make, message):
    a = fed(name)
    same = unchanged(a, name)
    with raises_exactly(ValueError, message):
        a.merge(fed(name, make))
    assert same()


def test_the_batch_detectors_do_not_merge():
    assert not hasattr(q.PyContinuousDataDrift, "merge") and not hasattr(q.PyCategoricalDataDrift, "merge")
    with raises_exactly(ValueError, "merge_all(): a PyCategoricalDataDrift cannot be merged (it accumulates nothing)"):
        q.merge_all([sample("PyCategoricalDataDrift")] * 2)


@pytest.mark.parametrize("name", STREAMING)
def test_merging_an_object_with_itself_doubles_what_it_holds(name):
    a = fed(name)
    b = copy.copy(a)
    a.merge(a)
    b.merge(copy.copy(b))
    assert bitwise(CASES[name].observe(a)) == bitwise(CASES[name].observe(b))


def test_counts_that_would_overflow_are_refused():
    m = q.PyDataBiasStreaming([1, 0], [1, 0])
    body = bytearray(body_of(m.to_state()))
    struct.pack_into("<4Q", body, 0, 0, 2**63, 0, 0)
    big = q.PyDataBiasStreaming.from_state(seal("PyDataBiasStreaming", bytes(body)))
    huge = copy.copy(big)
    with raises_exactly(ValueError, "cannot merge: a count would overflow 64 bits"):
        huge.merge(big)
    struct.pack_into("<4Q", body, 0, 0, 0, 0, 2**63)
    other = q.PyDataBiasStreaming.from_state(seal("PyDataBiasStreaming", bytes(body)))
    with raises_exactly(ValueError, "cannot merge: the row total would overflow 64 bits"):
        huge.merge(other)
    assert read(huge.to_state())["counts"] == [0, 2**63, 0, 0]


def test_a_borrowed_object_is_refused_with_the_borrow_error():
    a, b = fed("PyDataBiasStreaming"), fed("PyDataBiasStreaming", k=2)
    with raises_exactly(RuntimeError, "Already mutably borrowed"):  # b is being pushed to
        b.push_batch([1, Reenter(lambda: a.merge(b))], [1, 0])
    with raises_exactly(RuntimeError, "Already borrowed"):  # a is being read
        a.drift_report(Reenter(lambda: a.merge(b)))
    with raises_exactly(RuntimeError, "Already mutably borrowed"):
        b.push(Reenter(lambda: pickle.dumps(b)), 1)
    a.drift_report(Reenter(lambda: b.merge(a)))  # a read may share


# ---- flush mode --------------------------------------------------------------


def with_elapsed(m, seconds: float):
    body = bytearray(body_of(m.to_state()))
    struct.pack_into("<Q", body, len(body) - 8, int(seconds * 1e9))
    return type(m).from_state(seal(type(m).__name__, bytes(body)))


def test_merged_flush_counts_obey_the_rate_at_the_next_sample():
    a = q.PyStreamingCategoricalDataDriftFlush(NAMES, 10, None)
    b = q.PyStreamingCategoricalDataDriftFlush(NAMES, 10, None)
    a.update_stream_batch(["north"] * 6)
    b.update_stream_batch(["south"] * 7)
    a.merge(b)
    assert a.total_samples == 13 and a.export_snapshot() == {"north": 6.0, "south": 7.0, "east": 0.0, "west": 0.0}
    a.update_stream("east")  # 13 >= 10: the stream flushes before counting it
    assert a.total_samples == 1 and a.export_snapshot()["east"] == 1.0


def test_a_merge_keeps_the_older_last_flush():
    old = with_elapsed(q.PyStreamingContinuousDataDriftFlush(values(50), None, None, None), 120)
    young = q.PyStreamingContinuousDataDriftFlush(values(50), None, None, None)
    young.merge(old)
    assert young.last_flush >= 120
    old.merge(q.PyStreamingContinuousDataDriftFlush(values(50), None, None, None))
    assert old.last_flush >= 120


# ---- merge_all -----------------------------------------------------------------


def test_merge_all_refuses_nothing_and_mixtures():
    with raises_exactly(ValueError, "merge_all() needs at least one object"):
        q.merge_all([])
    with raises_exactly(ValueError, "merge_all(): cannot merge a PyDataBiasStreaming with a PyLinearRegressionStreaming"):
        q.merge_all([fed("PyLinearRegressionStreaming"), fed("PyDataBiasStreaming")])
    with raises_exactly(ValueError, "cannot merge: the baselines differ"):
        q.merge_all(iter([fed("PyLinearRegressionStreaming"), fed("PyLinearRegressionStreaming"),
                          fed("PyLinearRegressionStreaming", OTHER_BASELINE["PyLinearRegressionStreaming"])]))


def test_merge_all_of_one_object_is_a_copy():
    a = fed("PyBinaryClassificationStreaming")
    b = q.merge_all([a])
    assert b is not a and b.to_state() == a.to_state()


# ---- Monitor -------------------------------------------------------------------


def table(n: int, seed: int, shift: float = 0.0) -> dict:
    rng = np.random.default_rng(seed)
    x = rng.normal(shift, 1, n)
    return {"x": x, "group": rng.choice(["a", "b"], n), "y": (x + rng.normal(0, 1, n) > 0).astype(int),
            "p": (x > 0).astype(int)}


def make_monitor(**kw):
    return q.Monitor(table(600, 1), target="y", prediction="p", facets={"group": q.Label("a")}, **kw)


def test_a_monitor_pickles_and_merges_like_one_over_all_rows():
    batches = [table(300, s, 0.5) for s in (2, 3, 4)]
    whole = make_monitor()
    for b in batches:
        whole.update(b)
    shards = [make_monitor() for _ in batches]
    for m, b in zip(shards, batches):
        m.update(b)
    shards[0] = pickle.loads(pickle.dumps(shards[0]))
    merged = q.merge_all(shards)
    assert merged.rows == 900 and [m.rows for m in shards] == [300] * 3
    got, want = merged.report(), whole.report()
    assert got.drift.to_dicts() == want.drift.to_dicts()
    assert got.performance.to_dicts() == want.performance.to_dicts()
    assert got.bias.to_dicts() == want.bias.to_dicts()


def test_monitors_that_watch_differently_do_not_merge():
    a = make_monitor()
    a.update(table(100, 5))
    rows = a.rows
    with raises_exactly(ValueError, "cannot merge: the Monitors watch different columns or with different options"):
        a.merge(make_monitor(drift_threshold=0.2))
    with raises_exactly(ValueError, "cannot merge: other is a PyDataBiasStreaming, not a Monitor"):
        a.merge(fed("PyDataBiasStreaming"))
    assert a.rows == rows
