"""Monitors over Dask DataFrames: one shard per partition, merged into one.

:func:`feed` runs a monitor over a Dask DataFrame the way its ``merge``
allows: every partition is counted on a worker by an empty copy of the
monitor (same baseline and settings, no rows), the shards come back pickled
(their state payloads are a few hundred bytes), merge in a tree on the
workers, and the result is folded into a copy of the monitor on the client.
Counts are exact, so the result is the monitor that one process would have
after pushing every row; floating sums (regression sums, the log-loss sum)
equal that single pass up to the rounding of the additions that join the
shards. Needs ``pip install quorvant[dask]``.

Examples
--------
>>> import dask.dataframe as dd, numpy as np, pandas as pd, quorvant, quorvant.dask
>>> frame = pd.DataFrame({"y": np.arange(1000) % 2, "p": np.arange(1000) % 3 % 2})
>>> data = dd.from_pandas(frame, npartitions=4)
>>> monitor = quorvant.PyBinaryClassificationStreaming([1, 0, 1, 0], [1, 0, 0, 0])
>>> fed = quorvant.dask.feed(monitor, data, ["y", "p"])
>>> fed.performance_snapshot()["Accuracy"]
0.5009999871253967
"""

from __future__ import annotations

import copy
from collections.abc import Sequence
from typing import Any, TypeVar

import dask
import numpy as np

from quorvant import _quorvant as native
from quorvant._merge import empty_copy, merge_all
from quorvant.monitor import Monitor

T = TypeVar("T")

# How many columns each class reads per row, and how a partition's columns
# are handed to it.
_PAIRS = (native.PyBinaryClassificationStreaming, native.PyLinearRegressionStreaming,
          native.PyLogisticRegressionStreaming, native.PyDataBiasStreaming)
_CONTINUOUS = (native.PyStreamingContinuousDataDriftDecay, native.PyStreamingContinuousDataDriftFlush)
_CATEGORICAL = (native.PyStreamingCategoricalDataDriftDecay, native.PyStreamingCategoricalDataDriftFlush)


def _arity(monitor: Any) -> int | None:
    if isinstance(monitor, Monitor):
        return None
    if isinstance(monitor, _PAIRS):
        return 2
    if isinstance(monitor, native.PyModelBiasStreaming):
        return 3
    if isinstance(monitor, _CONTINUOUS + _CATEGORICAL):
        return 1
    raise TypeError(f"quorvant.dask.feed() takes a streaming monitor, a streaming drift detector or a "
                    f"quorvant.Monitor, not a {type(monitor).__name__}")


def _count_partition(part: Any, empty: Any, columns: tuple[str, ...] | None) -> Any:
    # Runs on a worker: an empty copy of the monitor sees one partition.
    shard = copy.copy(empty) if not isinstance(empty, Monitor) else copy.deepcopy(empty)
    if len(part) == 0:
        return shard
    if columns is None:
        shard.update(part)
    elif isinstance(shard, _CONTINUOUS):
        shard.update_stream_batch(np.ascontiguousarray(part[columns[0]].to_numpy(dtype=np.float64)))
    elif isinstance(shard, _CATEGORICAL):
        shard.update_stream_batch(part[columns[0]].astype(str).tolist())
    else:
        shard.push_batch(*(part[c].to_numpy() for c in columns))
    return shard


def _merge_shards(shards: list[Any]) -> Any:
    return merge_all(shards)


def _fold_into(monitor: T, merged: Any) -> T:
    result = copy.deepcopy(monitor)
    result.merge(merged)
    return result


def feed(monitor: T, data: Any, columns: Sequence[str] | None = None, *, split_every: int = 8,
         compute: bool = True) -> T:
    """A copy of `monitor` that has also seen every row of the Dask DataFrame `data`.

    Parameters
    ----------
    monitor
        A streaming monitor (``PyBinaryClassificationStreaming``,
        ``PyLogisticRegressionStreaming``, ``PyLinearRegressionStreaming``,
        ``PyDataBiasStreaming``, ``PyModelBiasStreaming``), a streaming drift
        detector, or a :class:`quorvant.Monitor`. It is not changed. A
        decay-mode drift detector must not hold samples yet (it cannot be
        emptied for the shards).
    data
        A ``dask.dataframe.DataFrame``.
    columns
        The columns the monitor reads, in the order of its ``push_batch``
        (``[y_true, y_pred]``; ``[feature, gt]`` or ``[feature, pred, gt]``
        for the bias monitors, whose values are already 0/1 labels) or the
        one column of a drift detector. None for a Monitor, which reads its
        own columns.
    split_every
        How many shards each merge task folds.
    compute
        False returns a ``dask.delayed`` object instead, so that several
        monitors fed from the same data run in one ``dask.compute``.

    Returns
    -------
    A new object of the monitor's class.

    Notes
    -----
    A flush-mode detector applies its flush rate within each partition and
    to the merged counts at the next sample it is given (the cadence runs
    from the older of the two last flushes); with a rate above the rows per
    partition it equals the single-process detector exactly. Run it on a
    cluster by creating a client first: ``distributed.Client("scheduler:8786")``.
    """
    arity = _arity(monitor)
    if arity is None:
        if columns is not None:
            raise ValueError("a quorvant.Monitor reads its own columns: leave columns=None")
        cols = None
    else:
        cols = (columns,) if isinstance(columns, str) else tuple(columns or ())
        if len(cols) != arity:
            raise ValueError(f"a {type(monitor).__name__} reads {arity} column(s) per row, "
                             f"columns= names {len(cols)}")
        missing = [c for c in cols if c not in data.columns]
        if missing:
            raise ValueError(f"data has no column {missing[0]!r}")
    if split_every < 2:
        raise ValueError("split_every must be at least 2")
    empty = dask.delayed(empty_copy(monitor), pure=True)
    count = dask.delayed(_count_partition, pure=True)
    level = [count(part, empty, cols) for part in data.to_delayed()]
    merge = dask.delayed(_merge_shards, pure=True)
    while len(level) > 1:
        level = [merge(level[i:i + split_every]) for i in range(0, len(level), split_every)]
    result = dask.delayed(_fold_into, pure=True)(monitor, level[0])
    return result.compute() if compute else result
