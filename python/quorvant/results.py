"""Result objects of the table-level API.

Every result is a small, immutable table of plain Python values: one row per
column, facet or metric, with the same exports everywhere (``to_dicts``,
``to_json``, ``to_pandas``, ``to_polars``, ``to_arrow``) and a readable
``repr`` and notebook view. The drift result also keeps, per column, the exact
histograms its scores were computed from (:class:`Histogram`).
"""

from __future__ import annotations

import html
import json
import math
import os
from dataclasses import dataclass
from typing import Any, ClassVar

__all__ = ["BiasResult", "CheckResult", "DriftResult", "Histogram", "MonitorReport", "PerformanceResult"]


def _plain(v: Any) -> Any:
    """JSON-ready value: NaN and infinities become None (JSON has none)."""
    if isinstance(v, float) and not math.isfinite(v):
        return None
    if isinstance(v, dict):
        return {k: _plain(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [_plain(x) for x in v]
    return v


def _cell(v: Any) -> str:
    if v is None:
        return ""
    if isinstance(v, bool):
        return "yes" if v else "no"
    if isinstance(v, float):
        return f"{v:.6g}"
    if isinstance(v, dict):
        return "; ".join(f"{k}: {x}" for k, x in v.items())
    return str(v)


class _Table:
    """Rows of plain values with the exports every result shares."""

    #: Column order of the exports; subclasses set it per instance when the
    #: columns depend on the call (the requested metrics).
    columns: tuple[str, ...] = ()
    title: ClassVar[str] = ""

    def __init__(self, rows: list[dict[str, Any]], columns: tuple[str, ...]) -> None:
        self._rows = rows
        self.columns = columns

    def __len__(self) -> int:
        return len(self._rows)

    def __iter__(self):
        return iter(self.to_dicts())

    def __getitem__(self, key: int | str) -> dict[str, Any]:
        """A row by position, or by the value of its first column."""
        if isinstance(key, int):
            return dict(self._rows[key])
        for row in self._rows:
            if row[self.columns[0]] == key:
                return dict(row)
        raise KeyError(key)

    def to_dicts(self) -> list[dict[str, Any]]:
        """One dict per row, keys in column order."""
        return [{c: row[c] for c in self.columns} for row in self._rows]

    def to_json(self, **kwargs: Any) -> str:
        """The rows as a JSON array (NaN and infinities as null)."""
        return json.dumps(_plain(self.to_dicts()), **kwargs)

    def _flat(self) -> dict[str, list]:
        # Dict cells (reasons) become text in table exports.
        return {c: [_cell(r[c]) if isinstance(r[c], dict) else r[c] for r in self._rows] for c in self.columns}

    def to_pandas(self):
        """A pandas DataFrame of the rows (needs pandas)."""
        import pandas as pd

        return pd.DataFrame(self._flat(), columns=list(self.columns))

    def to_polars(self):
        """A polars DataFrame of the rows (needs polars)."""
        import polars as pl

        return pl.DataFrame(self._flat(), strict=False)

    def to_arrow(self):
        """A pyarrow Table of the rows (needs pyarrow)."""
        import pyarrow as pa

        return pa.table(self._flat())

    def _summary(self) -> str:
        return ""

    def to_html(self, path: str | os.PathLike | None = None) -> str:
        """The HTML report of this result: one self-contained page (summary
        first, then the details), returned as text and written to `path` when
        one is given. Needs Jinja2 (``pip install 'quorvant[report]'``); see
        :func:`quorvant.report` to put several results in one page."""
        from quorvant._report import to_html

        return to_html(self, path)

    def __repr__(self) -> str:
        header = list(self.columns)
        body = [[_cell(r[c]) for c in header] for r in self._rows]
        widths = [max([len(h)] + [len(b[i]) for b in body]) for i, h in enumerate(header)]
        lines = [f"{type(self).__name__}: {self._summary()}".rstrip(": ")]
        lines.append("  ".join(h.ljust(w) for h, w in zip(header, widths)))
        lines += ["  ".join(c.ljust(w) for c, w in zip(b, widths)) for b in body]
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{html.escape(c)}</th>" for c in self.columns)
        rows = "".join(
            "<tr>" + "".join(f"<td>{html.escape(_cell(r[c]))}</td>" for c in self.columns) + "</tr>"
            for r in self._rows
        )
        caption = html.escape(f"{type(self).__name__}: {self._summary()}")
        return f"<table><caption>{caption}</caption><thead><tr>{head}</tr></thead><tbody>{rows}</tbody></table>"


@dataclass(frozen=True)
class Histogram:
    """The two histograms one column's drift scores were computed from.

    Continuous columns: ``edges`` are the native baseline's bin edges (B - 2
    of them for B bins, or one for a constant reference); bin 0 holds values
    below the first edge, bin j (1 <= j <= B - 3) values in
    ``[edges[j-1], edges[j])``, bin B - 2 values equal to the last edge and
    bin B - 1 values above it. ``labels`` is None.

    Categorical columns: ``labels`` names the bins in the native order (the
    reference labels sorted by their UTF-8 bytes), followed by one last bin,
    labelled None, for labels the reference never had. ``edges`` is None.

    ``reference`` and ``current`` are the shares per bin that the scores used:
    the native baseline shares and the runtime counts divided by the runtime
    total; ``current_counts`` are those counts.
    """

    kind: str
    edges: list[float] | None
    labels: list[str | None] | None
    reference: list[float]
    current: list[float]
    current_counts: list[float]

    @property
    def n_bins(self) -> int:
        return len(self.reference)


class DriftResult(_Table):
    """Drift of every column of two tables (see :func:`quorvant.drift`).

    One row per column with ``column``, ``kind`` (continuous or categorical),
    ``reference_rows``/``reference_missing`` and ``current_rows``/
    ``current_missing`` (rows scored and rows left out as missing),
    ``bins``, one value per requested metric, ``drifted`` (True when any
    metric reached its threshold, None for a column in error) and ``error``.
    ``histograms[column]`` holds the bins behind the scores and
    ``thresholds`` the thresholds used.
    """

    def __init__(
        self,
        rows: list[dict[str, Any]],
        metrics: tuple[str, ...],
        thresholds: dict[str, float | None],
        histograms: dict[str, Histogram],
    ) -> None:
        columns = ("column", "kind", "reference_rows", "reference_missing", "current_rows", "current_missing",
                   "bins", *metrics, "drifted", "error")
        super().__init__(rows, columns)
        self.metrics = metrics
        self.thresholds = dict(thresholds)
        self.histograms = dict(histograms)

    @property
    def drifted(self) -> list[str]:
        """Names of the columns that drifted."""
        return [r["column"] for r in self._rows if r["drifted"]]

    @property
    def errors(self) -> dict[str, str]:
        """Columns that could not be scored, with the reason."""
        return {r["column"]: r["error"] for r in self._rows if r["error"]}

    def _summary(self) -> str:
        text = f"{len(self.drifted)} of {len(self)} columns drifted"
        return text + (f", {len(self.errors)} not scored" if self.errors else "")


class BiasResult(_Table):
    """Bias metrics per facet (see :func:`quorvant.bias`).

    One row per facet and facet value with ``facet`` (the column), ``value``
    (what puts a row into the facet, e.g. ``== 'female'`` or ``>= 40``),
    ``label`` and ``prediction`` (the same for outcomes), ``rows`` (rows used),
    ``missing`` (rows left out as missing), ``facet_rows`` and ``rest_rows``,
    one value per metric and ``undefined``: for each metric that is NaN
    because the data cannot define it, the reason.
    """

    def __init__(self, rows: list[dict[str, Any]], metrics: tuple[str, ...], family: str) -> None:
        columns = ("facet", "value", "label", "prediction", "rows", "missing", "facet_rows", "rest_rows",
                   *metrics, "undefined")
        super().__init__(rows, columns)
        self.metrics = metrics
        self.family = family

    def metrics_of(self, index: int = 0) -> dict[str, float]:
        """The metric dict of one row, as the native runtime checks read it."""
        row = self._rows[index]
        return {m: row[m] for m in self.metrics}

    def _summary(self) -> str:
        kind = "post-training" if self.family == "model_bias" else "pre-training"
        return f"{kind} bias, {len(self)} facet values"


class PerformanceResult(_Table):
    """Performance metrics of one model (see :func:`quorvant.performance`).

    One row per metric (``metric``, ``value``); ``metrics`` is the dict the
    native face returned (in the family's metric order), ``rows`` the pairs
    used and ``missing`` the pairs left out as missing.
    """

    def __init__(self, kind: str, metrics: dict[str, float], rows: int, missing: int) -> None:
        super().__init__([{"metric": k, "value": v} for k, v in metrics.items()], ("metric", "value"))
        self.kind = kind
        self.metrics = dict(metrics)
        self.rows = rows
        self.missing = missing

    def __getitem__(self, key: int | str) -> Any:
        if isinstance(key, str):
            return self.metrics[key]
        return super().__getitem__(key)

    def _summary(self) -> str:
        return f"{self.kind}, {self.rows} rows" + (f" ({self.missing} missing left out)" if self.missing else "")


class CheckResult(_Table):
    """A comparison of latest metrics with a baseline (see :func:`quorvant.check`).

    ``passed`` is True when no metric failed; ``failures`` maps each failed
    metric to its drift as the native check reported it. One row per metric
    compared with ``group`` (the facet value, for bias checks of several
    facets; else None), ``metric``, ``baseline``, ``latest``, ``drift`` (None
    for metrics that passed) and ``failed``.
    """

    def __init__(self, family: str, threshold: float, rows: list[dict[str, Any]], rule: str) -> None:
        super().__init__(rows, ("group", "metric", "baseline", "latest", "drift", "failed"))
        self.family = family
        self.threshold = threshold
        self.rule = rule

    @property
    def passed(self) -> bool:
        return not any(r["failed"] for r in self._rows)

    @property
    def failures(self) -> dict[str, float]:
        """Failed metrics and their drifts (``group: metric`` keys for grouped checks)."""
        return {
            (f"{r['group']}: {r['metric']}" if r["group"] is not None else r["metric"]): r["drift"]
            for r in self._rows
            if r["failed"]
        }

    def _summary(self) -> str:
        verdict = "passed" if self.passed else f"failed {len(self.failures)} metrics"
        return f"{self.family} check at threshold {self.threshold:g} ({self.rule}): {verdict}"


class MonitorReport:
    """What a :class:`quorvant.Monitor` has seen: ``drift`` (a DriftResult of
    every feature), ``performance`` (a CheckResult of the streaming
    performance monitor against its baseline, or None), ``bias`` (a
    BiasResult of the current metrics per facet, or None), ``bias_check`` (a
    CheckResult of the facets' relative drift, or None) and ``rows`` (rows
    seen since the monitor was made)."""

    def __init__(self, drift: DriftResult, performance: CheckResult | None, bias: BiasResult | None,
                 bias_check: CheckResult | None, rows: int) -> None:
        self.drift = drift
        self.performance = performance
        self.bias = bias
        self.bias_check = bias_check
        self.rows = rows

    @property
    def passed(self) -> bool:
        """True when no feature drifted and every check passed."""
        return not self.drift.drifted and all(c is None or c.passed for c in (self.performance, self.bias_check))

    def to_dicts(self) -> dict[str, Any]:
        return {
            "rows": self.rows,
            "drift": self.drift.to_dicts(),
            "performance": None if self.performance is None else self.performance.to_dicts(),
            "bias": None if self.bias is None else self.bias.to_dicts(),
            "bias_check": None if self.bias_check is None else self.bias_check.to_dicts(),
        }

    def to_json(self, **kwargs: Any) -> str:
        return json.dumps(_plain(self.to_dicts()), **kwargs)

    def __repr__(self) -> str:
        parts = [f"MonitorReport: {self.rows} rows seen, {'passed' if self.passed else 'attention needed'}",
                 repr(self.drift)]
        parts += [repr(x) for x in (self.performance, self.bias, self.bias_check) if x is not None]
        return "\n\n".join(parts)

    def to_html(self, path: str | os.PathLike | None = None) -> str:
        """The HTML report of this result: one self-contained page (summary
        first, then the details), returned as text and written to `path` when
        one is given. Needs Jinja2 (``pip install 'quorvant[report]'``); see
        :func:`quorvant.report` to put several results in one page."""
        from quorvant._report import to_html

        return to_html(self, path)

    def _repr_html_(self) -> str:
        parts = [x._repr_html_() for x in (self.drift, self.performance, self.bias, self.bias_check) if x is not None]
        return f"<div><p>{self.rows} rows seen</p>{''.join(parts)}</div>"
