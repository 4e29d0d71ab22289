"""SVG histograms of one column's drift bins, written as text.

A chart draws exactly the bins the scores used (a :class:`Histogram`): one
slot per bin, the reference share as a wide bar and the current share as a
narrow bar in front of it, so both read at any bin count. Each series is a
``<g class="bars ref|cur">`` with one ``<rect>`` per bin (a zero share is a
zero-height bar) and the chart holds no other ``rect``, so the bars can be
counted. Slots are equal-width: the inner bins of a continuous column are
equal-width by construction, so the picture keeps their proportions; the two
open bins (below the first edge, above the last) get a shaded slot and a
caption, and the bin holding only values equal to the last edge a narrow slot.

The output is plain SVG text for inline use in HTML: every piece of user text
is escaped here, colours come from the page's CSS classes, and the root has
``role="img"`` with a ``<title>`` and a ``<desc>`` for screen readers.
"""

from __future__ import annotations

import html
import math
from dataclasses import dataclass

from quorvant._report.numbers import fmt
from quorvant.results import Histogram

__all__ = ["Layout", "bin_labels", "histogram_svg", "largest_changes", "layout", "nice_top"]

WIDTH, HEIGHT = 640, 230
LEFT, RIGHT, TOP, BOTTOM = 46, 22, 12, 58
PLOT_W, PLOT_H = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
POINT_SLOT = 0.35  # width of the "equal to the last edge" slot, in slots
MAX_TICKS = 7  # edge labels on a continuous axis
MAX_LABELS = 24  # category labels on a categorical axis
LABEL_CHARS = 14  # longer category labels are cut (the full text is in a tooltip)
UNSEEN = "(labels not in the reference)"


def _num(x: float, digits: int = 1) -> str:
    """A coordinate with at most `digits` decimals, without trailing zeros or
    a leading "0" (charts with a few hundred bars stay small)."""
    text = f"{x:.{digits}f}".rstrip("0").rstrip(".")
    if text.startswith(("0.", "-0.")):
        text = text.replace("0.", ".", 1)
    return "0" if text in ("", "-0") else text


def _esc(text: str) -> str:
    return html.escape(text, quote=True)


def bin_labels(hist: Histogram) -> list[str]:
    """A readable name for every bin, in bin order."""
    if hist.kind == "categorical":
        return [UNSEEN if label is None else label for label in hist.labels]
    edges = hist.edges
    if len(edges) == 1:
        v = fmt(edges[0])
        return [f"< {v}", f"= {v}", f"> {v}"]
    inner = [f"[{fmt(a)}, {fmt(b)})" for a, b in zip(edges, edges[1:])]
    return [f"< {fmt(edges[0])}", *inner, f"= {fmt(edges[-1])}", f"> {fmt(edges[-1])}"]


def largest_changes(hist: Histogram, k: int = 3) -> list[tuple[int, float, float]]:
    """The k bins whose share moved most, as (bin, reference, current), largest
    first; bins that did not move are left out."""
    moves = [(abs(c - r), i, r, c) for i, (r, c) in enumerate(zip(hist.reference, hist.current)) if c != r]
    moves.sort(key=lambda m: (-m[0], m[1]))
    return [(i, r, c) for _, i, r, c in moves[:k]]


def nice_top(value: float) -> float:
    """The top of the share axis: the smallest round number (1, 1.5, 2, 2.5, 3,
    4, 5, 6 or 8 times a power of ten) at or above `value`, at most 1."""
    if not value > 0 or not math.isfinite(value):
        return 1.0
    power = 10.0 ** math.floor(math.log10(value))
    top = next(s * power for s in (1, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10) if s * power >= value)
    return min(top, 1.0)


@dataclass(frozen=True)
class Layout:
    """Where each bin's slot sits on the x axis (plot units, left edge and
    width) and which slots are open-ended."""

    x: list[float]
    w: list[float]
    weights: list[float]
    open_slots: tuple[int, ...]


def layout(hist: Histogram) -> Layout:
    n = hist.n_bins
    weights = [1.0] * n
    open_slots: tuple[int, ...] = ()
    if hist.kind == "continuous":
        open_slots = (0, n - 1)
        if n > 3:
            weights[n - 2] = POINT_SLOT
    unit = PLOT_W / sum(weights)
    x, at = [], 0.0
    for wt in weights:
        x.append(at)
        at += wt * unit
    return Layout(x, [wt * unit for wt in weights], weights, open_slots)


def _describe(hist: Histogram, column: str) -> str:
    n = hist.n_bins
    if hist.kind == "categorical":
        text = (f"Shares of each label of {column} in the reference and the current data: {n - 1} reference "
                "labels and one bin for labels the reference never had.")
    elif len(hist.edges) == 1:
        text = f"Shares of {column} below, equal to and above {fmt(hist.edges[0])}, the reference's one value."
    else:
        first, last = fmt(hist.edges[0]), fmt(hist.edges[-1])
        text = (f"Shares of {column} in the reference and the current data over {n} bins: below {first}, "
                f"{n - 3} equal-width bins from {first} to {last}, exactly {last}, and above {last}.")
    labels = bin_labels(hist)
    moves = largest_changes(hist)
    if moves:
        text += " Largest changes: " + "; ".join(
            f"{labels[i]} from {fmt(r, percent=True)} to {fmt(c, percent=True)}" for i, r, c in moves) + "."
    return text


def _axis_share(share: float) -> str:
    """A share-axis label: a round percentage, no more digits than it has."""
    return f"{round(share * 100, 6):g}%"


def _thin(indices: list[int], limit: int) -> list[int]:
    """At most `limit` of `indices`, evenly spread, first and last kept."""
    if len(indices) <= limit:
        return indices
    step = (len(indices) - 1) / (limit - 1)
    return sorted({indices[round(k * step)] for k in range(limit)})


def histogram_svg(hist: Histogram, column: str, uid: str) -> str:
    """The chart of one column's histograms as an SVG element (text).

    `uid` makes the ids of the title and description unique in the page.
    """
    lay = layout(hist)
    top = nice_top(max(max(hist.reference, default=0.0), max(hist.current, default=0.0)))
    scale = PLOT_H / top
    base = TOP + PLOT_H
    out = [
        f'<svg class="hist" viewBox="0 0 {WIDTH} {HEIGHT}" role="img" aria-labelledby="{uid}-t {uid}-d" '
        f'data-bins="{hist.n_bins}">',
        f'<title id="{uid}-t">Histogram of {_esc(column)}: reference and current shares per bin</title>',
        f'<desc id="{uid}-d">{_esc(_describe(hist, column))}</desc>',
    ]
    # Open-ended slots: a shaded band behind the bars.
    for i in lay.open_slots:
        x0 = LEFT + lay.x[i]
        out.append(f'<path class="open" d="M{_num(x0)} {TOP}h{_num(lay.w[i])}v{PLOT_H}h-{_num(lay.w[i])}z"/>')
    # Grid and share axis.
    ticks = [top * k / 4 for k in range(5)]
    grid = "".join(f"M{LEFT} {_num(base - t * scale)}h{PLOT_W}" for t in ticks)
    out.append(f'<path class="grid" d="{grid}"/>')
    out += [f'<text class="yl" x="{LEFT - 5}" y="{_num(base - t * scale + 4)}">{_axis_share(t)}</text>' for t in ticks]
    # The bars, in slot units across and thousandths of the axis top upwards
    # (the flipped group needs no y), zero bars without a height: a few
    # hundred bins stay a few kilobytes.
    unit = lay.w[0] / lay.weights[0]
    for cls, shares, inset, frac in (("ref", hist.reference, 0.06, 0.88), ("cur", hist.current, 0.27, 0.46)):
        out.append(f'<g class="bars {cls}" transform="translate({_num(LEFT + inset * unit)} {base}) '
                   f'scale({_num(unit, 4)} {_num(-PLOT_H / 1000, 4)})">')
        for x, wt, s in zip(lay.x, lay.weights, shares):
            at = _num(x / unit + inset * (wt - 1), 3)
            width = _num(frac * wt, 3)
            height = round(max(s, 0.0) / top * 1000)
            out.append(f'<rect x="{at}" width="{width}" height="{height}"/>' if height else f'<rect x="{at}"/>')
        out.append("</g>")
    out.append(f'<path class="axis" d="M{LEFT} {base}h{PLOT_W}"/>')
    out += _x_labels(hist, lay, base)
    out.append("</svg>")
    return "".join(out)


def _x_labels(hist: Histogram, lay: Layout, base: float) -> list[str]:
    out = []
    n = hist.n_bins
    if hist.kind == "categorical":
        shown = _thin(list(range(n)), MAX_LABELS)
        for i in shown:
            full = UNSEEN if hist.labels[i] is None else hist.labels[i]
            text = "unseen" if hist.labels[i] is None else full
            cut = text if len(text) <= LABEL_CHARS else text[:LABEL_CHARS - 1] + "…"
            cx = LEFT + lay.x[i] + lay.w[i] / 2
            tip = f"<title>{_esc(full)}</title>" if cut != full else ""
            cls = "xl cat unseen" if hist.labels[i] is None else "xl cat"
            out.append(f'<text class="{cls}" transform="translate({_num(cx)} {_num(base + 10)}) rotate(-35)">'
                       f"{tip}{_esc(cut)}</text>")
        return out
    edges = hist.edges
    # Edge e[j] is the boundary after slot j (slot 0 is "below e[0]").
    for j in _thin(list(range(len(edges))), MAX_TICKS):
        bx = LEFT + lay.x[j + 1]
        out.append(f'<path class="tick" d="M{_num(bx)} {_num(base)}v4"/>')
        out.append(f'<text class="xl" x="{_num(bx)}" y="{_num(base + 16)}">{_esc(fmt(edges[j]))}</text>')
    # Open-bin captions sit under the plot's two ends, inside the chart.
    out.append(f'<text class="xl open-cap lo" x="{LEFT}" y="{_num(base + 32)}">below</text>')
    out.append(f'<text class="xl open-cap hi" x="{LEFT + PLOT_W}" y="{_num(base + 32)}">above</text>')
    return out
