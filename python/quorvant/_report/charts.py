"""SVG histograms of one column's drift bins, written as text.

A chart draws exactly the bins the scores used (a :class:`Histogram`), one
equal-width slot per bin. The inner bins of a continuous column are
equal-width by construction, so the picture keeps their proportions; the two
open bins (below the first edge, above the last) are shaded and captioned.

Each series is one ``<path>`` in a plot space where a slot is one unit wide and
the share axis runs from 0 to 1000 (thousandths of the axis top); an outer
group's transform scales that space to the plot, and strokes keep their width
with ``vector-effect="non-scaling-stroke"``. The reference is a filled step
area and the current a step outline on top of it. Both paths are written the
same way: ``M0 0``, then per bin an optional relative rise ``v<delta>`` to the
bin's height (a whole number) and one ``h1``. A bin costs two to eight bytes
(two where the height does not change, as along a heavy tail), and the path
reads back bin by bin: one ``h1`` per bin, its height the sum of the rises so
far. The reference closes with ``V0z``, the outline ends with ``V0``.

The output is plain SVG text for inline use in HTML: every piece of user text
is escaped here, colours come from the page's CSS classes, and the root has
``role="img"`` with a ``<title>`` and a ``<desc>`` (every bin's shares when
there are few bins, otherwise the range and the largest changes).
"""

from __future__ import annotations

import html
import math

from quorvant._report.numbers import fmt
from quorvant.results import Histogram

__all__ = ["bin_labels", "heights", "histogram_svg", "largest_changes", "nice_top", "step_path"]

WIDTH, HEIGHT = 640, 230
LEFT, RIGHT, TOP, BOTTOM = 46, 22, 12, 58
PLOT_W, PLOT_H = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
STEPS = 1000  # share-axis resolution: heights are whole thousandths of the axis top
MAX_TICKS = 7  # edge labels on a continuous axis
MAX_LABELS = 24  # category labels on a categorical axis
LABEL_CHARS = 14  # longer category labels are cut (the full text is in a tooltip)
DESC_BINS = 30  # up to this many bins the description reads out every bin
GAP_SLOT = 8.0  # slots at least this wide (px) are drawn apart, as bars
UNSEEN = "(labels not in the reference)"


def _num(x: float, digits: int = 1) -> str:
    """A coordinate with at most `digits` decimals, without trailing zeros or
    a leading "0"."""
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


def heights(shares: list[float], top: float) -> list[int]:
    """Each share in whole thousandths of the axis top (what the paths draw)."""
    return [round(max(s, 0.0) / top * STEPS) for s in shares]


def step_path(levels: list[int]) -> str:
    """The steps of `levels` from the origin: per bin a relative rise to its
    level (left out when it does not change) and one unit across."""
    out, at = ["M0 0"], 0
    for h in levels:
        out.append(f"v{h - at}h1" if h != at else "h1")
        at = h
    return "".join(out)


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
    if n <= DESC_BINS:
        return text + " Reference to current, bin by bin: " + "; ".join(
            f"{label}: {fmt(r, percent=True)} to {fmt(c, percent=True)}"
            for label, r, c in zip(labels, hist.reference, hist.current)) + "."
    moves = largest_changes(hist)
    if moves:
        text += " Largest changes: " + "; ".join(
            f"{labels[i]}: {fmt(r, percent=True)} to {fmt(c, percent=True)}" for i, r, c in moves) + "."
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

    `uid` makes the ids in the chart unique in the page.
    """
    n = hist.n_bins
    unit = PLOT_W / n
    top = nice_top(max(max(hist.reference, default=0.0), max(hist.current, default=0.0)))
    ref, cur = heights(hist.reference, top), heights(hist.current, top)
    base = TOP + PLOT_H
    out = [
        f'<svg class="hist" viewBox="0 0 {WIDTH} {HEIGHT}" role="img" aria-labelledby="{uid}-t {uid}-d" '
        f'data-bins="{n}">',
        f'<title id="{uid}-t">Histogram of {_esc(column)}: reference and current shares per bin</title>',
        f'<desc id="{uid}-d">{_esc(_describe(hist, column))}</desc>',
    ]
    # Grid and share axis, in page units.
    ticks = [top * k / 4 for k in range(5)]
    grid = "".join(f"M{LEFT} {_num(base - t * PLOT_H / top)}h{PLOT_W}" for t in ticks)
    out += [f'<path class="grid" d="{grid}"/>']
    out += [f'<text class="yl" x="{LEFT - 5}" y="{_num(base - t * PLOT_H / top + 4)}">{_axis_share(t)}</text>'
            for t in ticks]
    # The plot space: one unit per slot across, STEPS up to the axis top.
    out.append(f'<g class="plot" transform="translate({LEFT} {base}) scale({unit:.7g} {-PLOT_H / STEPS:.7g})">')
    if hist.kind == "continuous":
        out.append(f'<path class="open" d="M0 0h1V{STEPS}H0zM{n - 1} 0h1V{STEPS}h-1z"/>')
    ref_path = step_path(ref) + "V0z"
    out.append(f'<path class="ref" d="{ref_path}"/>')
    if unit >= GAP_SLOT and n > 1:
        # Few wide slots: thin gaps cut the reference area into bars (clipped
        # to the area, so they cut neither the grid nor the outline).
        cuts = "".join(f"M{i} 0V{STEPS}" for i in range(1, n))
        out.append(f'<clipPath id="{uid}-c"><path d="{ref_path}"/></clipPath>')
        out.append(f'<path class="gap" clip-path="url(#{uid}-c)" vector-effect="non-scaling-stroke" d="{cuts}"/>')
    out.append(f'<path class="cur" vector-effect="non-scaling-stroke" d="{step_path(cur)}V0"/>')
    out.append("</g>")
    out.append(f'<path class="axis" d="M{LEFT} {base}h{PLOT_W}"/>')
    out += _x_labels(hist, unit, base)
    out.append("</svg>")
    return "".join(out)


def _x_labels(hist: Histogram, unit: float, base: float) -> list[str]:
    out = []
    n = hist.n_bins
    if hist.kind == "categorical":
        for i in _thin(list(range(n)), MAX_LABELS):
            full = UNSEEN if hist.labels[i] is None else hist.labels[i]
            text = "unseen" if hist.labels[i] is None else full
            cut = text if len(text) <= LABEL_CHARS else text[:LABEL_CHARS - 1] + "…"
            cx = LEFT + (i + 0.5) * unit
            tip = f"<title>{_esc(full)}</title>" if cut != full else ""
            cls = "xl cat unseen" if hist.labels[i] is None else "xl cat"
            out.append(f'<text class="{cls}" transform="translate({_num(cx)} {_num(base + 10)}) rotate(-35)">'
                       f"{tip}{_esc(cut)}</text>")
        return out
    edges = hist.edges
    # Edge e[j] is the boundary after slot j (slot 0 is "below e[0]").
    for j in _thin(list(range(len(edges))), MAX_TICKS):
        bx = LEFT + (j + 1) * unit
        out.append(f'<path class="tick" d="M{_num(bx)} {_num(base)}v4"/>')
        out.append(f'<text class="xl" x="{_num(bx)}" y="{_num(base + 16)}">{_esc(fmt(edges[j]))}</text>')
    # Open-bin captions sit under the plot's two ends, inside the chart.
    out.append(f'<text class="xl open-cap lo" x="{LEFT}" y="{_num(base + 32)}">below</text>')
    out.append(f'<text class="xl open-cap hi" x="{LEFT + PLOT_W}" y="{_num(base + 32)}">above</text>')
    return out
