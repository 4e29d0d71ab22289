"""Data drift against what a user would otherwise write: np.histogram with the
same edges plus the NumPy/SciPy formulas (scipy.spatial.distance.jensenshannon,
scipy.stats.entropy), collections.Counter for labels."""

from __future__ import annotations

import os

# OpenBLAS worker threads spin on a small machine and slow every other
# measurement; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

from collections import Counter  # noqa: E402

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


def main() -> None:
    rng = np.random.default_rng(7)
    continuous_table(rng)
    one_shot_small(rng)
    categorical_table(rng)


if __name__ == "__main__":
    main()
