"""A model's monitors in one object: drift of every feature, performance, bias per facet."""

from __future__ import annotations

import copy
import math
from collections.abc import Iterable, Mapping
from typing import Any

import numpy as np

from quorvant import _bias
from quorvant import _drift
from quorvant import _inputs as inputs
from quorvant import _performance
from quorvant import _quorvant as native
from quorvant.results import BiasResult, CheckResult, DriftResult, MonitorReport

_PERFORMANCE_CLASSES = {
    "classification": native.PyBinaryClassificationStreaming,
    "logistic": native.PyLogisticRegressionStreaming,
    "regression": native.PyLinearRegressionStreaming,
}


class Monitor:
    """The streaming monitors of one model, fed with tables of production rows.

    Made from a reference table (the training or validation data), it holds a
    streaming drift detector per feature, the streaming performance monitor of
    the target and prediction columns, and a streaming bias monitor per facet.
    :meth:`update` adds a table of production rows to all of them;
    :meth:`report` returns what they have seen. Nothing but counts and
    histograms is kept: memory does not grow with the rows.

    Parameters
    ----------
    reference
        A table holding the features and, for performance and bias, the
        target and prediction columns.
    target, prediction
        Column names of the truth and the model's output.
    features
        Columns to watch for drift (default: every column except target and
        prediction).
    facets
        Facets to watch for bias, as in :func:`quorvant.bias`
        (``{"sex": Label("f")}``); needs a classification or logistic target.
    kind
        "classification", "logistic" or "regression", as in
        :func:`quorvant.performance` (with its `threshold` and `positive`).
    metrics, bins, categorical, continuous, thresholds
        The drift options of :func:`quorvant.drift`.
    drift_threshold
        Threshold of the performance and bias reports (the native streaming
        reports: performance drift is baseline minus current, an absolute
        difference for regression; bias drift is relative to the baseline).
    missing
        "drop" (default) or "error", as everywhere.

    Notes
    -----
    Every column's kind is decided on the reference and kept. The state lives
    in the native objects and in plain Python values (names, counts, specs),
    so a Monitor pickles and merges exactly when the native classes do:
    ``pickle.dumps(monitor)`` saves it, :meth:`merge` folds in another
    Monitor made from the same reference (for example one per worker), and
    :func:`quorvant.merge_all` folds many into a new one.

    Examples
    --------
    >>> import numpy as np, quorvant
    >>> rng = np.random.default_rng(1)
    >>> def table(n, shift):
    ...     x = rng.normal(shift, 1, n)
    ...     return {"x": x, "group": rng.choice(["a", "b"], n),
    ...             "y": (x + rng.normal(0, 1, n) > 0).astype(int), "p": (x > 0).astype(int)}
    >>> monitor = quorvant.Monitor(table(3000, 0.0), target="y", prediction="p",
    ...                            facets={"group": quorvant.Label("a")})
    >>> monitor.update(table(1000, 0.8))
    >>> report = monitor.report()
    >>> report.rows, report.drift.drifted
    (1000, ['x'])
    """

    def __init__(self, reference: Any, *, target: str | None = None, prediction: str | None = None,
                 features: Iterable[str] | None = None, facets: Any = None, kind: str = "classification",
                 threshold: float = 0.5, positive: Any = None, metrics: Iterable[str] | None = None,
                 bins: str | None = None, categorical: Iterable[str] | None = None,
                 continuous: Iterable[str] | None = None, thresholds: Mapping[str, float | None] | None = None,
                 drift_threshold: float = 0.1, missing: str = "drop") -> None:
        if kind not in _PERFORMANCE_CLASSES:
            raise ValueError(f"kind must be one of {list(_PERFORMANCE_CLASSES)}, not {kind!r}")
        self.missing = inputs.check_missing_policy(missing)
        table = inputs.read_table(reference, "reference")
        if table.n_rows == 0:
            raise inputs.InputError("reference: the table has no rows")
        outcome_names = [n for n in (target, prediction) if n is not None]
        table.require(outcome_names)
        if features is None:
            names = [n for n in table.names if n not in outcome_names]
        else:
            names = [features] if isinstance(features, str) else list(dict.fromkeys(features))
            table.require(names)
        self.kind = kind
        self.target, self.prediction = target, prediction
        self.threshold, self.positive = float(threshold), positive
        self.drift_threshold = float(drift_threshold)
        self.metrics = _drift._metrics(metrics)
        self.thresholds = _drift._thresholds(thresholds, self.metrics)
        self.bins = _drift._bin_rule(bins)
        forced = _drift._forced_kinds(names, categorical, continuous)
        self.rows = 0
        self._features = [self._feature(table.read(n), forced.get(n)) for n in names]
        self._performance = self._make_performance(table) if target is not None and prediction is not None else None
        self._facets = self._make_facets(table, facets) if facets is not None else []

    # -- construction ---------------------------------------------------------

    def _feature(self, col: inputs.Column, forced: str | None) -> dict[str, Any]:
        inputs.refuse_missing([col], self.missing, "reference")
        kind = forced or _drift.column_kind(col, col)
        state: dict[str, Any] = {"name": col.name, "kind": kind, "source": col.kind,
                                 "floats": col.kind == "numeric" and col.values.dtype.kind == "f",
                                 "reference_rows": len(col) - col.n_missing, "reference_missing": col.n_missing,
                                 "current_missing": 0, "detector": None, "error": None}
        try:
            if kind == "continuous":
                values = inputs.as_float64(col.present())
                state["detector"] = native.PyStreamingContinuousDataDriftFlush(values, self.bins, _drift._NEVER,
                                                                               _drift._NEVER)
            else:
                labels = _drift.category_labels(col, state["floats"])
                state["detector"] = native.PyStreamingCategoricalDataDriftFlush(labels, _drift._NEVER,
                                                                                _drift._NEVER)
        except ValueError as exc:
            state["error"] = f"reference refused: {exc}"
        return state

    def _outcomes(self, table: inputs.Table, keep_extra: list[inputs.Column] = ()) -> tuple:
        t, p = table.read(self.target), table.read(self.prediction)
        keep = inputs.rows_to_keep([t, p, *keep_extra], self.missing, "target and prediction")
        tv, pv = inputs.take(t.values, keep), inputs.take(p.values, keep)
        if self.kind == "regression":
            return keep, _performance.numeric(t, tv, "target"), _performance.numeric(p, pv, "prediction")
        truth = _performance.binary(t, tv, self.positive, "target")
        if self.kind == "classification":
            return keep, truth, _performance.binary(p, pv, self.positive, "prediction")
        return keep, truth, _performance.numeric(p, pv, "prediction")

    def _native_pair(self, truth: np.ndarray, pred: np.ndarray) -> tuple:
        if self.kind == "classification":
            return truth.astype(np.int32), pred.astype(np.int32)
        return truth.astype(np.float64), pred.astype(np.float64)

    def _make_performance(self, table: inputs.Table) -> dict[str, Any]:
        _, truth, pred = self._outcomes(table)
        if truth.shape[0] == 0:
            raise inputs.InputError("reference: no row has both a target and a prediction")
        result = _performance.performance(truth, pred, self.kind, threshold=self.threshold)
        args = self._native_pair(truth, pred)
        if self.kind == "logistic":
            args = (*args, self.threshold)
        return {"monitor": _PERFORMANCE_CLASSES[self.kind](*args), "baseline": result.metrics, "rows": 0}

    def _bias_masks(self, table: inputs.Table, name: str) -> tuple[inputs.Column, np.ndarray | None, np.ndarray,
                                                                    np.ndarray | None]:
        col = table.read(name)
        t = table.read(self.target)
        extra = [table.read(self.prediction)] if self.prediction is not None else []
        keep = inputs.rows_to_keep([col, t, *extra], self.missing, f"facet {name!r}")
        tv = inputs.take(t.values, keep)
        g = _performance.binary(t, tv, self.positive, "target").astype(bool)
        p = None
        if self.prediction is not None:
            pcol = extra[0]
            pv = inputs.take(pcol.values, keep)
            if self.kind == "logistic":
                p = _performance.numeric(pcol, pv, "prediction") >= self.threshold
            else:
                p = _performance.binary(pcol, pv, self.positive, "prediction").astype(bool)
        return col, keep, g, p

    def _make_facets(self, table: inputs.Table, facets: Any) -> list[dict[str, Any]]:
        if self.target is None or self.kind == "regression":
            raise ValueError("facets need a classification or logistic target: pass target= (and prediction=)")
        out = []
        for name, specs in _bias._facet_requests(facets):
            table.require([name])
            col, keep, g, p = self._bias_masks(table, name)
            values = inputs.take(col.values, keep)
            for spec in specs if specs is not None else _bias._every_value(col, values):
                f = _bias._mask(col, values, spec, "facet")
                baseline, _ = _bias.metrics_of_masks(f, g, p)
                state = {"facet": name, "spec": spec, "rows": 0, "missing": 0, "counts": [0] * 8,
                         "monitor": None, "error": None, "baseline": baseline}
                fl, gl = f.view(np.int8), g.view(np.int8)
                try:
                    if p is None:
                        state["monitor"] = native.PyDataBiasStreaming(fl, gl)
                    else:
                        state["monitor"] = native.PyModelBiasStreaming(features=fl, predictions=p.view(np.int8),
                                                                       ground_truth=gl)
                except (ValueError, TypeError) as exc:
                    state["error"] = f"the reference cannot define a baseline ({exc})"
                out.append(state)
        return out

    # -- production rows ------------------------------------------------------

    def update(self, batch: Any) -> None:
        """Adds a table of production rows to every monitor.

        Every column is read and checked before any monitor changes, so a
        batch that is refused leaves the Monitor as it was.
        """
        table = inputs.read_table(batch, "batch")
        needed = [s["name"] for s in self._features] + [f["facet"] for f in self._facets]
        needed += [n for n in (self.target, self.prediction) if n is not None]
        table.require(list(dict.fromkeys(needed)))
        feature_rows = [self._feature_rows(table, s) for s in self._features]
        perf_rows = None
        if self._performance is not None:
            _, truth, pred = self._outcomes(table)
            perf_rows = self._native_pair(truth, pred)
        facet_rows = [self._facet_rows(table, state) for state in self._facets]
        # Everything is read and valid: now the monitors change.
        for state, (values, n_missing) in zip(self._features, feature_rows):
            state["current_missing"] += n_missing
            if state["detector"] is not None and len(values):
                state["detector"].update_stream_batch(values)
        if perf_rows is not None and len(perf_rows[0]):
            self._performance["monitor"].push_batch(*perf_rows)
            self._performance["rows"] += len(perf_rows[0])
        for state, (f, p, g, n_missing) in zip(self._facets, facet_rows):
            state["missing"] += n_missing
            if not len(f):
                continue
            state["rows"] += len(f)
            codes = _bias.confusion_counts(f.astype(bool), (p if p is not None else np.zeros_like(f)).astype(bool),
                                           g.astype(bool))
            for i, k in enumerate(("tn0", "fn0", "fp0", "tp0", "tn1", "fn1", "fp1", "tp1")):
                state["counts"][i] += codes[k]
            if state["monitor"] is not None:
                if p is None:
                    state["monitor"].push_batch(f, g)
                else:
                    state["monitor"].push_batch(f, p, g)
        self.rows += table.n_rows

    def _feature_rows(self, table: inputs.Table, state: dict[str, Any]) -> tuple[Any, int]:
        col = table.read(state["name"])
        inputs.refuse_missing([col], self.missing, "batch")
        if state["kind"] == "continuous":
            if col.kind == "text":
                raise inputs.InputError(f"batch: column {col.name!r} holds text, the reference held numbers")
            return inputs.as_float64(col.present()), col.n_missing
        if (col.kind == "text") != (state["source"] == "text"):
            raise inputs.InputError(f"batch: column {col.name!r} holds {col.kind} values, the reference held "
                                    f"{state['source']} values")
        return _drift.category_labels(col, state["floats"]), col.n_missing

    def _facet_rows(self, table: inputs.Table, state: dict[str, Any]) -> tuple:
        col, keep, g, p = self._bias_masks(table, state["facet"])
        values = inputs.take(col.values, keep)
        f = _bias._mask(col, values, state["spec"], "facet")
        n_missing = len(col) - len(f)
        return f.view(np.int8), None if p is None else p.view(np.int8), g.view(np.int8), n_missing

    # -- state that travels ---------------------------------------------------

    def merge(self, other: Monitor) -> None:
        """Adds the rows `other` has seen to this Monitor, as if it had seen them too.

        `other` must watch the same model the same way: made from the same
        reference with the same options (its native monitors then have the
        same baselines). Every native monitor merges with its counterpart
        (counts exactly, float sums in one addition each) and the row and
        missing-value counts add. Refused with ValueError, nothing changed,
        when the two differ; `other` is unchanged.
        """
        if type(other) is not Monitor:
            raise ValueError(f"cannot merge: other is a {type(other).__name__}, not a Monitor")
        if self._settings() != other._settings():
            raise ValueError("cannot merge: the Monitors watch different columns or with different options")
        merged = copy.deepcopy(self)  # changed as a whole, or not at all
        for mine, theirs in zip(merged._features, other._features):
            if mine["detector"] is not None:
                mine["detector"].merge(theirs["detector"])
            mine["current_missing"] += theirs["current_missing"]
        if merged._performance is not None:
            merged._performance["monitor"].merge(other._performance["monitor"])
            merged._performance["rows"] += other._performance["rows"]
        for mine, theirs in zip(merged._facets, other._facets):
            if mine["monitor"] is not None:
                mine["monitor"].merge(theirs["monitor"])
            for key in ("rows", "missing"):
                mine[key] += theirs[key]
            mine["counts"] = [a + b for a, b in zip(mine["counts"], theirs["counts"])]
        merged.rows += other.rows
        self.__dict__.update(merged.__dict__)

    def _settings(self) -> tuple:
        # What two Monitors must share to merge: options, columns and their
        # kinds, facets and any refusal of the reference.
        return (self.kind, self.target, self.prediction, self.threshold, self.positive, self.drift_threshold,
                self.metrics, self.thresholds, self.bins, self.missing,
                [(s["name"], s["kind"], s["source"], s["floats"], s["error"]) for s in self._features],
                self._performance is None,
                [(f["facet"], f["spec"], f["error"], f["monitor"] is None) for f in self._facets])

    def _empty_copy(self) -> Monitor:
        # The same Monitor before any production row: what shards start from.
        fresh = copy.deepcopy(self)
        for s in fresh._features:
            s["current_missing"] = 0
            if s["detector"] is not None:
                s["detector"].flush()
        if fresh._performance is not None:
            fresh._performance["monitor"].flush()
            fresh._performance["rows"] = 0
        for f in fresh._facets:
            f["rows"] = f["missing"] = 0
            f["counts"] = [0] * 8
            if f["monitor"] is not None:
                f["monitor"].flush()
        fresh.rows = 0
        return fresh

    # -- reports --------------------------------------------------------------

    def report(self) -> MonitorReport:
        """The drift table, the performance check and the bias metrics of the
        rows seen so far (reading changes nothing)."""
        return MonitorReport(self._drift_report(), self._performance_report(), *self._bias_report(), self.rows)

    def _drift_report(self) -> DriftResult:
        rows, histograms = [], {}
        for s in self._features:
            detector = s["detector"]
            seen = 0 if detector is None else detector.total_samples
            row = {"column": s["name"], "kind": s["kind"], "reference_rows": s["reference_rows"],
                   "reference_missing": s["reference_missing"], "current_rows": seen,
                   "current_missing": s["current_missing"], "bins": None, **{m: None for m in self.metrics},
                   "drifted": None, "error": s["error"]}
            if detector is not None and seen == 0:
                row["error"] = "no rows seen yet"
            if row["error"] is None:
                scores = detector.compute_drift_multiple_criteria(list(self.metrics))
                row.update(zip(self.metrics, scores))
                row["bins"] = detector.n_bins
                row["drifted"] = any(self.thresholds[m] is not None and v >= self.thresholds[m]
                                     for m, v in zip(self.metrics, scores))
                histograms[s["name"]] = _drift.histogram_of(s["kind"], detector)
            rows.append(row)
        return DriftResult(rows, self.metrics, self.thresholds, histograms)

    def _performance_report(self) -> CheckResult | None:
        perf = self._performance
        if perf is None or perf["rows"] == 0:
            return None
        monitor = perf["monitor"]
        latest, drifts = monitor.performance_snapshot(), monitor.drift_snapshot()
        failed = {f["metric"] for f in monitor.drift_report(self.drift_threshold).get("failed_report", [])}
        rows = [{"group": None, "metric": m, "baseline": perf["baseline"][m], "latest": latest[m],
                 "drift": drifts[m], "failed": m in failed} for m in _performance.METRICS[self.kind]]
        rule = ("streaming: drift = |baseline - current|" if self.kind == "regression"
                else "streaming: drift = baseline - current") + ", fails at drift >= t"
        return CheckResult(self.kind, self.drift_threshold, rows, rule)

    def _bias_report(self) -> tuple[BiasResult | None, CheckResult | None]:
        if not self._facets:
            return None, None
        model = self.prediction is not None
        names = _bias.POST_TRAINING if model else _bias.PRE_TRAINING
        rows, checks = [], []
        for s in self._facets:
            c = dict(zip(("tn0", "fn0", "fp0", "tp0", "tn1", "fn1", "fp1", "tp1"), s["counts"]))
            n1 = c["tp1"] + c["fp1"] + c["tn1"] + c["fn1"]
            row = {"facet": s["facet"], "value": s["spec"].describe(), "label": f"{self.target} positive",
                   "prediction": f"{self.prediction} positive" if model else None, "rows": s["rows"],
                   "missing": s["missing"], "facet_rows": n1, "rest_rows": s["rows"] - n1}
            values, undefined = self._facet_values(s, c, model)
            row.update(values)
            row["undefined"] = undefined
            rows.append(row)
            if s["monitor"] is not None and not undefined and s["rows"]:
                drifts = s["monitor"].drift_snapshot()
                failed = {f["metric"] for f in
                          s["monitor"].drift_report(self.drift_threshold).get("failed_report", [])}
                group = f"{s['facet']} {s['spec'].describe()}"
                checks += [{"group": group, "metric": m, "baseline": s["baseline"][m], "latest": values[m], "drift": drifts[m],
                            "failed": m in failed} for m in names]
        family = "model_bias" if model else "data_bias"
        check = CheckResult(family, self.drift_threshold, checks, "streaming: relative drift, fails at drift >= t")
        return BiasResult(rows, names, family), check

    def _facet_values(self, s: dict[str, Any], c: dict[str, int], model: bool) -> tuple[dict, dict]:
        names = _bias.POST_TRAINING if model else _bias.PRE_TRAINING
        if s["error"] is not None:
            return {m: math.nan for m in names}, {m: s["error"] for m in names}
        if s["rows"] == 0:
            return {m: math.nan for m in names}, {m: "no rows seen yet" for m in names}
        if model:
            undefined = _bias.undefined_post_training(c)
            if not undefined:
                return s["monitor"].performance_snapshot(), {}
            values = _bias.post_training_values(c)
            return {m: (math.nan if m in undefined else values[m]) for m in names}, undefined
        n1 = c["tp1"] + c["fp1"] + c["tn1"] + c["fn1"]
        if n1 and n1 != s["rows"]:
            return s["monitor"].performance_snapshot(), {}
        return _bias.pre_training_undefined(s["rows"], n1)

