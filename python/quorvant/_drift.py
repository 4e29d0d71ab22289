"""Drift of every column of two tables, scored by the native detectors."""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping
from concurrent.futures import ThreadPoolExecutor
from functools import lru_cache
from typing import Any

import numpy as np

from quorvant import _inputs as inputs
from quorvant import _quorvant as native
from quorvant.results import DriftResult, Histogram

DRIFT_METRICS = ("JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler")
BIN_RULES = ("FreedmanDiaconis", "Scott", "Sturges")

#: Default thresholds: a column drifted when any requested metric reaches its
#: threshold. PopulationStabilityIndex 0.25 is the usual "significant shift"
#: line, and KullbackLeibler runs on a similar scale; JensenShannon is in bits
#: (0 to 1); WassersteinDistance is a share difference (the mean over the inner
#: bins for continuous columns, half the L1 distance for categorical ones).
#: With the default Freedman-Diaconis bins these stay quiet on same-distribution
#: samples of 1,000 rows against 10,000 and flag a half-standard-deviation shift
#: of a normal feature at 10^5 rows; small current samples (100 rows) need
#: higher thresholds, as their histograms are noisy.
DEFAULT_THRESHOLDS: dict[str, float | None] = {
    "JensenShannon": 0.05,
    "PopulationStabilityIndex": 0.25,
    "WassersteinDistance": 0.1,
    "KullbackLeibler": 0.25,
}

# A flush-mode detector that never flushes holds exactly the rows given to it,
# so its scores are the one-shot scores and its snapshot the bins behind them.
_NEVER = 2**64 - 1


def drift(
    reference: Any,
    current: Any,
    columns: Iterable[str] | None = None,
    *,
    metrics: Iterable[str] | None = None,
    bins: str | None = None,
    categorical: Iterable[str] | None = None,
    continuous: Iterable[str] | None = None,
    thresholds: Mapping[str, float | None] | None = None,
    missing: str = "drop",
    n_jobs: int = -1,
) -> DriftResult:
    """Drift of every column of `current` against the same column of `reference`.

    Parameters
    ----------
    reference, current
        Tables: pandas, polars or pyarrow DataFrames, or dicts of columns.
    columns
        Columns to score; by default every column (then both tables must
        have the same columns).
    metrics
        Scores to compute, any of "JensenShannon", "PopulationStabilityIndex",
        "WassersteinDistance", "KullbackLeibler" (default: all four).
    bins
        Bin-count rule of continuous columns: "FreedmanDiaconis" (the default),
        "Scott" or "Sturges".
    categorical, continuous
        Columns to treat as categorical (labels) or continuous (histogram)
        whatever their values. Otherwise text, categorical and boolean columns
        are categorical, and a numeric column is continuous when its reference
        has at least 4 distinct values and distinct / rows exceeds the native
        heuristic (QUORVANT_DISTRIBUTION_HEURISTIC, default 0.05), categorical
        otherwise (its values become labels).
    thresholds
        Per-metric thresholds merged over :data:`DEFAULT_THRESHOLDS`; a column
        drifted when any metric reaches its threshold. None takes a metric
        out of the verdict.
    missing
        "drop" (default): missing values (NaN, None, null) are left out of the
        scores and counted in ``reference_missing``/``current_missing``;
        "error": any missing value raises.
    n_jobs
        Threads scoring columns (-1: all cores).

    Notes
    -----
    A column that cannot be scored (no values, fewer than two reference values,
    one distinct reference value unless named in `categorical` or
    `continuous`, a reference the native baseline refuses) gets an ``error``
    and no scores; the other columns are still scored. Unknown columns,
    empty tables, columns that differ between the tables and unsupported
    dtypes raise ``ValueError``.

    Examples
    --------
    >>> import numpy as np, quorvant
    >>> rng = np.random.default_rng(0)
    >>> ref = {"age": rng.normal(40, 10, 2000), "city": rng.choice(["a", "b"], 2000)}
    >>> cur = {"age": rng.normal(48, 10, 2000), "city": rng.choice(["a", "b"], 2000)}
    >>> result = quorvant.drift(ref, cur, metrics=["JensenShannon"])
    >>> [(r["column"], r["kind"], r["drifted"]) for r in result.to_dicts()]
    [('age', 'continuous', True), ('city', 'categorical', False)]
    >>> result.histograms["city"].labels
    ['a', 'b', None]
    """
    ref = inputs.read_table(reference, "reference")
    cur = inputs.read_table(current, "current")
    inputs.check_missing_policy(missing)
    names = _columns(ref, cur, columns)
    chosen = _metrics(metrics)
    rule = _bin_rule(bins)
    limits = _thresholds(thresholds, chosen)
    forced = _forced_kinds(names, categorical, continuous)
    for table in (ref, cur):
        if table.n_rows == 0:
            raise inputs.InputError(f"{table.arg}: the table has no rows")

    def score(name: str) -> tuple[dict[str, Any], Histogram | None]:
        return _score_column(name, ref.column(name), cur.column(name), chosen, rule, limits, forced.get(name),
                             missing)

    workers = _workers(n_jobs, len(names))
    if workers == 1:
        scored = [score(n) for n in names]
    else:
        with ThreadPoolExecutor(max_workers=workers) as pool:
            scored = list(pool.map(score, names))
    histograms = {row["column"]: h for row, h in scored if h is not None}
    return DriftResult([row for row, _ in scored], chosen, limits, histograms)


# ---------------------------------------------------------------------------
# Options


def _columns(ref: inputs.Table, cur: inputs.Table, columns: Iterable[str] | None) -> list[str]:
    if columns is None:
        if set(ref.names) != set(cur.names):
            only_ref = [n for n in ref.names if n not in cur.names]
            only_cur = [n for n in cur.names if n not in ref.names]
            raise inputs.InputError(
                "reference and current have different columns "
                f"(only in reference: {only_ref}; only in current: {only_cur}); "
                "pass columns=[...] to score the columns they share"
            )
        return list(ref.names)
    if isinstance(columns, str):
        columns = [columns]
    names = list(dict.fromkeys(columns))
    ref.require(names)
    cur.require(names)
    return names


def _metrics(metrics: Iterable[str] | None) -> tuple[str, ...]:
    if metrics is None:
        return DRIFT_METRICS
    if isinstance(metrics, str):
        metrics = [metrics]
    chosen = tuple(dict.fromkeys(metrics))
    unknown = [m for m in chosen if m not in DRIFT_METRICS]
    if unknown or not chosen:
        raise ValueError(f"metrics: unknown {unknown}; choose from {list(DRIFT_METRICS)}")
    return chosen


def _bin_rule(bins: str | None) -> str | None:
    if bins is not None and bins not in BIN_RULES:
        raise ValueError(f"bins must be None or one of {list(BIN_RULES)}, not {bins!r}")
    return bins


def _thresholds(thresholds: Mapping[str, float | None] | None, chosen: tuple[str, ...]) -> dict[str, float | None]:
    given = dict(thresholds or {})
    stray = [m for m in given if m not in chosen]
    if stray:
        raise ValueError(f"thresholds: {stray} not among the metrics computed ({list(chosen)})")
    merged = {m: DEFAULT_THRESHOLDS[m] for m in chosen}
    for m, v in given.items():
        merged[m] = None if v is None else float(v)
    return merged


def _forced_kinds(names: list[str], categorical: Iterable[str] | None,
                  continuous: Iterable[str] | None) -> dict[str, str]:
    def as_list(x: Iterable[str] | None) -> list[str]:
        return [x] if isinstance(x, str) else list(x or [])

    cat, cont = as_list(categorical), as_list(continuous)
    both = sorted(set(cat) & set(cont))
    if both:
        raise ValueError(f"columns named both categorical and continuous: {both}")
    stray = [n for n in cat + cont if n not in names]
    if stray:
        raise ValueError(f"categorical/continuous name columns that are not scored: {stray}")
    return {**{n: "categorical" for n in cat}, **{n: "continuous" for n in cont}}


@lru_cache(maxsize=1)
def _cores() -> int:
    return os.cpu_count() or 1


def _workers(n_jobs: int, n_columns: int) -> int:
    if not isinstance(n_jobs, int) or n_jobs == 0 or n_jobs < -1:
        raise ValueError(f"n_jobs must be a positive number of threads or -1 (all cores), not {n_jobs!r}")
    cores = _cores()
    return max(1, min(cores if n_jobs == -1 else n_jobs, n_columns))


# ---------------------------------------------------------------------------
# One column


class _ColumnError(Exception):
    """A column that gets an error entry instead of scores."""


def _score_column(name: str, ref_obj: Any, cur_obj: Any, metrics: tuple[str, ...], rule: str | None,
                  limits: dict[str, float | None], forced: str | None,
                  missing: str) -> tuple[dict[str, Any], Histogram | None]:
    ref = inputs.read_column(ref_obj, name, trust_text=True)
    cur = inputs.read_column(cur_obj, name, trust_text=True)
    try:
        return _score_read(name, ref, cur, metrics, rule, limits, forced, missing)
    except _Unchecked:
        # Text taken on trust held a missing or non-text value: read it fully.
        return _score_read(name, inputs.verified(ref), inputs.verified(cur), metrics, rule, limits, forced, missing)


class _Unchecked(Exception):
    """A native face refused an item of a column taken on trust."""


def _score_read(name: str, ref: inputs.Column, cur: inputs.Column, metrics: tuple[str, ...], rule: str | None,
                limits: dict[str, float | None], forced: str | None,
                missing: str) -> tuple[dict[str, Any], Histogram | None]:
    done = _unscanned_continuous(ref, cur, metrics, rule, forced, missing)
    if done is not None:
        scores, hist, n_bins = done
        kind = "continuous"
    else:
        for col, arg in ((ref, "reference"), (cur, "current")):
            inputs.refuse_missing([col], missing, arg)
        kind = forced or column_kind(ref, cur)
    row: dict[str, Any] = {
        "column": name, "kind": kind,
        "reference_rows": len(ref) - ref.n_missing, "reference_missing": ref.n_missing,
        "current_rows": len(cur) - cur.n_missing, "current_missing": cur.n_missing,
        "bins": None, **{m: None for m in metrics}, "drifted": None, "error": None,
    }
    if done is None:
        try:
            if kind == "continuous":
                scores, hist, n_bins = _continuous(name, ref, cur, metrics, rule, checked=forced is None)
            else:
                scores, hist, n_bins = _categorical(name, ref, cur, metrics, checked=forced is None)
        except _ColumnError as exc:
            row["error"] = str(exc)
            return row, None
    row.update(zip(metrics, scores))
    row["bins"] = n_bins
    row["drifted"] = any(limits[m] is not None and s >= limits[m] for m, s in zip(metrics, scores))
    return row, hist


def _unscanned_continuous(ref: inputs.Column, cur: inputs.Column, metrics: tuple[str, ...], rule: str | None,
                          forced: str | None, missing: str) -> tuple[list[float], Histogram, int] | None:
    """A continuous float reference scored without scanning it for NaN, or
    None to take the general path.

    The native baseline refuses NaN (and too few or infinite values), so a
    baseline built from the raw reference proves that no row of it is
    missing, and the kind decided on the raw values (as if NaN-free) was
    decided on the present values. A NaN of the current lands in the first
    bin, with the values below the reference, so the current is only
    scanned when that bin is not empty; if it holds NaN the stream is
    emptied and fed the present values. Anything unusual (a refusal, a
    current without values) goes the general way, which scans, decides and
    reports it. (A reference decided continuous holds at least 4 distinct
    values, so the check for a constant one is not needed here.)
    """
    if forced not in (None, "continuous") or ref.scanned or ref.kind != "numeric" or cur.kind != "numeric":
        return None
    r = ref.values
    if r.dtype != np.float64 or len(cur) == 0:
        return None
    # A few spread rows (those the kind decision samples first) catch most
    # columns with missing values before the work below is spent on them
    # (it would be exact anyway, only wasted).
    if np.isnan(np.minimum.reduce(r[:: max(1, r.shape[0] // inputs.SAMPLE_ROWS)])):
        return None
    if forced is None and not inputs.is_continuous(r, nan_free=True):
        return None
    r = inputs.as_float64(r)
    try:
        detector = native.PyStreamingContinuousDataDriftFlush(r, rule, _NEVER, _NEVER)
    except ValueError:
        return None
    ref.known_complete()
    c = inputs.as_float64(cur.values)
    detector.update_stream_batch(c)
    snap = detector.export_snapshot()
    if snap["streamBins"][0] == 0.0:
        cur.known_complete()
    elif cur.n_missing:
        inputs.refuse_missing([cur], missing, "current")
        if cur.n_missing == len(cur):
            return None
        detector.flush()
        detector.update_stream_batch(inputs.as_float64(cur.present()))
        snap = detector.export_snapshot()
    scores = detector.compute_drift_multiple_criteria(list(metrics))
    return scores, histogram_of("continuous", detector, snap), detector.n_bins


def column_kind(ref: inputs.Column, cur: inputs.Column) -> str:
    """continuous or categorical, decided on the reference's present values."""
    if ref.n_missing == len(ref):  # nothing to decide on; scoring reports the empty reference
        return "continuous" if cur.kind == "numeric" else "categorical"
    if cur.n_missing == len(cur) and ref.kind != "numeric":
        return "categorical"
    if ref.kind != cur.kind and not {ref.kind, cur.kind} <= {"numeric", "bool"}:
        raise inputs.InputError(
            f"column {ref.name!r} holds {ref.kind} values in reference but {cur.kind} values in current; "
            "give both tables the same kind of column"
        )
    if ref.kind != "numeric":
        return "categorical"
    # Missing rows are all the NaNs a numeric column holds: the present
    # values have none.
    return "continuous" if inputs.is_continuous(ref.present(), nan_free=True) else "categorical"


def _continuous(name: str, ref: inputs.Column, cur: inputs.Column, metrics: tuple[str, ...], rule: str | None,
                checked: bool) -> tuple[list[float], Histogram, int]:
    for col in (ref, cur):
        if col.kind == "text":
            raise inputs.InputError(f"column {name!r} holds text; it can only be scored as categorical")
    # A contiguous float64 column without missing rows goes to the native
    # faces as it is; anything else costs one compaction or conversion.
    r = inputs.as_float64(ref.present())
    c = inputs.as_float64(cur.present())
    if r.size < 2:
        raise _ColumnError(f"the reference has {r.size} values (needs at least 2)")
    if c.size == 0:
        raise _ColumnError("the current column has no values")
    try:
        detector = native.PyStreamingContinuousDataDriftFlush(r, rule, _NEVER, _NEVER)
    except ValueError as exc:  # the native baseline's own refusals (infinite values, too many bins)
        raise _ColumnError(f"reference refused: {exc}") from None
    # Only a constant reference has all of its values in the middle of three bins.
    if checked and detector.n_bins == 3 and detector.export_baseline() == [0.0, 1.0, 0.0]:
        raise _ColumnError("the reference has one distinct value; name the column in categorical= or "
                           "continuous= to score it anyway")
    detector.update_stream_batch(c)
    scores = detector.compute_drift_multiple_criteria(list(metrics))
    hist = histogram_of("continuous", detector)
    return scores, hist, detector.n_bins


def category_labels(col: inputs.Column, floats: bool) -> list | np.ndarray:
    """The labels of a column's present rows as the native categorical faces
    read them: text as is (a NumPy '<U' array stays one, read natively),
    booleans as "False"/"True", numbers by their value ("3", or "3.0" when
    either table holds floats; 0.0 and -0.0 are one number, "0.0").

    The native faces count labels, so the order of the rows does not change
    a result: where the labels are known as counts (categorical codes,
    booleans, numbers) the list holds each label's rows together, which
    costs one list of the rows and no Python object per row.
    """
    if col.kind == "text":
        labels = inputs.native_labels(col)
        return _repeated(col.categories, _code_counts(col)) if labels is None else labels
    values = col.present()
    if col.kind == "bool":
        n_true = int(np.count_nonzero(values))
        return _repeated(["False", "True"], [values.shape[0] - n_true, n_true])
    unique, counts = np.unique(values, return_counts=True)
    if floats:
        names = [repr(v + 0.0) for v in unique.astype(np.float64).tolist()]
    else:
        names = [str(v) for v in unique.tolist()]
    return _repeated(names, counts.tolist())


def _code_counts(col: inputs.Column) -> list[int]:
    """Rows per category of a coded text column (missing rows left out)."""
    codes = col.codes if col.missing is None else col.codes[~col.missing]
    n = len(col.categories)
    if n <= 8:  # a comparison per category beats bincount's conversion to intp
        return [int(np.count_nonzero(codes == i)) for i in range(n)]
    return np.bincount(codes, minlength=n).tolist()


def _repeated(labels: list[str], counts: list[int]) -> list[str]:
    """Each label `count` times, in runs (the first run is the list itself:
    one copy less)."""
    out: list[str] | None = None
    for label, count in zip(labels, counts):
        if count:
            if out is None:
                out = [label] * count
            else:
                out += [label] * count
    return out if out is not None else []


def _categorical(name: str, ref: inputs.Column, cur: inputs.Column, metrics: tuple[str, ...],
                 checked: bool) -> tuple[list[float], Histogram, int]:
    floats = any(c.kind == "numeric" and c.values.dtype.kind == "f" for c in (ref, cur))
    if ref.kind != cur.kind and "text" in (ref.kind, cur.kind) and (ref.unchecked or cur.unchecked):
        raise _Unchecked
    r = category_labels(ref, floats)
    c = category_labels(cur, floats)
    if len(r) == 0:
        raise _ColumnError("the reference column has no values")
    if len(c) == 0:
        raise _ColumnError("the current column has no values")
    try:
        detector = native.PyStreamingCategoricalDataDriftFlush(r, _NEVER, _NEVER)
        detector.update_stream_batch(c)
    except TypeError as exc:  # an item that is not text
        if ref.unchecked or cur.unchecked:
            raise _Unchecked from None
        raise inputs.InputError(f"column {name!r}: every label must be text ({exc})") from None
    except ValueError as exc:  # text a str cannot hold or UTF-8 cannot encode (a '<U' array's raw code points)
        raise inputs.InputError(f"column {name!r}: a label is not valid text ({exc})") from None
    if checked and detector.n_bins == 2:
        raise _ColumnError("the reference has one distinct value; name the column in categorical= to "
                           "score it anyway")
    scores = detector.compute_drift_multiple_criteria(list(metrics))
    hist = histogram_of("categorical", detector)
    return scores, hist, detector.n_bins


def histogram_of(kind: str, detector: Any, snap: dict | None = None) -> Histogram:
    """The bins behind a flush-mode detector's scores, from its exports
    (`snap`: the continuous snapshot, when already exported)."""
    total = float(detector.total_samples)
    if kind == "continuous":
        snap = detector.export_snapshot() if snap is None else snap
        # streamBins are counts / total: rounding back recovers the counts.
        # rint rounds half to even, as round() does, on the same products.
        counts = np.rint(np.asarray(snap["streamBins"], dtype=np.float64) * total).tolist()
        return Histogram("continuous", snap["binEdges"], None, snap["baselineBins"], snap["streamBins"], counts)
    shares, counts = detector.export_baseline(), detector.export_snapshot()
    labels = sorted(shares, key=lambda s: s.encode("utf-8", "surrogatepass"))  # the native bin order
    seen = [counts[k] for k in labels]
    current_counts = seen + [total - sum(seen)]  # the unseen-label bin
    return Histogram("categorical", None, [*labels, None], [shares[k] for k in labels] + [0.0],
                     [n / total for n in current_counts], current_counts)
