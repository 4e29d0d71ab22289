import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvant as q
from support import assert_no_leak, raises_exactly

NAMES = [
    "RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "RSquared",
    "MaxError", "MeanSquaredLogError", "RootMeanSquaredLogError", "MeanAbsolutePercentageError",
]


def reference(y_true, y_pred):
    """The metrics in NumPy: inputs narrowed to f32, sums in f64 in index order."""
    y = np.asarray(y_true, dtype=np.float64).astype(np.float32).astype(np.float64)
    p = np.asarray(y_pred, dtype=np.float64).astype(np.float32).astype(np.float64)
    n = float(len(y))

    def seq(values):  # in-order f64 sum, like the accumulator
        total = 0.0
        for v in values:
            total += v
        return total

    e = y - p
    a = np.abs(e)
    with np.errstate(all="ignore"):
        d = np.log(y + 1.0) - np.log(p + 1.0)
        ape = np.abs(a / y)
    mse = seq(e * e) / n
    msle = seq(d * d) / n
    yy, pp, yp, ys = seq(y * y), seq(p * p), seq(y * p), seq(y)
    ssr = pp + (yy - 2.0 * yp)
    sst = yy - ys * ys / n
    r2 = (1.0 if ssr == 0.0 else 0.0) if sst == 0.0 else 1.0 - ssr / sst
    finite = a[~np.isnan(a)]
    with np.errstate(over="ignore"):
        return {
            "RootMeanSquaredError": np.float32(mse ** 0.5),
            "MeanSquaredError": np.float32(mse),
            "MeanAbsoluteError": np.float32(seq(a) / n),
            "RSquared": np.float32(r2),
            "MaxError": np.float32(max(finite.max(initial=0.0), 0.0)),
            "MeanSquaredLogError": np.float32(msle),
            "RootMeanSquaredLogError": np.float32(msle ** 0.5),
            "MeanAbsolutePercentageError": np.float32(seq(ape) / n),
        }


def assert_same(got, want):
    assert set(got) == set(NAMES)
    for k in NAMES:
        assert np.float32(got[k]).tobytes() == np.float32(want[k]).tobytes() or (
            np.isnan(got[k]) and np.isnan(want[k])
        ), (k, got[k], want[k])


def test_known_values_and_result_shape():
    got = q.py_model_perf_linear_regression(np.array([3, -0.5, 2, 7.0]), np.array([2.5, 0.0, 2, 8.0]))
    assert list(got) == NAMES and all(type(v) is float for v in got.values())
    assert got["MeanSquaredError"] == 0.375
    assert got["MeanAbsoluteError"] == 0.5
    assert got["MaxError"] == 1.0
    assert got["RSquared"] == float(np.float32(1 - 1.5 / 29.1875))
    assert_no_leak(q.py_model_perf_linear_regression, np.arange(100.0), np.arange(100.0) + 1)


@settings(max_examples=60, deadline=None)
@given(
    st.lists(
        st.tuples(
            st.floats(-5, 1e6, allow_nan=False, width=32),
            st.floats(-5, 1e6, allow_nan=False, width=32),
        ),
        min_size=1,
        max_size=40,
    )
)
def test_matches_reference(pairs):
    y, p = (np.array(v, dtype=np.float32) for v in zip(*pairs))
    assert_same(q.py_model_perf_linear_regression(y, p), reference(y, p))


@pytest.mark.parametrize(
    "y, p, checks",
    [
        # identical arrays: every error 0, R^2 1
        ([1.0, 2.0, 3.0], [1.0, 2.0, 3.0], {"MeanSquaredError": 0.0, "MaxError": 0.0, "RSquared": 1.0}),
        # constant truths, different predictions: SST is exactly 0
        ([2.0, 2.0], [1.0, 3.0], {"RSquared": 0.0}),
        ([2.0, 2.0], [2.0, 2.0], {"RSquared": 1.0}),
        # truth 0 with a different prediction: MAPE is +inf; with an equal one NaN
        ([0.0, 1.0], [1.0, 1.0], {"MeanAbsolutePercentageError": np.inf}),
        ([0.0, 1.0], [0.0, 1.0], {"MeanAbsolutePercentageError": np.nan}),
        # below -1: the log metrics are NaN, the rest unaffected
        ([-2.0, 1.0], [0.0, 1.0], {"MeanSquaredLogError": np.nan, "RootMeanSquaredLogError": np.nan, "MeanSquaredError": 2.0}),
        # NaN pair: sums NaN, MaxError over the others
        ([np.nan, 1.0, 5.0], [0.0, 3.0, 5.0], {"MeanSquaredError": np.nan, "MaxError": 2.0}),
    ],
)
def test_edge_values(y, p, checks):
    got = q.py_model_perf_linear_regression(np.array(y), np.array(p))
    for k, v in checks.items():
        if np.isnan(v):
            assert np.isnan(got[k]), k
        else:
            assert got[k] == v, k


def test_dtypes_and_strides_agree():
    rng = np.random.default_rng(1)
    y = rng.normal(size=301) * 10
    p = y + rng.normal(size=301)
    want = q.py_model_perf_linear_regression(y, p)
    for conv in (
        lambda a: a.astype(np.float32),
        lambda a: np.repeat(a, 2)[::2],  # strided
        lambda a: a.astype(object),  # generic path
        lambda a: a.astype(">f8"),  # byte-swapped: not a float array
    ):
        try:
            got = q.py_model_perf_linear_regression(conv(y), conv(p))
        except ValueError as exc:
            assert str(exc) == "Invalid types passed"
            continue
        assert_same(got, want)
    ints = np.array([1, 2, 3, 2**40], dtype=np.int64)
    assert_same(
        q.py_model_perf_linear_regression(ints, ints.astype(np.uint64)),
        q.py_model_perf_linear_regression(ints.astype(np.float64), ints.astype(np.float64)),
    )


@pytest.mark.parametrize(
    "y, p, exc, msg",
    [
        ([1.0], [1.0], TypeError, "argument 'y_true_src': must be numpy.ndarray, not list"),
        (np.array([1.0]), (1.0,), TypeError, "argument 'y_pred_src': must be numpy.ndarray, not tuple"),
        (np.array([True]), np.array([1.0]), ValueError, "Invalid types passed"),
        (np.array(["a"]), np.array([1.0]), ValueError, "Invalid types passed"),
        (np.array(1.0), np.array([1.0]), ValueError, "Invalid types passed"),
        (np.array([[1.0, 2.0]]), np.array([1.0]), ValueError, "Invalid types passed"),
        (np.array([1.0, 2.0, 3.0]), np.array([1.0]), ValueError, "Data vectors must be equal length"),
        (np.array([]), np.array([1.0, 2.0, 3.0]), ValueError, "Data vectors must be equal length"),
        (np.array([]), np.array([]), ValueError, "Empty data vectors"),
    ],
)
def test_bad_input(y, p, exc, msg):
    y_arr = np.asarray(y) if isinstance(y, np.ndarray) else y
    with raises_exactly(exc, msg):
        q.py_model_perf_linear_regression(y_arr, p)
    assert_no_leak(q.py_model_perf_linear_regression, y_arr, p, rounds=300)
