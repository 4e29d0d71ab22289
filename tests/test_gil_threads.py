"""Core work on large inputs runs without the GIL: threads on different inputs give the results of one thread,
threads on one object wait for each other, and a conflict with a holder running Python code fails at once."""

from __future__ import annotations

import subprocess
import sys
import threading

import numpy as np
import pytest

import quorvant._quorvant as q
from support import SANITIZED, child_env, raises_exactly
from test_stateful import canonical

LARGE = 70_000 if SANITIZED else 300_000  # past the size at which the GIL is released
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


def run_threads(targets):
    """Runs the callables in threads started together; their results (or exceptions) in order."""
    results = [None] * len(targets)
    start = threading.Barrier(len(targets))

    def runner(i, fn):
        start.wait()
        try:
            results[i] = fn()
        except BaseException as exc:  # noqa: BLE001 - reported to the test
            results[i] = exc

    threads = [threading.Thread(target=runner, args=(i, fn)) for i, fn in enumerate(targets)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def data(seed, n=LARGE):
    """feature, truth, prediction, score, facet (0/1)."""
    rng = np.random.default_rng(seed)
    truth = rng.integers(0, 2, n)
    return (rng.normal(40.0, 12.0, n), truth, np.where(rng.random(n) < 0.8, truth, 1 - truth), rng.random(n),
            rng.integers(0, 2, n))


# Functions and methods whose core runs without the GIL, on inputs of their own per seed.
def one_shot_cases(seed):
    feature, truth, pred, score, facet = data(seed)
    base = np.random.default_rng(seed + 100).normal(size=LARGE)

    def detector():
        d = q.PyStreamingContinuousDataDriftFlush(base, None, None, None)
        d.update_stream_batch(feature)
        return d.compute_drift_multiple_criteria(ALL)

    def monitor():
        m = q.PyModelBiasStreaming(facet[:1000], pred[:1000], truth[:1000])
        m.push_batch(facet, pred, truth)
        return m.drift_snapshot()

    labels = np.array(["card", "cash", "transfer", "ünïcode", "\U0001f600"])
    text_base, text_cand = labels[facet + 2 * truth], labels[pred + 3 * facet]

    def text_detector():
        d = q.PyCategoricalDataDrift(text_base)
        return d.compute_drift_mutliple_criteria(text_cand, ALL), d.export_baseline()

    return [
        lambda: q.py_compute_drift_continuous_distribtuion(base, feature, ALL, None),
        lambda: q.py_compute_drift_categorical_distribtuion(text_base, text_cand, ALL),
        text_detector,
        lambda: q.py_model_bias_analyzer(feature, truth, pred, 40.0, 1, 1),
        lambda: q.py_data_bias_analyzer(feature, truth, 40.0, 1),
        lambda: q.py_model_perf_logistic_regression(truth.astype(float), score, 0.5),
        lambda: q.py_model_perf_classification(truth, pred),
        lambda: q.py_model_perf_linear_regression(feature, feature + score),
        detector,
        monitor,
    ]


@pytest.mark.parametrize("which", range(10))
def test_threads_on_different_inputs_give_the_results_of_one_thread(which):
    serial = [one_shot_cases(seed)[which]() for seed in range(4)]
    threaded = run_threads([one_shot_cases(seed)[which] for seed in range(4)])
    assert [canonical(got) for got in threaded] == [canonical(want) for want in serial]


# One object hammered from eight threads: every call succeeds (a conflicting call waits for a holder that runs
# without the GIL) and counts once.
MONITORS = {
    "classification": (lambda: q.PyBinaryClassificationStreaming([1, 0], [1, 0]),
                       lambda m, seed: m.push_batch(*data(seed)[1:3]), lambda m: m.performance_snapshot()),
    "logistic": (lambda: q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5),
                 lambda m, seed: m.push_batch(data(seed)[1].astype(np.float64), data(seed)[3]),
                 lambda m: m.performance_snapshot()),
    "data bias": (lambda: q.PyDataBiasStreaming([1, 0, 1, 0], [1, 1, 0, 0]),
                  lambda m, seed: m.push_batch(*data(seed)[1:3]), lambda m: m.performance_snapshot()),
    "categorical drift from str arrays": (
        lambda: q.PyStreamingCategoricalDataDriftDecay(np.array(["a", "b", "c", "é"]), None),
        lambda m, seed: m.update_stream_batch(np.array(["a", "b", "é", "z"])[data(seed)[4] + 2 * data(seed)[1]]),
        lambda m: (m.export_snapshot(), m.total_samples)),
    "model bias": (lambda: q.PyModelBiasStreaming(*(data(99, 1000)[i] for i in (4, 2, 1))),
                   lambda m, seed: m.push_batch(*(data(seed)[i] for i in (4, 2, 1))),
                   lambda m: m.drift_snapshot()),
    "continuous drift": (lambda: q.PyStreamingContinuousDataDriftDecay(data(99, 5000)[0], None, None),
                         lambda m, seed: m.update_stream_batch(data(seed)[0]),
                         lambda m: (m.export_snapshot(), m.total_samples)),
}


@pytest.mark.parametrize("kind", list(MONITORS))
def test_eight_threads_on_one_object_run_one_after_the_other(kind):
    make, push, snapshot = MONITORS[kind]
    shared, serial, rounds = make(), make(), 2

    def worker(seed):
        def go():
            for _ in range(rounds):
                push(shared, seed)
                snapshot(shared)  # a reader between the writers
        return go

    results = run_threads([worker(seed) for seed in range(8)])
    assert all(r is None for r in results), results
    for _ in range(rounds):
        for seed in range(8):
            push(serial, seed)
    assert canonical(snapshot(shared)) == canonical(snapshot(serial))


def test_a_conflict_with_a_holder_running_python_code_fails_at_once():
    m = q.PyBinaryClassificationStreaming([1, 0], [1, 0])
    inside, release = threading.Event(), threading.Event()

    class Blocking:
        def __index__(self):
            inside.set()
            release.wait(30)  # the holder runs Python code (and lets other threads run)
            return 1

    holder = threading.Thread(target=lambda: m.push_batch([1, Blocking()], [1, 1]))
    holder.start()
    try:
        assert inside.wait(30)
        with raises_exactly(RuntimeError, "Already borrowed"):
            m.push(1, 1)
        with raises_exactly(RuntimeError, "Already mutably borrowed"):
            m.performance_snapshot()
    finally:
        release.set()
        holder.join()
    assert m.performance_snapshot()["Accuracy"] == 1.0  # the holder's batch, counted once


def test_reentrant_calls_during_a_large_call_still_fail_at_once():
    m = q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5)
    truth, score = data(1)[1].astype(np.float64), data(1)[3]

    class Reentrant:
        def __float__(self):
            m.push(1.0, 1.0)
            return 0.5

    with raises_exactly(RuntimeError, "Already borrowed"):
        m.reset_baseline_and_decision_threshold(truth, score, Reentrant())
    m.push_batch(truth, score)  # the object works on
    assert m.performance_snapshot()


OUT_OF_MEMORY = r"""
import resource, sys
import numpy as np
import quorvant._quorvant as q
base = np.random.default_rng(0).normal(size=4_000_000)
ALL = ["JensenShannon"]
small = q.py_compute_drift_continuous_distribtuion(base[:1000], base[:1000], ALL, None)
with open("/proc/self/status") as f:
    size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (size + 2**20, hard))
try:
    q.py_compute_drift_continuous_distribtuion(base, base, ALL, "Scott")  # sorts a copy of 32 MB
    print("no error")
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(q.py_compute_drift_continuous_distribtuion(base[:1000], base[:1000], ALL, None) == small)
"""


@pytest.mark.skipif(SANITIZED, reason="the sanitizer reserves address space of its own")
def test_an_allocation_failing_without_the_gil_is_memoryerror_and_the_interpreter_goes_on():
    out = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], env=child_env(), capture_output=True, text=True,
                         timeout=300)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["MemoryError", "True"], out.stdout + out.stderr
