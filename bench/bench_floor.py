"""The performance targets in one table: each line measured against what a
user would otherwise run (NumPy formulas, np.histogram + SciPy, NumPy
masks) on the same data, with its target and whether it is met.

Every sample times the contenders back to back (warm-up first), and the
line reports medians: of our time, and of the per-sample ratios, which
hold much better than absolute times on a shared machine.

    python bench/bench_floor.py              # the whole table
    python bench/bench_floor.py first bias   # lines whose key contains a word
"""

from __future__ import annotations

import os

# OpenBLAS worker threads spin on a small machine and slow every other
# measurement; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import ctypes  # noqa: E402
import pathlib  # noqa: E402
import shutil  # noqa: E402
import statistics  # noqa: E402
import subprocess  # noqa: E402
import sys  # noqa: E402
import sysconfig  # noqa: E402
import textwrap  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402
import quorvant as q  # noqa: E402
from bench_bias import np_model_bias  # noqa: E402
from bench_drift import scores_numpy  # noqa: E402
from bench_linear_regression import numpy_metrics  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


def paired(*fns, runs: int = 9, warmup: int = 1, min_time: float = 0.02) -> list[list[float]]:
    """Seconds per call of each function, sampled back to back `runs` times;
    a sample repeats a call until it has lasted `min_time`."""
    for fn in fns:
        for _ in range(warmup):
            fn()
    samples: list[list[float]] = [[] for _ in fns]
    for _ in range(runs):
        for fn, out in zip(fns, samples):
            n = 0
            start = time.perf_counter()
            while True:
                fn()
                n += 1
                elapsed = time.perf_counter() - start
                if elapsed >= min_time:
                    break
            out.append(elapsed / n)
    return samples


def median_ratio(num: list[float], den: list[float]) -> float:
    return statistics.median(a / b for a, b in zip(num, den))


def compiled(name: str, function: str, restype, argtypes):
    """`function` of the probe bench/<name>.cpp, compiled on first use with
    the system C++ compiler into build/bench/, or None when no C++ compiler
    is at hand."""
    compiler = shutil.which((sysconfig.get_config_var("CXX") or "c++").split()[0]) or shutil.which("c++")
    if compiler is None:
        return None
    out_dir = HERE.parent / "build" / "bench"
    out_dir.mkdir(parents=True, exist_ok=True)
    lib = out_dir / f"{name}.so"
    src = HERE / f"{name}.cpp"
    if not lib.exists() or lib.stat().st_mtime < src.stat().st_mtime:
        cmd = [compiler, "-O2", "-ffp-contract=off", "-fno-math-errno", "-shared", "-fPIC", "-o", str(lib), str(src)]
        if subprocess.run(cmd, capture_output=True).returncode != 0:
            return None
    fn = getattr(ctypes.CDLL(str(lib)), function)
    fn.restype, fn.argtypes = restype, argtypes
    return fn


def floor_probe():
    """The regression floor probe (floor_probe.cpp), or None."""
    return compiled("floor_probe", "two_logs_in_order", ctypes.c_double,
                    [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t])


def bias_probe():
    """The bias floor probe (bias_probe.cpp), or None."""
    return compiled("bias_probe", "count_equal_three", ctypes.c_uint64,
                    [ctypes.c_void_p] * 3 + [ctypes.c_size_t] + [ctypes.c_int64] * 3)


class Line:
    """One row of the table; met is True, False, None (waiting on work not
    done yet) or "" (a reference row with no target)."""

    def __init__(self, name: str, value: str, comparison: str, target: str, met: bool | None | str):
        self.name, self.value, self.comparison, self.target, self.met = name, value, comparison, target, met

    def cells(self) -> list[str]:
        met = self.met if self.met == "" else {True: "yes", False: "NO", None: "pending"}[self.met]
        return [self.name, self.value, self.comparison, self.target, met]


# ------------------------------------------------------------------ lines ---


def regression_line(rng) -> list[Line]:
    n = 1_000_000
    y = rng.uniform(0.5, 100.0, n)
    p = y * rng.uniform(0.9, 1.1, n)
    probe = floor_probe()
    fns = [lambda: q.py_model_perf_linear_regression(y, p), lambda: numpy_metrics(y, p)]
    if probe is not None:
        fns.append(lambda: probe(y.ctypes.data, p.ctypes.data, n))
    samples = paired(*fns, runs=15)
    ns = statistics.median(samples[0]) / n * 1e9
    ratio = median_ratio(samples[1], samples[0])
    lines = [Line("py_model_perf_linear_regression, 10^6 float64 rows", f"{ns:.2f} ns/row",
                  f"{ratio:.1f}x NumPy formulas", "<= 10.5 ns/row, >= 2x", ns <= 10.5 and ratio >= 2.0)]
    if probe is not None:
        floor = statistics.median(samples[2]) / n * 1e9
        lines.append(Line("  floor probe: two libm logs per row + one in-order sum", f"{floor:.2f} ns/row",
                          f"ours = {median_ratio(samples[0], samples[2]):.2f}x the probe", "-", ""))
    return lines


def sturges_line(rng) -> list[Line]:
    base = rng.normal(size=100_000)
    cand = rng.normal(0.1, 1.0, size=1_000)

    def ours():
        return q.py_compute_drift_continuous_distribtuion(base, cand, ALL, "Sturges")

    def theirs():
        counts, edges = np.histogram(base, bins="sturges")
        return scores_numpy(counts / base.size, np.histogram(cand, edges)[0])

    samples = paired(ours, theirs, runs=15)
    ns = statistics.median(samples[0]) / base.size * 1e9
    ratio = median_ratio(samples[1], samples[0])
    return [Line("continuous one-shot, Sturges, baseline 10^5 (candidate 10^3)", f"{ns:.2f} ns/baseline value",
                 f"{ratio:.1f}x np.histogram + SciPy", "<= 1.5 ns/value, >= 5x", ns <= 1.5 and ratio >= 5.0)]


def candidate_line(rng) -> list[Line]:
    # 1,001 baseline values whose default rule gives about 100 bins.
    base = np.concatenate([np.linspace(0.0, 1.0, 1000), [9.99]])
    cand = rng.uniform(-0.05, 10.0, size=10_000_000)
    edges = np.linspace(base.min(), base.max(), 101)

    def ours():
        return q.py_compute_drift_continuous_distribtuion(base, cand, ALL, None)

    def theirs():
        p = np.histogram(base, edges)[0] / base.size
        return scores_numpy(p, np.histogram(cand, edges)[0])

    def read_once():
        return cand.sum()

    samples = paired(ours, theirs, read_once, runs=5)
    ratio = median_ratio(samples[1], samples[0])
    ns = statistics.median(samples[0]) / cand.size * 1e9
    floor = statistics.median(samples[2]) / cand.size * 1e9
    return [Line("continuous one-shot, 10^7 candidate values (~100 bins)", f"{ns:.2f} ns/value",
                 f"{ratio:.1f}x np.histogram + SciPy", ">= 5x", ratio >= 5.0),
            Line("  memory floor: one read of the candidate (ndarray.sum)", f"{floor:.2f} ns/value",
                 f"ours = {median_ratio(samples[0], samples[2]):.2f}x", "-", "")]


def bias_data(rng, n):
    feature = rng.integers(0, 4, n)
    truth = rng.integers(0, 2, n)
    pred = np.where(rng.random(n) < 0.8, truth, 1 - truth)
    return feature, truth, pred


def bias_line(rng) -> list[Line]:
    n = 10_000_000
    feature, truth, pred = bias_data(rng, n)
    probe = bias_probe()
    fns = [lambda: q.py_model_bias_analyzer(feature, truth, pred, 2, 1, 1),
           lambda: np_model_bias(feature, truth, pred, 2, 1, 1)]
    if probe is not None:
        fns.append(lambda: probe(feature.ctypes.data, truth.ctypes.data, pred.ctypes.data, n, 2, 1, 1))
    samples = paired(*fns, runs=5)
    ns = statistics.median(samples[0]) / n * 1e9
    ratio = median_ratio(samples[1], samples[0])
    lines = [Line("py_model_bias_analyzer, 10^7 int64 rows", f"{ns:.2f} ns/row", f"{ratio:.1f}x NumPy masks",
                  "<= 3 ns/row, >= 8x", ns <= 3.0 and ratio >= 8.0)]
    if probe is not None:
        floor = statistics.median(samples[2]) / n * 1e9
        lines.append(Line("  floor probe: one read of the 3 arrays, compared and counted", f"{floor:.2f} ns/row",
                          f"ours = {median_ratio(samples[0], samples[2]):.2f}x the probe", "-", ""))
    return lines


# A fresh interpreter per sample: the first call there pays everything a
# first call can (lazy imports, one-time tables, fresh heap pages). The
# arrays are made (and so written) just before.
FIRST_CALL = textwrap.dedent("""
    import statistics, sys, time
    import numpy as np
    import quorvant as q
    rng = np.random.default_rng(int(sys.argv[2]))
    n = 1_000_000
    kind = sys.argv[1]
    if kind == "regression":
        y = rng.uniform(0.5, 100.0, n); p = y * rng.uniform(0.9, 1.1, n)
        call = lambda a, b: q.py_model_perf_linear_regression(a, b)
    elif kind == "drift":
        y = rng.normal(size=n); p = rng.normal(0.1, 1.0, n)
        call = lambda a, b: q.py_compute_drift_continuous_distribtuion(a, b, ["JensenShannon"], None)
    else:
        y = rng.integers(0, 4, n); p = rng.integers(0, 2, n); z = rng.integers(0, 2, n)
        call = lambda a, b: q.py_model_bias_analyzer(a, b, z, 2, 1, 1)
    t0 = time.perf_counter(); call(y, p); first = time.perf_counter() - t0
    steady = []
    for _ in range(9):
        t0 = time.perf_counter(); call(y, p); steady.append(time.perf_counter() - t0)
    # New copies of the inputs in the warm process: a caller's fresh arrays.
    y2, p2 = y.copy(), p.copy()
    t0 = time.perf_counter(); call(y2, p2); fresh = time.perf_counter() - t0
    print(first, statistics.median(steady), fresh)
""")


def first_call_lines(rng) -> list[Line]:
    lines = []
    for kind, label in (("regression", "py_model_perf_linear_regression"),
                        ("drift", "continuous one-shot, default rule, 10^6 + 10^6"),
                        ("bias", "py_model_bias_analyzer")):
        firsts, fresh = [], []
        for seed in range(11):
            out = subprocess.run([sys.executable, "-c", FIRST_CALL, kind, str(seed)], capture_output=True,
                                 text=True, check=True).stdout.split()
            first, steady, again = (float(x) for x in out)
            firsts.append(first / steady)
            fresh.append(again / steady)
        ratio = statistics.median(firsts)
        lines.append(Line(f"first call on a fresh 10^6-row array: {label}", f"{ratio:.2f}x steady state",
                          f"new arrays in a warm process {statistics.median(fresh):.2f}x", "<= 1.2x", ratio <= 1.2))
    return lines


def threads_lines(rng) -> list[Line]:
    n = 10_000_000
    base = rng.normal(size=100_000)
    cands = [rng.normal(0.1, 1.0, n), rng.normal(-0.1, 1.0, n)]
    bias_sets = [bias_data(rng, n), bias_data(rng, n)]
    jobs = {
        "two drift scores at 10^7": [lambda c=c: q.py_compute_drift_continuous_distribtuion(base, c, ALL, None)
                                     for c in cands],
        "two bias analyzers at 10^7": [lambda d=d: q.py_model_bias_analyzer(*d, 2, 1, 1) for d in bias_sets],
    }
    lines = []
    for label, (a, b) in jobs.items():
        def serial():
            a()
            b()

        def two_threads():
            ts = [threading.Thread(target=a), threading.Thread(target=b)]
            for t in ts:
                t.start()
            for t in ts:
                t.join()

        samples = paired(two_threads, serial, runs=11)
        ratio = median_ratio(samples[0], samples[1])
        lines.append(Line(f"{label}: two threads vs one thread", f"{ratio:.2f}x the one-thread time", "-",
                          "<= 0.6x (bench_threads.py: the machine's own)", ratio <= 0.6))
    return lines


LINES = {
    "regression": regression_line,
    "sturges": sturges_line,
    "candidate": candidate_line,
    "bias": bias_line,
    "first": first_call_lines,
    "threads": threads_lines,
}


def main(argv: list[str] = ()) -> None:
    rng = np.random.default_rng(18)
    rows = []
    for key, fn in LINES.items():
        if argv and not any(a in key for a in argv):
            continue
        for line in fn(rng):
            rows.append(line.cells())
            print(" | ".join(rows[-1]), flush=True)
    header = ["work", "measured (median)", "comparison (median ratio)", "target", "met"]
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(header)]
    print()
    print("  ".join(h.ljust(w) for h, w in zip(header, widths)))
    for r in rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)))


if __name__ == "__main__":
    main(sys.argv[1:])
