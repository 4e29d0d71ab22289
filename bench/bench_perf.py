"""Model-performance metrics: quorvant against scikit-learn and plain NumPy.

Same data for every contender in one run; the best of several repetitions
(time.perf_counter). Ratios > 1 mean quorvant is faster.
"""

from __future__ import annotations

import time
import warnings

import numpy as np

import quorvant as q

try:
    from sklearn import metrics as skm
except ImportError:  # the comparison is optional
    skm = None

EPS = np.float32(1e-12)


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
    pc = np.clip(p32, EPS, np.float32(1) - EPS)
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


if __name__ == "__main__":
    main()
