"""Bias analyzers against a straightforward NumPy implementation, and the
streaming bias monitors against recomputing an analyzer on a window.

The NumPy version computes the same metrics with boolean masks and counts;
like the analyzers it decides per numeric array whether a value is a label
or a threshold, which takes a distinct count (np.unique). A second NumPy
column leaves that decision out (labels given), the cheapest form a caller
could write when the arrays' kinds are known in advance.

    python bench/bench_bias.py              # everything
    python bench/bench_bias.py --int-lists  # only the long int lists
"""

from __future__ import annotations

import sys
import time

import numpy as np

import quorvant as q

HEURISTIC = np.float32(0.05)
f32 = np.float32


def best(fn, reps, clock=time.perf_counter):
    t = float("inf")
    for _ in range(reps):
        start = clock()
        fn()
        t = min(t, clock() - start)
    return t


# ---- the NumPy implementation -----------------------------------------------


def np_labels(arr, value, decide=True):
    if arr.dtype.kind in "fiu":
        continuous = False
        if decide:
            k = np.unique(arr).size
            continuous = k >= 4 and f32(k) / f32(arr.size) > HEURISTIC
        return arr >= value if continuous else arr == value
    return arr == value


def np_data_bias(f, g, vf, vg, decide=True):
    facet, truth = np_labels(f, vf, decide), np_labels(g, vg, decide)
    n_a = np.count_nonzero(facet)
    n_d = facet.size - n_a
    p_a = np.count_nonzero(facet & truth)
    p_d = np.count_nonzero(truth) - p_a
    with np.errstate(all="ignore"):
        qa, qd = f32(p_a) / f32(n_a), f32(p_d) / f32(n_d)
        one = f32(1)
        dpl = qa - qd
        kl = qa * np.log(qa / qd) + (one - qa) * np.log((one - qa) / (one - qd))
        m = (qa + qd) * f32(0.5)
        js = f32(0.5) * ((qa * np.log(qa / m) + (one - qa) * np.log((one - qa) / (one - m)))
                         + (qd * np.log(qd / m) + (one - qd) * np.log((one - qd) / (one - m))))
        dn = (one - qa) + (qd - one)
        return {"ClassImbalance": float(f32(abs(n_a - n_d)) / f32(n_a + n_d)), "DifferenceInProportionOfLabels": float(dpl),
                "KlDivergence": float(kl), "JsDivergence": float(js), "LpNorm": float(np.sqrt(dpl * dpl + dn * dn)),
                "TotalVariationDistance": float(f32(0.5) * (abs(dpl) + abs(dn))),
                "KolmogorovSmirnov": float(max(abs(dn), abs(dpl)))}


def np_model_bias(f, g, p, vf, vg, vp, decide=True):
    facet, truth, pred = np_labels(f, vf, decide), np_labels(g, vg, decide), np_labels(p, vp, decide)
    c = {}
    for name, m in (("1", facet), ("0", ~facet)):
        mp, mn = m & pred, m & ~pred
        c["TP" + name] = np.count_nonzero(mp & truth)
        c["FP" + name] = np.count_nonzero(mp & ~truth)
        c["TN" + name] = np.count_nonzero(mn & ~truth)
        c["FN" + name] = np.count_nonzero(mn & truth)
    tp1, fp1, tn1, fn1 = (f32(c[k + "1"]) for k in ("TP", "FP", "TN", "FN"))
    tp0, fp0, tn0, fn0 = (f32(c[k + "0"]) for k in ("TP", "FP", "TN", "FN"))
    n1, n0 = tp1 + fp1 + tn1 + fn1, tp0 + fp0 + tn0 + fn0
    with np.errstate(all="ignore"):
        q1, q0 = (tp1 + fp1) / n1, (tp0 + fp0) / n0
        b = np.where(~pred & truth, 0, np.where(pred & truth, 1, 2)).astype(np.float32)
        inverse = f32(1) / (f32(b.sum()) / f32(b.size))
        ge = float(((b * inverse) ** 2 - f32(1)).astype(np.float64).sum())
        pn, pp = n0 + n1 - (tp0 + fp0) - (tp1 + fp1), tp0 + fp0 + tp1 + fp1
        dd1 = (n1 - tp1 - fp1) / pn - (tp1 + fp1) / pp
        dd0 = (n0 - tp0 - fp0) / pn - (tp0 + fp0) / pp
        return [q1 - q0, q1 / q0, (tp1 + tn1) / n1 - (tp0 + tn0) / n0, tp1 / (tp1 + fn1) - tp0 / (tp0 + fn0),
                (tp1 + fp1) / (tp1 + fn1) - (tp0 + fp0) / (tp0 + fn0), tp1 / (tp1 + fp1) - tp0 / (tp0 + fp0),
                tn1 / (tn1 + fp1) - tn0 / (tn0 + fp0), (n0 - tp0 - fn0) / (n0 - tp0 - fp0) - (n1 - tp1 - fn1) / (n1 - tp1 - fp1),
                tn0 / (tn0 + fn0) - tn1 / (tn1 + fn1), fn0 / fp0 - fn1 / fp1,
                (dd1 * n1 + dd0 * n0) / (n1 + n0), ge]


# ---- data -----------------------------------------------------------------


def data(n, rng, kind):
    truth = rng.integers(0, 2, n)
    pred = np.where(rng.random(n) < 0.8, truth, 1 - truth)
    if kind == "numeric":
        feature = rng.normal(40.0, 12.0, n)  # continuous: 40.0 is a threshold
        value = 40.0
    else:
        feature = np.array(["north", "south", "east", "west"])[rng.integers(0, 4, n)]
        value = "south"
    return feature, truth, pred, value


def bench_analyzers(rng):
    header = (f"{'analyzer':<8} {'feature':<8} {'rows':>9} {'quorvant':>11} {'ns/row':>7} "
              f"{'NumPy':>11} {'ratio':>7} {'NumPy (labels given)':>21} {'ratio':>6}")
    print(header)
    print("-" * len(header))
    for kind in ("numeric", "str"):
        for n in (10**3, 10**5, 10**7):
            f, g, p, v = data(n, rng, kind)
            reps = 3 if n >= 10**7 else 20
            cases = [
                ("data", lambda: q.py_data_bias_analyzer(f, g, v, 1), lambda d=True: np_data_bias(f, g, v, 1, d)),
                ("model", lambda: q.py_model_bias_analyzer(f, g, p, v, 1, 1),
                 lambda d=True: np_model_bias(f, g, p, v, 1, 1, d)),
            ]
            for name, ours, theirs in cases:
                ours()
                t_ours = best(ours, reps)
                t_np = best(theirs, max(1, reps // 3) if n >= 10**7 else reps)
                t_np_given = best(lambda: theirs(False), reps)
                print(f"{name:<8} {kind:<8} {n:>9} {t_ours * 1e6:>9.0f}us {t_ours / n * 1e9:>7.2f} "
                      f"{t_np * 1e6:>9.0f}us {t_np / t_ours:>6.1f}x {t_np_given * 1e6:>19.0f}us "
                      f"{t_np_given / t_ours:>5.1f}x")



def bench_streaming(rng):
    n0 = 1000
    f0, p0, g0 = (rng.integers(0, 2, n0) for _ in range(3))
    data = q.PyDataBiasStreaming(f0, g0)
    model = q.PyModelBiasStreaming(f0, p0, g0)

    print()
    print("streaming monitors: cost of taking rows")
    header = f"{'monitor':<8} {'input':<28} {'rows':>9} {'ns/row':>8}"
    print(header)
    print("-" * len(header))
    calls = 200_000

    def push_model():
        push = model.push
        for _ in range(calls):
            push(1, 0, 1)

    def push_data():
        push = data.push
        for _ in range(calls):
            push(1, 0)

    for name, loop in (("model", push_model), ("data", push_data)):
        t = best(loop, 5)
        print(f"{name:<8} {'push (one row, with the call)':<28} {calls:>9} {t / calls * 1e9:>8.1f}")
    n = 10**6
    f, p, g = (rng.integers(0, 2, n) for _ in range(3))
    inputs = [("list of small ints", lambda x: x.tolist()), ("NumPy int64 array", lambda x: x),
              ("NumPy int8 array", lambda x: x.astype(np.int8))]
    for label, make in inputs:
        mf, mp, mg = make(f), make(p), make(g)
        t_model = best(lambda: model.push_batch(mf, mp, mg), 7)
        t_data = best(lambda: data.push_batch(mf, mg), 7)
        print(f"{'model':<8} {'push_batch, ' + label:<28} {n:>9} {t_model / n * 1e9:>8.2f}")
        print(f"{'data':<8} {'push_batch, ' + label:<28} {n:>9} {t_data / n * 1e9:>8.2f}")

    print()
    print("streaming monitors against recomputing the analyzer on a window")
    header = (f"{'monitor':<8} {'window':>9} {'new rows':>9} {'push + report':>14} {'analyzer on window':>19} "
              f"{'ratio':>8}")
    print(header)
    print("-" * len(header))
    for window in (10**4, 10**5, 10**6):
        wf, wp, wg = (rng.integers(0, 2, window) for _ in range(3))
        batch = 1000
        bf, bp, bg = (x[:batch].astype(np.int8) for x in (wf, wp, wg))

        def stream_model():
            model.push_batch(bf, bp, bg)
            model.drift_report(0.1)

        def stream_data():
            data.push_batch(bf, bg)
            data.drift_report(0.1)

        t_sm = best(stream_model, 20)
        t_am = best(lambda: q.py_model_bias_analyzer(wf, wg, wp, 1, 1, 1), 7)
        t_sd = best(stream_data, 20)
        t_ad = best(lambda: q.py_data_bias_analyzer(wf, wg, 1, 1), 7)
        print(f"{'model':<8} {window:>9} {batch:>9} {t_sm * 1e6:>12.1f}us {t_am * 1e6:>17.1f}us {t_am / t_sm:>7.1f}x")
        print(f"{'data':<8} {window:>9} {batch:>9} {t_sd * 1e6:>12.1f}us {t_ad * 1e6:>17.1f}us {t_ad / t_sd:>7.1f}x")


def bench_int_lists(rng):
    """Long Python lists and tuples of small ints (the already-labeled rows
    the streaming bias monitors take), against the cheapest NumPy
    conversion of the same lists (np.fromiter into int8). Timed in CPU time
    of this thread, so other load on the machine counts less."""
    n = 10**6
    clock = time.thread_time
    print()
    print(f"streaming monitors: lists of {n} small ints (best of 15, thread CPU time)")
    header = (f"{'monitor':<8} {'call':<16} {'input':<24} {'ns/row':>8} {'np.fromiter int8':>17} {'ratio':>6}")
    print(header)
    print("-" * len(header))
    labels = [rng.integers(0, 2, n) for _ in range(3)]
    signed = [rng.integers(-128, 128, n) for _ in range(3)]
    f0, p0, g0 = (x[:1000] for x in labels)
    model = q.PyModelBiasStreaming(f0, p0, g0)
    data = q.PyDataBiasStreaming(f0, g0)
    for input_name, arrays, make in (("list of 0/1", labels, list), ("tuple of 0/1", labels, tuple),
                                     ("list of -128..127", signed, list)):
        f, p, g = (make(a.tolist()) for a in arrays)
        t_np = best(lambda: np.fromiter(f, dtype=np.int8, count=n), 15, clock)
        cases = [
            ("model", "constructor", lambda: q.PyModelBiasStreaming(f, p, g), 3),
            ("model", "push_batch", lambda: model.push_batch(f, p, g), 3),
            ("data", "constructor", lambda: q.PyDataBiasStreaming(f, g), 2),
            ("data", "push_batch", lambda: data.push_batch(f, g), 2),
        ]
        for monitor, call, fn, columns in cases:
            t = best(fn, 15, clock)
            per_column = t / columns
            print(f"{monitor:<8} {call:<16} {input_name:<24} {t / n * 1e9:>8.2f} {t_np / n * 1e9:>17.2f} "
                  f"{t_np / per_column:>5.1f}x")


def main():
    rng = np.random.default_rng(7)
    if "--int-lists" in sys.argv[1:]:
        bench_int_lists(rng)
        return
    bench_analyzers(rng)
    bench_streaming(rng)
    bench_int_lists(rng)


if __name__ == "__main__":
    main()
