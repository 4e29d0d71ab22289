"""Model-performance metrics: quorvant against scikit-learn and plain NumPy.

Same data for every contender in one run; the best of several repetitions
(time.perf_counter). Ratios > 1 mean quorvant is faster.
"""

from __future__ import annotations

import math
import time
import warnings

import numpy as np

import quorvant as q

try:
    from sklearn import metrics as skm
except ImportError:  # the comparison is optional
    skm = None

EPS = np.float32(1e-12)
HI = np.nextafter(np.float32(1), np.float32(0))  # 1 - EPS is 1.0 in f32


def best_of(fn, *args, budget: float = 0.4, max_reps: int = 200) -> float:
    fn(*args)  # warm up
    best = float("inf")
    spent = 0.0
    reps = 0
    while reps < 3 or (spent < budget and reps < max_reps):
        t0 = time.perf_counter()
        fn(*args)
        dt = time.perf_counter() - t0
        best = min(best, dt)
        spent += dt
        reps += 1
    return best


# Plain NumPy: what a user would write by hand.
def counts(t_pos, p_pos):
    return (np.count_nonzero(t_pos & p_pos), np.count_nonzero(~t_pos & p_pos),
            np.count_nonzero(~t_pos & ~p_pos), np.count_nonzero(t_pos & ~p_pos))


def rates(tp, fp, tn, fn):
    f = np.float32
    with np.errstate(divide="ignore", invalid="ignore"):
        pp, pn, rp, rn = f(tp) / f(tp + fp), f(tn) / f(tn + fn), f(tp) / f(tp + fn), f(tn) / f(tn + fp)
        return {"BalancedAccuracy": (rp + rn) * f(0.5), "PrecisionPositive": pp, "PrecisionNegative": pn,
                "RecallPositive": rp, "RecallNegative": rn,
                "Accuracy": f(tp + tn) / f(tp + tn + fp + fn), "F1Score": 2 * rp * pp / (rp + pp)}


def numpy_classification(t, p):
    return rates(*counts(t == 1, p == 1))


def numpy_logistic(t, p, threshold):
    t32, p32 = t.astype(np.float32), p.astype(np.float32)
    out = rates(*counts(t32 >= threshold, p32 >= threshold))
    pc = np.clip(p32, EPS, HI)
    out["LogLoss"] = -np.mean(t32 * np.log(pc) + (1 - t32) * np.log(1 - pc))
    return out


# scikit-learn: the set of calls that gives the same metrics.
def sklearn_classification(t, p):
    skm.confusion_matrix(t, p, labels=[0, 1])
    skm.precision_recall_fscore_support(t, p, labels=[0, 1], zero_division=np.nan)
    skm.balanced_accuracy_score(t, p)
    skm.accuracy_score(t, p)


def sklearn_logistic(t, p, threshold):
    t_pos, p_pos = (t >= threshold).astype(np.int8), (p >= threshold).astype(np.int8)
    sklearn_classification(t_pos, p_pos)
    skm.log_loss(t, p, labels=[0, 1])


def data(n: int, dtype, rng):
    truth = (rng.random(n) < 0.4).astype(dtype)
    flip = rng.random(n) < 0.2
    pred = np.where(flip, 1 - truth, truth).astype(dtype)
    scores = np.clip(np.where(truth == 1, 0.7, 0.3) + rng.normal(0, 0.2, n), 0, 1)
    return truth, pred, scores.astype(np.float64 if dtype == np.int64 else dtype)


def row(name, ours, others):
    cells = [f"{name:<38}", f"{ours * 1e6:>11.1f}"]
    for other in others:
        cells.append(f"{other * 1e6:>11.1f} {other / ours:>7.1f}x" if other is not None else f"{'-':>20}")
    print(" ".join(cells))


# Streaming: what a monitor replaces. Plain-Python accumulators updated per
# row (the per-metric update style of online-learning libraries) ...
class PythonConfusion:
    def __init__(self):
        self.tp = self.fp = self.tn = self.fn = 0

    def update(self, t, p):
        if t == 1:
            if p == 1:
                self.tp += 1
            else:
                self.fn += 1
        elif p == 1:
            self.fp += 1
        else:
            self.tn += 1


class PythonLogistic(PythonConfusion):
    def __init__(self):
        super().__init__()
        self.loss = 0.0

    def update(self, t, p):
        super().update(t, 1 if p >= 0.5 else 0)
        pc = min(max(p, 1e-12), 1 - 1e-12)
        self.loss += t * math.log(pc) + (1 - t) * math.log(1 - pc)


class PythonRegression:
    def __init__(self):
        self.se = self.ae = self.mx = self.sle = self.ape = self.ys = self.n = self.yy = self.pp = self.yp = 0.0

    def update(self, y, p):
        e = y - p
        a = abs(e)
        self.se += e * e
        self.ae += a
        self.mx = max(self.mx, a)
        d = math.log(y + 1) - math.log(p + 1)
        self.sle += d * d
        self.ape += abs(a / y)
        self.ys += y
        self.n += 1
        self.yy += y * y
        self.pp += p * p
        self.yp += y * p


# ... and recomputing the batch metrics over the window with NumPy.
def numpy_regression(t, p):
    e = t - p
    d = np.log(t + 1) - np.log(p + 1)
    return (np.mean(e * e), np.mean(np.abs(e)), np.max(np.abs(e)), np.mean(d * d), np.mean(np.abs(e / t)),
            1 - np.sum(e * e) / np.sum((t - t.mean()) ** 2))


def python_rows(acc_type, t, p):
    acc = acc_type()
    for a, b in zip(t, p):
        acc.update(a, b)


def push_rows(monitor, t, p):
    for a, b in zip(t, p):
        monitor.push(a, b)


def streaming(rng) -> None:
    n = 100_000
    truth = (rng.random(n) < 0.4).astype(np.int64)
    decision = np.where(rng.random(n) < 0.2, 1 - truth, truth)
    scores = np.clip(np.where(truth == 1, 0.7, 0.3) + rng.normal(0, 0.2, n), 0, 1)
    y = rng.gamma(2.0, 2.0, n) + 0.1
    y_hat = y * rng.lognormal(0.0, 0.2, n)
    cases = [
        ("PyBinaryClassificationStreaming", q.PyBinaryClassificationStreaming([1, 0], [1, 0]), truth, decision,
         PythonConfusion, lambda t, p: numpy_classification(t, p)),
        ("PyLogisticRegressionStreaming", q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5),
         truth.astype(np.float64), scores, PythonLogistic, lambda t, p: numpy_logistic(t, p, np.float32(0.5))),
        ("PyLinearRegressionStreaming", q.PyLinearRegressionStreaming([1.0, 2.0], [1.0, 2.0]), y, y_hat,
         PythonRegression, numpy_regression),
    ]
    print()
    print(f"streaming, {n} rows; ns per row; ratio = their time / ours")
    print(f"{'':<34} {'push':>7} {'py row':>7} {'ratio':>6} | {'np batch':>8} {'list':>6} {'py rows':>8} {'ratio':>6}"
          f" {'window':>7} {'ratio':>6}")
    for name, monitor, t, p, acc, recompute in cases:
        lt, lp = t.tolist(), p.tolist()
        k = 2000
        one = best_of(push_rows, monitor, lt[:k], lp[:k]) / k * 1e9
        py_one = best_of(python_rows, acc, lt[:k], lp[:k]) / k * 1e9
        batch = best_of(monitor.push_batch, t, p) / n * 1e9
        batch_list = best_of(monitor.push_batch, lt, lp) / n * 1e9
        py_rows = best_of(python_rows, acc, lt, lp, budget=0.2) / n * 1e9
        window = best_of(recompute, t, p) / n * 1e9
        print(f"{name:<34} {one:>7.1f} {py_one:>7.1f} {py_one / one:>5.1f}x | {batch:>8.2f} {batch_list:>6.2f}"
              f" {py_rows:>8.1f} {py_rows / batch:>5.0f}x {window:>7.2f} {window / batch:>5.1f}x")
    print("  push: one row per call, the call included; np batch / list: push_batch of NumPy arrays / lists;")
    print("  py rows: a plain-Python accumulator updated per row; window: NumPy recomputing the batch metrics")


def main() -> None:
    warnings.filterwarnings("ignore")
    rng = np.random.default_rng(2024)
    print("time per call in microseconds; ratio = their time / ours")
    print(f"{'':<38} {'quorvant':>11} {'numpy':>11} {'ratio':>8} {'sklearn':>11} {'ratio':>8}")
    for n in (100, 10_000, 1_000_000):
        for dtype in (np.int64, np.float64, np.float32):
            t, p, s = data(n, dtype, rng)
            sk_budget = 0.2 if n < 1_000_000 else 0.0  # one sklearn run at 10^6 is already long
            ours = best_of(q.py_model_perf_classification, t, p)
            row(f"classification n={n:<8} {np.dtype(dtype).name}", ours,
                [best_of(numpy_classification, t, p),
                 best_of(sklearn_classification, t, p, budget=sk_budget) if skm else None])
            ours_log = best_of(q.py_model_perf_logistic_regression, t, s, 0.5)
            row(f"logistic       n={n:<8} {np.dtype(dtype).name}", ours_log,
                [best_of(numpy_logistic, t, s, np.float32(0.5)),
                 best_of(sklearn_logistic, t, s, 0.5, budget=sk_budget) if skm else None])
            if n == 1_000_000:
                print(f"{'':<38} counting {ours / n * 1e9:.2f} ns/pair, logistic {ours_log / n * 1e9:.2f} ns/pair")
    streaming(rng)


if __name__ == "__main__":
    main()
