"""Reading a report page back: its charts, bars and numbers, checked against
the result objects. Shared by the report tests (on the page as written) and
the browser test (on the DOM Chromium built from it)."""

from __future__ import annotations

from dataclasses import dataclass, field
from html.parser import HTMLParser
from typing import Any

from quorvant._report import sources
from quorvant._report.numbers import fmt

VOID = {"meta", "link", "br", "hr", "img", "input", "col", "area", "base", "wbr", "source", "path"}


@dataclass
class Chart:
    bins: int
    series: dict[str, list[float]] = field(default_factory=dict)  # class -> bar heights
    rects: int = 0
    title: str = ""
    desc: str = ""


class PageReader(HTMLParser):
    """Charts (svg.hist) with their bars, and the text of every element that
    carries a data-q key."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.charts: list[Chart] = []
        self.numbers: list[tuple[str, str]] = []
        self.texts: list[str] = []
        self._stack: list[tuple[str, dict[str, str]]] = []
        self._capture: list[list[Any]] = []  # [key, depth, parts]
        self._series: str | None = None
        self._in: str | None = None

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = {k: v or "" for k, v in attrs}
        cls = a.get("class", "").split()
        if tag == "svg" and "hist" in cls:
            self.charts.append(Chart(int(a["data-bins"])))
        if self.charts and tag == "g" and "bars" in cls:
            self._series = [c for c in cls if c != "bars"][0]
            self.charts[-1].series[self._series] = []
        if tag == "rect" and self.charts:
            self.charts[-1].rects += 1
            if self._series is not None:
                self.charts[-1].series[self._series].append(float(a.get("height", "0")))
        if tag in ("title", "desc") and self.charts and self._in_svg():
            self._in = tag
        if "data-q" in a:
            self._capture.append([a["data-q"], len(self._stack), []])
        if tag not in VOID and not (tag == "rect"):
            self._stack.append((tag, a))

    def _in_svg(self) -> bool:
        return any(t == "svg" for t, _ in self._stack)

    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.handle_starttag(tag, attrs)
        if tag not in VOID and tag != "rect":
            self.handle_endtag(tag)

    def handle_endtag(self, tag: str) -> None:
        if tag in VOID or tag == "rect":
            return
        if tag == "g":
            self._series = None
        if tag in ("title", "desc"):
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
            setattr(self.charts[-1], self._in, getattr(self.charts[-1], self._in) + data)


def read_page(page: str) -> PageReader:
    reader = PageReader()
    reader.feed(page)
    reader.close()
    return reader


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
    """Asserts every keyed number of the page reads as fmt() of the result's
    number; returns how many were checked."""
    src = sources(*results)
    assert reader.numbers, "the page shows no keyed number"
    for key, text in reader.numbers:
        value, share = value_of(src, key)
        assert text == fmt(value, percent=share), f"{key}: page shows {text!r}, the result holds {value!r}"
    return len(reader.numbers)


def check_charts(reader: PageReader, *results: Any) -> None:
    """Asserts one chart per scored feature, in order, each with one bar per
    bin in both series, bar heights proportional to the shares on one scale."""
    hists = []
    for s in sources(*results):
        obj = s[0]
        if hasattr(obj, "histograms"):
            hists += [obj.histograms[r["column"]] for r in obj.to_dicts() if r["error"] is None]
    assert len(reader.charts) == len(hists)
    for chart, hist in zip(reader.charts, hists):
        assert chart.bins == hist.n_bins
        assert set(chart.series) == {"ref", "cur"}
        assert chart.rects == 2 * hist.n_bins
        bars = chart.series["ref"] + chart.series["cur"]
        shares = list(hist.reference) + list(hist.current)
        assert len(bars) == len(shares)
        k = max(bars) / max(shares)
        for h, s in zip(bars, shares):
            assert abs(h - s * k) <= 1.0, (h, s * k)  # heights are whole thousandths of the axis
