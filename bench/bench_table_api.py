"""The table-level API: a whole table's drift against a hand-written NumPy/SciPy
loop (and against Evidently's data-drift report when it is installed in the
benchmark environment: `pip install evidently`; it is not part of
requirements-dev.txt), categorical labels from a NumPy string array against
a list, and the layer's overhead over the native calls it makes."""

from __future__ import annotations

import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import time  # noqa: E402

import numpy as np  # noqa: E402
from scipy.spatial.distance import jensenshannon  # noqa: E402

import quorvant as q  # noqa: E402
from common import best_time, fmt_time, print_table  # noqa: E402

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
EPS = 1e-12
NEVER = 2**64 - 1


def make_tables(n: int, numeric: int = 50, categorical: int = 5, seed: int = 0):
    import pandas as pd

    rng = np.random.default_rng(seed)
    labels = np.array(["card", "transfer", "wallet", "cash", "crypto", "other"])

    def table(shift: float):
        cols = {f"x{i}": rng.normal(shift * (i % 3), 1.0, n) for i in range(numeric)}
        cols |= {f"c{i}": pd.Categorical(rng.choice(labels, n)) for i in range(categorical)}
        return pd.DataFrame(cols)

    return table(0.0), table(0.2)


def numpy_loop(ref, cur):
    """What a user writes by hand: per column a histogram over the reference
    range (Sturges-like 30 bins) or the label counts, then the four scores."""
    out = {}
    for name in ref.columns:
        r, c = ref[name].to_numpy(), cur[name].to_numpy()
        if r.dtype.kind == "f":
            edges = np.histogram_bin_edges(r, bins=30)
            p = np.histogram(r, edges)[0] / r.size
            s = np.histogram(np.clip(c, edges[0], edges[-1]), edges)[0] / c.size
        else:
            cats, rc = np.unique(np.asarray(r, dtype=object).astype(str), return_counts=True)
            cc = np.array([np.count_nonzero(np.asarray(c, dtype=object) == k) for k in cats])
            p, s = rc / r.size, cc / c.size
        pe, se = p + EPS, s + EPS
        out[name] = [float(jensenshannon(pe, se, base=2) ** 2), float(np.sum((pe - se) * np.log(pe / se))),
                     float(np.mean(np.abs(pe - se))), float(np.sum(pe * np.log(pe / se)))]
    return out


def evidently_report(ref, cur):
    from evidently import Report  # noqa: PLC0415 - optional, bench environment only
    from evidently.presets import DataDriftPreset

    return Report([DataDriftPreset()]).run(reference_data=ref, current_data=cur)


def table_section() -> None:
    n = 10**5
    ref, cur = make_tables(n)
    rows = []
    t1 = best_time(lambda: q.drift(ref, cur, n_jobs=1), repeat=3, min_time=0.2)
    t_all = best_time(lambda: q.drift(ref, cur), repeat=3, min_time=0.2)
    t_np = best_time(lambda: numpy_loop(ref, cur), repeat=3, min_time=0.2)
    rows.append(["quorvant.drift, n_jobs=1", fmt_time(t1), "1.0x"])
    rows.append([f"quorvant.drift, n_jobs=-1 ({os.cpu_count()} cores)", fmt_time(t_all), f"{t1 / t_all:5.2f}x"])
    rows.append(["NumPy/SciPy loop per column", fmt_time(t_np), f"{t1 / t_np:5.2f}x"])
    try:
        start = time.perf_counter()
        evidently_report(ref, cur)
        t_ev = time.perf_counter() - start
        rows.append(["Evidently DataDriftPreset (one run)", fmt_time(t_ev), f"{t1 / t_ev:5.3f}x"])
    except ImportError:
        rows.append(["Evidently DataDriftPreset", "not installed", "skipped"])
    print_table(f"Drift of a table: {n:,} rows x 50 numeric + 5 categorical columns, reference and current "
                "(ratio: quorvant n_jobs=1 time / row time)", ["what", "time", "ratio"], rows)


def labels_section() -> None:
    rng = np.random.default_rng(1)
    n = 10**5
    arr = rng.choice(["card", "transfer", "wallet", "cash", "crypto"], n)
    lst = arr.tolist()
    t_list = best_time(lambda: q.drift({"c": lst}, {"c": lst}, n_jobs=1), repeat=5)
    t_arr = best_time(lambda: q.drift({"c": arr}, {"c": arr}, n_jobs=1), repeat=5)
    t_native = best_time(lambda: q.py_compute_drift_categorical_distribtuion(lst, lst, ALL), repeat=5)
    t_native_arr = best_time(lambda: q.py_compute_drift_categorical_distribtuion(arr, arr, ALL), repeat=3)
    print_table(f"Categorical drift of {n:,} labels (both sides)", ["input", "time", "vs list"], [
        ["quorvant.drift, list of str", fmt_time(t_list), "1.00x"],
        ["quorvant.drift, NumPy '<U' array", fmt_time(t_arr), f"{t_arr / t_list:5.2f}x"],
        ["native function, list of str", fmt_time(t_native), f"{t_native / t_list:5.2f}x"],
        ["native function, NumPy '<U' array", fmt_time(t_native_arr), f"{t_native_arr / t_list:5.2f}x"],
    ])


def overhead_section() -> None:
    """quorvant.drift on one column against the native calls it makes, on
    data already in the form the native faces read."""
    rng = np.random.default_rng(2)
    n = 10**6
    ref, cur = rng.normal(size=n), rng.normal(0.1, 1, n)
    labs_r = rng.choice(["a", "b", "c", "d"], n).astype(object)
    labs_c = rng.choice(["a", "b", "c", "e"], n).astype(object)

    def native_continuous():
        d = q.PyStreamingContinuousDataDriftFlush(ref, None, NEVER, NEVER)
        d.update_stream_batch(cur)
        d.compute_drift_multiple_criteria(ALL)
        d.export_snapshot()

    def native_categorical():
        d = q.PyStreamingCategoricalDataDriftFlush(labs_r, NEVER, NEVER)
        d.update_stream_batch(labs_c)
        d.compute_drift_multiple_criteria(ALL)
        d.export_baseline(), d.export_snapshot()

    rows = []
    for label, layer, base in (
        ("continuous float64", lambda: q.drift({"x": ref}, {"x": cur}, n_jobs=1), native_continuous),
        ("continuous float64, continuous= named", lambda: q.drift({"x": ref}, {"x": cur}, continuous=["x"],
                                                                  n_jobs=1), native_continuous),
        ("categorical object array", lambda: q.drift({"c": labs_r}, {"c": labs_c}, n_jobs=1), native_categorical),
    ):
        t_layer = best_time(layer, repeat=5, min_time=0.3)
        t_base = best_time(base, repeat=5, min_time=0.3)
        rows.append([label, fmt_time(t_base), fmt_time(t_layer), f"{(t_layer / t_base - 1) * 100:5.1f} %"])
    oneshot = best_time(lambda: q.py_compute_drift_continuous_distribtuion(ref, cur, ALL, None), repeat=5,
                        min_time=0.3)
    rows.append(["(one-shot function, same scores)", fmt_time(oneshot), "", ""])
    print_table(f"Layer overhead at {n:,} rows per side", ["column", "native calls", "quorvant.drift", "overhead"],
                rows)


def main() -> None:
    table_section()
    labels_section()
    overhead_section()


if __name__ == "__main__":
    main()
