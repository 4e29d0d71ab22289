"""Model performance of (y_true, y_pred) from any supported inputs."""

from __future__ import annotations

from typing import Any

import numpy as np

from quorvant import _inputs as inputs
from quorvant import _quorvant as native
from quorvant.results import PerformanceResult

CLASSIFICATION = ("BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive", "RecallNegative",
                  "Accuracy", "F1Score")
LOGISTIC = (*CLASSIFICATION, "LogLoss")
REGRESSION = ("RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "RSquared", "MaxError",
              "MeanSquaredLogError", "RootMeanSquaredLogError", "MeanAbsolutePercentageError")
METRICS = {"classification": CLASSIFICATION, "logistic": LOGISTIC, "regression": REGRESSION}


def read_pair(y_true: Any, y_pred: Any, data: Any, missing: str) -> tuple[inputs.Column, inputs.Column,
                                                                             np.ndarray | None]:
    """The two columns (by name from `data`, or as given) and the rows where
    neither is missing."""
    inputs.check_missing_policy(missing)
    if data is not None:
        table = inputs.read_table(data, "data")
        table.require([y_true, y_pred])
        t, p = table.read(y_true), table.read(y_pred)
    else:
        t, p = inputs.read_column(y_true, "y_true"), inputs.read_column(y_pred, "y_pred")
    inputs.check_lengths([t, p], "y_true and y_pred")
    return t, p, inputs.rows_to_keep([t, p], missing, "y_true and y_pred")


def binary(col: inputs.Column, values: np.ndarray, positive: Any, role: str) -> np.ndarray:
    """0/1 values for the classification faces, which count exactly 1 as
    positive: a bool or 0/1 column as it is (no copy), anything else only with
    `positive` named."""
    if positive is not None:
        return np.asarray(values == positive).view(np.uint8)
    if col.kind == "bool":
        return values.view(np.uint8)
    if col.kind == "numeric" and bool(np.all((values == 0) | (values == 1))):
        return values
    found = ""
    if col.kind == "numeric":
        odd = values[(values != 0) & (values != 1)]
        found = f" (for example {odd[0].item()!r})"
    raise ValueError(
        f"{role} must hold 0/1 or booleans for this kind, found {col.kind} values{found}; name the positive "
        "class with positive=..., or use kind='logistic' for scores"
    )


def numeric(col: inputs.Column, values: np.ndarray, role: str) -> np.ndarray:
    if col.kind == "bool":
        return values.view(np.uint8)
    if col.kind != "numeric":
        raise ValueError(f"{role} must hold numbers, found {col.kind} values")
    return values


def performance(y_true: Any, y_pred: Any, kind: str = "classification", *, data: Any = None,
                threshold: float = 0.5, positive: Any = None, missing: str = "drop") -> PerformanceResult:
    """Performance metrics of predictions `y_pred` against truths `y_true`.

    Parameters
    ----------
    y_true, y_pred
        Columns of any supported kind (NumPy, pandas, polars, pyarrow, lists),
        or column names of `data`.
    kind
        "classification" (two classes: 0/1 or booleans, or any labels with
        `positive` naming the positive one), "logistic" (0/1 truths and
        scores, positive at ``score >= threshold``, with log loss) or
        "regression".
    threshold
        Decision threshold of "logistic".
    positive
        The positive class for "classification" and the truths of "logistic"
        when they are not 0/1: rows equal to it are positive, every other row
        negative.
    missing
        "drop" (default): a pair with a missing value on either side is left
        out and counted in ``missing``; "error": raise instead.

    Examples
    --------
    >>> import quorvant
    >>> result = quorvant.performance([1, 0, 1, 1, None], [1, 0, 0, 1, 1])
    >>> result["Accuracy"], result.rows, result.missing
    (0.75, 4, 1)
    >>> quorvant.performance([1.0, 2.0, 3.0], [1.5, 2.0, 3.0], kind="regression")["MaxError"]
    0.5
    """
    if kind not in METRICS:
        raise ValueError(f"kind must be one of {list(METRICS)}, not {kind!r}")
    t, p, keep = read_pair(y_true, y_pred, data, missing)
    tv, pv = inputs.take(t.values, keep), inputs.take(p.values, keep)
    if tv.shape[0] == 0:
        raise inputs.InputError(f"y_true and y_pred: no pairs to score ({len(t)} rows, all with a missing value)")
    if kind == "classification":
        result = native.py_model_perf_classification(binary(t, tv, positive, "y_true"),
                                                     binary(p, pv, positive, "y_pred"))
    elif kind == "logistic":
        result = native.py_model_perf_logistic_regression(binary(t, tv, positive, "y_true"),
                                                          numeric(p, pv, "y_pred"), float(threshold))
    else:
        result = native.py_model_perf_linear_regression(numeric(t, tv, "y_true"), numeric(p, pv, "y_pred"))
    ordered = {m: result[m] for m in METRICS[kind]}
    return PerformanceResult(kind, ordered, int(tv.shape[0]), len(t) - int(tv.shape[0]))
