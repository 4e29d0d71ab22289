"""Threads: core work on large inputs runs without the GIL, so two Python
threads computing on two inputs use two cores. Each line times the two calls
run one after the other in one thread and run at once in two threads (wall
clock, median of several rounds) and prints the ratio threads / serial
against the target of 0.6 (1.0 would mean no parallelism at all; 0.5 is the
floor on two cores). A pass that reads its input once is bound by memory
bandwidth, which the two cores share: the NumPy lines at the end show what
this machine gives a memory-bound and an arithmetic-bound loop.

    python bench/bench_threads.py
"""

from __future__ import annotations

import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # idle BLAS threads would spin on a small machine

import statistics  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import quorvant as q  # noqa: E402

N = 10**7
TARGET = 0.6
ROUNDS = 21
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


def in_threads(calls) -> float:
    start = threading.Barrier(len(calls) + 1)

    def run(fn):
        start.wait()
        fn()

    threads = [threading.Thread(target=run, args=(fn,)) for fn in calls]
    for t in threads:
        t.start()
    start.wait()
    t0 = time.perf_counter()
    for t in threads:
        t.join()
    return time.perf_counter() - t0


def in_one_thread(calls) -> float:
    t0 = time.perf_counter()
    for fn in calls:
        fn()
    return time.perf_counter() - t0


def measure(name: str, calls, target: float | None = TARGET) -> None:
    for fn in calls:
        fn()  # warm up (first touches of the inputs)
    serial, threaded = [], []
    for _ in range(ROUNDS):
        serial.append(in_one_thread(calls))
        threaded.append(in_threads(calls))
    # The ratio of each round (its two timings back to back), then their
    # median and quartiles: on a shared virtual machine the second core is
    # not always there, and single timings jump.
    ratios = sorted(t / s for s, t in zip(serial, threaded))
    ratio = statistics.median(ratios)
    low, high = ratios[len(ratios) // 4], ratios[(3 * len(ratios)) // 4]
    s, t = statistics.median(serial), statistics.median(threaded)
    verdict = "(no target)" if target is None else f"<= {target}: {'met' if ratio <= target else 'NOT met'}"
    print(f"{name:<66} {s * 1e3:9.1f} ms {t * 1e3:9.1f} ms {ratio:7.2f} ({low:.2f}-{high:.2f})   {verdict}")


def main() -> None:
    rng = np.random.default_rng(11)
    print(f"{'two calls':<66} {'1 thread':>12} {'2 threads':>12} {'ratio (quartiles)':>19}   target")

    baseline = rng.normal(size=1001)
    candidates = [rng.normal(0.1 * i, 1.0, N) for i in range(2)]
    measure("py_compute_drift_continuous_distribtuion, 2 x 10^7 values",
            [lambda c=c: q.py_compute_drift_continuous_distribtuion(baseline, c, ALL, None) for c in candidates])

    def analyzer_inputs():
        truth = rng.integers(0, 2, N)
        pred = np.where(rng.random(N) < 0.8, truth, 1 - truth)
        return rng.integers(0, 100, N), truth, pred

    inputs = [analyzer_inputs() for _ in range(2)]
    measure("py_model_bias_analyzer, 2 x 10^7 int64 rows",
            [lambda a=a: q.py_model_bias_analyzer(a[0], a[1], a[2], 50, 1, 1) for a in inputs])

    monitors = [q.PyBinaryClassificationStreaming([1, 0], [1, 0]) for _ in range(2)]
    measure("PyBinaryClassificationStreaming.push_batch, 2 objects x 10^7 rows",
            [lambda m=m, a=a: m.push_batch(a[1], a[2]) for m, a in zip(monitors, inputs)], target=None)

    # Work bound by arithmetic rather than by reading memory: the regression
    # metrics (two logarithms a row) and Scott's rule (sorting the values).
    pairs = [(rng.random(N // 2) + 0.5, rng.random(N // 2) + 0.5) for _ in range(2)]
    measure("py_model_perf_linear_regression, 2 x 5*10^6 rows",
            [lambda y=y, p=p: q.py_model_perf_linear_regression(y, p) for y, p in pairs])
    measure("py_compute_drift_continuous_distribtuion (Scott), 2 x 10^6 values",
            [lambda c=c: q.py_compute_drift_continuous_distribtuion(c[: 10**6], baseline, ALL, "Scott")
             for c in candidates])

    # What the machine itself gives two threads (NumPy releases the GIL in
    # both): one read of 10^7 float64 values three times (bound by memory
    # bandwidth, which two cores share: the floor of a one-read pass), and
    # summing them (NumPy's pairwise sum is bound by arithmetic).
    arrays = [rng.random(N) for _ in range(2)]
    measure("NumPy x.max(), 2 x 10^7 values, three times (memory bound)",
            [lambda x=x: [x.max() for _ in range(3)] for x in arrays], target=None)
    measure("NumPy x.sum(), 2 x 10^7 values, three times (arithmetic bound)",
            [lambda x=x: [x.sum() for _ in range(3)] for x in arrays], target=None)

if __name__ == "__main__":
    main()
