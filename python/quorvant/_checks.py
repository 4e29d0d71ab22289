"""Latest metrics against a baseline, by the native runtime checks."""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from typing import Any

from quorvant import _quorvant as native
from quorvant._bias import POST_TRAINING, PRE_TRAINING
from quorvant._performance import METRICS
from quorvant.results import BiasResult, CheckResult, PerformanceResult

# family -> (metric names, full check, partial check, rule in words)
FAMILIES = {
    "classification": (METRICS["classification"], native.py_model_perf_class_rt_full,
                       native.py_model_perf_class_rt_partial, "a metric fails when (1 + t) * latest < baseline"),
    "logistic": (METRICS["logistic"], native.py_model_perf_log_reg_rt_full, native.py_model_perf_log_reg_rt_partial,
                 "a metric fails below (1 - t) * baseline, LogLoss above (1 + t) * baseline"),
    "regression": (METRICS["regression"], native.py_model_perf_lin_reg_rt_full,
                   native.py_model_perf_lin_reg_rt_partial,
                   "an error fails above (1 + t) * baseline, RSquared below (1 - t) * baseline"),
    "data_bias": (PRE_TRAINING, native.py_data_bias_runtime_check, native.py_data_bias_partial_check,
                  "relative to the baseline, by the native data-bias check"),
    "model_bias": (POST_TRAINING, native.py_model_bias_runtime_check, native.py_model_bias_partial_check,
                   "relative to the baseline, by the native model-bias check"),
}


def _family_of(obj: Any) -> str | None:
    if isinstance(obj, PerformanceResult):
        return obj.kind
    if isinstance(obj, BiasResult):
        return obj.family
    return None


def _groups(obj: Any, names: tuple[str, ...], arg: str) -> dict[Any, dict[str, float]]:
    if isinstance(obj, PerformanceResult):
        return {None: obj.metrics}
    if isinstance(obj, BiasResult):
        rows = obj.to_dicts()
        if len(rows) == 1:
            return {None: {m: rows[0][m] for m in names}}
        return {f"{r['facet']} {r['value']}": {m: r[m] for m in names} for r in rows}
    if isinstance(obj, Mapping):
        absent = [m for m in names if m not in obj]
        if absent:
            raise ValueError(f"{arg}: no value for {absent}; pass all metrics of the family")
        return {None: {m: float(obj[m]) for m in names}}
    raise TypeError(f"{arg}: expected a dict of metric values or a result of quorvant.performance/bias, "
                    f"not {type(obj).__name__}")


def check(baseline: Any, latest: Any, family: str | None = None, metrics: Iterable[str] | None = None,
          threshold: float = 0.1) -> CheckResult:
    """Compares `latest` metrics with `baseline` metrics by the family's native
    runtime check.

    Parameters
    ----------
    baseline, latest
        Dicts of metric values, or results of :func:`quorvant.performance` or
        :func:`quorvant.bias` (then `family` follows from them; bias results
        of several facets are compared facet by facet).
    family
        "classification", "logistic", "regression", "data_bias" or
        "model_bias"; needed for dicts.
    metrics
        Metrics to check (default: all of the family).
    threshold
        Relative threshold (0.1: 10 %).

    Examples
    --------
    >>> import quorvant
    >>> base = quorvant.performance([1, 0, 1, 1], [1, 0, 1, 1])
    >>> late = quorvant.performance([1, 0, 1, 1], [1, 1, 0, 1])
    >>> result = quorvant.check(base, late)
    >>> result.passed, sorted(result.failures)[:2]
    (False, ['Accuracy', 'BalancedAccuracy'])
    """
    inferred = {f for f in (_family_of(baseline), _family_of(latest)) if f}
    if len(inferred) > 1:
        raise ValueError(f"baseline and latest come from different families: {sorted(inferred)}")
    if family is None:
        if not inferred:
            raise ValueError(f"family: name the family of these dicts, one of {list(FAMILIES)}")
        family = inferred.pop()
    elif inferred and family not in inferred:
        raise ValueError(f"family {family!r} does not match the results given ({inferred.pop()!r})")
    if family not in FAMILIES:
        raise ValueError(f"family must be one of {list(FAMILIES)}, not {family!r}")
    names, full, partial, rule = FAMILIES[family]
    chosen = None
    if metrics is not None:
        chosen = [metrics] if isinstance(metrics, str) else list(metrics)
        unknown = [m for m in chosen if m not in names]
        if unknown:
            raise ValueError(f"metrics: {unknown} are not {family} metrics; choose from {list(names)}")
    base, late = _groups(baseline, names, "baseline"), _groups(latest, names, "latest")
    if base.keys() != late.keys():
        raise ValueError(f"baseline and latest hold different facets: {sorted(map(str, base))} and "
                         f"{sorted(map(str, late))}")
    t = float(threshold)
    rows = []
    for group, b in base.items():
        report = full(b, late[group], t) if chosen is None else partial(b, late[group], chosen, t)
        failed = {f["metric"]: f["drift"] for f in report.get("failed_report", [])}
        for m in (names if chosen is None else dict.fromkeys(chosen)):
            rows.append({"group": group, "metric": m, "baseline": b[m], "latest": late[group][m],
                         "drift": failed.get(m), "failed": m in failed})
    return CheckResult(family, t, rows, rule)
