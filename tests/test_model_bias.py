"""Post-training bias: the twelve metrics, their guards, the analyzers."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvant as q
from support import SANITIZED, assert_no_leak, raises_exactly

NO_FACET = "No deviation in behavior between facets"
DATA_LENGTH = "All data arrays must have equal length and be at least lenght 1"
CONFIG = "Invalid bias configuration"
HETEROGENEOUS = (TypeError, "Data passed in is of hetergeneous types")
LENGTH = (ValueError, DATA_LENGTH)
NAMES = [
    "DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
    "DifferenceInConditionalAcceptance", "DifferenceInAcceptanceRate", "SpecialityDifference",
    "DifferenceInConditionalRejection", "DifferenceInRejectionRate", "TreatmentEquity",
    "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy",
]
f32 = np.float32


class Undefined(Exception):
    pass


def confusion(facet, pred, truth):
    """Per-facet (TP, FP, TN, FN) as exact integers."""
    facet, pred, truth = (np.asarray(a, bool) for a in (facet, pred, truth))
    out = {}
    for f in (True, False):
        m = facet == f
        out[f] = (int((m & pred & truth).sum()), int((m & pred & ~truth).sum()),
                  int((m & ~pred & ~truth).sum()), int((m & ~pred & truth).sum()))
    return out


def generalized_entropy(pred, truth):
    """Every row's f32 term, summed in f64, narrowed."""
    pred, truth = np.asarray(pred, bool), np.asarray(truth, bool)
    b = np.where(~pred & truth, 0, np.where(pred & truth, 1, 2)).astype(np.float32)
    mean = f32(int(b.sum())) / f32(len(b))
    with np.errstate(all="ignore"):
        inverse = f32(1) / mean
        terms = (b * inverse) ** 2 - f32(1)
    return f32(terms.astype(np.float64).sum())


def post_training_reference(facet, pred, truth):
    """The twelve metrics in f32 (counts combined as integers), or the guard
    that fails."""
    c = confusion(facet, pred, truth)
    tp1, fp1, tn1, fn1 = c[True]
    tp0, fp0, tn0, fn0 = c[False]
    n1, n0 = tp1 + fp1 + tn1 + fn1, tp0 + fp0 + tn0 + fn0
    op1, op0, pp1, pp0 = tp1 + fn1, tp0 + fn0, tp1 + fp1, tp0 + fp0
    if n1 == 0 or n0 == 0:
        raise ValueError(DATA_LENGTH)
    if pp0 == 0 or op1 == 0 or op0 == 0 or n0 - pp0 == 0 or n1 - pp1 == 0 or fp1 == 0 or fp0 == 0:
        raise Undefined
    with np.errstate(all="ignore"):
        q1, q0 = f32(pp1) / f32(n1), f32(pp0) / f32(n0)
        acc1 = f32(tp1 + tn1) / f32(n1)
        acc0 = f32(tp0 + tn0) / f32(n0)
        pn, pp = f32(n0 + n1 - pp0 - pp1), f32(pp0 + pp1)
        dd1 = f32(n1 - pp1) / pn - f32(pp1) / pp
        dd0 = f32(n0 - pp0) / pn - f32(pp0) / pp
        values = [
            q1 - q0,
            q1 / q0,
            acc1 - acc0,
            f32(tp1) / f32(tp1 + fn1) - f32(tp0) / f32(tp0 + fn0),
            f32(pp1) / f32(op1) - f32(pp0) / f32(op0),
            f32(tp1) / f32(tp1 + fp1) - f32(tp0) / f32(tp0 + fp0),
            f32(tn1) / f32(tn1 + fp1) - f32(tn0) / f32(tn0 + fp0),
            f32(n0 - op0) / f32(n0 - pp0) - f32(n1 - op1) / f32(n1 - pp1),
            f32(tn0) / f32(tn0 + fn0) - f32(tn1) / f32(tn1 + fn1),
            f32(fn0) / f32(fp0) - f32(fn1) / f32(fp1),
            (dd1 * f32(n1) + dd0 * f32(n0)) / f32(n1 + n0),
            generalized_entropy(pred, truth),
        ]
    return dict(zip(NAMES, map(float, values)))


def assert_matches(result, expected):
    assert result.keys() == expected.keys()
    for k in NAMES:
        a, b = result[k], expected[k]
        if k == "GeneralizedEntropy":
            assert a == pytest.approx(b, rel=1e-6, nan_ok=True), k
        else:
            assert (math.isnan(a) and math.isnan(b)) or a == b, k


def analyze(facet, pred, truth):
    return q.py_model_bias_analyzer(np.asarray(facet, np.int64), np.asarray(truth, np.int64),
                                    np.asarray(pred, np.int64), 1, 1, 1)


# A data set on which every guard passes.
FACET = [1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0]
PRED = [1, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 0, 0]
TRUTH = [1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 0, 1]


@settings(max_examples=30 if SANITIZED else 300, deadline=None)
@given(st.lists(st.tuples(st.booleans(), st.booleans(), st.booleans()), min_size=1, max_size=300))
def test_metrics_match_reference(rows):
    facet, pred, truth = zip(*rows)
    try:
        expected = post_training_reference(facet, pred, truth)
    except ValueError:
        with raises_exactly(ValueError, DATA_LENGTH):
            analyze(facet, pred, truth)
        return
    except Undefined:
        with raises_exactly(ValueError, NO_FACET):
            analyze(facet, pred, truth)
        return
    assert_matches(analyze(facet, pred, truth), expected)


def test_generalized_entropy_sums_in_double():
    # A long run of equal terms: an f32 running sum would drift; the f64 sum
    # of f32 terms stays within the tolerance.
    rng = np.random.default_rng(5)
    n = 200_000 if SANITIZED else 3_000_000
    facet = rng.integers(0, 2, n)
    pred = rng.integers(0, 2, n)
    truth = rng.integers(0, 2, n)
    r = q.py_model_bias_analyzer(facet, truth, pred, 1, 1, 1)
    assert r["GeneralizedEntropy"] == pytest.approx(float(generalized_entropy(pred, truth)), rel=1e-6)


# ---- guards and errors ----------------------------------------------------


@pytest.mark.parametrize(
    "facet, pred, truth, message",
    [
        ([1, 1, 1], [1, 0, 1], [1, 0, 0], DATA_LENGTH),  # all rows in one facet
        (FACET, PRED, [t if f == 0 else (1 if p == 1 else t) for f, p, t in zip(FACET, PRED, TRUTH)], NO_FACET),
        ([1, 1, 0, 0, 1, 0], [1, 0, 1, 0, 1, 0], [1, 0, 1, 0, 1, 0], NO_FACET),  # predictions exact
        ([1, 1, 0, 0], [1, 1, 1, 0], [1, 0, 1, 0], NO_FACET),  # facet 1 predicts all positive
        ([1, 1, 0, 0], [1, 0, 0, 0], [1, 0, 1, 0], NO_FACET),  # no predicted positive in facet 0
    ],
)
def test_guards(facet, pred, truth, message):
    with raises_exactly(ValueError, message):
        analyze(facet, pred, truth)


def test_labeling_order_prediction_truth_feature():
    bad_value = np.array(["a", "b"])  # any int value is of the wrong kind
    ok = np.array([1, 0])
    overflow = np.array([2**63, 1], dtype=np.uint64)
    # prediction first
    with raises_exactly(*HETEROGENEOUS):
        q.py_model_bias_analyzer(overflow, overflow, bad_value, 1, 1, 1)
    # then ground truth
    with raises_exactly(*HETEROGENEOUS):
        q.py_model_bias_analyzer(overflow, bad_value, ok, 1, 1, 1)
    with pytest.raises(OverflowError):
        q.py_model_bias_analyzer(bad_value, overflow, ok, 1, 1, 1)


@pytest.mark.parametrize(
    "position, value, message",
    [
        (0, [1], "argument 'feature_array': must be numpy.ndarray, not list"),
        (1, None, "argument 'ground_truth_array': must be numpy.ndarray, not None"),
        (2, 3, "argument 'prediction_array': must be numpy.ndarray, not int"),
    ],
)
def test_arrays_required(position, value, message):
    args = [np.array([1, 0]), np.array([1, 0]), np.array([1, 0]), 1, 1, 1]
    args[position] = value
    with raises_exactly(TypeError, message):
        q.py_model_bias_analyzer(*args)


def test_explicit_seg_matches_label_or_threshold():
    f = np.array(FACET, dtype=float) * 10.0
    p = np.array(["y" if x else "n" for x in PRED])
    g = np.array(TRUTH, dtype=np.int32)
    explicit = q.py_model_bias_analyzer_explicit_seg(f, 5.0, None, "GreaterThan", g, 0.5, None, "GreaterThanEqualTo",
                                                     p, None, "y", None)
    assert_matches(explicit, post_training_reference(FACET, PRED, TRUTH))
    assert q.py_model_bias_analyzer_explicit_seg.__text_signature__ == (
        "(feature_array, feat_segmentation_threshold, feat_segmentation_label, feat_threshold_type, "
        "ground_truth_array, gt_segmentation_threshold, gt_segmentation_label, gt_threshold_type, "
        "prediction_array, pred_segmentation_threshold, pred_segmentation_label, pred_threshold_type)")
    assert q.py_model_bias_analyzer.__text_signature__ == (
        "(feature_array, ground_truth_array, prediction_array, feature_label_or_threshold, "
        "ground_truth_label_or_threshold, prediction_label_or_threshold)")


def test_explicit_seg_order_feature_truth_prediction():
    ok = (np.array([1.0, 2.0]), 1.5, None, "GreaterThan")
    bad = (np.array([1.0, 2.0]), None, None, None)
    for bad_at in range(3):
        groups = [ok, ok, ok]
        groups[bad_at] = bad
        with raises_exactly(ValueError, CONFIG):
            q.py_model_bias_analyzer_explicit_seg(*groups[0], *groups[1], *groups[2])
    with raises_exactly(TypeError, "argument 'pred_threshold_type': must be str, not float"):
        q.py_model_bias_analyzer_explicit_seg(*ok, *ok, np.array([1.0]), 1.0, None, 2.0)


def test_mixed_element_types():
    # Object arrays (read through the interpreter) mixed with buffers.
    f = np.array(["a" if x else "b" for x in FACET], dtype=object)
    p = np.array(PRED, dtype=bool)
    g = np.array(TRUTH, dtype=np.float32)
    r = q.py_model_bias_analyzer(f, g, p, "a", 1.0, True)
    assert_matches(r, post_training_reference(FACET, PRED, TRUTH))


def test_object_array_values_run_python_code_safely():
    # A value whose conversion frees the storage of an array labeled
    # before it: those labels were taken first, so nothing dangles.
    feature = np.array(FACET, dtype=np.int64)
    truth = np.array(TRUTH, dtype=np.int64)

    class Sneaky:
        def __init__(self, v):
            self.v = v

        def __float__(self):
            truth.resize(0, refcheck=False)
            feature.resize(0, refcheck=False)
            return float(self.v)

    pred = np.array([Sneaky(x) for x in PRED], dtype=object)
    # Explicit segmentation labels the feature, the truth, then the
    # object array.
    r = q.py_model_bias_analyzer_explicit_seg(feature, 0.5, None, "GreaterThan", truth, 0.5, None,
                                              "GreaterThan", pred, 0.5, None, "GreaterThan")
    assert_matches(r, post_training_reference(FACET, PRED, TRUTH))


@pytest.mark.parametrize(
    "args, error",
    [
        ((np.array([1, 0, 1]), np.array([1, 0]), np.array([1, 0, 1]), 1, 1, 1), LENGTH),
        ((np.array([1, 0]), np.array([1, 0]), np.array([1, 0, 1]), 1, 1, 1), LENGTH),
        ((np.array([], dtype=int), np.array([], dtype=int), np.array([], dtype=int), 1, 1, 1), LENGTH),
        ((np.array([1, 1]), np.array([1, 0]), np.array([1, 0]), 1, 1, 1), LENGTH),
        ((np.array(FACET), np.array(TRUTH), np.array(PRED), "x", 1, 1), HETEROGENEOUS),
        ((np.array(FACET, dtype=object), np.array(TRUTH), np.array(PRED), 1, 1, 1), None),
        ((np.array(FACET), np.array(TRUTH), np.array(PRED), 1, 1, 1), None),
    ],
)
def test_lengths_and_no_leaks(args, error):
    if error:
        with raises_exactly(*error):
            q.py_model_bias_analyzer(*args)
    assert_no_leak(q.py_model_bias_analyzer, *args)
