"""Categorical drift from NumPy str arrays against the same labels as a list
of str, on every native categorical face and through quorvant.drift; target:
a '<U' array within 1.5x of the list. Also the other text inputs of the
layer (object arrays, pandas string dtypes, Arrow strings, categoricals).

Same data for every input form (10^5 labels per side, 4 distinct values,
one of them non-ASCII), medians of alternating rounds. Runs against
whichever quorvant the interpreter imports, so the figures of two builds
can be compared.
"""

from __future__ import annotations

import statistics
import time

import numpy as np

from common import fmt_time, print_table

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
N = 10**5
TARGET = 1.5


def medians(fns: dict, rounds: int = 15) -> dict:
    """Median seconds per call of each function, timed in alternating rounds
    (so a change of load on the machine hits them alike)."""
    times = {k: [] for k in fns}
    for fn in fns.values():
        fn()
    for _ in range(rounds):
        for k, fn in fns.items():
            t0 = time.perf_counter()
            fn()
            times[k].append(time.perf_counter() - t0)
    return {k: statistics.median(v) for k, v in times.items()}


def data(seed: int = 1) -> tuple[np.ndarray, np.ndarray]:
    rng = np.random.default_rng(seed)
    labels = np.array(["card", "transfer", "wallet", "café"])
    return labels[rng.integers(0, 4, N)], labels[rng.integers(0, 4, N)]


def faces(q):
    """Each native categorical face as f(baseline, runtime)."""
    def batch(b, c):
        q.PyCategoricalDataDrift(b).compute_drift(c, "JensenShannon")

    def decay(b, c):
        q.PyStreamingCategoricalDataDriftDecay(b, None).update_stream_batch(c)

    def flush(b, c):
        q.PyStreamingCategoricalDataDriftFlush(b, None, None).update_stream_batch(c)

    return {
        "py_compute_drift_categorical_distribtuion": lambda b, c: q.py_compute_drift_categorical_distribtuion(b, c, ALL),
        "PyCategoricalDataDrift + compute_drift": batch,
        "PyStreamingCategoricalDataDriftDecay + update_stream_batch": decay,
        "PyStreamingCategoricalDataDriftFlush + update_stream_batch": flush,
    }


def native_section() -> None:
    import quorvant._quorvant as q

    base, cand = data()
    forms = {
        "list of str": (base.tolist(), cand.tolist()),
        "'<U' array": (base, cand),
        "'>U' array": (base.astype(">U8"), cand.astype(">U8")),
        "'<U' array, stride 2": (np.repeat(base, 2)[::2], np.repeat(cand, 2)[::2]),
    }
    rows = []
    for face, f in faces(q).items():
        t = medians({k: (lambda b=b, c=c: f(b, c)) for k, (b, c) in forms.items()})
        for k in forms:
            ratio = t[k] / t["list of str"]
            verdict = "" if k == "list of str" else ("met" if ratio <= TARGET else "missed")
            rows.append([face if k == "list of str" else "", k, fmt_time(t[k]), f"{ratio:5.2f}x", verdict])
    print_table(f"Native categorical faces, {N:,} labels per side (median wall time); target: str arrays within "
                f"{TARGET}x of the list", ["face", "input", "time", "vs list", "target"], rows)


def distinct_section() -> None:
    import quorvant._quorvant as q

    rng = np.random.default_rng(2)
    rows = []
    for d in (4, 1_000, 100_000):
        pool = np.array([f"merchant-{i:06d}" for i in range(d)])
        base, cand = pool[rng.integers(0, d, N)], pool[rng.integers(0, d, N)]
        lists = base.tolist(), cand.tolist()
        t = medians({"list": lambda: q.py_compute_drift_categorical_distribtuion(*lists, ALL),
                     "U": lambda: q.py_compute_drift_categorical_distribtuion(base, cand, ALL)}, rounds=9)
        ratio = t["U"] / t["list"]
        rows.append([f"{d:,}", fmt_time(t["list"]), fmt_time(t["U"]), f"{ratio:5.2f}x",
                     "met" if ratio <= TARGET else "missed"])
    print_table(f"py_compute_drift_categorical_distribtuion by distinct labels, {N:,} per side (median wall time)",
                ["distinct", "list of str", "'<U' array", "vs list", "target"], rows)


def layer_section() -> None:
    import quorvant as qv

    base, cand = data()
    forms = {
        "list of str": (base.tolist(), cand.tolist()),
        "'<U' array": (base, cand),
        "object array of str": (base.astype(object), cand.astype(object)),
    }
    try:
        import pandas as pd

        forms["pandas Categorical"] = (pd.Series(base, dtype="category"), pd.Series(cand, dtype="category"))
        forms["pandas string[python]"] = (pd.Series(base, dtype="string[python]"),
                                          pd.Series(cand, dtype="string[python]"))
        forms["pandas string[pyarrow]"] = (pd.Series(base, dtype="string[pyarrow]"),
                                           pd.Series(cand, dtype="string[pyarrow]"))
    except ImportError:
        pass
    try:
        import pyarrow as pa

        forms["Arrow string"] = (pa.array(base.tolist(), pa.string()), pa.array(cand.tolist(), pa.string()))
        forms["Arrow large_string"] = (pa.array(base.tolist(), pa.large_string()),
                                       pa.array(cand.tolist(), pa.large_string()))
    except ImportError:
        pass
    t = medians({k: (lambda b=b, c=c: qv.drift({"c": b}, {"c": c}, n_jobs=1)) for k, (b, c) in forms.items()})
    rows = []
    for k in forms:
        ratio = t[k] / t["list of str"]
        verdict = ("met" if ratio <= TARGET else "missed") if k == "'<U' array" else ""
        rows.append([k, fmt_time(t[k]), f"{ratio:5.2f}x", verdict])
    print_table(f"quorvant.drift of one text column, {N:,} rows per side (median wall time); target: '<U' array "
                f"within {TARGET}x of the list", ["input", "time", "vs list", "target"], rows)


def main() -> None:
    native_section()
    distinct_section()
    layer_section()


if __name__ == "__main__":
    main()
