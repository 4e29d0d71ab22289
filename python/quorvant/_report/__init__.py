"""The HTML report: one self-contained page of results of the table-level API.

The page is rendered by Jinja2 (autoescape on) from the templates beside this
module; the histograms are SVG written by :mod:`quorvant._report.charts`; every
number goes through :func:`quorvant._report.numbers.fmt`. Nothing is loaded
from the network: the styles are inlined and there is no script.

Jinja2 is an optional extra (``pip install 'quorvant[report]'``), imported
only when a page is rendered.
"""

from __future__ import annotations

import datetime as _dt
import os
from pathlib import Path
from typing import Any

from quorvant._report import charts
from quorvant._report.numbers import fmt
from quorvant.results import BiasResult, CheckResult, DriftResult, MonitorReport, PerformanceResult

__all__ = ["render", "report", "sources", "to_html"]

_KINDS = (DriftResult, BiasResult, PerformanceResult, CheckResult, MonitorReport)
SHORT = {"JensenShannon": "JS", "PopulationStabilityIndex": "PSI", "WassersteinDistance": "Wasserstein",
         "KullbackLeibler": "KL"}
FAMILY_TITLES = {"classification": "classification", "logistic": "logistic regression",
                 "regression": "regression", "data_bias": "pre-training bias", "model_bias": "post-training bias"}


def report(*results: Any, title: str = "Quorvant report", path: str | os.PathLike | None = None) -> str:
    """One HTML page holding several results, in the order given.

    Parameters
    ----------
    *results
        Results of :func:`quorvant.drift`, :func:`quorvant.bias`,
        :func:`quorvant.performance`, :func:`quorvant.check` and
        :meth:`quorvant.Monitor.report`.
    title
        The page's title and first heading.
    path
        Where to write the page (UTF-8); the page is returned either way.

    Notes
    -----
    The page is self-contained (no script, no network, inline styles), reads
    in light and dark mode and prints. It opens with a summary (what drifted,
    which checks failed), then a section per result: per feature the
    reference and current histograms on the bins the scores used, the scores
    and the verdict; per facet the bias metrics (with the baseline and the
    verdict when a monitor holds one); the performance metrics and checks.
    Needs Jinja2 (``pip install 'quorvant[report]'``).

    Examples
    --------
    >>> import numpy as np, quorvant
    >>> rng = np.random.default_rng(0)
    >>> drift = quorvant.drift({"x": rng.normal(0, 1, 500)}, {"x": rng.normal(1, 1, 500)})
    >>> page = quorvant.report(drift, title="Nightly drift")
    >>> page.startswith("<!DOCTYPE html>"), "1 of 1 features drifted" in page
    (True, True)
    """
    return render(list(results), title, path)


def to_html(result: Any, path: str | os.PathLike | None = None) -> str:
    """The report page of one result (the ``to_html`` method of every result)."""
    return render([result], None, path)


def render(results: list[Any], title: str | None, path: str | os.PathLike | None = None) -> str:
    if not results:
        raise ValueError("report: give at least one result")
    for r in results:
        if not isinstance(r, _KINDS):
            raise TypeError(f"report: expected results of quorvant.drift, bias, performance, check or "
                            f"Monitor.report, not {type(r).__name__}")
    env = _environment()
    sections = _sections(results)
    page = env.get_template("report.html.j2").render(
        title=title or _default_title(results),
        sections=sections,
        overall=_overall(sections),
        generated=_dt.datetime.now(_dt.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        version=_version(),
    )
    if path is not None:
        Path(path).write_text(page, encoding="utf-8")
    return page


def sources(*results: Any) -> list[list[Any]]:
    """For each section of the page of `results`, the objects its numbers come
    from (the ``data-q`` keys of the page index into these)."""
    return [s["sources"] for s in _sections(list(results))]


# ---------------------------------------------------------------------------
# Jinja2


def _environment():
    try:
        import jinja2
    except ImportError:
        raise ImportError("the HTML report needs Jinja2: pip install 'quorvant[report]'") from None
    env = jinja2.Environment(
        loader=jinja2.FileSystemLoader(str(Path(__file__).with_name("templates"))),
        autoescape=True,
        trim_blocks=True,
        lstrip_blocks=True,
        undefined=jinja2.StrictUndefined,
    )
    env.filters["fmt"] = fmt
    env.globals["short"] = lambda m: SHORT.get(m, m)
    return env


def _version() -> str:
    from quorvant import __version__

    return __version__


def _default_title(results: list[Any]) -> str:
    if len(results) == 1:
        return {DriftResult: "Data drift report", BiasResult: "Bias report", PerformanceResult: "Performance report",
                CheckResult: "Check report", MonitorReport: "Model monitoring report"}[type(results[0])]
    return "Quorvant report"


# ---------------------------------------------------------------------------
# Sections: plain dicts the template reads


def _status(ok: bool | None) -> str:
    return "info" if ok is None else ("ok" if ok else "bad")


def _names(names: list[str], limit: int = 8) -> str:
    shown = ", ".join(names[:limit])
    return shown + (f" and {len(names) - limit} more" if len(names) > limit else "")


def _sections(results: list[Any]) -> list[dict[str, Any]]:
    out: list[dict[str, Any]] = []
    for r in results:
        if isinstance(r, MonitorReport):
            out.append(_drift(r.drift, len(out), "Data drift (monitor)", monitor=r))
            if r.performance is not None:
                out.append(_check(r.performance, len(out), "Performance against the baseline (monitor)"))
            if r.bias is not None:
                out.append(_monitor_bias(r.bias, r.bias_check, len(out)))
        elif isinstance(r, DriftResult):
            out.append(_drift(r, len(out), "Data drift"))
        elif isinstance(r, BiasResult):
            out.append(_bias(r, len(out)))
        elif isinstance(r, PerformanceResult):
            out.append(_performance(r, len(out)))
        else:
            out.append(_check(r, len(out), f"{FAMILY_TITLES.get(r.family, r.family).capitalize()} check"))
    return out


def _overall(sections: list[dict[str, Any]]) -> dict[str, Any]:
    bad = [s for s in sections if s["status"] == "bad"]
    if bad:
        return {"status": "bad", "headline": "Attention needed",
                "text": "; ".join(s["headline"] for s in bad) + "."}
    judged = [s for s in sections if s["status"] == "ok"]
    text = "Nothing drifted and every check passed." if judged else "No verdict: these results hold no check."
    return {"status": "ok" if judged else "info", "headline": "All clear" if judged else "Results", "text": text}


def _drift(result: DriftResult, index: int, title: str, monitor: MonitorReport | None = None) -> dict[str, Any]:
    rows = result.to_dicts()
    drifted, errors = result.drifted, result.errors
    scored = len(rows) - len(errors)
    headline = f"{len(drifted)} of {len(rows)} features drifted" + (f" ({_names(drifted)})" if drifted else "")
    summary = headline + "." + (f" {len(errors)} could not be scored ({_names(list(errors))})." if errors else "")
    features = []
    for i, row in enumerate(rows):
        hist = result.histograms.get(row["column"]) if row["error"] is None else None
        feature = {
            "i": i, "row": row, "anchor": f"s{index}-f{i}",
            "status": "warn" if row["error"] else _status(not row["drifted"]),
            "verdict": "not scored" if row["error"] else ("drifted" if row["drifted"] else "no drift"),
            "reached": {m: (result.thresholds[m] is not None and row[m] is not None
                            and row[m] >= result.thresholds[m]) for m in result.metrics},
            "svg": None, "labels": None, "moves": [],
        }
        if hist is not None:
            from markupsafe import Markup

            feature["svg"] = Markup(charts.histogram_svg(hist, row["column"], f"s{index}-h{i}"))
            feature["labels"] = charts.bin_labels(hist)
            feature["moves"] = charts.largest_changes(hist)
            feature["kind_note"] = ("open-ended bins below and above the reference range are shaded"
                                    if hist.kind == "continuous"
                                    else "the last bin counts labels the reference never had")
        features.append(feature)
    return {
        "kind": "drift", "index": index, "id": f"s{index}", "title": title,
        "status": "bad" if drifted else ("warn" if errors and not scored else "ok"),
        "headline": headline, "summary": summary, "metrics": result.metrics, "thresholds": result.thresholds,
        "features": features, "monitor": monitor, "sources": [result] + ([monitor] if monitor else []),
        "charts": sum(1 for f in features if f["svg"] is not None),
    }


def _bias(result: BiasResult, index: int) -> dict[str, Any]:
    rows = result.to_dicts()
    undefined = sum(1 for r in rows for _ in r["undefined"])
    family = FAMILY_TITLES[result.family]
    summary = f"{family.capitalize()} metrics of {len(rows)} facet value{'s' if len(rows) != 1 else ''}"
    summary += f"; {undefined} metric values the data cannot define." if undefined else "."
    return {"kind": "bias", "index": index, "id": f"s{index}", "title": f"Bias: {family}", "status": "info",
            "headline": summary, "summary": summary, "metrics": result.metrics, "rows": rows, "sources": [result]}


def _monitor_bias(bias: BiasResult, check: CheckResult | None, index: int) -> dict[str, Any]:
    rows = bias.to_dicts()
    checks = check.to_dicts() if check is not None else []
    groups = []
    for i, row in enumerate(rows):
        group = f"{row['facet']} {row['value']}"
        compared = {c["metric"]: (j, c) for j, c in enumerate(checks) if c["group"] == group}
        groups.append({"i": i, "row": row, "group": group, "compared": compared,
                       "failed": [m for m, (_, c) in compared.items() if c["failed"]]})
    failed = [g["group"] for g in groups if g["failed"]]
    family = FAMILY_TITLES[bias.family]
    if check is None or not checks:
        status, headline = "info", f"{family.capitalize()} of {len(rows)} facet values (no baseline comparison)"
    elif failed:
        status, headline = "bad", f"bias drifted in {len(failed)} of {len(rows)} facet values ({_names(failed)})"
    else:
        status, headline = "ok", f"bias of {len(rows)} facet values within {fmt(check.threshold)} of the baseline"
    return {"kind": "monitor_bias", "index": index, "id": f"s{index}", "title": f"Bias per facet (monitor): {family}",
            "status": status, "headline": headline, "summary": headline[0].upper() + headline[1:] + ".",
            "metrics": bias.metrics, "groups": groups, "check": check, "sources": [bias] + ([check] if check else [])}


def _performance(result: PerformanceResult, index: int) -> dict[str, Any]:
    kind = FAMILY_TITLES[result.kind]
    summary = f"{kind.capitalize()} metrics of {fmt(result.rows)} rows"
    summary += f" ({fmt(result.missing)} with a missing value left out)." if result.missing else "."
    return {"kind": "performance", "index": index, "id": f"s{index}", "title": f"Performance: {kind}",
            "status": "info", "headline": summary, "summary": summary, "rows": result.to_dicts(),
            "result": result, "sources": [result]}


def _check(result: CheckResult, index: int, title: str) -> dict[str, Any]:
    rows = result.to_dicts()
    failures = list(result.failures)
    family = FAMILY_TITLES.get(result.family, result.family)
    if failures:
        headline = f"the {family} check failed {len(failures)} of {len(rows)} metrics ({_names(failures)})"
    else:
        headline = f"the {family} check passed all {len(rows)} metrics"
    return {"kind": "check", "index": index, "id": f"s{index}", "title": title, "status": _status(result.passed),
            "headline": headline, "summary": headline[0].upper() + headline[1:] + ".", "rows": rows,
            "grouped": any(r["group"] is not None for r in rows), "result": result, "sources": [result]}
