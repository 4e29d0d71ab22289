"""Plain-Python model of the drift family in f64 with the library's operation order, so results compare bit for
bit (same libm). Sums are explicit loops: sum() of floats is compensated."""

from __future__ import annotations

import bisect
import math

EPS = 1e-12
U64_MAX = 2**64 - 1


def seq_sum(values) -> float:
    total = 0.0
    for v in values:
        total += v
    return total


def saturate(v: float) -> int:
    if not v >= 0.0:
        return 0
    if v >= 18446744073709551616.0:
        return U64_MAX
    return int(v)


def div(a: float, b: float) -> float:
    """IEEE division (Python raises on a zero divisor)."""
    if b == 0.0:
        if a != a or a == 0.0:
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def ceil_f(v: float) -> float:
    return float(math.ceil(v)) if math.isfinite(v) else v


def num_bins(rule: str, values) -> int:
    x = sorted(float(v) for v in values)
    n = len(x)
    nf = float(n)
    c = nf ** -0.3333333333333333
    rng = x[-1] - x[0]
    if rule == "FreedmanDiaconis":
        i3 = min(n - 1, math.floor(0.75 * nf))
        i1 = math.floor(0.25 * nf)
        iqr = x[i3] - x[i1]
        if iqr == 0.0:
            return 3
        h = c * (iqr + iqr)
        return max(saturate(ceil_f(div(rng, h))), 3)
    if rule == "Scott":
        mean = seq_sum(x) / nf
        ss = seq_sum((v - mean) * (v - mean) for v in x)
        if x[-1] == x[0]:
            return 3
        sd = math.sqrt((1.0 / (nf - 1.0)) * ss)
        h = c * (sd * 3.49)
        return max(saturate(ceil_f(div(rng, h))), 3)
    if rule == "Sturges":
        if x[-1] == x[0]:
            return 3
        return max(saturate(math.floor(math.log2(nf)) + 1.0), 3)
    raise ValueError(rule)


def edges_of(values, bins: int) -> list[float]:
    x = sorted(float(v) for v in values)
    lo, hi = x[0], x[-1]
    if lo == hi:
        return [lo]
    k = bins - 2
    step = (hi - lo) / float(k)
    e = [lo]
    for _ in range(1, k):
        e.append(e[-1] + step)
    return e


def bin_of(edges, x: float) -> int:
    """Edges at or below x, plus one above the last edge; NaN is below every edge."""
    if x != x:
        return 0
    return bisect.bisect_right(edges, x) + (1 if x > edges[-1] else 0)


def continuous_baseline(values, rule: str = "FreedmanDiaconis"):
    bins = num_bins(rule, values)
    edges = edges_of(values, bins)
    counts = [0] * bins
    for v in values:
        counts[bin_of(edges, float(v))] += 1
    n = float(len(values))
    return edges, [c / n for c in counts]


def categorical_baseline(labels):
    order = sorted(set(labels), key=lambda s: s.encode("utf-8"))
    index = {label: i for i, label in enumerate(order)}
    counts = [0] * (len(order) + 1)
    for label in labels:
        counts[index[label]] += 1
    n = float(len(labels))
    hist = [c / n for c in counts[:-1]] + [0.0]
    return index, hist


def larger(a: float, b: float) -> float:
    if a != a:
        return b
    if b != b:
        return a
    return a if a >= b else b


def score(kind: str, b, r, s: float, family: str, eps: float = EPS) -> float:
    n = min(len(b), len(r))
    total = 0.0
    if kind == "JensenShannon":
        for i in range(n):
            p = larger(b[i] + eps, eps)
            q = larger(r[i] / s + eps, eps)
            m = (p + q) * 0.5
            total += 0.5 * p * math.log(p / m) + 0.5 * q * math.log(q / m)
        return total / 0.6931471805599453
    if kind == "PopulationStabilityIndex":
        for i in range(n):
            p = larger(b[i] + eps, eps)
            u = larger((r[i] + eps) / s, eps)
            total += (p - u) * math.log(p / u)
        return total
    if kind == "KullbackLeibler":
        for i in range(n):
            p = larger(b[i] + eps, eps)
            t = (r[i] + eps) / s
            total += p * math.log(larger(p / t, eps))
        return total
    if kind == "WassersteinDistance":
        if family == "categorical":
            for i in range(n):
                total += abs(larger(b[i] + eps, eps) - larger(r[i] / s + eps, eps))
            return 0.5 * total
        length = len(b)
        for i in range(1, length - 1):
            total += abs(larger(b[i] + eps, eps) - larger(r[i] / s + eps, eps))
        return total / float(max(length - 2, 1))
    raise ValueError(kind)


def continuous_scores(baseline, candidate, kinds, rule="FreedmanDiaconis", eps=EPS):
    edges, hist = continuous_baseline(baseline, rule)
    counts = [0.0] * len(hist)
    for v in candidate:
        counts[bin_of(edges, float(v))] += 1.0
    s = seq_sum(counts)
    return [score(k, hist, counts, s, "continuous", eps) for k in kinds]


def categorical_scores(baseline, candidate, kinds, eps=EPS):
    index, hist = categorical_baseline(baseline)
    counts = [0.0] * len(hist)
    for label in candidate:
        counts[index.get(label, len(hist) - 1)] += 1.0
    s = seq_sum(counts)
    return [score(k, hist, counts, s, "categorical", eps) for k in kinds]


class StreamModel:
    """A streaming detector fed one sample at a time; `time_due` says whether a cadence check finds it reached."""

    def __init__(self, hist, bin_of, family, mode, half_life=None, rate=None, time_due=False):
        self.hist, self.bin_of, self.family, self.mode = list(hist), bin_of, family, mode
        self.bins = [0.0] * len(self.hist)
        self.total = 0.0
        self.decay = 2.0 ** (-1.0 / float(half_life or 86400))
        self.rate = float(1_000_000 if rate is None else rate)
        self.time_due = time_due

    def add(self, x):
        if self.mode == "flush":
            if self.total >= self.rate or ((int(self.total) & 255) == 0 and self.time_due):
                self.flush()
        self.bins[self.bin_of(x)] += 1.0
        self.total += 1.0

    def flush(self):
        self.bins = [0.0] * len(self.bins)
        self.total = 0.0

    def scores(self, kinds, eps=EPS):
        if seq_sum(self.bins) == 0.0:
            raise ValueError("Data used for runtime drift analysis must be non empty")
        if self.mode == "decay":
            self.bins = [w * self.decay for w in self.bins]
            self.total *= self.decay
        return [score(k, self.hist, self.bins, self.total, self.family, eps) for k in kinds]
