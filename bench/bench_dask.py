"""quorvant.dask.feed on a local cluster (2 worker processes, 1 thread each)
against the same monitors fed in one process: 10^7 rows in 16 partitions,
made where they are counted (on the workers; in the loop for the single
process), for four monitors at once (classification, linear regression,
data bias, continuous drift). Prints the wall times and their ratio."""

from __future__ import annotations

import os
import sys
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import quorvant as q  # noqa: E402
from common import print_table  # noqa: E402

ROWS = int(os.environ.get("QUORVANT_BENCH_DASK_ROWS", 10_000_000))
PARTS = 16


def make_partition(seed: int):
    import pandas as pd

    rng = np.random.default_rng(seed)
    n = ROWS // PARTS
    x = rng.normal(0.3, 1.2, n)
    y = (x + rng.normal(0, 1, n) > 0).astype(np.int8)
    return pd.DataFrame({"x": x, "score": 1.0 / (1.0 + np.exp(-x)), "group": rng.integers(0, 2, n, dtype=np.int8),
                         "y": y, "p": (x > 0).astype(np.int8)})


def monitors():
    ref = make_partition(10_000)[:5000]
    return [
        (q.PyBinaryClassificationStreaming(ref.y.to_numpy(), ref.p.to_numpy()), ["y", "p"]),
        (q.PyLinearRegressionStreaming(ref.x.to_numpy(), ref.score.to_numpy()), ["x", "score"]),
        (q.PyDataBiasStreaming(ref.group.to_numpy(), ref.y.to_numpy()), ["group", "y"]),
        (q.PyStreamingContinuousDataDriftDecay(ref.x.to_numpy(), None, None), ["x"]),
    ]


def one_process(todo):
    out = [q.merge_all([m]) for m, _ in todo]
    for seed in range(PARTS):
        part = make_partition(seed)
        for m, (_, cols) in zip(out, todo):
            if hasattr(m, "update_stream_batch"):
                m.update_stream_batch(part[cols[0]].to_numpy())
            else:
                m.push_batch(*(part[c].to_numpy() for c in cols))
    return out


def main() -> None:
    import cloudpickle
    import dask
    import dask.dataframe as dd
    import distributed

    import quorvant.dask as qd

    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    todo = monitors()
    start = time.perf_counter()
    single = one_process(todo)
    t_single = time.perf_counter() - start

    start = time.perf_counter()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  memory_limit=0) as cluster, distributed.Client(cluster):
        t_start = time.perf_counter() - start
        runs = []
        for _ in range(2):
            start = time.perf_counter()
            data = dd.from_map(make_partition, list(range(PARTS)))
            fed = dask.compute(*[qd.feed(m, data, cols, compute=False) for m, cols in todo])
            runs.append(time.perf_counter() - start)
    t_dask = min(runs)
    assert fed[0].to_state() == single[0].to_state() and fed[2].to_state() == single[2].to_state()
    print_table(f"{ROWS:,} rows in {PARTS} partitions, 4 monitors", ["run", "seconds", "vs one process"], [
        ["one process (make rows + push)", f"{t_single:.2f}", "1.00"],
        ["LocalCluster 2x1 (make rows + feed + merge)", f"{t_dask:.2f}", f"{t_single / t_dask:.2f}x"],
        ["  cluster start-up (not in the above)", f"{t_start:.2f}", ""],
    ])


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(__file__))
    main()
