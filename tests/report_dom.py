"""Reads a report page back (charts, drawn bins, numbers) to check it against the result objects; used on the
page as written and on the DOM Chromium built from it."""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from html.parser import HTMLParser
from typing import Any

from quorvant._report import sources
from quorvant._report.charts import DESC_BINS, bin_labels
from quorvant._report.numbers import fmt

VOID = {"meta", "link", "br", "hr", "img", "input", "col", "area", "base", "wbr", "source", "path"}
# A series path: from the origin, per bin an optional whole rise and one unit
# across; the reference closes back to the baseline, the outline ends on it.
ENDS = {"ref": "V0z", "cur": "V0"}
STEP = re.compile(r"(?:v(-?\d+))?h1")
NUMBER = r"(-?[\d.]+(?:e-?\d+)?)"


@dataclass
class Chart:
    bins: int
    series: dict[str, list[str]] = field(default_factory=dict)  # class -> path data
    transform: str = ""
    axis: str = ""
    grid: str = ""
    y_labels: list[str] = field(default_factory=list)
    title: str = ""
    desc: str = ""


class PageReader(HTMLParser):
    """Charts (svg.hist) with their series paths, and the text of every element that carries a data-q key."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.charts: list[Chart] = []
        self.numbers: list[tuple[str, str]] = []
        self.texts: list[str] = []
        self._stack: list[tuple[str, dict[str, str]]] = []
        self._capture: list[list[Any]] = []  # [key, depth, parts]
        self._in: str | None = None

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = {k: v or "" for k, v in attrs}
        cls = a.get("class", "").split()
        if tag == "svg" and "hist" in cls:
            self.charts.append(Chart(int(a["data-bins"])))
        if self.charts and self._in_svg():
            chart = self.charts[-1]
            if tag == "path" and cls and cls[0] in ENDS:
                chart.series.setdefault(cls[0], []).append(a["d"])
            elif tag == "path" and cls and cls[0] in ("axis", "grid"):
                setattr(chart, cls[0], a["d"])
            elif tag == "g" and "plot" in cls:
                chart.transform = a["transform"]
            elif tag in ("title", "desc") and self._stack[-1][0] == "svg":
                self._in = tag
            elif tag == "text" and "yl" in cls:
                self._in = "y_label"
                chart.y_labels.append("")
        if "data-q" in a:
            self._capture.append([a["data-q"], len(self._stack), []])
        if tag not in VOID:
            self._stack.append((tag, a))

    def _in_svg(self) -> bool:
        return any(t == "svg" for t, _ in self._stack)

    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self.handle_endtag(tag)

    def handle_endtag(self, tag: str) -> None:
        if tag in VOID:
            return
        if tag in ("title", "desc", "text"):
            self._in = None
        while self._stack:
            t, _ = self._stack.pop()
            if t == tag:
                break
        done = [c for c in self._capture if c[1] >= len(self._stack)]
        for c in done:
            self.numbers.append((c[0], "".join(c[2]).strip()))
            self._capture.remove(c)

    def handle_data(self, data: str) -> None:
        for c in self._capture:
            c[2].append(data)
        self.texts.append(data)
        if self._in and self.charts:
            chart = self.charts[-1]
            if self._in == "y_label":
                chart.y_labels[-1] += data
            else:
                setattr(chart, self._in, getattr(chart, self._in) + data)


def read_page(page: str) -> PageReader:
    reader = PageReader()
    reader.feed(page)
    reader.close()
    return reader


def read_steps(d: str, end: str) -> list[int]:
    """The height of every bin a series path draws; fails on a path that is not one unit step per bin."""
    assert d.startswith("M0 0") and d.endswith(end), d[:40]
    body = d[4:len(d) - len(end)]
    assert re.fullmatch(f"(?:{STEP.pattern})*", body), f"not a path of unit steps: {body[:80]}"
    levels, at = [], 0
    for m in STEP.finditer(body):
        at += int(m.group(1) or 0)
        levels.append(at)
    return levels


def value_of(src: list[list[Any]], key: str) -> tuple[Any, bool]:
    """The number a data-q key names, and whether it is shown as a share."""
    sec, which, *rest = key.split(" ")
    obj = src[int(sec)][int(which)]
    if rest[0].startswith("@"):
        return getattr(obj, rest[0][1:]), False
    if rest[0] == "t":
        return (obj.thresholds[rest[1]] if len(rest) > 1 else obj.threshold), False
    row = obj.to_dicts()[int(rest[0])]
    name = rest[1]
    if name.startswith("h") and name[1:-1].isdigit() and name[-1] in "rc":
        hist = obj.histograms[row["column"]]
        return (hist.reference if name[-1] == "r" else hist.current)[int(name[1:-1])], True
    return row[name], False


def check_numbers(reader: PageReader, *results: Any) -> int:
    """Asserts every keyed number of the page reads as fmt() of the result's number; returns how many."""
    src = sources(*results)
    assert reader.numbers, "the page shows no keyed number"
    for key, text in reader.numbers:
        value, share = value_of(src, key)
        assert text == fmt(value, percent=share), f"{key}: page shows {text!r}, the result holds {value!r}"
    return len(reader.numbers)


def check_chart(chart: Chart, hist: Any) -> None:
    """Asserts one chart draws exactly the histogram's bins (one unit step per bin, heights in thousandths of the
    axis top, the steps spanning the plot) and, when there are few, reads every bin out in its description."""
    n = hist.n_bins
    assert chart.bins == n
    assert {k: len(v) for k, v in chart.series.items()} == {"ref": 1, "cur": 1}
    # The plot starts where the axis starts and n units scale to its width.
    left, base, width = map(float, re.fullmatch(f"M{NUMBER} {NUMBER}h{NUMBER}", chart.axis).groups())
    tx, ty, sx, sy = map(float, re.fullmatch(
        rf"translate\({NUMBER} {NUMBER}\) scale\({NUMBER} {NUMBER}\)", chart.transform).groups())
    assert (tx, ty) == (left, base) and sy < 0
    assert abs(sx * n - width) < 1e-3 * width
    top = max(float(t.rstrip("%")) / 100 for t in chart.y_labels)
    # 1000 units up reach the top grid line, the one of the top label.
    grid_y = [float(y) for _, y in re.findall(f"M{NUMBER} {NUMBER}h", chart.grid)]
    assert grid_y[0] == base and abs(base + sy * 1000 - grid_y[-1]) < 0.1
    for cls, shares in (("ref", hist.reference), ("cur", hist.current)):
        levels = read_steps(chart.series[cls][0], ENDS[cls])
        assert len(levels) == n, f"{cls}: {len(levels)} steps for {n} bins"
        for h, s in zip(levels, shares):
            assert abs(h - s * 1000 / top) <= 0.5 + 1e-6, (cls, h, s * 1000 / top)  # rounded to thousandths
        assert max(levels) <= 1000
    tallest = max(max(hist.reference), max(hist.current))
    assert tallest <= top < 2.5 * tallest or top == 1.0
    if n <= DESC_BINS:
        for label, r, c in zip(bin_labels(hist), hist.reference, hist.current):
            assert f"{label}: {fmt(r, percent=True)} to {fmt(c, percent=True)}" in chart.desc


def check_charts(reader: PageReader, *results: Any) -> None:
    """Asserts one chart per scored feature, in order, each drawing its histogram (see check_chart)."""
    hists = []
    for s in sources(*results):
        obj = s[0]
        if hasattr(obj, "histograms"):
            hists += [obj.histograms[r["column"]] for r in obj.to_dicts() if r["error"] is None]
    assert len(reader.charts) == len(hists)
    for chart, hist in zip(reader.charts, hists):
        check_chart(chart, hist)
