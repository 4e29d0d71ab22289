"""The ``quorvant`` command: drift, bias, performance and checks of files, for
pipelines and CI gates.

Exit codes: 0 nothing drifted and every check passed; 1 a feature drifted or
a check failed (``--fail-on`` picks what counts); 2 a usage or input error,
told in one line that names the file and the column; 3 an internal error (a
bug; ``--debug`` shows the traceback).
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import sys
import threading
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any, TextIO

__all__ = ["main"]

OK, FAILED, USAGE, INTERNAL = 0, 1, 2, 3


class UserError(Exception):
    """An input or usage error: one line for the user, exit code 2."""


# ---------------------------------------------------------------------------
# Reading files


_CSV = (".csv", ".tsv", ".txt")
_PARQUET = (".parquet", ".pq")
_COMPRESSED = (".gz", ".bz2", ".zst", ".lz4")


def _file_kind(path: Path) -> str:
    suffixes = [s.lower() for s in path.suffixes]
    while suffixes and suffixes[-1] in _COMPRESSED:
        suffixes.pop()
    last = suffixes[-1] if suffixes else ""
    if last in _CSV:
        return "tsv" if last == ".tsv" else "csv"
    if last in _PARQUET:
        return "parquet"
    raise UserError(f"{path}: unknown file type {last or '(no suffix)'!r}; give a .csv, .tsv or .parquet file")


def _reader() -> str:
    for name in ("pyarrow", "polars"):
        try:
            __import__(name)
            return name
        except ImportError:
            continue
    raise UserError("reading CSV and Parquet files needs pyarrow or polars: pip install 'quorvant[cli]' "
                    "(or pip install polars)")


def read_file(path_text: str) -> Any:
    """The table in a CSV, TSV or Parquet file (a pyarrow Table, or a polars
    DataFrame when only polars is installed). Empty cells are missing values."""
    path = Path(path_text)
    if not path.exists():
        raise UserError(f"{path}: no such file")
    if path.is_dir():
        raise UserError(f"{path}: is a directory, not a file")
    kind = _file_kind(path)
    if not os.access(path, os.R_OK):
        raise UserError(f"{path}: cannot be read (permission denied)")
    if path.stat().st_size == 0:
        raise UserError(f"{path}: the file is empty")
    reader = _reader()
    try:
        table = _read_pyarrow(path, kind) if reader == "pyarrow" else _read_polars(path, kind)
    except UserError:
        raise
    except Exception as exc:  # the readers' own parse errors, reported in one line
        first = str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__
        raise UserError(f"{path}: not a readable {kind.upper()} file ({first})") from exc
    n_rows = table.num_rows if reader == "pyarrow" else table.height
    if n_rows == 0:
        raise UserError(f"{path}: the file has no rows")
    return table


def _read_pyarrow(path: Path, kind: str) -> Any:
    if kind == "parquet":
        import pyarrow.parquet as pq

        return pq.read_table(path)
    import pyarrow.csv as pa_csv

    parse = pa_csv.ParseOptions(delimiter="\t" if kind == "tsv" else ",")
    convert = pa_csv.ConvertOptions(strings_can_be_null=True)
    return pa_csv.read_csv(path, parse_options=parse, convert_options=convert)


def _read_polars(path: Path, kind: str) -> Any:
    import polars as pl

    if kind == "parquet":
        return pl.read_parquet(path)
    return pl.read_csv(path, separator="\t" if kind == "tsv" else ",", infer_schema_length=10_000)


def _column_names(table: Any) -> list[str]:
    return [str(c) for c in (table.column_names if hasattr(table, "column_names") else table.columns)]


def _require(table: Any, path: str, names: Sequence[str]) -> None:
    have = _column_names(table)
    absent = [n for n in names if n not in have]
    if absent:
        shown = ", ".join(map(repr, have[:12])) + (f", ... ({len(have)} in all)" if len(have) > 12 else "")
        raise UserError(f"{path}: no column {', '.join(map(repr, absent))} (columns: {shown})")


def read_metrics(path_text: str) -> dict[str, float]:
    """A metric dict from a JSON file: {"Accuracy": 0.9, ...}, or the output of
    ``quorvant performance --format json`` (rows of metric and value), or a
    one-row ``quorvant bias --format json``."""
    path = Path(path_text)
    if not path.is_file():
        raise UserError(f"{path}: no such file")
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
    except UnicodeDecodeError:
        raise UserError(f"{path}: not a text file (expected JSON)") from None
    except json.JSONDecodeError as exc:
        raise UserError(f"{path}: not valid JSON ({exc})") from None
    if isinstance(data, list) and data and all(isinstance(r, dict) and set(r) == {"metric", "value"} for r in data):
        data = {r["metric"]: r["value"] for r in data}
    elif isinstance(data, list) and len(data) == 1 and isinstance(data[0], dict) and "facet" in data[0]:
        data = {k: v for k, v in data[0].items() if k not in _BIAS_ROW_FIELDS}
    elif isinstance(data, list) and data and all(isinstance(r, dict) and "facet" in r for r in data):
        raise UserError(f"{path}: holds {len(data)} facet rows; a check compares one set of metrics "
                        "(write one facet value per file)")
    if not isinstance(data, dict) or not data:
        found = f"a list of {len(data)} items" if isinstance(data, list) else type(data).__name__
        raise UserError(f'{path}: not a metric dict: expected {{"Accuracy": 0.91, ...}}, found {found}')
    metrics = {}
    for key, value in data.items():
        if value is None:
            value = math.nan  # the JSON exports write NaN as null
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise UserError(f"{path}: metric {key!r} is {json.dumps(value)[:40]}, not a number")
        metrics[str(key)] = float(value)
    return metrics


_BIAS_ROW_FIELDS = {"facet", "value", "label", "prediction", "rows", "missing", "facet_rows", "rest_rows", "undefined"}


# ---------------------------------------------------------------------------
# Values written on the command line


_SPEC = re.compile(r"^(?P<col>.+?)(?P<op>>=|<=|==|=|>|<)(?P<val>.*)$", re.S)


def _typed(text: str, kind: str, what: str) -> Any:
    """`text` as a value of a column of `kind` (numeric, bool or text)."""
    if kind == "text":
        return text
    if kind == "bool":
        lowered = text.strip().lower()
        if lowered in ("true", "1", "yes"):
            return True
        if lowered in ("false", "0", "no"):
            return False
        raise UserError(f"{what}: {text!r} is not a boolean (true or false)")
    try:
        return int(text)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        raise UserError(f"{what}: {text!r} is not a number, and the column holds numbers") from None


def _column_kind(table: Any, name: str, path: str) -> str:
    from quorvant import _inputs as inputs

    _require(table, path, [name])
    return inputs.read_table(table, path).read(name).kind


def parse_spec(text: str, table: Any, path: str, role: str) -> tuple[str, Any]:
    """COL, COL=VALUE, COL>=V, COL>V, COL<=V or COL<V as (column, value for
    the table-level API): a bare column, a Label or a threshold."""
    import quorvant as q

    m = _SPEC.match(text)
    if m is None:
        _require(table, path, [text])
        return text, None
    col, op, val = m["col"].strip(), m["op"], m["val"].strip()
    what = f"--{role} {text}"
    if not val:
        raise UserError(f"{what}: no value after {op!r}")
    kind = _column_kind(table, col, path)
    if op in ("=", "=="):
        return col, q.Label(_typed(val, kind, what))
    if kind == "text":
        raise UserError(f"{what}: column {col!r} holds text; a threshold needs numbers (use {col}=VALUE)")
    try:
        threshold = float(val)
    except ValueError:
        raise UserError(f"{what}: {val!r} is not a number") from None
    return col, {">=": q.AtLeast, ">": q.Above, "<=": q.AtMost, "<": q.Below}[op](threshold)


_CONDITION = re.compile(r"^(?P<metric>[A-Za-z0-9_]+)\s*(?P<op>>=|<=|>|<|=)\s*(?P<val>.+)$")
_OPS: dict[str, Callable[[float, float], bool]] = {
    ">=": lambda v, t: v >= t, ">": lambda v, t: v > t, "<=": lambda v, t: v <= t, "<": lambda v, t: v < t,
}


def _split(values: Sequence[str] | None) -> list[str]:
    """Repeated options, each possibly a comma-separated list."""
    return [part.strip() for v in values or [] for part in v.split(",") if part.strip()]


def parse_conditions(values: Sequence[str] | None, metrics: Sequence[str]) -> list[tuple[str, str, float]] | None:
    """--fail-on for bias and performance: METRIC<T, METRIC<=T, METRIC>T or
    METRIC>=T (None: nothing given, [] for "none")."""
    items = _split(values)
    if not items:
        return None
    if items == ["none"]:
        return []
    out = []
    for item in items:
        m = _CONDITION.match(item)
        if m is None or m["op"] == "=":
            raise UserError(f"--fail-on {item}: write a comparison such as Accuracy<0.9 or DisparateImpact>1.25")
        if m["metric"] not in metrics:
            raise UserError(f"--fail-on {item}: {m['metric']!r} is not one of {', '.join(metrics)}")
        try:
            out.append((m["metric"], m["op"], float(m["val"])))
        except ValueError:
            raise UserError(f"--fail-on {item}: {m['val']!r} is not a number") from None
    return out


def parse_drift_fail_on(values: Sequence[str] | None, metrics: Sequence[str]) -> dict[str, float | None] | None:
    """--fail-on for drift: METRIC=T (or METRIC>=T, or METRIC for its default
    threshold); only the metrics named count. None when not given."""
    from quorvant._drift import DEFAULT_THRESHOLDS

    items = _split(values)
    if not items:
        return None
    if items == ["none"]:
        return {m: None for m in metrics}
    thresholds: dict[str, float | None] = {m: None for m in metrics}
    for item in items:
        name, _, value = item.replace(">=", "=").partition("=")
        name = name.strip()
        if name not in metrics:
            raise UserError(f"--fail-on {item}: {name!r} is not a computed drift metric ({', '.join(metrics)})")
        try:
            thresholds[name] = float(value) if value.strip() else DEFAULT_THRESHOLDS[name]
        except ValueError:
            raise UserError(f"--fail-on {item}: {value!r} is not a number") from None
    return thresholds


# ---------------------------------------------------------------------------
# Progress on stderr


class Progress:
    """A one-line progress bar on a terminal's stderr, drawn only once the
    work has taken `delay` seconds, by a thread, so a blocking read shows its
    elapsed time too. Off when the stream is not a terminal."""

    def __init__(self, enabled: bool, stream: TextIO | None = None, delay: float = 1.0) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.enabled = enabled
        self.delay = delay
        self.label, self.done, self.total = "", 0, 0
        self._start = time.monotonic()
        self._stop = threading.Event()
        self._thread: threading.Thread | None = None
        self._drawn = 0

    def __enter__(self) -> Progress:
        if self.enabled:
            self._thread = threading.Thread(target=self._run, name="quorvant-progress", daemon=True)
            self._thread.start()
        return self

    def __exit__(self, *exc: Any) -> None:
        self._stop.set()
        if self._thread is not None:
            self._thread.join()
        if self._drawn:
            self.stream.write("\r" + " " * self._drawn + "\r")
            self.stream.flush()

    def update(self, label: str, done: int = 0, total: int = 0) -> None:
        self.label, self.done, self.total = label, done, total

    def line(self) -> str:
        elapsed = time.monotonic() - self._start
        if self.total:
            width = 24
            filled = round(width * self.done / self.total)
            return f"{self.label} [{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total} {elapsed:.0f}s"
        return f"{self.label} ... {elapsed:.0f}s"

    def _run(self) -> None:
        if self._stop.wait(self.delay):
            return
        while not self._stop.is_set():
            text = self.line()[:120]
            self.stream.write("\r" + text.ljust(self._drawn))
            self.stream.flush()
            self._drawn = max(self._drawn, len(text))
            self._stop.wait(0.1)


# ---------------------------------------------------------------------------
# Terminal tables


def _table(header: list[str], rows: list[list[str]], right: set[int]) -> str:
    widths = [max([len(h)] + [len(r[i]) for r in rows]) for i, h in enumerate(header)]

    def line(cells: list[str]) -> str:
        return "  ".join(c.rjust(w) if i in right else c.ljust(w) for i, (c, w) in enumerate(zip(cells, widths)))

    return "\n".join([line(header), line(["-" * w for w in widths])] + [line(r) for r in rows])


def format_table(result: Any) -> str:
    """A result of the table layer as the plain-text table ``--format table``
    prints: one row per column, facet value or metric, with its verdict.

    >>> import numpy as np, quorvant as q
    >>> rng = np.random.default_rng(0)
    >>> ref = {"x": rng.normal(size=1000)}
    >>> print(format_table(q.drift(ref, ref)).splitlines()[0].split())
    ['column', 'kind', 'bins', 'JS', 'PSI', 'Wasserstein', 'KL', 'verdict']
    """
    from quorvant._report import SHORT
    from quorvant._report.numbers import fmt
    from quorvant.results import BiasResult, CheckResult, DriftResult, PerformanceResult

    if isinstance(result, DriftResult):
        header = ["column", "kind", "bins", *[SHORT.get(m, m) for m in result.metrics], "verdict"]
        rows = []
        for r in result.to_dicts():
            if r["error"]:
                rows.append([r["column"], r["kind"], "", *["" for _ in result.metrics], f"not scored: {r['error']}"])
            else:
                rows.append([r["column"], r["kind"], fmt(r["bins"]), *[fmt(r[m]) for m in result.metrics],
                             "DRIFTED" if r["drifted"] else "ok"])
        limits = ", ".join(f"{SHORT.get(m, m)} >= {fmt(t)}" for m, t in result.thresholds.items() if t is not None)
        return _table(header, rows, set(range(2, 3 + len(result.metrics)))) + f"\n(drifted when {limits or 'never'})"
    if isinstance(result, BiasResult):
        rows_in = result.to_dicts()
        header = ["metric", *[f"{r['facet']} {r['value']}" for r in rows_in]]
        rows = [["facet / rest rows", *[f"{fmt(r['facet_rows'])} / {fmt(r['rest_rows'])}" for r in rows_in]]]
        rows += [[m, *[fmt(r[m]) + (" (undefined)" if m in r["undefined"] else "") for r in rows_in]]
                 for m in result.metrics]
        return _table(header, rows, set(range(1, len(header))))
    if isinstance(result, PerformanceResult):
        rows = [[r["metric"], fmt(r["value"])] for r in result.to_dicts()]
        return _table(["metric", "value"], rows, {1})
    if isinstance(result, CheckResult):
        grouped = any(r["group"] is not None for r in result.to_dicts())
        header = (["facet"] if grouped else []) + ["metric", "baseline", "latest", "drift", "verdict"]
        rows = [([str(r["group"])] if grouped else []) + [r["metric"], fmt(r["baseline"]), fmt(r["latest"]),
                                                          fmt(r["drift"]), "FAILED" if r["failed"] else "passed"]
                for r in result.to_dicts()]
        first = 2 if grouped else 1
        return (_table(header, rows, set(range(first, first + 3)))
                + f"\n({result.family} check, threshold {fmt(result.threshold)}: {result.rule})")
    raise TypeError(type(result).__name__)


# ---------------------------------------------------------------------------
# Commands: each returns (result, failures in words)


def _drift(args: argparse.Namespace, progress: Progress) -> tuple[Any, list[str]]:
    from quorvant import _inputs as inputs
    from quorvant._drift import DRIFT_METRICS, drift
    from quorvant.results import DriftResult

    metrics = _split(args.metrics) or list(DRIFT_METRICS)
    unknown = [m for m in metrics if m not in DRIFT_METRICS]
    if unknown:
        raise UserError(f"--metrics: unknown {', '.join(unknown)}; choose from {', '.join(DRIFT_METRICS)}")
    thresholds = parse_drift_fail_on(args.fail_on, metrics)
    progress.update(f"reading {args.reference}")
    ref = read_file(args.reference)
    progress.update(f"reading {args.current}")
    cur = read_file(args.current)
    columns = _split(args.columns)
    if columns:
        _require(ref, args.reference, columns)
        _require(cur, args.current, columns)
    else:
        a, b = _column_names(ref), _column_names(cur)
        if set(a) != set(b):
            only_a = [n for n in a if n not in b]
            only_b = [n for n in b if n not in a]
            raise UserError(f"{args.reference} and {args.current} have different columns (only in {args.reference}: "
                            f"{only_a}; only in {args.current}: {only_b}); pick shared ones with --columns")
        columns = a
    for flag in ("categorical", "continuous"):
        named = _split(getattr(args, flag))
        stray = [n for n in named if n not in columns]
        if stray:
            raise UserError(f"--{flag}: {', '.join(map(repr, stray))} not among the columns scored")
    names = {"reference": args.reference, "current": args.current}
    # Columns in chunks, so the bar moves on wide tables; each chunk still
    # runs on the thread pool.
    ref_t, cur_t = inputs.read_table(ref, "reference"), inputs.read_table(cur, "current")
    step = max(4, 2 * (os.cpu_count() or 1))
    parts = []
    for start in range(0, len(columns), step):
        chunk = columns[start:start + step]
        progress.update("scoring columns", start, len(columns))
        with _naming(names):
            parts.append(drift(ref_t, cur_t, chunk, metrics=metrics, bins=args.bins,
                               categorical=[c for c in _split(args.categorical) if c in chunk],
                               continuous=[c for c in _split(args.continuous) if c in chunk],
                               thresholds=thresholds, missing=args.missing))
    progress.update("scoring columns", len(columns), len(columns))
    rows = [row for p in parts for row in p.to_dicts()]
    histograms = {k: v for p in parts for k, v in p.histograms.items()}
    result = DriftResult(rows, parts[0].metrics, parts[0].thresholds, histograms)
    failures = [f"{c} drifted" for c in result.drifted]
    return result, failures


def _bias(args: argparse.Namespace, progress: Progress) -> tuple[Any, list[str]]:
    from quorvant._bias import POST_TRAINING, PRE_TRAINING, bias

    metrics = POST_TRAINING if args.prediction else PRE_TRAINING
    conditions = parse_conditions(args.fail_on, metrics)
    progress.update(f"reading {args.data}")
    table = read_file(args.data)
    facets: dict[str, Any] = {}
    bare: list[str] = []
    for text in args.facet:
        col, spec = parse_spec(text, table, args.data, "facet")
        if spec is None:
            bare.append(col)
        else:
            facets.setdefault(col, []).append(spec)
    both = [c for c in bare if c in facets]
    if both:
        raise UserError(f"--facet {both[0]}: give the column either alone (every value) or with values, not both")
    label = _outcome(args.label, table, args.data, "label")
    prediction = _outcome(args.prediction, table, args.data, "prediction") if args.prediction else None
    progress.update("computing bias metrics")
    results = []
    with _naming({"data": args.data}):
        if facets:
            results.append(bias(table, facet=facets, label=label, prediction=prediction, missing=args.missing))
        if bare:
            results.append(bias(table, facet=bare, label=label, prediction=prediction, missing=args.missing))
    result = results[0] if len(results) == 1 else _concat_bias(results)
    failures = []
    for row in result.to_dicts():
        for metric, op, t in conditions or []:
            if _OPS[op](row[metric], t):  # NaN compares false: an undefined metric never fails
                failures.append(f"{row['facet']} {row['value']}: {metric} = {row[metric]:.6g} ({op} {t:g})")
    return result, failures


def _outcome(text: str, table: Any, path: str, role: str) -> Any:
    col, spec = parse_spec(text, table, path, role)
    return col if spec is None else {col: spec}


def _concat_bias(results: list[Any]) -> Any:
    from quorvant.results import BiasResult

    rows = [r for res in results for r in res.to_dicts()]
    return BiasResult(rows, results[0].metrics, results[0].family)


def _performance(args: argparse.Namespace, progress: Progress) -> tuple[Any, list[str]]:
    from quorvant._performance import METRICS, performance

    conditions = parse_conditions(args.fail_on, METRICS[args.kind])
    progress.update(f"reading {args.data}")
    table = read_file(args.data)
    _require(table, args.data, [args.y_true, args.y_pred])
    positive = None
    if args.positive is not None:
        kind = _column_kind(table, args.y_true, args.data)
        positive = _typed(args.positive, kind, f"--positive {args.positive}")
    progress.update("computing performance metrics")
    with _naming({"data": args.data}):
        result = performance(args.y_true, args.y_pred, args.kind, data=table, threshold=args.threshold,
                             positive=positive, missing=args.missing)
    failures = [f"{m} = {result.metrics[m]:.6g} ({op} {t:g})" for m, op, t in conditions or []
                if _OPS[op](result.metrics[m], t)]
    return result, failures


def _infer_family(metrics: dict[str, float]) -> str | None:
    from quorvant._checks import FAMILIES

    for family in ("logistic", "classification", "regression", "model_bias", "data_bias"):
        if all(m in metrics for m in FAMILIES[family][0]):
            return family
    return None


def _check(args: argparse.Namespace, progress: Progress) -> tuple[Any, list[str]]:
    from quorvant._checks import FAMILIES, check

    baseline, latest = read_metrics(args.baseline), read_metrics(args.latest)
    family = args.family
    if family is None:
        found = {_infer_family(baseline), _infer_family(latest)}
        if len(found) != 1 or None in found:
            raise UserError(f"cannot tell the family of {args.baseline} and {args.latest} from their metrics; "
                            f"pass --family ({', '.join(FAMILIES)})")
        family = found.pop()
    names = FAMILIES[family][0]
    for path, metrics in ((args.baseline, baseline), (args.latest, latest)):
        absent = [m for m in names if m not in metrics]
        if absent:
            raise UserError(f"{path}: no value for {', '.join(absent)} (a {family} check needs all its metrics)")
    chosen = _split(args.metrics) or None
    fail_on = _split(args.fail_on)
    counted = None if not fail_on else ([] if fail_on == ["none"] else fail_on)
    for flag, listed in (("--metrics", chosen or []), ("--fail-on", counted or [])):
        unknown = [m for m in listed if m not in names]
        if unknown:
            raise UserError(f"{flag}: {', '.join(unknown)} not {family} metrics ({', '.join(names)})")
    result = check(baseline, latest, family=family, metrics=chosen, threshold=args.threshold)
    failures = [f"{m} failed (drift {d:.6g})" for m, d in result.failures.items()
                if counted is None or m in counted]
    return result, failures


# ---------------------------------------------------------------------------
# Errors of the layer, named by file


class _naming:
    """Rewrites the layer's argument names (reference, current, data) as the
    file names the user gave, in errors raised inside the block."""

    def __init__(self, names: dict[str, str]) -> None:
        self.names = names

    def __enter__(self) -> None:
        return None

    def __exit__(self, kind: Any, exc: BaseException | None, tb: Any) -> bool:
        if exc is None or not isinstance(exc, (ValueError, TypeError)):
            return False
        text = str(exc)
        for arg, path in self.names.items():
            if text.startswith(arg + ":"):
                text = path + text[len(arg):]
            text = text.replace(f" in {arg} ", f" in {path} ").replace(f" in {arg};", f" in {path};")
        raise UserError(text) from exc


# ---------------------------------------------------------------------------
# The parser


EPILOG = """\
examples:
  quorvant drift train.parquet today.csv
  quorvant drift train.csv today.csv --columns age,income --fail-on PopulationStabilityIndex=0.2
  quorvant drift train.csv today.csv --format html --output drift.html
  quorvant bias loans.csv --facet age>=40 --facet sex=female --label approved=1 --prediction predicted=1
  quorvant performance scored.csv --y-true approved --y-pred score --kind logistic --format json --output latest.json
  quorvant check baseline.json latest.json --family logistic --threshold 0.05

exit codes: 0 nothing drifted / every check passed, 1 drift or a failed check,
2 usage or input error, 3 internal error (rerun with --debug)
"""


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the ``quorvant`` command and its four
    subcommands (drift, bias, performance, check).

    >>> build_parser().parse_args(["drift", "train.csv", "today.csv"]).format
    'table'
    """
    from quorvant import __version__

    common = argparse.ArgumentParser(add_help=False)
    out = common.add_argument_group("output")
    out.add_argument("--format", choices=("table", "json", "html"), default="table",
                     help="table (default, for a terminal), json (the result's rows) or html (the report page)")
    out.add_argument("--output", "-o", metavar="PATH", help="write the output to PATH instead of stdout")
    out.add_argument("--title", help="title of the HTML report")
    out.add_argument("--no-progress", action="store_true", help="no progress bar (it is off anyway when stderr "
                     "is not a terminal)")
    out.add_argument("--debug", action="store_true", help="show the traceback of an error")

    parser = argparse.ArgumentParser(
        prog="quorvant", description="Drift, bias and performance of a model's data, for pipelines and CI gates.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"quorvant {__version__}")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(name: str, help_text: str, examples: str) -> argparse.ArgumentParser:
        return sub.add_parser(name, parents=[common], help=help_text, description=help_text,
                              epilog="examples:\n" + examples, formatter_class=argparse.RawDescriptionHelpFormatter)

    missing = dict(choices=("drop", "error"), default="drop",
                   help="drop (default): leave rows with an empty cell out and count them; error: refuse them")

    d = command("drift", "Drift of every column of CURRENT against REFERENCE (CSV, TSV or Parquet files).",
                "  quorvant drift train.parquet today.parquet\n"
                "  quorvant drift train.csv today.csv --columns age,income --bins Sturges\n"
                "  quorvant drift train.csv today.csv --fail-on PopulationStabilityIndex=0.2,JensenShannon=0.1\n"
                "  quorvant drift train.csv today.csv --fail-on none --format html -o drift.html\n")
    d.add_argument("reference", metavar="REFERENCE", help="the reference data (training or a known good window)")
    d.add_argument("current", metavar="CURRENT", help="the data to compare with it")
    d.add_argument("--columns", action="append", metavar="COL,...", help="columns to score (default: all; then both "
                   "files must have the same columns)")
    d.add_argument("--metrics", action="append", metavar="NAME,...", help="scores to compute: JensenShannon, "
                   "PopulationStabilityIndex, WassersteinDistance, KullbackLeibler (default: all four)")
    d.add_argument("--bins", choices=("FreedmanDiaconis", "Scott", "Sturges"), help="bin-count rule of continuous "
                   "columns (default FreedmanDiaconis)")
    d.add_argument("--categorical", action="append", metavar="COL,...", help="score these columns as labels")
    d.add_argument("--continuous", action="append", metavar="COL,...", help="score these columns as numbers")
    d.add_argument("--fail-on", action="append", metavar="METRIC[=T],...", help="the scores that make a column "
                   "drifted, with their thresholds (a score at or above T); 'none' never fails. Default: every "
                   "score at its default threshold")
    d.add_argument("--missing", **missing)
    d.set_defaults(run=_drift)

    b = command("bias", "Bias metrics of DATA per facet value (pre-training; post-training with --prediction).",
                "  quorvant bias loans.csv --facet sex=female --label approved=1\n"
                "  quorvant bias loans.csv --facet 'age>=40' --label approved --prediction predicted\n"
                "  quorvant bias loans.csv --facet sex --label 'score>=0.5' "
                "--fail-on 'DifferenceInProportionOfLabels>0.1'\n")
    b.add_argument("data", metavar="DATA", help="a CSV, TSV or Parquet file")
    b.add_argument("--facet", action="append", required=True, metavar="SPEC",
                   help="the rows to compare with the rest: COL=VALUE, COL>=T, COL>T, COL<=T, COL<T, or COL alone "
                   "for one row per value of COL (repeatable)")
    b.add_argument("--label", required=True, metavar="SPEC", help="the positive outcome: COL=VALUE, COL>=T, ..., "
                   "or COL alone for a column of 0/1 or booleans")
    b.add_argument("--prediction", metavar="SPEC", help="the model's positive prediction, written like --label")
    b.add_argument("--fail-on", action="append", metavar="METRIC<T,...", help="conditions that fail the gate, "
                   "e.g. 'DisparateImpact<0.8' (any facet value; a metric the data cannot define never fails)")
    b.add_argument("--missing", **missing)
    b.set_defaults(run=_bias)

    p = command("performance", "Performance metrics of a model's predictions in DATA.",
                "  quorvant performance scored.csv --y-true approved --y-pred predicted\n"
                "  quorvant performance scored.csv --y-true approved --y-pred score --kind logistic --threshold 0.6\n"
                "  quorvant performance prices.parquet --y-true price --y-pred estimate --kind regression "
                "--fail-on 'MeanAbsoluteError>10'\n")
    p.add_argument("data", metavar="DATA", help="a CSV, TSV or Parquet file")
    p.add_argument("--y-true", required=True, metavar="COL", help="the column of true values")
    p.add_argument("--y-pred", required=True, metavar="COL", help="the column of predictions (scores for logistic)")
    p.add_argument("--kind", choices=("classification", "logistic", "regression"), default="classification")
    p.add_argument("--threshold", type=float, default=0.5, help="decision threshold of --kind logistic (0.5)")
    p.add_argument("--positive", metavar="VALUE", help="the positive class when the columns are not 0/1")
    p.add_argument("--fail-on", action="append", metavar="METRIC<T,...", help="conditions that fail the gate, "
                   "e.g. 'Accuracy<0.9' or 'RootMeanSquaredError>3'")
    p.add_argument("--missing", **missing)
    p.set_defaults(run=_performance)

    c = command("check", "Compare LATEST metrics with BASELINE metrics (JSON files) by the family's runtime check.",
                "  quorvant check baseline.json latest.json --family classification\n"
                "  quorvant check baseline.json latest.json --threshold 0.05 --fail-on Accuracy,RecallPositive\n")
    c.add_argument("baseline", metavar="BASELINE.json", help='metrics at training time: {"Accuracy": 0.91, ...} or '
                   "the JSON output of `quorvant performance`")
    c.add_argument("latest", metavar="LATEST.json", help="the same metrics now")
    c.add_argument("--family", choices=("classification", "logistic", "regression", "data_bias", "model_bias"),
                   help="the metrics' family (default: told from the metric names)")
    c.add_argument("--metrics", action="append", metavar="NAME,...", help="metrics to check (default: all)")
    c.add_argument("--threshold", type=float, default=0.1, help="relative threshold (0.1: 10%%)")
    c.add_argument("--fail-on", action="append", metavar="NAME,...", help="the metrics whose failure fails the "
                   "gate (default: any); 'none' never fails")
    c.set_defaults(run=_check)
    return parser


# ---------------------------------------------------------------------------
# Main


def _emit(text: str, output: str | None) -> None:
    if output is None:
        sys.stdout.write(text if text.endswith("\n") else text + "\n")
        return
    try:
        Path(output).write_text(text if text.endswith("\n") else text + "\n", encoding="utf-8")
    except OSError as exc:
        raise UserError(f"{output}: cannot write ({exc.strerror or exc})") from None


def _render(result: Any, args: argparse.Namespace) -> str:
    if args.format == "json":
        return result.to_json(indent=2)
    if args.format == "html":
        from quorvant._report import render

        return render([result], args.title)
    return format_table(result)


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line with `argv` (default: sys.argv[1:]); returns the
    exit code."""
    parser = build_parser()
    args = parser.parse_args(argv)
    prog = f"quorvant {args.command}"
    try:
        enabled = not args.no_progress and sys.stderr.isatty()
        with Progress(enabled) as progress:
            result, failures = args.run(args, progress)
        _emit(_render(result, args), args.output)
    except UserError as exc:
        if args.debug:
            raise
        print(f"{prog}: error: {exc}", file=sys.stderr)
        return USAGE
    except ImportError as exc:  # an optional extra that is not installed
        if args.debug:
            raise
        print(f"{prog}: error: {exc}", file=sys.stderr)
        return USAGE
    except (ValueError, TypeError) as exc:  # the layer's own refusals of an input
        if args.debug:
            raise
        print(f"{prog}: error: {' '.join(str(exc).split())}", file=sys.stderr)
        return USAGE
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130
    except Exception as exc:
        if args.debug:
            raise
        print(f"{prog}: internal error: {type(exc).__name__}: {exc} (rerun with --debug for the traceback)",
              file=sys.stderr)
        return INTERNAL
    if failures:
        shown = "; ".join(failures[:5]) + (f"; and {len(failures) - 5} more" if len(failures) > 5 else "")
        print(f"{prog}: {shown}", file=sys.stderr)
        return FAILED
    return OK
