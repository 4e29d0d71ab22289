"""Random call sequences on every streaming class against a plain model of its state, failing calls included:
a monitor must answer like a fresh object given its baseline and rows in one batch (and like the batch functions),
a drift detector like drift_reference.StreamModel, bit for bit. QUORVANT_STATEFUL=long runs many more."""

from __future__ import annotations

import math
import os

import numpy as np
import pytest
from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

import drift_reference as ref
import quorvant as q
from support import SANITIZED
from test_data_bias import counts_of, pre_training_reference

LONG = os.environ.get("QUORVANT_STATEFUL") == "long"
SETTINGS = settings(
    max_examples=400 if LONG else (8 if SANITIZED else 30),
    stateful_step_count=60 if LONG else 20,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)
BAD_NAMES = st.sampled_from(["Nope", "accuracy", "", "Acc\x00uracy"])
NOT_A_NUMBER = st.sampled_from(["1", None, [1], object()])


def read(fn, *args):
    """A read's value, or its exception as (type name, message); test_threads uses it too."""
    try:
        return fn(*args)
    except Exception as exc:  # noqa: BLE001 - the error is part of the state
        return (type(exc).__name__, str(exc))


def canonical(value):
    """Floats by their bits (NaN as one value), recursively."""
    if isinstance(value, float):
        return "nan" if math.isnan(value) else value.hex()
    if isinstance(value, dict):
        return {k: canonical(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [canonical(v) for v in value]
    return value


def expect_failure(call, *args):
    with pytest.raises((TypeError, ValueError, OverflowError)):
        call(*args)


# A monitor machine keeps `baseline` (the rows of the last successful construction or reset) and `rows` (the
# stream since the last flush or clearing reset).
class MonitorMachine(RuleBasedStateMachine):
    cls = None
    columns = 2
    metric_names: list[str] = []
    row = None  # strategy of one row (a tuple of `columns` values)
    baselines = None  # strategy of baseline rows the constructor accepts
    resets = None  # strategy of rows reset_baseline is given
    reset_clears = False  # a reset empties the stream
    empty_reset_fails = False
    bad_resets = None  # strategy of rows reset_baseline refuses (default: columns of unequal lengths)

    @initialize(data=st.data())
    def build(self, data):
        rows = data.draw(self.baselines)
        self.obj, self.baseline, self.rows = self.make(rows), rows, []

    def fresh(self):
        f = self.make(self.baseline)
        if self.rows:
            f.push_batch(*self.split(self.rows))
        return f

    def make(self, rows):
        return self.cls(*self.split(rows))

    def split(self, rows):
        return [list(c) for c in zip(*rows)] if rows else [[] for _ in range(self.columns)]

    def reads(self, obj):
        return canonical([
            read(obj.performance_snapshot),
            read(obj.drift_snapshot),
            read(obj.drift_report, 0.1),
            read(obj.drift_report, -1.0),
            read(obj.drift_report_partial_metrics, self.metric_names[:3], 0.0),
        ])

    @invariant()
    def agrees_with_the_model(self):
        if getattr(self, "obj", None) is not None:
            assert self.reads(self.obj) == self.reads(self.fresh())

    @rule(data=st.data())
    def push(self, data):
        row = data.draw(self.row)
        self.obj.push(*row)
        self.rows.append(row)

    @rule(data=st.data(), form=st.sampled_from(["list", "tuple", "numpy"]))
    def push_batch(self, data, form):
        rows = data.draw(st.lists(self.row, min_size=1, max_size=30))
        self.obj.push_batch(*[self.convert(c, form) for c in self.split(rows)])
        self.rows.extend(rows)

    @rule()
    def flush(self):
        self.obj.flush()
        self.rows = []

    @rule(data=st.data())
    def reset_baseline(self, data):
        rows = data.draw(self.resets)
        if not rows and self.empty_reset_fails:
            expect_failure(self.obj.reset_baseline, [], [])
            return
        self.obj.reset_baseline(*self.split(rows))
        self.baseline = rows
        if self.reset_clears:
            self.rows = []

    @rule(data=st.data())
    def failed_reset_changes_nothing(self, data):
        if self.bad_resets is not None:
            expect_failure(self.obj.reset_baseline, *self.split(data.draw(self.bad_resets)))
            return
        cols = self.split(data.draw(st.lists(self.row, min_size=1, max_size=5)))
        cols[0] = cols[0] + cols[0][:1]
        expect_failure(self.obj.reset_baseline, *cols)

    @rule(data=st.data())
    def push_batch_of_unequal_lengths(self, data):
        rows = data.draw(st.lists(self.row, min_size=1, max_size=10))
        cols = self.split(rows)
        cols[0] = cols[0] + cols[0][:1]
        expect_failure(self.obj.push_batch, *cols)

    @rule(bad=NOT_A_NUMBER, data=st.data())
    def push_a_wrong_type(self, bad, data):
        row = list(data.draw(self.row))
        row[data.draw(st.integers(0, len(row) - 1))] = bad
        expect_failure(self.obj.push, *row)

    @rule(data=st.data())
    def push_batch_with_a_bad_element(self, data):
        rows = data.draw(st.lists(self.row, min_size=2, max_size=10))
        cols = self.split(rows)
        cols[-1][data.draw(st.integers(0, len(rows) - 1))] = "x"
        expect_failure(self.obj.push_batch, *cols)

    @rule(bad=BAD_NAMES)
    def report_with_an_unknown_metric(self, bad):
        expect_failure(self.obj.drift_report_partial_metrics, [self.metric_names[0], bad], 0.1)

    @rule(bad=NOT_A_NUMBER)
    def report_with_a_bad_threshold(self, bad):
        expect_failure(self.obj.drift_report, bad)

    @staticmethod
    def convert(column, form):
        return {"list": list, "tuple": tuple, "numpy": np.array}[form](column)


CLASSIFICATION_NAMES = ["Accuracy", "F1Score", "RecallPositive", "BalancedAccuracy"]
LOGISTIC_NAMES = ["LogLoss", "Accuracy", "PrecisionNegative"]
LINEAR_NAMES = ["MeanSquaredError", "RSquared", "MaxError"]


class ClassificationMachine(MonitorMachine):
    cls = q.PyBinaryClassificationStreaming
    metric_names = CLASSIFICATION_NAMES
    row = st.tuples(st.sampled_from([0, 1, 1, 2, -1]), st.sampled_from([0, 1, 1, 2, -1]))
    baselines = st.lists(row, min_size=1, max_size=20)
    resets, reset_clears = st.lists(row, max_size=20), True

    def fresh(self):
        # The constructor refuses no rows, a reset accepts them.
        f = self.cls([1], [1])
        f.reset_baseline(*self.split(self.baseline))
        if self.rows:
            f.push_batch(*self.split(self.rows))
        return f

    @rule()
    def batch_function_agrees(self):
        if self.rows:
            t, p = self.split(self.rows)
            want = q.py_model_perf_classification(np.array(t), np.array(p))
            assert canonical(self.obj.performance_snapshot()) == canonical(want)


class LinearMachine(MonitorMachine):
    cls = q.PyLinearRegressionStreaming
    metric_names = LINEAR_NAMES
    row = st.tuples(st.floats(-0.5, 50, width=32), st.floats(-0.5, 50, width=32))
    baselines = st.lists(row, min_size=1, max_size=20)
    resets, empty_reset_fails = st.lists(row, max_size=20), True


class LogisticMachine(MonitorMachine):
    cls = q.PyLogisticRegressionStreaming
    metric_names = LOGISTIC_NAMES
    row = st.tuples(st.sampled_from([0.0, 1.0]), st.one_of(st.sampled_from([0.0, 0.5, 1.0]), st.floats(0, 1, width=32)))
    resets, empty_reset_fails = st.lists(row, max_size=20), True
    thresholds = st.sampled_from([0.5, 0.25, 0.9, 0.0, 1.0])

    @initialize(rows=st.lists(row, min_size=1, max_size=20), threshold=thresholds)
    def build(self, rows, threshold):
        self.obj = self.cls(*self.split(rows), threshold)
        self.baseline, self.rows, self.threshold = rows, [], threshold

    def fresh(self):
        f = self.cls(*self.split(self.baseline), self.threshold)
        if self.rows:
            f.push_batch(*self.split(self.rows))
        return f

    @rule(rows=st.lists(row, min_size=1, max_size=20), threshold=thresholds)
    def reset_baseline_and_decision_threshold(self, rows, threshold):
        # The stream's rows were classified at the old threshold: they stay so.
        pushed_at = self.threshold
        self.obj.reset_baseline_and_decision_threshold(*self.split(rows), threshold)
        if self.rows and threshold != pushed_at:
            # A fresh object can no longer replay the stream at one threshold:
            # start the model's stream over.
            self.obj.flush()
            self.rows = []
        self.baseline, self.threshold = rows, threshold

    @rule(rows=st.lists(row, min_size=1, max_size=5), threshold=thresholds)
    def failed_threshold_reset_changes_nothing(self, rows, threshold):
        t, p = self.split(rows)
        expect_failure(self.obj.reset_baseline_and_decision_threshold, t + [1.0], p, threshold)

    @rule()
    def batch_function_agrees(self):
        # The batch function takes truths at the threshold, the monitor
        # exactly 1: with truths 0 and 1 they agree for thresholds in (0, 1].
        if self.rows and self.threshold > 0.0:
            t, p = self.split(self.rows)
            want = q.py_model_perf_logistic_regression(np.array(t), np.array(p), self.threshold)
            assert canonical(self.obj.performance_snapshot()) == canonical(want)


BIAS_VALUES = st.sampled_from([0, 1, 1, 2, -1])
DATA_BIAS_NAMES = ["ClassImbalance", "KlDivergence", "LpNorm"]
MODEL_BIAS_NAMES = ["DisparateImpact", "AccuracyDifference", "GeneralizedEntropy"]


class DataBiasMachine(MonitorMachine):
    cls = q.PyDataBiasStreaming
    metric_names = DATA_BIAS_NAMES
    row = st.tuples(BIAS_VALUES, BIAS_VALUES)
    # Both facets present, so the baseline can be built.
    baselines = resets = st.lists(row, min_size=1, max_size=20).map(lambda r: [(1, 1), (0, 0)] + r)
    reset_clears = True
    bad_resets = st.lists(st.tuples(st.just(0), BIAS_VALUES), min_size=1, max_size=5)  # one facet

    @rule()
    def plain_reference_agrees(self):
        f, g = self.split(self.rows)
        counts = counts_of(np.array(f) == 1, np.array(g) == 1)
        if counts[1] and counts[3]:
            want = pre_training_reference(counts)
            assert canonical(self.obj.performance_snapshot()) == canonical(want)


class ModelBiasMachine(MonitorMachine):
    cls = q.PyModelBiasStreaming
    columns = 3
    metric_names = MODEL_BIAS_NAMES
    row = st.tuples(BIAS_VALUES, BIAS_VALUES, BIAS_VALUES)
    # Every guarded denominator non-zero in both facets.
    SAFE = [(f, p, t) for f in (0, 1) for p in (0, 1) for t in (0, 1)]
    baselines = resets = st.lists(row, max_size=20).map(lambda r: ModelBiasMachine.SAFE + r)
    bad_resets = st.lists(st.tuples(st.just(1), BIAS_VALUES, BIAS_VALUES), min_size=1, max_size=5)  # one facet


# ----------------------------------------------------------- drift streams --

KINDS = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
VALUES = st.one_of(st.sampled_from([-1.0, 0.0, 2.0, 4.5, 7.0, 9.0, 11.0, math.nan, math.inf]),
                   st.floats(-20, 20, allow_nan=False))
LABELS = st.sampled_from(["a", "b", "c", "q", "é", "", "A", "b "])
RULES = st.sampled_from([None, "Sturges", "Scott", "FreedmanDiaconis"])
# Quarters, so baselines have ties and a bounded bin count.
BASELINE_VALUES = st.lists(st.integers(-40, 40).map(lambda i: i / 4), min_size=2, max_size=30)


class DriftStreamMachine(RuleBasedStateMachine):
    """One of the four streaming detectors and a StreamModel of it."""

    categorical = False
    mode = "decay"

    def model_for(self, baseline):
        if self.categorical:
            index, hist = ref.categorical_baseline(baseline)
            self.index = index
            bin_of = lambda x, index=index, d=len(hist) - 1: index.get(x, d)  # noqa: E731
            family = "categorical"
        else:
            self.edges, hist = ref.continuous_baseline(baseline, self.rule or "FreedmanDiaconis")
            bin_of = lambda x, edges=self.edges: ref.bin_of(edges, x)  # noqa: E731
            family = "continuous"
        return ref.StreamModel(hist, bin_of, family, self.mode, half_life=self.param, rate=self.param,
                               time_due=self.cadence_zero)

    def baseline_arg(self, values):
        return list(values) if self.categorical else np.array(values, dtype=np.float64)

    @initialize(data=st.data(), param=st.sampled_from([None, 1, 3, 7, 300]), cadence_zero=st.booleans())
    def build(self, data, param, cadence_zero):
        if self.categorical:
            baseline = data.draw(st.lists(LABELS, min_size=1, max_size=12))
            self.rule = None
        else:
            baseline = data.draw(BASELINE_VALUES)
            self.rule = data.draw(RULES)
        self.param, self.cadence_zero = param, cadence_zero and self.mode == "flush"
        args = [self.baseline_arg(baseline)] + ([] if self.categorical else [self.rule])
        if self.mode == "decay":
            self.obj = self.cls(*args, param)
        else:
            self.obj = self.cls(*args, param, 0 if self.cadence_zero else None)
        self.model = self.model_for(baseline)

    @invariant()
    def agrees_with_the_model(self):
        if getattr(self, "obj", None) is None:
            return
        m = self.model
        assert self.obj.total_samples == math.floor(m.total)
        assert self.obj.n_bins == len(m.bins)
        if self.categorical:
            got = self.obj.export_snapshot()
            assert canonical([got[k] for k in sorted(self.index)]) == canonical(
                [m.bins[self.index[k]] for k in sorted(self.index)])
        elif m.total:
            assert canonical(self.obj.export_snapshot()["streamBins"]) == canonical([w / m.total for w in m.bins])
        else:
            expect_failure(self.obj.export_snapshot)

    def sample(self, data):
        return data.draw(LABELS if self.categorical else VALUES)

    @rule(data=st.data())
    def update_stream(self, data):
        x = self.sample(data)
        self.obj.update_stream(x)
        self.model.add(x)

    @rule(data=st.data(), size=st.sampled_from([1, 3, 40, 257]))
    def update_stream_batch(self, data, size):
        xs = data.draw(st.lists(LABELS if self.categorical else VALUES, min_size=size, max_size=size))
        self.obj.update_stream_batch(self.baseline_arg(xs))
        for x in xs:
            self.model.add(x)

    @rule(kinds=st.lists(st.sampled_from(KINDS), max_size=4))
    def compute_drift(self, kinds):
        try:
            want = self.model.scores(kinds)
        except ValueError:
            expect_failure(self.obj.compute_drift_multiple_criteria, kinds)
            return
        got = self.obj.compute_drift_multiple_criteria(kinds)
        assert canonical(got) == canonical(want)

    @rule(kind=st.sampled_from(KINDS))
    def compute_one(self, kind):
        try:
            want = self.model.scores([kind])
        except ValueError:
            expect_failure(self.obj.compute_drift, kind)
            return
        assert canonical([self.obj.compute_drift(kind)]) == canonical(want)

    @rule(data=st.data())
    def reset_baseline(self, data):
        if self.categorical:
            baseline = data.draw(st.lists(LABELS, min_size=1, max_size=12))
        else:
            baseline = data.draw(BASELINE_VALUES)
        self.obj.reset_baseline(self.baseline_arg(baseline))
        self.model = self.model_for(baseline)

    @rule(bad=st.sampled_from(["too short", "nan", "not a sequence", "empty"]))
    def failed_reset_changes_nothing(self, bad):
        if self.categorical:
            arg = {"too short": [], "nan": "abc", "not a sequence": 3, "empty": ["a", 1]}[bad]
        else:
            arg = {"too short": np.array([1.0]), "nan": np.array([1.0, math.nan]), "not a sequence": [1.0, 2.0],
                   "empty": np.array([1.0, 2.0], dtype=np.float32)}[bad]
        expect_failure(self.obj.reset_baseline, arg)

    @rule(bad=BAD_NAMES)
    def unknown_drift_type(self, bad):
        expect_failure(self.obj.compute_drift_multiple_criteria, ["JensenShannon", bad])
        expect_failure(self.obj.compute_drift, bad)

    @rule()
    def bad_samples(self):
        if self.categorical:
            expect_failure(self.obj.update_stream, 1)
            expect_failure(self.obj.update_stream_batch, ["a", 2])
            expect_failure(self.obj.update_stream_batch, [])
        else:
            expect_failure(self.obj.update_stream, "1.0")
            expect_failure(self.obj.update_stream_batch, np.ones(3, dtype=np.float32))
            expect_failure(self.obj.update_stream_batch, np.array([], dtype=np.float64))
            expect_failure(self.obj.update_stream_batch, np.arange(6.0)[::2])

    @precondition(lambda self: self.mode == "flush")
    @rule()
    def flush(self):
        self.obj.flush()
        self.model.flush()


class ContinuousDecayMachine(DriftStreamMachine):
    cls = q.PyStreamingContinuousDataDriftDecay


class ContinuousFlushMachine(DriftStreamMachine):
    cls = q.PyStreamingContinuousDataDriftFlush
    mode = "flush"


class CategoricalDecayMachine(DriftStreamMachine):
    cls = q.PyStreamingCategoricalDataDriftDecay
    categorical = True


class CategoricalFlushMachine(DriftStreamMachine):
    cls = q.PyStreamingCategoricalDataDriftFlush
    categorical = True
    mode = "flush"


MACHINES = [ClassificationMachine, LinearMachine, LogisticMachine, DataBiasMachine, ModelBiasMachine,
            ContinuousDecayMachine, ContinuousFlushMachine, CategoricalDecayMachine, CategoricalFlushMachine]

for _machine in MACHINES:
    _machine.TestCase.settings = SETTINGS
    globals()["Test" + _machine.__name__] = _machine.TestCase
