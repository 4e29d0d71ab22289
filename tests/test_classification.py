"""py_model_perf_classification against a plain NumPy reference."""

from __future__ import annotations

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from quorvant import py_model_perf_classification as classification
from support import SANITIZED, assert_no_leak, raises_exactly

NAMES = ["BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
         "RecallNegative", "Accuracy", "F1Score"]


def metrics_from_counts(tp: int, fp: int, tn: int, fn: int) -> dict[str, float]:
    """The seven formulas in f32, integer sums of counts converted once."""
    f = np.float32
    with np.errstate(divide="ignore", invalid="ignore"):
        pp, pn = f(tp) / f(tp + fp), f(tn) / f(tn + fn)
        rp, rn = f(tp) / f(tp + fn), f(tn) / f(tn + fp)
        return {
            "BalancedAccuracy": float((rp + rn) * f(0.5)),
            "PrecisionPositive": float(pp),
            "PrecisionNegative": float(pn),
            "RecallPositive": float(rp),
            "RecallNegative": float(rn),
            "Accuracy": float(f(tp + tn) / f(tn + (fn + (tp + fp)))),
            "F1Score": float(((rp + rp) * pp) / (rp + pp)),
        }


def reference(y_true, y_pred) -> dict[str, float]:
    # Values through the float protocol, narrowed to f32; positive = exactly 1.
    t = np.array([float(v) for v in np.asarray(y_true).ravel()], dtype=np.float64).astype(np.float32) == 1
    p = np.array([float(v) for v in np.asarray(y_pred).ravel()], dtype=np.float64).astype(np.float32) == 1
    return metrics_from_counts(int(np.sum(t & p)), int(np.sum(~t & p)), int(np.sum(~t & ~p)), int(np.sum(t & ~p)))


def assert_same(got: dict, want: dict):
    assert set(got) == set(NAMES)
    for k in NAMES:
        assert np.float64(got[k]).tobytes() == np.float64(want[k]).tobytes() or (np.isnan(got[k]) and np.isnan(want[k])), k


LABELS = st.sampled_from([0, 1, 1, 2, -1, 0.5, 1.0 + 2.0**-25, 1.0 - 2.0**-24, np.nan, np.inf, -0.0])


@st.composite
def pairs(draw):
    n = draw(st.integers(0, 80))
    dtypes = [np.float64, np.float32, np.int64, np.int32, np.int16, np.int8, np.uint64, np.uint32, np.uint8]
    arrays = []
    for _ in range(2):
        dtype = draw(st.sampled_from(dtypes))
        if np.issubdtype(dtype, np.floating):
            arr = np.array(draw(st.lists(LABELS, min_size=n, max_size=n)), dtype=np.float64).astype(dtype)
        else:
            arr = draw(hnp.arrays(dtype, n, elements=st.sampled_from([0, 1, 1, 2, 7])))
        arrays.append(arr)
    return arrays


@settings(max_examples=50 if SANITIZED else 200, deadline=None)
@given(pairs())
def test_matches_reference(ab):
    y_true, y_pred = ab
    assert_same(classification(y_true, y_pred), reference(y_true, y_pred))


def layouts(a: np.ndarray):
    """The same values in buffers of other shapes."""
    wide = np.empty(2 * len(a), dtype=a.dtype)
    wide[::2] = a
    return {"contiguous": a, "strided": wide[::2], "reversed": a[::-1].copy()[::-1],
            "unaligned": np.frombuffer(b"\0" + a.tobytes(), dtype=a.dtype, offset=1)}


@pytest.mark.parametrize("layout", ["contiguous", "strided", "reversed", "unaligned"])
@pytest.mark.parametrize("dtype", [np.float64, np.float32, np.int64, np.uint64, np.int8, np.uint16])
def test_every_layout_gives_the_same_result(layout, dtype):
    rng = np.random.default_rng(7)
    y_true = rng.integers(0, 3, 1000).astype(dtype)
    y_pred = rng.integers(0, 3, 1000).astype(dtype)
    want = reference(y_true, y_pred)
    assert_same(classification(layouts(y_true)[layout], layouts(y_pred)[layout]), want)
    assert_same(classification(layouts(y_true)[layout], y_pred.astype(np.float32)), want)


def test_known_values_and_nan_rules():
    got = classification(np.array([1, 0, 1, 1]), np.array([1.0, 0.0, 0.0, 1.0]))
    assert got["Accuracy"] == 0.75 and got["PrecisionPositive"] == 1.0
    assert got["F1Score"] == float(np.float32(0.8))
    # No positive prediction: precision and F1 are 0/0.
    got = classification(np.array([1.0, 0.0]), np.array([0.7, 0.2]))
    assert np.isnan(got["PrecisionPositive"]) and np.isnan(got["F1Score"]) and got["Accuracy"] == 0.5
    # Empty input is no error: every ratio is 0/0.
    assert all(np.isnan(v) for v in classification(np.array([]), np.array([], dtype=np.int64)).values())


def test_counts_stay_exact_past_2_to_the_24():
    # A float counter would stop at 2**24 true positives.
    n = 2**24 + 10
    y_true = np.broadcast_to(np.int8(1), (n,))  # zero stride: no memory
    y_pred = np.ones(n, dtype=np.int8)
    y_pred[:3] = 0
    assert_same(classification(y_true, y_pred), metrics_from_counts(n - 3, 0, 0, 3))


@pytest.mark.parametrize(
    "y_true, y_pred, exc, msg",
    [
        ([1, 0], np.array([1, 0]), TypeError, "argument 'y_true_src': must be numpy.ndarray, not list"),
        (np.array([1, 0]), (1, 0), TypeError, "argument 'y_pred_src': must be numpy.ndarray, not tuple"),
        (np.array([True, False]), np.array([1, 0]), TypeError, "UnSupportedType"),
        (np.array(["1", "0"]), np.array([1, 0]), TypeError, "UnSupportedType"),
        # The truths are converted first: their error wins.
        (np.array([1, 0], dtype=np.float16), np.array([True]), TypeError, "UnSupportedType"),
        (np.array([1.0, 0.0, 1.0]), np.array([1.0, 0.0, 1.0, 0.0]), ValueError, "Data vectors must be equal length"),
        (np.array([]), np.array([1.0]), ValueError, "Data vectors must be equal length"),
    ],
)
def test_bad_input(y_true, y_pred, exc, msg):
    with raises_exactly(exc, msg):
        classification(y_true, y_pred)


@pytest.mark.parametrize("dtype", [object, ">f8", np.float16, np.complex64, "M8[s]"])
def test_element_types_other_than_native_int_or_float_are_refused(dtype):
    with raises_exactly(TypeError, "UnSupportedType"):
        classification(np.ones(3).astype(dtype), np.ones(3))


def test_unconvertible_elements_raise_the_protocol_error():
    # A 2-D array is iterated by rows, which the float protocol refuses.
    with pytest.raises(TypeError, match="only 0-dimensional arrays|only length-1 arrays"):
        classification(np.ones((2, 2)), np.ones(2))
    with pytest.raises(TypeError, match="unsized"):
        classification(np.ones(2), np.array(1.0))
    with pytest.raises(TypeError, match="missing required argument 'y_pred_src'"):
        classification(np.ones(1))


def test_keywords_and_no_leaks():
    a = np.array([1.0, 0.0, 1.0])
    assert classification(y_pred_src=a, y_true_src=a)["Accuracy"] == 1.0
    assert_no_leak(classification, a, np.array([1.0]))
    assert_no_leak(classification, np.ones((2, 2)), a)
    assert_no_leak(classification, a, a)
