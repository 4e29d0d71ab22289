"""Pre-training bias: the seven metrics, the analyzers' errors and order."""

from __future__ import annotations

import ctypes
import ctypes.util
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvant as q
from support import SANITIZED, assert_no_leak, raises_exactly

NO_FACET = "No deviation in behavior between facets"
DATA_LENGTH = "All data arrays must have equal length and be at least lenght 1"
CONFIG = "Invalid bias configuration"
NAMES = ["ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence", "LpNorm",
         "TotalVariationDistance", "KolmogorovSmirnov"]

f32 = np.float32
_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.logf.restype = ctypes.c_float
_libm.logf.argtypes = [ctypes.c_float]


def ln(x):
    """The C library's f32 logarithm, the one the extension calls."""
    return f32(_libm.logf(float(x)))


def pre_training_reference(counts):
    """The seven metrics of (positives a, size a, positives d, size d) in f32."""
    p_a, n_a, p_d, n_d = counts
    one, half = f32(1), f32(0.5)
    with np.errstate(all="ignore"):
        ci = f32(abs(n_a - n_d)) / f32(n_a + n_d)
        qa, qd = f32(p_a) / f32(n_a), f32(p_d) / f32(n_d)
        dpl = qa - qd
        kl = qa * ln(qa / qd) + (one - qa) * ln((one - qa) / (one - qd))
        m = (qa + qd) * half
        js = half * ((qa * ln(qa / m) + (one - qa) * ln((one - qa) / (one - m)))
                     + (qd * ln(qd / m) + (one - qd) * ln((one - qd) / (one - m))))
        dn = (one - qa) + (qd - one)
        lp = np.sqrt(dpl * dpl + dn * dn)
        tvd = half * (abs(dpl) + abs(dn))
        ks = np.fmax(abs(dn), abs(dpl))
    return dict(zip(NAMES, map(float, [ci, dpl, kl, js, lp, tvd, ks])))


def counts_of(facet, truth):
    facet, truth = np.asarray(facet, bool), np.asarray(truth, bool)
    return (int((facet & truth).sum()), int(facet.sum()), int((~facet & truth).sum()), int((~facet).sum()))


def same(a, b):
    return a.keys() == b.keys() and all((math.isnan(a[k]) and math.isnan(b[k])) or a[k] == b[k] for k in a)


def analyze(facet, truth):
    return q.py_data_bias_analyzer(np.asarray(facet, np.int64), np.asarray(truth, np.int64), 1, 1)


# ---- formulas -------------------------------------------------------------


def test_worked_example_half_and_one():
    r = analyze([1, 1, 0, 0], [1, 0, 1, 1])
    assert r["ClassImbalance"] == 0.0
    assert r["DifferenceInProportionOfLabels"] == -0.5
    assert r["LpNorm"] == float(f32(math.sqrt(0.5)))  # 0.70710677
    assert r["TotalVariationDistance"] == 0.5 and r["KolmogorovSmirnov"] == 0.5
    assert r["KlDivergence"] == math.inf  # 0.5 ln 0.5 + 0.5 ln(0.5 / 0)
    assert math.isnan(r["JsDivergence"])  # 0 * ln(0)
    assert same(r, pre_training_reference((1, 2, 2, 2)))


def test_worked_example_all_positive_facet():
    r = analyze([1, 0, 0, 0], [1, 1, 0, 0])
    assert r["ClassImbalance"] == 0.5
    assert r["DifferenceInProportionOfLabels"] == float(f32(1) - f32(1) / f32(3))  # 0.6666666
    assert math.isnan(r["KlDivergence"])
    assert same(r, pre_training_reference((1, 1, 1, 3)))


@settings(max_examples=30 if SANITIZED else 300, deadline=None)
@given(st.lists(st.tuples(st.booleans(), st.booleans()), min_size=2, max_size=300))
def test_metrics_match_reference(rows):
    facet, truth = zip(*rows)
    counts = counts_of(facet, truth)
    if counts[1] == 0 or counts[3] == 0:
        with raises_exactly(ValueError, NO_FACET):
            analyze(facet, truth)
    else:
        assert same(analyze(facet, truth), pre_training_reference(counts))


def test_counts_are_exact_past_two_to_the_24():
    # A float counter stops at 2^24 = 16777216; these facet sizes need more.
    n_d = 3
    n_a = 2**24 + 3
    facet = np.ones(n_a + n_d, dtype=np.int8)
    facet[:n_d] = 0
    truth = np.zeros_like(facet)
    truth[n_d::2] = 1  # positives in facet a
    truth[0] = 1
    counts = counts_of(facet.astype(bool), truth.astype(bool))
    assert counts[1] == n_a
    r = q.py_data_bias_analyzer(facet, truth, 1, 1)
    assert same(r, pre_training_reference(counts))
    assert r["ClassImbalance"] == float(f32(n_a - n_d) / f32(n_a + n_d))


# ---- inputs and errors ----------------------------------------------------


@pytest.mark.parametrize(
    "args, exc, message",
    [
        (([1, 0], np.array([1, 0]), 1, 1), TypeError, "argument 'feature_array': must be numpy.ndarray, not list"),
        ((np.array([1, 0]), (1, 0), 1, 1), TypeError, "argument 'ground_truth_array': must be numpy.ndarray, not tuple"),
        ((np.array([1, 0]), np.array([1, 0, 1]), 1, 1), ValueError, DATA_LENGTH),  # misaligned columns
        ((np.array([], dtype=float), np.array([1.0]), 1.0, 1.0), ValueError, DATA_LENGTH),
        ((np.array([], dtype=float), np.array([], dtype=int), 1.0, 1), ValueError, NO_FACET),
        ((np.array([1, 1]), np.array([1, 0]), 1, 1), ValueError, NO_FACET),
        ((np.array([5.0, 6.0, 7.0, 8.0]), np.array([1, 0, 1, 0]), 100.0, 1), ValueError, NO_FACET),
        ((np.array([5.0, 6.0, 7.0, 8.0]), np.array([1, 0, 1, 0]), math.nan, 1), ValueError, NO_FACET),
        ((np.array(["a", "b"], dtype=object), np.array([1, 0]), 1, 1), TypeError,
         "Data passed in is of hetergeneous types"),
    ],
)
def test_analyzer_errors_and_no_leaks(args, exc, message):
    with raises_exactly(exc, message):
        q.py_data_bias_analyzer(*args)
    assert_no_leak(q.py_data_bias_analyzer, *args, rounds=500)


def test_ground_truth_is_labeled_before_the_feature():
    # Both values are of the wrong kind: the ground truth's error wins,
    # which shows in which reading fails first.
    bad_feature = np.array([2**63, 1], dtype=np.uint64)  # OverflowError when read
    bad_truth = np.array(["a", "b"])  # label of the wrong kind
    with raises_exactly(TypeError, "Data passed in is of hetergeneous types"):
        q.py_data_bias_analyzer(bad_feature, bad_truth, 1, 1)
    with pytest.raises(OverflowError):
        q.py_data_bias_analyzer(bad_feature, bad_truth, 1, "a")


def test_explicit_seg_labels_feature_first():
    with raises_exactly(ValueError, CONFIG):
        q.py_data_bias_analyzer_explicit_seg(np.array([1.0]), 1.0, "a", None, np.array(["a"]), None, None, None)
    # The feature's parameters are all fine; the ground truth's are not.
    with raises_exactly(ValueError, CONFIG):
        q.py_data_bias_analyzer_explicit_seg(np.array([1.0, 2.0]), 1.5, None, "GreaterThan",
                                             np.array([1.0, 2.0]), None, None, None)


@pytest.mark.parametrize(
    "position, value, message",
    [
        (1, "x", "argument 'feat_segmentation_threshold': must be real number, not str"),
        (2, 1.0, "argument 'feat_segmentation_label': must be str, not float"),
        (3, 3, "argument 'feat_threshold_type': must be str, not int"),
        (4, [1.0], "argument 'ground_truth_array': must be numpy.ndarray, not list"),
        (5, "x", "argument 'gt_segmentation_threshold': must be real number, not str"),
        (7, b"GreaterThan", "argument 'gt_threshold_type': must be str, not bytes"),
    ],
)
def test_explicit_seg_argument_types(position, value, message):
    args = [np.array([1.0, 2.0]), 1.5, None, "GreaterThan", np.array([1.0, 2.0]), 1.5, None, "GreaterThan"]
    args[position] = value
    with raises_exactly(TypeError, message):
        q.py_data_bias_analyzer_explicit_seg(*args)


def test_keywords_and_signature():
    f, g = np.array([1, 0, 1, 0]), np.array([1, 1, 0, 0])
    by_keyword = q.py_data_bias_analyzer(ground_truth_label_or_threshold=1, ground_truth_array=g,
                                         feature_array=f, feature_label_or_threshold=1)
    assert by_keyword == q.py_data_bias_analyzer(f, g, 1, 1)
    assert q.py_data_bias_analyzer.__text_signature__ == (
        "(feature_array, ground_truth_array, feature_label_or_threshold, ground_truth_label_or_threshold)")
    assert q.py_data_bias_analyzer_explicit_seg.__text_signature__ == (
        "(feature_array, feat_segmentation_threshold, feat_segmentation_label, feat_threshold_type, "
        "ground_truth_array, gt_segmentation_threshold, gt_segmentation_label, gt_threshold_type)")


def test_success_does_not_leak():
    assert_no_leak(q.py_data_bias_analyzer, np.array(["a", "b", "a"], dtype=object), np.array([1, 0, 0]), "a", 1)
    assert_no_leak(q.py_data_bias_analyzer_explicit_seg, np.array([1.0, 2.0]), 1.5, None, "LessThan",
                   np.array(["y", "n"]), None, "y", None)
