"""Objects of every class in reproducible states, and what can be observed
of them: shared by the state, fuzz and merge tests and by the script that
wrote the committed payloads (tests/data/state/v1/)."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable

import numpy as np

import quorvant as q

DRIFT_TYPES = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


# Data made by exact integer arithmetic, so it is the same on every machine.
def values(n: int, k: int = 0) -> np.ndarray:
    i = np.arange(n, dtype=np.int64)
    return ((i * 7919 + k * 104729) % 1000) / 37.0 + k * 0.5


def labels(n: int, k: int = 0) -> list[str]:
    names = ["north", "south", "east", "west", "é-unicode", "zz-unseen"]
    return [names[(i * 31 + k * 7) % (5 if k == 0 else 6)] for i in range(n)]


def bits(n: int, a: int, b: int, m: int = 3) -> np.ndarray:
    i = np.arange(n, dtype=np.int64)
    return (((i * i * 13 + i * a + b) % 97) % m == 0).astype(np.int64)


def scores(n: int, k: int = 0) -> np.ndarray:
    i = np.arange(n, dtype=np.int64)
    return ((i * 37 + k * 11) % 101) / 100.0


def catch(f: Callable[..., Any], *args: Any) -> Any:
    """f(*args), or the exception it raises as ("raised", type name, message)."""
    try:
        return f(*args)
    except Exception as exc:  # noqa: BLE001 - errors are part of what is observed
        return ("raised", type(exc).__name__, str(exc))


def bitwise(x: Any) -> Any:
    """A form of `x` in which equal means equal bit for bit (NaN == NaN, -0.0 != 0.0)."""
    if isinstance(x, float):
        return ("f", x.hex())
    if isinstance(x, dict):
        return tuple(sorted((k, bitwise(v)) for k, v in x.items()))
    if isinstance(x, (list, tuple)):
        return tuple(bitwise(v) for v in x)
    return x


@dataclass
class Case:
    make: Callable[[], Any]
    feed: Callable[[Any, int], None]  # adds rows (or runtime data) number k
    fail: Callable[[Any], None]  # a call that raises
    reset: Callable[[Any], None]
    observe: Callable[[Any], Any]  # everything a caller can see (may decay)
    forget: Callable[[Any], None] | None = None  # flush, or one decay step


def _monitor_observe(metric: str) -> Callable[[Any], Any]:
    def observe(m):
        return [catch(m.performance_snapshot), catch(m.drift_snapshot), catch(lambda: m.drift_report(0.05)),
                catch(lambda: m.drift_report_partial_metrics([metric], 0.0))]
    return observe


def _stream_observe(m):
    out = [m.export_baseline(), m.n_bins, m.total_samples, catch(m.export_snapshot)]
    out.append(catch(lambda: m.compute_drift_multiple_criteria(DRIFT_TYPES)))
    out.append(m.total_samples)
    return out


def _continuous_feed(m, k):
    m.update_stream_batch(values(40 + 13 * k, k + 1))
    m.update_stream(float(k) - 3.0)


def _categorical_feed(m, k):
    m.update_stream_batch(labels(30 + 7 * k, k + 1))
    m.update_stream("never-seen")


def _decay_step(m):
    m.compute_drift("KullbackLeibler")


CASES: dict[str, Case] = {
    "PyCategoricalDataDrift": Case(
        make=lambda: q.PyCategoricalDataDrift(labels(200)),
        feed=lambda m, k: None,
        fail=lambda m: m.compute_drift([], "JensenShannon"),
        reset=lambda m: m.reset_baseline(labels(50, 3)),
        observe=lambda m: [m.export_baseline(), m.num_bins,
                           m.compute_drift_mutliple_criteria(labels(90, 2), DRIFT_TYPES)],
    ),
    "PyContinuousDataDrift": Case(
        make=lambda: q.PyContinuousDataDrift(values(300), "Scott"),
        feed=lambda m, k: None,
        fail=lambda m: m.compute_drift(np.array([]), "JensenShannon"),
        reset=lambda m: m.reset_baseline(values(120, 4)),
        observe=lambda m: [m.export_baseline(), m.num_bins,
                           m.compute_drift_mutliple_criteria(values(77, 2), DRIFT_TYPES)],
    ),
    "PyStreamingContinuousDataDriftFlush": Case(
        make=lambda: q.PyStreamingContinuousDataDriftFlush(values(300), "Sturges", 150, 3600),
        feed=_continuous_feed,
        fail=lambda m: m.update_stream_batch(np.array([])),
        reset=lambda m: m.reset_baseline(values(90, 5)),
        observe=_stream_observe,
        forget=lambda m: m.flush(),
    ),
    "PyStreamingContinuousDataDriftDecay": Case(
        make=lambda: q.PyStreamingContinuousDataDriftDecay(values(300), None, 3),
        feed=_continuous_feed,
        fail=lambda m: m.compute_drift("NoSuchDrift"),
        reset=lambda m: m.reset_baseline(values(90, 5)),
        observe=_stream_observe,
        forget=_decay_step,
    ),
    "PyStreamingCategoricalDataDriftFlush": Case(
        make=lambda: q.PyStreamingCategoricalDataDriftFlush(labels(200), 100, 7200),
        feed=_categorical_feed,
        fail=lambda m: m.update_stream_batch([]),
        reset=lambda m: m.reset_baseline(labels(40, 2)),
        observe=_stream_observe,
        forget=lambda m: m.flush(),
    ),
    "PyStreamingCategoricalDataDriftDecay": Case(
        make=lambda: q.PyStreamingCategoricalDataDriftDecay(labels(200), 5),
        feed=_categorical_feed,
        fail=lambda m: m.update_stream_batch([]),
        reset=lambda m: m.reset_baseline(labels(40, 2)),
        observe=_stream_observe,
        forget=_decay_step,
    ),
    "PyDataBiasStreaming": Case(
        make=lambda: q.PyDataBiasStreaming(bits(60, 1, 0, 2), bits(60, 5, 1)),
        feed=lambda m, k: (m.push_batch(bits(25 + k, 3, k, 2), bits(25 + k, 7, k + 1)), m.push(1, 1)),
        fail=lambda m: m.push_batch([1, 0], [1]),
        reset=lambda m: m.reset_baseline(bits(40, 1, 1, 2), bits(40, 2, 0)),
        observe=_monitor_observe("KlDivergence"),
        forget=lambda m: m.flush(),
    ),
    "PyModelBiasStreaming": Case(
        make=lambda: q.PyModelBiasStreaming(bits(80, 1, 0, 2), bits(80, 3, 1), bits(80, 5, 2)),
        feed=lambda m, k: (m.push_batch(bits(30 + k, 1, k, 2), bits(30 + k, 7, 1), bits(30 + k, 5, k)),
                           m.push(0, 1, 1)),
        fail=lambda m: m.push_batch([1, 0], [1, 0], [1]),
        reset=lambda m: m.reset_baseline(bits(50, 1, 1, 2), bits(50, 2, 0), bits(50, 3, 1)),
        observe=_monitor_observe("GeneralizedEntropy"),
        forget=lambda m: m.flush(),
    ),
    "PyBinaryClassificationStreaming": Case(
        make=lambda: q.PyBinaryClassificationStreaming(bits(50, 1, 0, 2), bits(50, 3, 0, 2)),
        feed=lambda m, k: (m.push_batch(bits(20 + k, 1, k, 2), bits(20 + k, 5, 1, 2)), m.push(1, 0)),
        fail=lambda m: m.push_batch([1, 0], [1]),
        reset=lambda m: m.reset_baseline(bits(30, 1, 1, 2), bits(30, 7, 0, 2)),
        observe=_monitor_observe("F1Score"),
        forget=lambda m: m.flush(),
    ),
    "PyLinearRegressionStreaming": Case(
        make=lambda: q.PyLinearRegressionStreaming(values(40), values(40, 1)),
        feed=lambda m, k: (m.push_batch(values(15 + k, k), values(15 + k, k + 2)), m.push(0.25 * k, 1.5)),
        fail=lambda m: m.push_batch([1.0], []),
        reset=lambda m: m.reset_baseline(values(20, 3), values(20, 4)),
        observe=_monitor_observe("RSquared"),
        forget=lambda m: m.flush(),
    ),
    "PyLogisticRegressionStreaming": Case(
        make=lambda: q.PyLogisticRegressionStreaming(bits(60, 1, 0, 2).astype(float), scores(60), 0.45),
        feed=lambda m, k: (m.push_batch(bits(20 + k, 3, k, 2).astype(float), scores(20 + k, k)), m.push(1.0, 0.9)),
        fail=lambda m: m.push_batch([1.0], []),
        reset=lambda m: m.reset_baseline_and_decision_threshold(bits(30, 1, 1, 2).astype(float), scores(30, 2), 0.6),
        observe=_monitor_observe("LogLoss"),
        forget=lambda m: m.flush(),
    ),
}

STREAMING = [name for name, case in CASES.items() if name not in ("PyCategoricalDataDrift", "PyContinuousDataDrift")]


def sample(name: str) -> Any:
    """The object of the committed payload of `name`: a non-trivial state."""
    case = CASES[name]
    m = case.make()
    for k in range(3):
        case.feed(m, k)
    if name.endswith("Decay"):
        case.forget(m)  # weights no longer whole
        case.feed(m, 3)
    return m


def same_behaviour(a: Any, b: Any, name: str, rounds: int = 2) -> None:
    """a and b answer alike now and after the same further rows."""
    case = CASES[name]
    for k in range(rounds):
        assert bitwise(case.observe(a)) == bitwise(case.observe(b))
        case.feed(a, 10 + k)
        case.feed(b, 10 + k)
    assert bitwise(case.observe(a)) == bitwise(case.observe(b))


def snapshots(m: Any) -> Any:
    """A monitor's current metrics and drift (or their errors), bit for bit."""
    return bitwise([catch(m.performance_snapshot), catch(m.drift_snapshot)])
