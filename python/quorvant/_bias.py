"""Bias metrics of a table, with facet and outcome values that say what they mean."""

from __future__ import annotations

import math
import numbers
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np

from quorvant import _inputs as inputs
from quorvant import _quorvant as native
from quorvant.results import BiasResult

PRE_TRAINING = ("ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence", "LpNorm",
                "TotalVariationDistance", "KolmogorovSmirnov")
POST_TRAINING = ("DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
                 "DifferenceInConditionalAcceptance", "DifferenceInAcceptanceRate", "SpecialityDifference",
                 "DifferenceInConditionalRejection", "DifferenceInRejectionRate", "TreatmentEquity",
                 "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy")


# ---------------------------------------------------------------------------
# What a value means


@dataclass(frozen=True)
class Label:
    """Rows whose value equals `value` (text, a number or a boolean).

    >>> import quorvant
    >>> quorvant.Label("female")
    Label('female')
    """

    value: str | int | float | bool

    def __post_init__(self) -> None:
        if not isinstance(self.value, (str, numbers.Real, np.bool_)):
            raise TypeError(f"Label takes text, a number or a boolean, not {type(self.value).__name__}")

    def __repr__(self) -> str:
        return f"Label({self.value!r})"

    def describe(self) -> str:
        return f"== {self.value!r}"


@dataclass(frozen=True)
class _Threshold:
    threshold: float

    _native_type = ""
    _sign = ""

    def __post_init__(self) -> None:
        t = self.threshold
        if isinstance(t, (bool, np.bool_)) or not isinstance(t, numbers.Real) or math.isnan(float(t)):
            raise TypeError(f"{type(self).__name__} takes a number, not {t!r}")

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.threshold!r})"

    def describe(self) -> str:
        return f"{self._sign} {self.threshold!r}"


class AtLeast(_Threshold):
    """Rows whose value is at least `threshold` (value >= threshold).

    >>> import quorvant
    >>> quorvant.AtLeast(50).describe()
    '>= 50'
    """

    _native_type = "GreaterThanEqualTo"
    _sign = ">="


class AtMost(_Threshold):
    """Rows whose value is at most `threshold` (value <= threshold).

    >>> import quorvant
    >>> quorvant.AtMost(18).describe()
    '<= 18'
    """

    _native_type = "LessThanEqualTo"
    _sign = "<="


class Above(_Threshold):
    """Rows whose value is above `threshold` (value > threshold).

    >>> import quorvant
    >>> quorvant.Above(0.5).describe()
    '> 0.5'
    """

    _native_type = "GreaterThan"
    _sign = ">"


class Below(_Threshold):
    """Rows whose value is below `threshold` (value < threshold).

    >>> import quorvant
    >>> quorvant.Below(0).describe()
    '< 0'
    """

    _native_type = "LessThan"
    _sign = "<"


Spec = Label | _Threshold


def as_spec(value: Any, column: str, role: str) -> Spec:
    """A Label or threshold from what the caller wrote; a bare number is refused
    because "50" could mean "equal to 50" or "at least 50"."""
    if isinstance(value, (Label, _Threshold)):
        return value
    if isinstance(value, (str, bool, np.bool_)):
        return Label(value)
    if isinstance(value, numbers.Real):
        raise TypeError(
            f"{role} {column!r}: say what {value!r} means: Label({value!r}) for rows equal to it, "
            f"AtLeast({value!r}) for rows at or above it"
        )
    raise TypeError(f"{role} {column!r}: expected Label(...), AtLeast(...) or text, not {value!r}")


def _one_column(arg: Any, role: str) -> tuple[str, Spec | None]:
    """label= and prediction=: a column name, or {name: value}."""
    if isinstance(arg, str):
        return arg, None
    if isinstance(arg, Mapping) and len(arg) == 1:
        (name, value), = arg.items()
        return str(name), as_spec(value, str(name), role)
    if isinstance(arg, tuple) and len(arg) == 2 and isinstance(arg[0], str):
        return arg[0], as_spec(arg[1], arg[0], role)
    raise TypeError(f"{role}: expected a column name or {{column: Label(...) or AtLeast(...)}}, not {arg!r}")


def _facet_requests(facet: Any) -> list[tuple[str, list[Spec] | None]]:
    """facet=: a column name (every value of it), a list of names, or
    {name: value or [values]}."""
    if isinstance(facet, str):
        return [(facet, None)]
    if isinstance(facet, Mapping):
        out = []
        for name, value in facet.items():
            values = value if isinstance(value, (list, tuple)) else [value]
            out.append((str(name), [as_spec(v, str(name), "facet") for v in values]))
        return out
    if isinstance(facet, (list, tuple)) and all(isinstance(f, str) for f in facet):
        return [(f, None) for f in facet]
    raise TypeError(f"facet: expected a column name, a list of names or {{column: Label(...)}}, not {facet!r}")


# ---------------------------------------------------------------------------
# Masks and native arguments


def _mask(col: inputs.Column, values: np.ndarray, spec: Spec, role: str) -> np.ndarray:
    """The 0/1 segmentation of the rows in NumPy (the counts that decide
    which metrics are defined)."""
    if isinstance(spec, Label):
        if col.kind == "text":
            if not isinstance(spec.value, str):
                raise TypeError(f"{role} {col.name!r} holds text; write the label as text: Label({str(spec.value)!r})")
            return np.asarray(values == spec.value, dtype=bool)
        if isinstance(spec.value, str):
            raise TypeError(f"{role} {col.name!r} holds {col.kind} values; Label({spec.value!r}) never matches")
        return np.asarray(values == spec.value, dtype=bool)
    if col.kind == "text":
        raise TypeError(f"{role} {col.name!r} holds text; a threshold needs numbers (use Label(...))")
    t = float(spec.threshold)
    v = values.astype(np.float64) if values.dtype.kind != "f" else values
    if isinstance(spec, AtLeast):
        return v >= t
    if isinstance(spec, AtMost):
        return v <= t
    if isinstance(spec, Above):
        return v > t
    return v < t


def _native_args(col: inputs.Column, values: np.ndarray, mask: np.ndarray, spec: Spec) -> tuple:
    """(array, threshold, label, threshold type) for the explicit-segmentation
    faces: text labels by label, thresholds by threshold, and equality on
    numbers as the 0/1 mask read with ">= 1" (the native label path reads
    text only)."""
    if isinstance(spec, Label):
        if col.kind == "text":
            return values, None, spec.value, None
        return mask_args(mask)
    return values, float(spec.threshold), None, spec._native_type


def mask_args(mask: np.ndarray) -> tuple:
    """Explicit-segmentation arguments that select the rows of a bool mask."""
    return mask.view(np.uint8), 1.0, None, "GreaterThanEqualTo"


def metrics_of_masks(f: np.ndarray, g: np.ndarray, p: np.ndarray | None) -> tuple[dict, dict]:
    """Pre-training (p None) or post-training metrics of 0/1 masks, with the
    reasons of the undefined ones."""
    if p is None:
        return _pre_training(f, g, mask_args(f), mask_args(g))
    return _post_training(f, g, p, mask_args(f), mask_args(g), mask_args(p))


def _default_positive(col: inputs.Column, values: np.ndarray, role: str) -> Spec:
    if col.kind == "bool":
        return Label(True)
    if col.kind == "numeric" and bool(np.all((values == 0) | (values == 1))):
        return Label(1)
    example = ""
    if col.kind == "numeric":
        odd = values[(values != 0) & (values != 1)]
        example = f" (for example {odd[0].item()!r})" if odd.size else ""
    raise ValueError(
        f"{role} {col.name!r} holds values other than 0 and 1{example}; say which rows are positive: "
        f"{role}={{{col.name!r}: Label(...)}} or {{{col.name!r}: AtLeast(...)}}"
    )


@dataclass
class _Outcome:
    name: str
    spec: Spec
    column: inputs.Column

    def describe(self) -> str:
        return f"{self.name} {self.spec.describe()}"


def _outcome(table: inputs.Table, arg: Any, role: str) -> _Outcome:
    name, spec = _one_column(arg, role)
    col = table.read(name)
    if spec is None:
        spec = _default_positive(col, col.present(), role)
    return _Outcome(name, spec, col)


# ---------------------------------------------------------------------------
# The entry point


def bias(data: Any, facet: Any, label: Any, prediction: Any = None, *, missing: str = "drop") -> BiasResult:
    """Bias metrics of `data` for every facet value: the pre-training metrics
    of the label, or, when a prediction is given, the post-training metrics
    of the prediction against the label.

    A result holds one family, so that it can be checked against a baseline
    of the same family (:func:`quorvant.check`); for both families of one
    table, call once without and once with `prediction`.

    Parameters
    ----------
    data
        A table (pandas, polars, pyarrow, or a dict of columns).
    facet
        The rows to compare with the rest: ``{"sex": Label("female")}``,
        ``{"age": AtLeast(60)}``, several columns or values
        (``{"sex": [Label("female"), Label("male")], "age": AtLeast(60)}``),
        or a column name alone for one row per distinct value of it.
    label, prediction
        The positive outcome: ``{"approved": Label(1)}``,
        ``{"score": AtLeast(0.5)}``, or a column name alone for a column of
        0/1 or booleans (1 or True is positive).
    missing
        "drop" (default): a row with a missing facet, label or prediction is
        left out of that row's metrics and counted in ``missing``; "error":
        raise instead.

    Notes
    -----
    Values say what they mean: :class:`Label` is equality, :class:`AtLeast`,
    :class:`AtMost`, :class:`Above` and :class:`Below` are thresholds; text and
    booleans may be written bare, numbers may not (``50`` could mean either).

    Every row of the result holds all metrics of its family. A metric the data
    cannot define (an empty facet, no positive prediction in the rest, no
    false positive in the facet, ...) is NaN, with the reason in
    ``undefined``; the others are still the native values.

    Examples
    --------
    >>> import quorvant
    >>> data = {"sex": ["f", "m", "f", "m", "f", "m"], "hired": [1, 1, 0, 1, 0, 1]}
    >>> result = quorvant.bias(data, facet={"sex": quorvant.Label("f")}, label="hired")
    >>> row = result[0]
    >>> row["value"], row["facet_rows"], round(row["DifferenceInProportionOfLabels"], 4)
    ("== 'f'", 3, -0.6667)
    """
    inputs.check_missing_policy(missing)
    table = inputs.read_table(data, "data")
    if table.n_rows == 0:
        raise inputs.InputError("data: the table has no rows")
    requests = _facet_requests(facet)
    table.require([name for name, _ in requests])
    truth = _outcome(table, label, "label")
    pred = _outcome(table, prediction, "prediction") if prediction is not None else None
    family = "model_bias" if pred is not None else "data_bias"
    metrics = POST_TRAINING if pred is not None else PRE_TRAINING
    rows = []
    for name, specs in requests:
        col = table.read(name)
        outcomes = [truth.column] + ([pred.column] if pred else [])
        keep = inputs.rows_to_keep([col, *outcomes], missing, "bias")
        values = inputs.take(col.values, keep)
        if specs is None:
            specs = _every_value(col, values)
        g_values = inputs.take(truth.column.values, keep)
        g = _mask(truth.column, g_values, truth.spec, "label")
        g_args = _native_args(truth.column, g_values, g, truth.spec)
        if pred is not None:
            p_values = inputs.take(pred.column.values, keep)
            p = _mask(pred.column, p_values, pred.spec, "prediction")
            p_args = _native_args(pred.column, p_values, p, pred.spec)
        for spec in specs:
            f = _mask(col, values, spec, "facet")
            f_args = _native_args(col, values, f, spec)
            n_facet = int(np.count_nonzero(f))
            row = {
                "facet": name, "value": spec.describe(), "label": truth.describe(),
                "prediction": pred.describe() if pred else None,
                "rows": int(f.shape[0]), "missing": len(col) - int(f.shape[0]),
                "facet_rows": n_facet, "rest_rows": int(f.shape[0]) - n_facet,
            }
            if pred is None:
                scores, undefined = _pre_training(f, g, f_args, g_args)
            else:
                scores, undefined = _post_training(f, g, p, f_args, g_args, p_args)
            row.update(scores)
            row["undefined"] = undefined
            rows.append(row)
    return BiasResult(rows, metrics, family)


def _every_value(col: inputs.Column, values: np.ndarray) -> list[Spec]:
    if col.kind == "numeric" and inputs.is_continuous(values):
        raise ValueError(
            f"facet {col.name!r} has many distinct numbers; name the facet: "
            f"facet={{{col.name!r}: AtLeast(...)}} or Label(...)"
        )
    return [Label(v) for v in sorted(set(values.tolist()))]


# ---------------------------------------------------------------------------
# Pre-training


def _pre_training(f: np.ndarray, g: np.ndarray, f_args: tuple, g_args: tuple) -> tuple[dict, dict]:
    n = f.shape[0]
    n_a = int(np.count_nonzero(f))
    n_d = n - n_a
    if n_a and n_d:
        return native.py_data_bias_analyzer_explicit_seg(*f_args, *g_args), {}
    return pre_training_undefined(n, n_a)


def pre_training_undefined(n: int, n_a: int) -> tuple[dict, dict]:
    """The metrics of a split with an empty side: all NaN but ClassImbalance."""
    n_d = n - n_a
    reason = "no rows" if n == 0 else ("no row is in the facet" if n_a == 0 else "every row is in the facet")
    scores = {m: math.nan for m in PRE_TRAINING}
    undefined = {m: reason for m in PRE_TRAINING if m != "ClassImbalance"}
    if n:
        # |n_a - n_d| / (n_a + n_d), the one metric an empty side leaves defined.
        scores["ClassImbalance"] = float(np.float32(abs(n_a - n_d)) / np.float32(n))
    else:
        undefined["ClassImbalance"] = reason
    return scores, undefined


# ---------------------------------------------------------------------------
# Post-training


def confusion_counts(f: np.ndarray, p: np.ndarray, g: np.ndarray) -> dict[str, int]:
    """TP, FP, TN, FN of the facet (…1) and of the rest (…0)."""
    code = f.view(np.uint8).astype(np.intp) * 4 + p.view(np.uint8) * 2 + g.view(np.uint8)
    c = np.bincount(code, minlength=8).tolist()
    return {"tn0": c[0], "fn0": c[1], "fp0": c[2], "tp0": c[3], "tn1": c[4], "fn1": c[5], "fp1": c[6], "tp1": c[7]}


def undefined_post_training(c: dict[str, int]) -> dict[str, str]:
    """Metrics whose formula divides by a zero count, with the reason."""
    n1 = c["tp1"] + c["fp1"] + c["tn1"] + c["fn1"]
    n0 = c["tp0"] + c["fp0"] + c["tn0"] + c["fn0"]
    if n1 == 0 or n0 == 0:
        reason = "no row is in the facet" if n1 == 0 else "every row is in the facet"
        return {m: reason for m in POST_TRAINING}
    out: dict[str, str] = {}

    def need(metric: str, count: int, what: str, side: str) -> None:
        if count == 0 and metric not in out:
            out[metric] = f"no {what} in the {side}"

    for side, s in (("facet", "1"), ("rest", "0")):
        tp, fp, tn, fn = c["tp" + s], c["fp" + s], c["tn" + s], c["fn" + s]
        if s == "0":
            need("DisparateImpact", tp + fp, "positive prediction", side)
        need("RecallDifference", tp + fn, "observed positive", side)
        need("DifferenceInConditionalAcceptance", tp + fn, "observed positive", side)
        need("DifferenceInAcceptanceRate", tp + fp, "positive prediction", side)
        need("SpecialityDifference", tn + fp, "observed negative", side)
        need("DifferenceInConditionalRejection", tn + fn, "negative prediction", side)
        need("DifferenceInRejectionRate", tn + fn, "negative prediction", side)
        need("TreatmentEquity", fp, "false positive", side)
    predicted_pos = c["tp1"] + c["fp1"] + c["tp0"] + c["fp0"]
    if predicted_pos == 0 or predicted_pos == n1 + n0:
        out["ConditionalDemographicDesparityPredictedLabels"] = (
            "every prediction is " + ("negative" if predicted_pos == 0 else "positive"))
    if c["tp1"] + c["tp0"] + 2 * (c["tn1"] + c["fp1"] + c["tn0"] + c["fp0"]) == 0:
        out["GeneralizedEntropy"] = "every row is a false negative (no benefit)"
    return out


def post_training_values(c: dict[str, int]) -> dict[str, float]:
    """The twelve metrics from the counts in 32-bit floats, operation for
    operation as the native analyzer computes them (used only where the native
    analyzer refuses the whole call because some metric is undefined)."""
    f = np.float32
    tp1, fp1, tn1, fn1 = c["tp1"], c["fp1"], c["tn1"], c["fn1"]
    tp0, fp0, tn0, fn0 = c["tp0"], c["fp0"], c["tn0"], c["fn0"]
    n1, n0 = tp1 + fp1 + tn1 + fn1, tp0 + fp0 + tn0 + fn0
    pp1, pp0, op1, op0 = tp1 + fp1, tp0 + fp0, tp1 + fn1, tp0 + fn0
    with np.errstate(divide="ignore", invalid="ignore"):
        q1 = f(pp1) / f(n1)
        q0 = f(pp0) / f(n0)
        acc1 = f(tp1 + tn1) / f(tn1 + ((tp1 + fp1) + fn1))
        acc0 = f(tp0 + tn0) / f(tn0 + ((tp0 + fp0) + fn0))
        pn = f((n0 + n1) - (pp0 + pp1))
        pp = f(pp0 + pp1)
        dd1 = f(n1 - pp1) / pn - f(pp1) / pp
        dd0 = f(n0 - pp0) / pn - f(pp0) / pp
        out = [
            q1 - q0,
            q1 / q0,
            acc1 - acc0,
            f(tp1) / f(tp1 + fn1) - f(tp0) / f(tp0 + fn0),
            f(pp1) / f(op1) - f(pp0) / f(op0),
            f(tp1) / f(tp1 + fp1) - f(tp0) / f(tp0 + fp0),
            f(tn1) / f(tn1 + fp1) - f(tn0) / f(tn0 + fp0),
            f(n0 - op0) / f(n0 - pp0) - f(n1 - op1) / f(n1 - pp1),
            f(tn0) / f(tn0 + fn0) - f(tn1) / f(tn1 + fn1),
            f(fn0) / f(fp0) - f(fn1) / f(fp1),
            (dd1 * f(n1) + dd0 * f(n0)) / f(n1 + n0),
            _generalized_entropy(fn1 + fn0, tp1 + tp0, tn1 + fp1 + tn0 + fp0),
        ]
    return {m: float(v) for m, v in zip(POST_TRAINING, out)}


def _generalized_entropy(b0: int, b1: int, b2: int) -> np.float32:
    f = np.float32
    mean = f(b1 + 2 * b2) / f(b0 + b1 + b2)
    inverse = f(1.0) / mean

    def term(benefit: float) -> float:
        scaled = f(benefit) * inverse
        return float(scaled * scaled - f(1.0))

    total = 0.0  # counts times terms, summed in double as the native sum is
    for count, benefit in ((b0, 0.0), (b1, 1.0), (b2, 2.0)):
        if count:
            total += float(count) * term(benefit)
    return f(total)


def _post_training(f: np.ndarray, g: np.ndarray, p: np.ndarray, f_args: tuple, g_args: tuple,
                   p_args: tuple) -> tuple[dict, dict]:
    counts = confusion_counts(f, p, g)
    undefined = undefined_post_training(counts)
    if not undefined:
        return native.py_model_bias_analyzer_explicit_seg(*f_args, *g_args, *p_args), {}
    values = post_training_values(counts)
    return {m: (math.nan if m in undefined else values[m]) for m in POST_TRAINING}, undefined
