"""Fixed inputs whose results are pinned bit for bit in pinned_results.json.

The data come from a splitmix64 stream and only correctly rounded
arithmetic (no library logarithms or sines), so they are the same on every
machine and NumPy version. Each case returns plain JSON: every float as the
hex of its 8 little-endian bytes (NaN payloads and zero signs included),
errors as "<ExceptionType>: <message>".

Regenerate (only when a change of results is intended and reviewed):
    python tests/pinned_cases.py --write
"""

from __future__ import annotations

import hashlib
import json
import pathlib
import struct
import sys

import numpy as np

import quorvant as q

FIXTURE = pathlib.Path(__file__).with_name("pinned_results.json")
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
RULES = ["FreedmanDiaconis", "Scott", "Sturges", None]
_M = (1 << 64) - 1


def bits(x: float) -> str:
    return struct.pack("<d", float(x)).hex()


def stream(seed: int, n: int) -> np.ndarray:
    """n uint64 values of splitmix64 started at `seed`."""
    with np.errstate(over="ignore"):
        z = (np.arange(1, n + 1, dtype=np.uint64) * np.uint64(0x9E3779B97F4A7C15)) + np.uint64(seed * 0x9E3779B97F4A7C15 & _M)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        return z ^ (z >> np.uint64(31))


def uniform(seed: int, n: int) -> np.ndarray:
    """Doubles in [0, 1) from the top 53 bits."""
    return (stream(seed, n) >> np.uint64(11)).astype(np.float64) * 2.0**-53


def bell(seed: int, n: int) -> np.ndarray:
    """A bell-shaped sample: the sum of four uniforms, centred."""
    return uniform(seed, n) + uniform(seed + 1, n) + uniform(seed + 2, n) + uniform(seed + 3, n) - 2.0


def sprinkle(x: np.ndarray, seed: int, specials: list[float], every: int) -> np.ndarray:
    """Puts the special values at pseudo-random positions, about one in `every`."""
    x = x.copy()
    pick = stream(seed, x.size)
    where = np.flatnonzero(pick % np.uint64(every) == 0)
    if where.size:
        x[where] = np.array(specials, dtype=np.float64)[(pick[where] >> np.uint64(32)) % np.uint64(len(specials))]
    return x


def outcome(fn, *args):
    try:
        return fn(*args)
    except Exception as exc:  # noqa: BLE001 - the error itself is pinned
        return f"{type(exc).__name__}: {exc}"


def hexed(value):
    if isinstance(value, str):
        return value
    if isinstance(value, dict):
        return {k: hexed(value[k]) for k in sorted(value)}
    if isinstance(value, (list, tuple)):
        if len(value) > 64:  # long lists by digest
            raw = np.asarray(value, dtype="<f8").tobytes()
            return {"len": len(value), "sha256": hashlib.sha256(raw).hexdigest()}
        return [hexed(v) for v in value]
    if isinstance(value, (bool, int)) and not isinstance(value, float):
        return value
    return bits(value)


# ------------------------------------------------------------- regression ---

REG_SIZES = [1, 2, 3, 7, 15, 16, 17, 255, 256, 257, 1023, 1025, 4095, 4097, 65537, 1_000_000, 1_000_001]
REG_SPECIALS = [-1.0, 0.0, -0.0, -2.5, float("nan"), float("inf"), -float("inf"), 1e30, 1e39, 1e-40, -1e-45, 3.4e38]


def positive_pairs(n: int, seed: int):
    y = 0.5 + 99.5 * uniform(seed, n)
    p = y * (0.9 + 0.2 * uniform(seed + 7, n))
    return y, p


def mixed_pairs(n: int, seed: int, every: int = 4001):
    """Values in [-3, 3) (logs of values below -1 are NaN) with rare specials."""
    y = sprinkle(6.0 * uniform(seed, n) - 3.0, seed + 11, REG_SPECIALS, every)
    p = sprinkle(6.0 * uniform(seed + 5, n) - 3.0, seed + 13, REG_SPECIALS, every + 2)
    return y, p


def integer_values(n: int, seed: int, dtype, lo: int | None = None, hi: int | None = None) -> np.ndarray:
    """Integers of `dtype`: its whole range (wrapped from the stream) or [lo, hi]."""
    r = stream(seed, n)
    if lo is None:
        return r.view(np.int64).astype(dtype) if np.dtype(dtype).kind == "i" else r.astype(dtype)
    return ((r % np.uint64(hi - lo + 1)).astype(np.int64) + lo).astype(dtype)


def regression_inputs():
    """name -> (y_true, y_pred) arrays."""
    with np.errstate(over="ignore"):
        return _regression_inputs()


def _regression_inputs():
    out = {}
    for n in REG_SIZES:
        out[f"f64/positive/{n}"] = positive_pairs(n, n)
    for n in (1, 3, 257, 1001, 100_003):
        for every, kind in ((1 << 62, "signed"), (4001, "specials"), (7, "dense-specials")):
            y, p = mixed_pairs(n, 100 + n, every)
            out[f"f64/{kind}/{n}"] = (y, p)
            out[f"f32/{kind}/{n}"] = (y.astype(np.float32), p.astype(np.float32))
    y, p = positive_pairs(300_001, 5)
    out["f32/positive/300001"] = (y.astype(np.float32), p.astype(np.float32))
    n = 20_001
    for dtype in (np.int64, np.int32, np.int16, np.int8, np.uint8, np.uint16, np.uint32, np.uint64):
        name = np.dtype(dtype).name
        out[f"{name}/full/{n}"] = (integer_values(n, 31, dtype), integer_values(n, 37, dtype))
    small_t = integer_values(n, 41, np.int64, -3, 50)
    small_p = integer_values(n, 43, np.int64, -3, 50)
    out["int64/small/20001"] = (small_t, small_p)
    out["int64+f32/20001"] = (small_t, (small_p + 0.25).astype(np.float32))
    out["f64+int32/20001"] = ((small_t * 0.5), small_p.astype(np.int32))
    # Layouts: strides, reversed, 2-D, byte-swapped, unaligned, float16.
    y, p = mixed_pairs(30_003, 71)
    out["f64/stride2"] = (y[::2], p[::2])
    out["f64/stride3-offset"] = (y[1::3], p[2::3])
    out["f64/reversed"] = (y[::-1], p[::-1])
    out["f32/stride2"] = (y.astype(np.float32)[::2], p.astype(np.float32)[::2])
    out["int64/stride2"] = (small_t[::2], small_p[::2])
    out["f64/2d-column"] = (y[:5001].reshape(-1, 1), p[:5001].reshape(-1, 1))
    out["f64/byteswapped"] = (y[:5001].astype(">f8"), p[:5001].astype(">f8"))
    raw = np.zeros(8 * 5001 + 1, dtype=np.uint8)
    unaligned = np.frombuffer(raw.data, dtype=np.float64, count=5001, offset=1)
    raw[1:] = np.frombuffer(y[:5001].tobytes(), dtype=np.uint8)
    out["f64/unaligned"] = (unaligned, p[:5001])
    out["f16"] = (y[:3001].astype(np.float16), p[:3001].astype(np.float16))
    return out


def regression_results():
    out = {}
    for name, (y, p) in regression_inputs().items():
        out[name] = hexed(outcome(q.py_model_perf_linear_regression, y, p))
    # The streaming monitor sums the same way, batch after batch.
    y, p = mixed_pairs(70_001, 9, 1 << 62)
    s = q.PyLinearRegressionStreaming(y[:1000].tolist(), p[:1000].tolist())
    for start in range(0, 70_001, 16_384):
        s.push_batch(y[start:start + 16_384].tolist(), p[start:start + 16_384].tolist())
    s.push(float(y[0]), float(p[0]))
    out["streaming"] = hexed(s.performance_snapshot())
    return out


# ------------------------------------------------------------------ drift ---

DRIFT_SPECIALS = [float("nan"), float("inf"), -float("inf"), 0.0, -0.0, 1e300, -1e300, 5e-324]


def baselines():
    """name -> baseline values (float64, contiguous)."""
    out = {}
    for n in (2, 3, 10, 1000, 65535, 65536, 65537, 100_000, 262_147):
        out[f"uniform/{n}"] = uniform(n, n)
    for n in (1001, 70_001, 200_000):
        out[f"bell/{n}"] = bell(3 * n, n)
    ties = np.floor(10.0 * uniform(8, 100_000))
    out["ties/100000"] = ties
    iqr0 = ties.copy()
    iqr0[: 90_000] = 4.0
    out["iqr0/100000"] = iqr0
    signed = bell(9, 80_000)
    signed[::3] = 0.0
    signed[1::7] = -0.0
    out["signed-zeros/80000"] = signed
    zeros = np.zeros(70_000)
    zeros[::2] = -0.0
    out["all-zeros/70000"] = zeros
    neg_first = zeros.copy()
    neg_first[0] = -0.0
    neg_first[1] = 0.0
    out["zeros-then-positive/70000"] = np.concatenate([neg_first, 1.0 + uniform(4, 10)])
    out["huge/100000"] = (uniform(10, 100_000) - 0.5) * 2e300
    out["infinite/1000"] = (uniform(11, 1000) - 0.5) * 3.5e308
    out["overflow-range/1000"] = (2.0 * uniform(11, 1000) - 1.0) * 1.7e308  # finite values, infinite range
    out["negative/90001"] = -1e6 - 1e3 * uniform(12, 90_001)
    spikes = 1.0 + 1e-3 * uniform(13, 100_000)
    spikes[:5] = [0.5, 1.2, 0.7, 1.4, 1.5]
    out["outliers/100000"] = spikes
    spikes = 1.0 + 1e-4 * uniform(16, 100_000)
    spikes[:2] = [0.1, 1.6]
    out["many-bins/100000"] = spikes
    far = 1.0 + 1e-9 * uniform(14, 100_000)
    far[:2] = [-1e3, 1e3]
    out["too-many-bins/100000"] = far
    out["tiny-spread/100000"] = 1.0 + 2.0**-52 * np.floor(4.0 * uniform(15, 100_000))
    return out


def candidate_for(name: str, base: np.ndarray, edges: list[float] | None) -> np.ndarray:
    n = 150_001 if base.size > 1000 else 20_001
    lo, hi = float(np.min(base)), float(np.max(base))
    width = hi - lo if np.isfinite(hi - lo) and hi > lo else 1.0
    c = lo - 0.1 * width + 1.2 * width * uniform(len(name) * 1009 + base.size, n)
    c = sprinkle(c, base.size + 3, DRIFT_SPECIALS, 97)
    extra = [lo, hi, np.nextafter(hi, -np.inf), np.nextafter(lo, np.inf), -0.0, 0.0]
    for e in (edges or [])[:: max(1, len(edges or []) // 3000)]:
        extra += [e, np.nextafter(e, -np.inf), np.nextafter(e, np.inf)]
    return np.concatenate([c, np.array(extra, dtype=np.float64), base[:: max(1, base.size // 5000)]])


def snapshot_edges(base: np.ndarray, rule):
    try:
        d = q.PyStreamingContinuousDataDriftDecay(base, rule, None)
    except Exception:  # noqa: BLE001 - baselines that are refused have no edges
        return None
    d.update_stream(0.0)
    return list(d.export_snapshot()["binEdges"])


def drift_results():
    out = {}
    for bname, base in baselines().items():
        for rule in RULES:
            key = f"{bname}/{rule}"
            edges = snapshot_edges(base, rule)
            cand = candidate_for(bname, base, edges)
            case = {"edges": hexed(edges) if edges is not None else None}
            case["one_shot"] = hexed(outcome(q.py_compute_drift_continuous_distribtuion, base, cand, ALL, rule))
            if rule is None and base.size > 1000:
                out[key] = case
                continue  # None is FreedmanDiaconis; the detectors are covered under its name
            batch = outcome(q.PyContinuousDataDrift, base, rule)
            if isinstance(batch, str):
                case["batch"] = batch
            else:
                case["batch"] = {
                    "num_bins": batch.num_bins,
                    "baseline": hexed(batch.export_baseline()),
                    "scores": hexed(batch.compute_drift_mutliple_criteria(cand, ALL)),
                    "js": hexed(batch.compute_drift(cand[: cand.size // 2], "JensenShannon")),
                }
                other = uniform(99, 5001) * 3.0 - 1.0
                batch.reset_baseline(other)
                case["batch"]["after_reset"] = hexed(batch.compute_drift_mutliple_criteria(cand, ALL))
            case["decay"] = streaming_case(lambda: q.PyStreamingContinuousDataDriftDecay(base, rule, 3), cand)
            case["flush"] = streaming_case(lambda: q.PyStreamingContinuousDataDriftFlush(base, rule, 40_000, None), cand)
            out[key] = case
    # A long candidate through the one-shot function.
    base = baselines()["uniform/100000"]
    cand = sprinkle(1.2 * uniform(77, 2_000_003) - 0.1, 78, DRIFT_SPECIALS, 10_007)
    for rule in RULES[:3]:
        out[f"long-candidate/{rule}"] = hexed(q.py_compute_drift_continuous_distribtuion(base, cand, ALL, rule))
    return out


def streaming_case(make, cand: np.ndarray):
    d = outcome(make)
    if isinstance(d, str):
        return d
    d.update_stream_batch(cand)
    for x in DRIFT_SPECIALS:
        d.update_stream(x)
    first = d.compute_drift_multiple_criteria(ALL)
    d.update_stream_batch(cand[: cand.size // 3])
    second = d.compute_drift_multiple_criteria(ALL)
    snap = d.export_snapshot()
    return hexed({"first": first, "second": second, "total": float(d.total_samples),
                  "baseline": snap["baselineBins"], "stream": snap["streamBins"]})


def label_list(seed: int, n: int, names: list[str]) -> list[str]:
    pick = stream(seed, n) % np.uint64(len(names))
    return [names[int(i)] for i in pick]


def categorical_results():
    names = [f"label_{i:03d}" for i in range(40)] + ["", "a", "A", "a ", "é", "e\u0301", "日本", "\U0001F600", "x\x00y"]
    base = label_list(1, 5_000, names)
    out = {}
    for n in (1, 999, 100_001):
        cand = label_list(n + 2, n, names + ["unseen", "UNSEEN", "label_999"])
        out[f"labels/{n}"] = hexed(outcome(q.py_compute_drift_categorical_distribtuion, base, cand, ALL))
    out["dup-metrics"] = hexed(q.py_compute_drift_categorical_distribtuion(base, base[:100], ALL + ALL[::-1]))
    return out


# ------------------------------------------------------------------- bias ---

I64_MIN, I64_MAX = -(2**63), 2**63 - 1


def late_distinct(n: int, k: int, seed: int, at_end: bool) -> np.ndarray:
    """int64 rows of 0/1 with k - 2 further distinct values put among them:
    spread out, or all in the last rows (the decision comes late)."""
    x = (stream(seed, n) & np.uint64(1)).astype(np.int64)
    extra = np.arange(2, k, dtype=np.int64) * 3
    where = np.arange(n - extra.size, n) if at_end else np.arange(extra.size) * (n // max(1, extra.size))
    x[where] = extra
    return x


def bias_arrays():
    """name -> (feature, truth, prediction, [(feature value, truth value, prediction value)])."""
    out = {}
    for n in (1, 3, 4, 5, 63, 64, 65, 4095, 4097, 1_000_003):
        f = integer_values(n, n + 1, np.int64, 0, 3)
        g = integer_values(n, n + 2, np.int64, 0, 1)
        noise = stream(n + 3, n) % np.uint64(5) == 0
        p = np.where(noise, 1 - g, g)
        out[f"int64/codes/{n}"] = (f, g, p, [(2, 1, 1), (0, 0, 1), (2.9, 1.0, True), (-1, 1, 1), (I64_MAX, 1, 1)])
    n = 200_000  # the bound of the default rule is 10,001 distinct values
    g = integer_values(n, 5, np.int64, 0, 1)
    p = np.where(stream(6, n) % np.uint64(7) == 0, 1 - g, g)
    for k in (3, 4, 9, 10_000, 10_001, 10_002):
        for at_end in (False, True):
            f = late_distinct(n, k, k, at_end)
            where = "end" if at_end else "spread"
            out[f"int64/k{k}/{where}"] = (f, g, p, [(1, 1, 1), (0, 1, 0)])
            out[f"f64/k{k}/{where}"] = (f.astype(np.float64), g, p, [(1.0, 1, 1), (0, 1, 0)])
            out[f"i16/k{k}/{where}"] = (f.astype(np.int16), g.astype(np.int8), p.astype(np.uint8), [(1, 1, 1)])
    # Widths, signs and strides of the integer types.
    base = late_distinct(n, 9, 3, False)
    for dtype in (np.int8, np.int16, np.int32, np.uint8, np.uint16, np.uint32, np.uint64, np.float32):
        out[f"{np.dtype(dtype).name}/k9"] = (base.astype(dtype), g, p, [(1, 1, 1), (21, 1, 1)])
    out["int64/stride2"] = (base[::2], g[::2], p[::2], [(1, 1, 1)])
    out["int64/reversed"] = (base[::-1], g[::-1], p[::-1], [(1, 1, 1)])
    out["f64/stride3"] = (base.astype(np.float64)[::3], g[::3].astype(np.float64), p[::3], [(1.0, 1.0, 1)])
    # Extremes of int64 and thresholds past them.
    ext = np.where(stream(8, n) % np.uint64(3) == 0, I64_MIN, np.where(stream(9, n) & np.uint64(1), I64_MAX, 0))
    out["int64/extremes"] = (ext.astype(np.int64), g, p,
                             [(I64_MAX, 1, 1), (I64_MIN, 1, 1), (1e30, 1, 1), (-1e30, 1, 1), (float("nan"), 1, 1)])
    wide = integer_values(n, 10, np.int64)
    out["int64/full-range"] = (wide, g, p, [(0, 1, 1), (I64_MIN, 1, 1), (-1.5, 1, 1)])
    # Floats: NaN (every one distinct), signed zeros, infinities.
    specials = [float("nan"), 0.0, -0.0, float("inf"), -float("inf")]
    for every in (3, 1001, 1 << 40):
        x = sprinkle(np.floor(3.0 * uniform(every % 97, n)), every, specials, every)
        out[f"f64/specials/{every}"] = (x, g.astype(np.float64), p.astype(np.float32),
                                        [(0.0, 1.0, 1.0), (-0.0, 1, 1), (1.0, 1, 1), (float("nan"), 1, 1)])
    zeros = np.where(stream(11, n) & np.uint64(1), 0.0, -0.0)
    zeros[::5] = 1.0
    out["f64/signed-zeros"] = (zeros, g, p, [(0.0, 1, 1), (-0.0, 1, 1), (1, 1, 1)])
    cont = bell(12, n)
    out["f64/continuous"] = (cont, uniform(13, n), uniform(14, n), [(0.0, 0.5, 0.5), (-0.25, 0.75, 0.25)])
    out["f32/continuous"] = (cont.astype(np.float32), uniform(13, n).astype(np.float32), uniform(14, n),
                             [(0.0, 0.5, 0.5)])
    # Bools.
    bf, bg = stream(15, n) % np.uint64(3) == 0, g.astype(bool)
    out["bool"] = (bf, bg, p.astype(bool), [(True, True, True), (False, 1, 1), (2, 1, 1)])
    return out


def bias_results():
    out = {}
    for name, (f, g, p, values) in bias_arrays().items():
        for vf, vg, vp in values:
            key = f"{name}/{vf!r},{vg!r},{vp!r}"
            out[key] = {
                "model": hexed(outcome(q.py_model_bias_analyzer, f, g, p, vf, vg, vp)),
                "data": hexed(outcome(q.py_data_bias_analyzer, f, g, vf, vg)),
            }
    return out


def all_results():
    return {"regression": regression_results(), "continuous": drift_results(), "categorical": categorical_results(),
            "bias": bias_results()}


if __name__ == "__main__":
    if "--write" not in sys.argv:
        sys.exit("usage: python tests/pinned_cases.py --write")
    FIXTURE.write_text(json.dumps(all_results(), indent=0, sort_keys=True) + "\n")
    print(f"wrote {FIXTURE}")
