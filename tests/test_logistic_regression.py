"""py_model_perf_logistic_regression against a plain NumPy reference."""

from __future__ import annotations

import json
import math
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quorvant import py_model_perf_logistic_regression as logistic
from support import SANITIZED, assert_no_leak, child_env, raises_exactly

CONFUSION = ["BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
             "RecallNegative", "Accuracy", "F1Score"]
F32 = np.float32
BELOW_ONE = float(np.nextafter(F32(1), F32(0)))  # 0.99999994
CANNOT = "Metric cannot be computed with given data"


def upper_bound(eps: float) -> np.float32:
    hi = F32(1) - F32(eps)
    return np.nextafter(F32(1), F32(0)) if F32(eps) > 0 and hi == 1 else hi


def reference(y_true, y_pred, threshold, eps=1e-12):
    t = np.asarray(y_true, dtype=np.float64).astype(F32)
    p = np.asarray(y_pred, dtype=np.float64).astype(F32)
    thr = F32(threshold)
    tpos, ppos = t >= thr, p >= thr
    tp, fp = int(np.sum(tpos & ppos)), int(np.sum(~tpos & ppos))
    tn, fn = int(np.sum(~tpos & ~ppos)), int(np.sum(tpos & ~ppos))
    with np.errstate(divide="ignore", invalid="ignore"):
        pp, pn, rp, rn = F32(tp) / F32(tp + fp), F32(tn) / F32(tn + fn), F32(tp) / F32(tp + fn), F32(tn) / F32(tn + fp)
        out = {"BalancedAccuracy": (rn + rp) * F32(0.5), "PrecisionPositive": pp, "PrecisionNegative": pn,
               "RecallPositive": rp, "RecallNegative": rn,
               "Accuracy": F32(tn + tp) / F32(tn + (fn + (fp + tp))), "F1Score": (pp * (rp + rp)) / (pp + rp)}
        lo, hi = F32(eps), upper_bound(eps)
        pc = np.where(p < lo, lo, np.where(p > hi, hi, p)).astype(F32)
        terms = t * np.log(pc) + (F32(1) - t) * np.log(F32(1) - pc)
    out["LogLoss"] = -math.fsum(terms.astype(np.float64)) / len(t)
    return {k: float(v) for k, v in out.items()}


def assert_matches(got: dict, want: dict):
    assert set(got) == set(CONFUSION) | {"LogLoss"}
    for k in CONFUSION:  # bit-exact
        assert got[k] == want[k] or (math.isnan(got[k]) and math.isnan(want[k])), k
    assert math.isclose(got["LogLoss"], want["LogLoss"], rel_tol=1e-6, abs_tol=1e-30)


THRESHOLDS = st.sampled_from([0.5, float(np.nextafter(F32(0.5), F32(0))), float(np.nextafter(F32(0.5), F32(1))),
                              0.0, 1.0, 0.3, float("nan")])
TRUTHS = st.one_of(st.sampled_from([0.0, 1.0, 1.0, 0.0, 0.5, 0.7]), st.floats(0, 1, width=32))
SCORES = st.one_of(st.floats(0, 1, width=32),
                   st.sampled_from([0.0, 1.0, 1e-13, BELOW_ONE, 0.5, 1.5, -0.25, 1e30, -np.inf, np.inf]))


@st.composite
def batches(draw):
    n = draw(st.integers(1, 60))
    t = draw(st.lists(TRUTHS, min_size=n, max_size=n))
    p = draw(st.lists(SCORES, min_size=n, max_size=n))
    dtype_t = draw(st.sampled_from([np.float64, np.float32]))
    return np.array(t, dtype=dtype_t), np.array(p, dtype=np.float32), draw(THRESHOLDS)


@settings(max_examples=50 if SANITIZED else 200, deadline=None)
@given(batches())
def test_matches_reference(batch):
    y_true, y_pred, threshold = batch
    assert_matches(logistic(y_true, y_pred, threshold), reference(y_true, y_pred, threshold))


@settings(max_examples=100 if SANITIZED else 500, deadline=None)
@given(st.floats(float(F32(1e-12)), 1, width=32, exclude_max=True))
def test_log_of_one_score_is_the_f32_logarithm(x):
    got = logistic(np.array([1.0]), np.array([x], dtype=F32), 0.5)["LogLoss"]
    want = F32(-math.log(x))  # the correctly rounded f32 logarithm
    assert abs(F32(got).view(np.int32) - want.view(np.int32)) <= 1


def test_integer_truths_and_every_layout():
    rng = np.random.default_rng(3)
    t = rng.integers(0, 2, 2000)
    p = rng.random(2000)
    want = reference(t, p, 0.5)
    wide = np.empty(4000)
    wide[::2] = p
    for y_true, y_pred in [(t, p), (t.astype(np.uint8), wide[::2]), (t.astype(F32), p.astype(F32)),
                           (t.astype(np.float64)[::-1].copy()[::-1], p)]:
        assert_matches(logistic(y_true, y_pred, 0.5), want)


def test_worked_examples():
    got = logistic(np.array([1, 0, 1, 0]), np.array([0.9, 0.1, 0.9, 0.1]), 0.5)
    assert all(got[k] == 1.0 for k in CONFUSION)
    assert math.isclose(got["LogLoss"], -math.log(float(F32(0.9))), rel_tol=1e-6)
    # A score of 0 with truth 1 is clamped up to eps.
    assert math.isclose(logistic(np.array([1.0]), np.array([0.0]), 0.5)["LogLoss"], -math.log(float(F32(1e-12))),
                        rel_tol=1e-6)
    # A truth of 0.7 is positive by the threshold and enters the log loss as 0.7.
    got = logistic(np.array([0.7]), np.array([0.6]), 0.5)
    assert got["RecallPositive"] == 1.0
    assert math.isclose(got["LogLoss"], -(0.7 * math.log(0.6) + 0.3 * math.log(0.4)), rel_tol=1e-6)
    # A NaN threshold makes everything negative; the log loss is still computed.
    got = logistic(np.array([1.0, 0.0]), np.array([0.8, 0.3]), float("nan"))
    assert got["RecallNegative"] == 1.0 and math.isnan(got["RecallPositive"])
    assert math.isfinite(got["LogLoss"])
    assert_no_leak(logistic, np.array([1.0, 0.0]), np.array([0.8, 0.3]), 0.5)


@pytest.mark.parametrize(
    "truth, score, want",
    [
        (1.0, 1.0, -math.log(BELOW_ONE)),  # a perfect prediction costs almost nothing
        (0.0, 1.0, -math.log(1 - BELOW_ONE)),  # about 16.64, not +inf
        (0.0, 3.0, -math.log(1 - BELOW_ONE)),
        (1.0, 0.75, -math.log(0.75)),  # ordinary scores are untouched
        (0.0, 0.25, -math.log(0.75)),
    ],
)
def test_a_score_of_one_is_clamped_below_one(truth, score, want):
    got = logistic(np.array([truth, truth]), np.array([score, score]), 0.5)["LogLoss"]
    assert math.isclose(got, want, rel_tol=1e-6)


@pytest.mark.parametrize(
    "y_true, y_pred",
    [
        (np.array([]), np.array([])),
        (np.array([1.0, 0.0]), np.array([0.5, np.nan])),
        (np.array([np.nan]), np.array([0.5])),
        (np.array([np.inf]), np.array([0.5])),
    ],
)
def test_a_nan_log_loss_is_an_error(y_true, y_pred):
    with raises_exactly(TypeError, CANNOT):
        logistic(y_true, y_pred, 0.5)


@pytest.mark.parametrize(
    "args, exc, msg",
    [
        (([1.0], np.array([1.0]), 0.5), TypeError, "argument 'y_true_src': must be numpy.ndarray, not list"),
        ((np.array([1.0]), None, 0.5), TypeError, "argument 'y_pred_src': must be numpy.ndarray, not None"),
        ((np.array([1.0]), np.array([1.0]), None), TypeError, "argument 'threshold': must be real number, not None"),
        # The threshold is converted before the arrays' elements.
        ((np.array([True]), np.array([1.0]), "x"), TypeError, "argument 'threshold': must be real number, not str"),
        ((np.array([True]), np.array([1.0]), 0.5), TypeError, "UnSupportedType"),
        ((np.array([1.0]), np.array(["a"]), 0.5), TypeError, "UnSupportedType"),
        ((np.array([1.0]), np.array([1.0, 0.0]), 0.5), ValueError, "Data vectors must be equal length"),
        ((np.array([]), np.array([1.0]), 0.5), ValueError, "Data vectors must be equal length"),
    ],
)
def test_bad_input(args, exc, msg):
    with raises_exactly(exc, msg):
        logistic(*args)
    assert_no_leak(logistic, *args, rounds=200)


SCRIPT = """
import json, numpy as np, quorvant as q
def run(f, *a):
    try:
        return f(*a)
    except Exception as e:
        return [type(e).__name__, str(e)]
one = np.array([1.0, 0.0]); score = np.array([1.0, 0.0])
print(json.dumps({
    "perfect": run(q.py_model_perf_logistic_regression, one, score, 0.5),
    "mixed": run(q.py_model_perf_logistic_regression, np.array([1.0, 0.0]), np.array([0.9, 0.8]), 0.5),
    "classification": run(q.py_model_perf_classification, one, score),
    "linear": run(q.py_model_perf_linear_regression, one, score),
}))
"""


def run_with_eps(eps: str) -> dict:
    env = child_env(QUORVANT_STABILITY_EPS=eps)
    out = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


@pytest.mark.parametrize("eps", ["0.6", "nan", "inf", "0.50000006"])
def test_an_epsilon_above_one_half_is_refused(eps):
    got = run_with_eps(eps)
    assert got["perfect"] == ["TypeError", CANNOT] and got["mixed"] == ["TypeError", CANNOT]
    assert got["classification"]["Accuracy"] == 1.0 and got["linear"]["MaxError"] == 0.0


def test_epsilon_settings_that_stay_valid():
    # One half (and anything that narrows to it) clamps every score to 0.5.
    for eps in ["0.5", "0.5000000001"]:
        assert math.isclose(run_with_eps(eps)["mixed"]["LogLoss"], math.log(2), rel_tol=1e-6)
    # 1 - 1e-7 is below 1.0 in f32: no correction needed, scores of 1 are finite.
    hi = float(F32(1) - F32(1e-7))
    assert math.isclose(run_with_eps("1e-7")["perfect"]["LogLoss"], -math.log(hi), rel_tol=1e-6)
    # eps <= 0 is taken as given: a score of exactly 1 gives 1*ln(1) + 0*ln(0) = NaN.
    assert run_with_eps("0")["perfect"] == ["TypeError", CANNOT]
