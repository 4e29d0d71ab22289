"""Folding many monitors into one (``quorvant.merge_all``), and the empty
copies that shards start from."""

from __future__ import annotations

import copy
from collections.abc import Iterable
from typing import Any, TypeVar

T = TypeVar("T")

_EMPTY_STREAM = "Data used for runtime drift analysis must be non empty"


def merge_all(objects: Iterable[T]) -> T:
    """Merges any number of compatible objects into a new one.

    The objects (native streaming monitors and detectors, or
    :class:`quorvant.Monitor` objects, all of one class) are folded pairwise
    in a balanced tree, so a floating sum passes through about log2(n)
    additions instead of n. The result holds everything they accumulated;
    the inputs are unchanged. Counts merge exactly; each floating sum equals
    the single-pass sum up to the rounding of the additions that join the
    parts (see ``merge`` of each class).

    Parameters
    ----------
    objects
        One or more objects of the same class, each with a ``merge`` method.

    Returns
    -------
    A new object of that class.

    Raises
    ------
    ValueError
        When `objects` is empty, holds objects of different classes, or two
        of them are not compatible (different baselines or settings); the
        message says which.

    Examples
    --------
    >>> import quorvant
    >>> shards = [quorvant.PyBinaryClassificationStreaming([1, 0, 1, 0], [1, 0, 0, 0]) for _ in range(3)]
    >>> for i, m in enumerate(shards):
    ...     m.push_batch([1, 0, 1], [1, i % 2, 1])
    >>> merged = quorvant.merge_all(shards)
    >>> merged.performance_snapshot()["Accuracy"]
    0.8888888955116272
    """
    items = list(objects)
    if not items:
        raise ValueError("merge_all() needs at least one object")
    kind = type(items[0])
    if not callable(getattr(items[0], "merge", None)):
        raise ValueError(f"merge_all(): a {kind.__name__} cannot be merged (it accumulates nothing)")
    for other in items[1:]:
        if type(other) is not kind:
            raise ValueError(f"merge_all(): cannot merge a {type(other).__name__} with a {kind.__name__}")
    # Each level merges neighbours; the left one of a pair is copied the
    # first time, so no input is changed.
    level = [(item, False) for item in items]
    while len(level) > 1:
        merged = []
        for i in range(0, len(level) - 1, 2):
            (left, owned), (right, _) = level[i], level[i + 1]
            left = left if owned else copy.deepcopy(left)
            left.merge(right)
            merged.append((left, True))
        if len(level) % 2:
            merged.append(level[-1])
        level = merged
    result, owned = level[0]
    return result if owned else copy.deepcopy(result)


def empty_copy(obj: Any) -> Any:
    """A copy of `obj` with its baseline and settings but none of its rows.

    Shards start from it, so that merging them adds their rows alone. A
    decay-mode drift detector cannot be emptied (it has no flush): it must
    hold no samples yet.
    """
    if hasattr(obj, "_empty_copy"):  # quorvant.Monitor
        return obj._empty_copy()
    if callable(getattr(obj, "flush", None)):
        fresh = copy.copy(obj)
        fresh.flush()
        return fresh
    if hasattr(obj, "update_stream") and not _holds_no_samples(obj):
        raise ValueError(f"a {type(obj).__name__} that holds samples cannot be emptied (decay mode has no flush); "
                         "pass one that has seen no samples yet, or merge its samples in afterwards")
    if not callable(getattr(obj, "merge", None)):
        raise ValueError(f"a {type(obj).__name__} cannot be merged (it accumulates nothing)")
    return copy.copy(obj)


def _holds_no_samples(detector: Any) -> bool:
    # A drift call refuses exactly the streams whose weights are all zero;
    # on a copy, so that the decay it applies otherwise changes nothing.
    try:
        copy.copy(detector).compute_drift("JensenShannon")
    except ValueError as exc:
        return str(exc) == _EMPTY_STREAM
    return False
