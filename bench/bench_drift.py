"""Data drift against what a user would otherwise write: np.histogram with the
same edges plus the NumPy/SciPy formulas (scipy.spatial.distance.jensenshannon,
scipy.stats.entropy), collections.Counter for labels."""

from __future__ import annotations

import os

# OpenBLAS worker threads spin on a small machine and slow every other
# measurement; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import time  # noqa: E402
from collections import Counter, deque  # noqa: E402
from itertools import repeat  # noqa: E402

import numpy as np  # noqa: E402
from scipy.spatial.distance import jensenshannon  # noqa: E402
from scipy.stats import entropy  # noqa: E402

import quorvant as q  # noqa: E402
from common import best_time, fmt_time, print_table  # noqa: E402

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
EPS = 1e-12
SIZES = [10**3, 10**5, 10**7]


def scores_numpy(p: np.ndarray, counts: np.ndarray) -> list[float]:
    """The four scores as a user writes them with NumPy and SciPy."""
    r = counts / counts.sum()
    pe, re = p + EPS, r + EPS
    return [
        float(jensenshannon(pe, re, base=2) ** 2),
        float(np.sum((pe - re) * np.log(pe / re))),
        float(np.mean(np.abs(pe - re)[1:-1])),
        float(entropy(pe, re)),
    ]


def baseline_for_bins(bins: int) -> np.ndarray:
    """1,000 baseline values whose FreedmanDiaconis rule gives about `bins`
    bins (a uniform body of IQR 0.5 stretched by one outlier)."""
    body = np.linspace(0.0, 1.0, 1000)
    return np.concatenate([body, [bins * 0.0999]])


def user_edges(baseline: np.ndarray, bins: int) -> np.ndarray:
    """Equal-width edges over the baseline range, as np.histogram takes them."""
    return np.linspace(baseline.min(), baseline.max(), bins + 1)


def continuous_table(rng: np.random.Generator) -> None:
    rows = []
    for bins in (10, 100):
        baseline = baseline_for_bins(bins)
        edges = user_edges(baseline, bins)
        p = np.histogram(baseline, edges)[0] / baseline.size
        for n in SIZES:
            cand = rng.uniform(-0.05, bins * 0.1, size=n)
            repeat = 3 if n >= 10**7 else 5

            def ours():
                return q.py_compute_drift_continuous_distribtuion(baseline, cand, ALL, None)

            def user():
                return scores_numpy(p, np.histogram(cand, edges)[0])

            t_ours = best_time(ours, repeat=repeat)
            t_user = best_time(user, repeat=repeat)
            rows.append([
                str(bins), f"{n:,}", fmt_time(t_ours), f"{t_ours / n * 1e9:6.2f}", fmt_time(t_user),
                f"{t_user / t_ours:6.1f}x",
            ])
    print_table(
        "Continuous one-shot (baseline of 1,001 values built every call, all four scores)",
        ["bins", "candidate", "quorvant", "ns/value", "numpy+scipy", "speed-up"],
        rows,
    )


def one_shot_small(rng: np.random.Generator) -> None:
    rows = []
    for rule in ("FreedmanDiaconis", "Scott", "Sturges"):
        base = rng.normal(size=1000)
        cand = rng.normal(0.2, 1.0, size=1000)
        t = best_time(lambda: q.py_compute_drift_continuous_distribtuion(base, cand, ALL, rule))
        edges = np.histogram_bin_edges(base, bins={"FreedmanDiaconis": "fd", "Scott": "scott", "Sturges": "sturges"}[rule])
        t_user = best_time(lambda: scores_numpy(np.histogram(base, edges)[0] / 1000.0, np.histogram(cand, edges)[0]))
        rows.append([rule, fmt_time(t), fmt_time(t_user), f"{t_user / t:6.1f}x"])
    print_table(
        "One-shot on 1,000 baseline and 1,000 candidate values (numpy: edges given, two histograms)",
        ["rule", "quorvant", "numpy+scipy", "speed-up"],
        rows,
    )


def categorical_table(rng: np.random.Generator) -> None:
    rows = []
    for labels in (10, 1000):
        names = [f"label_{i:04d}" for i in range(labels)]
        baseline = [names[i] for i in rng.integers(0, labels, size=5000)]
        order = sorted(set(baseline))
        base_counts = Counter(baseline)
        p = np.array([base_counts[k] for k in order] + [0]) / len(baseline)
        for n in SIZES:
            # Candidates share the str objects, as labels read from a column do.
            cand = [names[i] for i in rng.integers(0, labels, size=n)]
            repeat = 3 if n >= 10**7 else 5

            def ours():
                return q.py_compute_drift_categorical_distribtuion(baseline, cand, ALL)

            def user():
                c = Counter(cand)
                known = [c.get(k, 0) for k in order]
                counts = np.array(known + [n - sum(known)], dtype=float)
                return scores_numpy(p, counts)

            t_ours = best_time(ours, repeat=repeat)
            t_user = best_time(user, repeat=repeat)
            rows.append([
                str(labels), f"{n:,}", fmt_time(t_ours), f"{t_ours / n * 1e9:6.2f}", fmt_time(t_user),
                f"{t_user / t_ours:6.1f}x",
            ])
    print_table(
        "Categorical one-shot (baseline of 5,000 labels built every call, all four scores)",
        ["labels", "candidate", "quorvant", "ns/label", "Counter+numpy", "speed-up"],
        rows,
    )


def call_costs(rng: np.random.Generator) -> None:
    base = rng.normal(size=1000)
    labels = [f"label_{i}" for i in range(10)]
    detectors = [
        ("PyStreamingContinuousDataDriftDecay", q.PyStreamingContinuousDataDriftDecay(base, None, None), 0.25),
        ("PyStreamingContinuousDataDriftFlush", q.PyStreamingContinuousDataDriftFlush(base, None, None, None), 0.25),
        ("PyStreamingCategoricalDataDriftDecay", q.PyStreamingCategoricalDataDriftDecay(labels, None), labels[3]),
        ("PyStreamingCategoricalDataDriftFlush", q.PyStreamingCategoricalDataDriftFlush(labels, None, None), labels[3]),
    ]
    window: deque = deque(maxlen=100_000)
    rows = [["deque.append (a window in Python)", fmt_time(per_call(window.append, 0.25))],
            ["abs(x) (interpreter call floor)", fmt_time(per_call(abs, 0.25))]]
    for name, det, value in detectors:
        rows.append([f"{name}.update_stream", fmt_time(per_call(det.update_stream, value))])
    print_table("One value per call (bound method, 1,000,000 calls)", ["call", "per call"], rows)


def per_call(fn, arg, n: int = 1_000_000) -> float:
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        for _ in repeat(None, n):
            fn(arg)
        best = min(best, time.perf_counter() - start)
    # The loop itself costs about as much as an empty iteration.
    start = time.perf_counter()
    for _ in repeat(None, n):
        pass
    return (best - (time.perf_counter() - start)) / n


def batch_costs(rng: np.random.Generator) -> None:
    rows = []
    for bins in (10, 100):
        baseline = baseline_for_bins(bins)
        edges = user_edges(baseline, bins)
        p = np.histogram(baseline, edges)[0] / baseline.size
        batch = q.PyContinuousDataDrift(baseline, None)
        decay = q.PyStreamingContinuousDataDriftDecay(baseline, None, None)
        flush = q.PyStreamingContinuousDataDriftFlush(baseline, None, None, None)
        for n in SIZES:
            x = rng.uniform(-0.05, bins * 0.1, size=n)
            repeat_ = 3 if n >= 10**7 else 5
            t_score = best_time(lambda: batch.compute_drift_mutliple_criteria(x, ALL), repeat=repeat_)
            t_decay = best_time(lambda: decay.update_stream_batch(x), repeat=repeat_)
            t_flush = best_time(lambda: flush.update_stream_batch(x), repeat=repeat_)
            t_user = best_time(lambda: scores_numpy(p, np.histogram(x, edges)[0]), repeat=repeat_)
            rows.append([
                f"{batch.num_bins}", f"{n:,}", f"{t_score / n * 1e9:6.2f}", f"{t_user / t_score:6.1f}x",
                f"{t_decay / n * 1e9:6.2f}", f"{t_flush / n * 1e9:6.2f}",
            ])
    print_table(
        "Batches against a built baseline (ns per value; speed-up of scoring over np.histogram + formulas)",
        ["bins", "values", "batch score", "speed-up", "decay update", "flush update"],
        rows,
    )


def stream_cycle(rng: np.random.Generator) -> None:
    """1,000,000 production values in batches of 1,000, all four scores after
    every batch; the alternatives keep a window of the last 100,000 values."""
    baseline = rng.normal(size=20_000)
    stream = rng.normal(0.1, 1.1, size=1_000_000).reshape(-1, 1000)
    edges = np.histogram_bin_edges(baseline, bins="fd")
    p = np.histogram(baseline, edges)[0] / baseline.size

    def ours():
        d = q.PyStreamingContinuousDataDriftFlush(baseline, None, 100_000, None)
        for chunk in stream:
            d.update_stream_batch(chunk)
            d.compute_drift_multiple_criteria(ALL)

    def numpy_window():
        window = np.empty(100_000)
        filled = 0
        for i, chunk in enumerate(stream):
            window[(i % 100) * 1000:(i % 100 + 1) * 1000] = chunk
            filled = min(filled + 1000, 100_000)
            scores_numpy(p, np.histogram(window[:filled], edges)[0])

    def one_shot_window():
        window = np.empty(100_000)
        filled = 0
        for i, chunk in enumerate(stream):
            window[(i % 100) * 1000:(i % 100 + 1) * 1000] = chunk
            filled = min(filled + 1000, 100_000)
            q.py_compute_drift_continuous_distribtuion(baseline, window[:filled], ALL, None)

    t_ours = best_time(ours, repeat=3, min_time=0.0)
    t_numpy = best_time(numpy_window, repeat=1, min_time=0.0)
    t_one = best_time(one_shot_window, repeat=1, min_time=0.0)
    print_table(
        "Scored stream: 1,000 batches of 1,000 values, four scores after each batch",
        ["route", "total", "speed-up of streaming"],
        [["streaming detector (flush every 100,000)", fmt_time(t_ours), "1.0x"],
         ["np.histogram + formulas on a 100,000 window", fmt_time(t_numpy), f"{t_numpy / t_ours:6.1f}x"],
         ["one-shot function on the same window", fmt_time(t_one), f"{t_one / t_ours:6.1f}x"]],
    )


def categorical_stream(rng: np.random.Generator) -> None:
    rows = []
    for labels in (10, 1000):
        names = [f"label_{i:04d}" for i in range(labels)]
        det = q.PyStreamingCategoricalDataDriftFlush(names, None, None)
        for n in (10**3, 10**5, 10**6):
            batch = [names[i] for i in rng.integers(0, labels, size=n)]
            t = best_time(lambda: det.update_stream_batch(batch))
            counter = Counter()
            t_user = best_time(lambda: counter.update(batch))
            rows.append([str(labels), f"{n:,}", f"{t / n * 1e9:6.2f}", f"{t_user / n * 1e9:6.2f}", f"{t_user / t:6.1f}x"])
    print_table(
        "Categorical stream updates (ns per label; Counter.update of the same batch)",
        ["labels", "batch", "quorvant", "Counter", "speed-up"],
        rows,
    )


def main() -> None:
    rng = np.random.default_rng(7)
    continuous_table(rng)
    one_shot_small(rng)
    categorical_table(rng)
    call_costs(rng)
    batch_costs(rng)
    stream_cycle(rng)
    categorical_stream(rng)


if __name__ == "__main__":
    main()
