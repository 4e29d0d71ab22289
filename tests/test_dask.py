"""quorvant.dask on two worker processes over 10^7 rows: every monitor family equals one fed in one process.
And the PySpark recipe of docs/distributed.md, where PySpark and Java are installed."""

from __future__ import annotations

import math
import shutil
import sys

import numpy as np
import pytest

import quorvant as q
from state_format import read
from support import SANITIZED

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
import dask  # noqa: E402
import pandas as pd  # noqa: E402

import quorvant.dask as qd  # noqa: E402

ROWS = 10_000_000 if not SANITIZED else 400_000
PARTS = 16
NEVER = 2**64 - 1
CATS = np.array(["alpha", "beta", "gamma", "delta", "omega"])


def make_partition(seed: int) -> pd.DataFrame:
    """Rows of one partition, made where the partition is computed."""
    rng = np.random.default_rng(seed)
    n = ROWS // PARTS
    x = rng.normal(0.3, 1.2, n)
    y = (x + rng.normal(0, 1, n) > 0).astype(np.int8)
    return pd.DataFrame({
        "x": x,
        "score": 1.0 / (1.0 + np.exp(-x)),
        "group": rng.integers(0, 2, n, dtype=np.int8),
        "y": y,
        "yf": y.astype(np.float64),
        "p": (x > 0).astype(np.int8),
        "cat": pd.Categorical.from_codes(rng.integers(0, 5, n), CATS),
    })


def monitors() -> dict:
    ref = make_partition(10_000)[:5000]
    return {
        "classification": (q.PyBinaryClassificationStreaming(ref.y.to_numpy(), ref.p.to_numpy()), ["y", "p"]),
        "logistic": (q.PyLogisticRegressionStreaming(ref.yf.to_numpy(), ref.score.to_numpy(), 0.5), ["yf", "score"]),
        "linear": (q.PyLinearRegressionStreaming(ref.x.to_numpy(), ref.score.to_numpy()), ["x", "score"]),
        "data bias": (q.PyDataBiasStreaming(ref.group.to_numpy(), ref.y.to_numpy()), ["group", "y"]),
        "model bias": (q.PyModelBiasStreaming(ref.group.to_numpy(), ref.p.to_numpy(), ref.y.to_numpy()),
                       ["group", "p", "y"]),
        "drift decay": (q.PyStreamingContinuousDataDriftDecay(ref.x.to_numpy(), None, None), ["x"]),
        "drift flush": (q.PyStreamingContinuousDataDriftFlush(ref.x.to_numpy(), None, NEVER, None), ["x"]),
        "labels flush": (q.PyStreamingCategoricalDataDriftFlush(ref.cat.astype(str).tolist(), NEVER, None), ["cat"]),
    }


def one_process(todo: dict) -> dict:
    out = {name: q.merge_all([m]) for name, (m, _) in todo.items()}  # copies
    for seed in range(PARTS):
        part = make_partition(seed)
        for name, (_, cols) in todo.items():
            m = out[name]
            if hasattr(m, "update_stream_batch"):
                col = part[cols[0]]
                m.update_stream_batch(col.astype(str).tolist() if name == "labels flush" else col.to_numpy())
            else:
                m.push_batch(*(part[c].to_numpy() for c in cols))
    return out


@pytest.fixture(scope="module")
def client():
    import cloudpickle

    cloudpickle.register_pickle_by_value(sys.modules[__name__])  # make_partition, on the workers
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  memory_limit=0) as cluster, distributed.Client(cluster) as c:
        yield c


def test_monitors_fed_by_partition_equal_one_process(client):
    data = dd.from_map(make_partition, list(range(PARTS)))
    assert data.npartitions == PARTS
    todo = monitors()
    before = {name: m.to_state() for name, (m, _) in todo.items() if "flush" not in name}
    lazy = {name: qd.feed(m, data, cols, compute=False) for name, (m, cols) in todo.items()}
    got = dict(zip(lazy, dask.compute(*lazy.values())))
    want = one_process(todo)
    assert {name: m.to_state() for name, (m, _) in todo.items() if "flush" not in name} == before
    for name in todo:
        g, w = got[name], want[name]
        if name in ("linear", "logistic"):
            a, b = g.performance_snapshot(), w.performance_snapshot()
            assert all(math.isclose(a[k], b[k], rel_tol=1e-6) or math.isnan(a[k]) and math.isnan(b[k]) for k in a), name
            if name == "logistic":
                assert read(g.to_state())["counts"] == read(w.to_state())["counts"]
            else:
                assert read(g.to_state())["sums"][6] == ROWS
        elif "flush" in name:
            assert read(g.to_state())["stream"]["weights"] == read(w.to_state())["stream"]["weights"], name
            assert g.total_samples == ROWS
        else:
            assert g.to_state() == w.to_state(), name  # counts: exactly one pass


def test_a_monitor_object_is_fed_too(client):
    data = dd.from_map(make_partition, list(range(4)))
    ref = make_partition(10_001)[:3000]
    monitor = q.Monitor(ref[["x", "group", "y", "p"]], target="y", prediction="p",
                        facets={"group": q.Label(1)})
    got = qd.feed(monitor, data)
    assert monitor.rows == 0 and got.rows == 4 * (ROWS // PARTS)
    want = q.merge_all([monitor])
    for seed in range(4):
        want.update(make_partition(seed)[["x", "group", "y", "p"]])
    assert got.report().drift.to_dicts() == want.report().drift.to_dicts()
    assert got.report().bias.to_dicts() == want.report().bias.to_dicts()


def test_feed_refuses_what_it_cannot_do():
    data = dd.from_pandas(make_partition(1)[:100], npartitions=2)
    m = q.PyBinaryClassificationStreaming([1, 0], [1, 0])
    with pytest.raises(ValueError, match="reads 2 column"):
        qd.feed(m, data, ["y"])
    with pytest.raises(ValueError, match="data has no column 'nope'"):
        qd.feed(m, data, ["y", "nope"])
    decayed = q.PyStreamingContinuousDataDriftDecay(np.arange(10.0), None, None)
    decayed.update_stream(3.0)
    with pytest.raises(ValueError, match="cannot be emptied"):
        qd.feed(decayed, data, ["x"])
    with pytest.raises(TypeError, match="not a PyContinuousDataDrift"):
        qd.feed(q.PyContinuousDataDrift(np.arange(10.0), None), data, ["x"])


# ---- the PySpark recipe ---------------------------------------------------------


@pytest.mark.skipif(shutil.which("java") is None, reason="no Java runtime")
def test_the_pyspark_recipe_of_the_docs():
    pytest.importorskip("pyspark")
    import pickle

    from pyspark.sql import SparkSession

    spark = SparkSession.builder.master("local[2]").appName("quorvant-recipe").getOrCreate()
    try:
        frame = make_partition(3)[:20000][["y", "p"]]
        df = spark.createDataFrame(frame.astype(int))
        template = pickle.dumps(q.PyBinaryClassificationStreaming([1, 0, 1, 0], [1, 0, 0, 0]))

        def shard(rows):
            m = pickle.loads(template)
            batch = [(r.y, r.p) for r in rows]
            if batch:
                y, p = zip(*batch)
                m.push_batch(list(y), list(p))
            yield pickle.dumps(m)

        states = df.rdd.mapPartitions(shard).collect()
        merged = q.merge_all(pickle.loads(s) for s in states)
        single = pickle.loads(template)
        single.push_batch(frame.y.to_numpy(), frame.p.to_numpy())
        assert merged.to_state() == single.to_state()
    finally:
        spark.stop()
