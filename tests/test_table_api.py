"""The table-level API against the native faces called by hand on NumPy arrays."""

from __future__ import annotations

import doctest
import math
import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvant as q
from quorvant import _bias, _drift, _inputs, _performance

pd = pytest.importorskip("pandas")
pl = pytest.importorskip("polars")
pa = pytest.importorskip("pyarrow")

ALL = list(_drift.DRIFT_METRICS)


def same(a: float, b: float) -> bool:
    """Bit-for-bit equality of two floats (NaN equal to NaN)."""
    return np.float64(a).tobytes() == np.float64(b).tobytes()


def frame_data(n: int = 600, seed: int = 0, shift: float = 0.0) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(seed)
    x = rng.normal(shift, 1.0, n)
    return {
        "x": x,
        "k": rng.integers(0, 1000, n),
        "city": rng.choice(["ams", "ber", "cph", "dub"], n, p=[0.4, 0.3, 0.2, 0.1]),
        "flag": rng.random(n) < 0.3 + shift / 10,
        "y": (x + rng.normal(0, 1, n) > 0).astype(np.int64),
        "p": (x > 0.1).astype(np.int64),
    }


def with_missing(d: dict[str, np.ndarray], seed: int) -> dict[str, object]:
    """The same data with some missing values in x and city."""
    rng = np.random.default_rng(seed)
    n = len(d["x"])
    x = d["x"].copy()
    x[rng.random(n) < 0.05] = np.nan
    city = d["city"].astype(object)
    city[rng.random(n) < 0.05] = None
    return {**d, "x": x, "city": city}


BACKENDS = {
    "pandas": pd.DataFrame,
    "pandas_arrow": lambda d: pd.DataFrame(d).convert_dtypes(dtype_backend="pyarrow"),
    "pandas_nullable": lambda d: pd.DataFrame(d).convert_dtypes().astype({"city": "category"}),
    "polars": lambda d: pl.DataFrame({k: (list(v) if v.dtype == object else v) for k, v in d.items()}),
    "arrow": lambda d: pa.table({k: pa.array(v, from_pandas=True) for k, v in d.items()}),
    "dict": dict,
}


def present(v):
    v = np.asarray(v, dtype=object)
    keep = np.array([not (x is None or (isinstance(x, float) and math.isnan(x))) for x in v])
    return v[keep]


# ---------------------------------------------------------------------------
# Drift


@pytest.mark.parametrize("backend", BACKENDS.values(), ids=BACKENDS)
def test_drift_equals_the_native_faces_on_every_backend(backend):
    ref_d, cur_d = with_missing(frame_data(seed=1), 2), with_missing(frame_data(seed=3, shift=0.5), 4)
    result = q.drift(backend(ref_d), backend(cur_d), columns=["x", "k", "city", "flag"])
    rows = {r["column"]: r for r in result.to_dicts()}
    # Continuous columns: the one-shot function on the present values.
    for name in ("x", "k"):
        r = present(ref_d[name]).astype(np.float64)
        c = present(cur_d[name]).astype(np.float64)
        expected = q.py_compute_drift_continuous_distribtuion(r, c, ALL, None)
        assert rows[name]["kind"] == "continuous"
        assert all(same(rows[name][m], e) for m, e in zip(ALL, expected))
        assert rows[name]["reference_missing"] == len(ref_d[name]) - len(r)
        assert rows[name]["current_rows"] == len(c)
    # Categorical columns: the one-shot function on lists of labels.
    for name, to_label in (("city", str), ("flag", lambda b: str(bool(b)))):
        r = [to_label(v) for v in present(ref_d[name])]
        c = [to_label(v) for v in present(cur_d[name])]
        expected = q.py_compute_drift_categorical_distribtuion(r, c, ALL)
        assert rows[name]["kind"] == "categorical"
        assert all(same(rows[name][m], e) for m, e in zip(ALL, expected))
        assert rows[name]["current_missing"] == len(cur_d[name]) - len(c)


@pytest.mark.parametrize("rule", [None, "Sturges", "Scott"])
def test_histograms_are_the_bins_behind_the_scores(rule):
    d0, d1 = frame_data(seed=5), frame_data(seed=6, shift=1.0)
    result = q.drift(d0, d1, columns=["x", "city"], bins=rule)
    h = result.histograms["x"]
    batch = q.PyContinuousDataDrift(d0["x"], rule)
    assert h.reference == batch.export_baseline()
    assert h.n_bins == result["x"]["bins"] == batch.num_bins
    assert len(h.edges) == h.n_bins - 2
    assert sum(h.current_counts) == len(d1["x"])
    assert h.current_counts == [float(round(s * len(d1["x"]))) for s in h.current]
    # The histogram alone reproduces a score: Wasserstein is the mean absolute
    # share difference over the inner bins.
    eps = 1e-12
    inner = [abs(max(b + eps, eps) - max(c + eps, eps)) for b, c in zip(h.reference, h.current)][1:-1]
    assert result["x"]["WassersteinDistance"] == pytest.approx(sum(inner) / len(inner), rel=1e-12)
    cat = result.histograms["city"]
    assert cat.labels == ["ams", "ber", "cph", "dub", None]
    assert cat.current_counts == [float(np.sum(d1["city"] == c)) for c in cat.labels[:-1]] + [0.0]
    assert cat.reference[:-1] == [np.sum(d0["city"] == c) / len(d0["city"]) for c in cat.labels[:-1]]


def test_unseen_labels_land_in_the_last_bin():
    result = q.drift({"c": ["a", "b", "b"]}, {"c": ["a", "z", "z", "y"]})
    h = result.histograms["c"]
    assert h.labels == ["a", "b", None] and h.current_counts == [1.0, 0.0, 3.0]
    assert h.current == [0.25, 0.0, 0.75]


def test_kind_follows_the_native_heuristic():
    # 1000 rows: 50 distinct values is discrete (ratio 0.05), 51 continuous.
    rng = np.random.default_rng(0)
    for k, kind in ((50, "categorical"), (51, "continuous"), (3, "categorical")):
        x = rng.permutation(np.resize(np.arange(k, dtype=np.float64), 1000))
        assert q.drift({"x": x}, {"x": x})["x"]["kind"] == kind
        # The native labeling agrees: a discrete array takes the value as a label (equality), a continuous one as a
        # threshold.
        gt = np.arange(1000) % 2
        by_label = q.py_data_bias_analyzer(x, gt, 2.0, 1)
        by_eq = q.py_data_bias_analyzer_explicit_seg(
            (x == 2.0).astype(np.uint8), 1.0, None, "GreaterThanEqualTo", gt, 1.0, None, "GreaterThanEqualTo")
        assert (by_label == by_eq) == (kind == "categorical")


@pytest.mark.parametrize(("text", "value"), [
    ("0.1", np.float32(0.1)), (" 0.1", None), ("1e-3", np.float32(1e-3)), ("+.5", np.float32(0.5)),
    ("INF", np.float32(np.inf)), ("-Infinity", np.float32(-np.inf)), ("1_0", None), ("abc", None),
    ("3.4028235677973366e38", np.float32(3.4028235e38)), ("1e39", np.float32(np.inf)), ("5.", np.float32(5)),
])
def test_heuristic_text_is_read_as_the_native_reader_does(text, value):
    got = _inputs._parse_f32(text)
    assert (got is None) == (value is None)
    if value is not None:
        assert got.tobytes() == np.float32(value).tobytes()


@given(st.floats(min_value=1e-30, max_value=1e30).map(lambda v: f"{v:.17g}"))
@settings(max_examples=200)
def test_heuristic_decimal_rounds_once_to_32_bits(text):
    from fractions import Fraction

    got = _inputs._parse_f32(text)
    exact = Fraction(text)
    below, above = np.nextafter(got, np.float32(0)), np.nextafter(got, np.float32(np.inf))
    err = abs(Fraction(float(got)) - exact)
    assert err <= abs(Fraction(float(below)) - exact) and err <= abs(Fraction(float(above)) - exact)


def test_bad_columns_get_error_entries_and_the_rest_is_scored():
    ref = {"ok": np.arange(100.0), "empty": [None] * 100, "one": [1.0] + [None] * 99, "const": np.ones(100),
           "inf": np.r_[np.arange(99.0), np.inf], "lab": ["a"] * 100}
    cur = {k: np.arange(100.0) if k != "lab" else ["b"] * 100 for k in ref}
    cur["empty"] = np.arange(100.0)
    result = q.drift(ref, cur)
    errors = result.errors
    assert set(errors) == {"empty", "one", "const", "inf", "lab"}
    assert "one distinct value" in errors["one"] and "one distinct value" in errors["const"]
    assert "at least 2" in q.drift(ref, cur, columns=["one"], continuous=["one"]).errors["one"]
    assert result["ok"]["error"] is None and result["ok"]["drifted"] is False
    assert result["empty"]["drifted"] is None and "empty" not in result.histograms
    # Naming a constant column scores it: a constant that moved is drift.
    forced = q.drift(ref, cur, columns=["lab"], categorical=["lab"])
    assert forced["lab"]["drifted"] is True


@pytest.mark.parametrize(("ref", "cur", "kwargs", "message"), [
    ({"a": [1.0, 2.0]}, {"b": [1.0, 2.0]}, {}, "different columns"),
    ({"a": [1.0, 2.0]}, {"a": [1.0, 2.0]}, {"columns": ["zz"]}, "no column 'zz'"),
    ({"a": []}, {"a": [1.0]}, {}, "no rows"),
    ({"a": np.array(["2020-01-01"], dtype="datetime64[D]")}, {"a": [1.0]}, {}, "dates and times"),
    ({"a": [[1, 2], [3]]}, {"a": [1.0, 2.0]}, {}, "nested lists"),
    ({"a": ["x", "y"]}, {"a": [1.0, 2.0]}, {}, "text values in reference but numeric"),
    ({"a": [1.0, None]}, {"a": [1.0, 2.0]}, {"missing": "error"}, "missing values"),
    ({"a": [1.0, 2.0]}, {"a": [1.0, 2.0]}, {"metrics": ["JS"]}, "unknown ['JS']"),
    ({"a": [1.0, 2.0]}, {"a": [1.0, 2.0]}, {"bins": "sturges"}, "bins must be"),
    ({"a": [1.0, 2.0]}, {"a": [1.0, 2.0]}, {"thresholds": {"KL": 1}}, "not among the metrics"),
])
def test_drift_refuses_bad_input_naming_what_to_do(ref, cur, kwargs, message):
    with pytest.raises((ValueError, TypeError), match=re.escape(message)):
        q.drift(ref, cur, **kwargs)


def test_threads_give_the_same_result_as_one():
    d0, d1 = frame_data(seed=7), frame_data(seed=8, shift=0.3)
    assert q.drift(d0, d1, n_jobs=1).to_dicts() == q.drift(d0, d1, n_jobs=4).to_dicts()


# ---------------------------------------------------------------------------
# Bias


def bias_frame(n=400, seed=0):
    rng = np.random.default_rng(seed)
    return {
        "sex": rng.choice(["f", "m"], n),
        "age": rng.integers(18, 80, n).astype(np.float64),
        "kids": rng.integers(0, 3, n),
        "y": rng.integers(0, 2, n),
        "score": rng.random(n),
    }


@pytest.mark.parametrize("backend", [BACKENDS[k] for k in ("pandas", "pandas_arrow", "polars", "arrow", "dict")],
                         ids=["pandas", "pandas_arrow", "polars", "arrow", "dict"])
def test_bias_equals_the_explicit_faces(backend):
    d = bias_frame()
    data = backend(d)
    result = q.bias(data, facet={"sex": q.Label("f"), "age": q.AtLeast(50), "kids": q.Label(2)},
                    label="y", prediction={"score": q.AtLeast(0.5)})
    rows = result.to_dicts()
    gt = (d["y"].astype(np.uint8), 1.0, None, "GreaterThanEqualTo")
    pred = (d["score"], 0.5, None, "GreaterThanEqualTo")
    feats = [(d["sex"].astype(object), None, "f", None), (d["age"], 50.0, None, "GreaterThanEqualTo"),
             ((d["kids"] == 2).astype(np.uint8), 1.0, None, "GreaterThanEqualTo")]
    for row, f in zip(rows, feats):
        expected = q.py_model_bias_analyzer_explicit_seg(*f, *gt, *pred)
        assert not row["undefined"]
        assert all(same(row[m], expected[m]) for m in _bias.POST_TRAINING)
    pre = q.bias(data, facet={"sex": "m"}, label={"y": q.Label(1)})[0]
    expected = q.py_data_bias_analyzer_explicit_seg(d["sex"].astype(object), None, "m", None, *gt)
    assert all(same(pre[m], expected[m]) for m in _bias.PRE_TRAINING)


def test_a_label_on_numbers_means_equality_at_any_row_count():
    # 50.0 among few distinct values and among many: Label is equality both times.
    for n in (400, 20_000):
        age = np.resize(np.arange(20.0, 80.0), n)
        y = np.arange(n) % 2
        row = q.bias({"age": age, "y": y}, facet={"age": q.Label(50.0)}, label="y")[0]
        assert row["facet_rows"] == np.count_nonzero(age == 50.0)


def test_missing_rows_are_dropped_from_every_column():
    d = bias_frame(200, 3)
    sex = d["sex"].astype(object)
    sex[:10] = None
    y = d["y"].astype(np.float64)
    y[5:15] = np.nan
    row = q.bias({"sex": sex, "y": y}, facet={"sex": "f"}, label="y")[0]
    assert row["missing"] == 15 and row["rows"] == 185
    keep = np.ones(200, bool)
    keep[:15] = False
    expected = q.py_data_bias_analyzer_explicit_seg(sex[keep], None, "f", None, y[keep], 1.0, None,
                                                    "GreaterThanEqualTo")
    assert all(same(row[m], expected[m]) for m in _bias.PRE_TRAINING)
    with pytest.raises(ValueError, match="missing values"):
        q.bias({"sex": sex, "y": y}, facet={"sex": "f"}, label="y", missing="error")


def test_undefined_metrics_are_nan_with_reasons_and_the_rest_computed():
    # Predictions equal truths: no false positive anywhere, which makes the
    # native analyzer refuse the whole call.
    d = bias_frame(300, 4)
    data = {"sex": d["sex"], "y": d["y"], "p": d["y"]}
    with pytest.raises(ValueError, match="No deviation"):
        q.py_model_bias_analyzer_explicit_seg(d["sex"].astype(object), None, "f", None,
                                              d["y"].astype(float), 0.5, None, "GreaterThan",
                                              d["y"].astype(float), 0.5, None, "GreaterThan")
    row = q.bias(data, facet={"sex": "f"}, label="y", prediction="p")[0]
    assert math.isnan(row["TreatmentEquity"]) and "false positive" in row["undefined"]["TreatmentEquity"]
    assert row["AccuracyDifference"] == 0.0 and row["RecallDifference"] == 0.0
    assert set(row["undefined"]) == {"TreatmentEquity"}
    empty = q.bias(data, facet={"sex": "x"}, label="y", prediction="p")[0]
    assert empty["facet_rows"] == 0 and all(math.isnan(empty[m]) for m in _bias.POST_TRAINING)
    assert empty["undefined"]["DisparateImpact"] == "no row is in the facet"


counts = st.integers(min_value=0, max_value=2000)


@given(st.tuples(*[counts] * 8))
@settings(max_examples=300, deadline=None)
def test_python_post_training_values_equal_the_native_analyzer(c):
    """Python post-training metrics (used where the native analyzer refuses) equal it bit for bit where it accepts."""
    names = ("tn0", "fn0", "fp0", "tp0", "tn1", "fn1", "fp1", "tp1")
    code = np.repeat(np.arange(8), c)
    f, p, g = (code >> 2) & 1, (code >> 1) & 1, code & 1
    counts_ = dict(zip(names, c))
    mine = _bias.post_training_values(counts_)
    try:
        native_ = q.py_model_bias_analyzer_explicit_seg(*(a for m in (f, g, p) for a in _bias.mask_args(m.astype(bool))))
    except ValueError:
        assert _bias.undefined_post_training(counts_)
        return
    assert not _bias.undefined_post_training(counts_)
    assert all(same(mine[m], native_[m]) for m in _bias.POST_TRAINING)


@pytest.mark.parametrize(("kwargs", "error", "message"), [
    ({"facet": {"age": 50}}, TypeError, "Label\\(50\\) for rows equal to it, AtLeast\\(50\\)"),
    ({"facet": {"sex": q.AtLeast(1)}}, TypeError, "holds text"),
    ({"facet": {"age": q.Label("50")}}, TypeError, "never matches"),
    ({"facet": "age"}, ValueError, "many distinct numbers"),
    ({"facet": {"sex": "f"}, "label": "score"}, ValueError, "other than 0 and 1"),
    ({"facet": {"nope": "f"}}, ValueError, "no column 'nope'"),
])
def test_bias_refuses_ambiguous_values(kwargs, error, message):
    args = {"label": "y", **kwargs}
    with pytest.raises(error, match=message):
        q.bias(bias_frame(), **args)


def test_one_row_per_facet_value():
    result = q.bias(bias_frame(), facet=["sex", "kids"], label="y")
    assert [(r["facet"], r["value"]) for r in result] == [
        ("sex", "== 'f'"), ("sex", "== 'm'"), ("kids", "== 0"), ("kids", "== 1"), ("kids", "== 2")]


# ---------------------------------------------------------------------------
# Performance and checks


@pytest.mark.parametrize("backend", [np.asarray, pd.Series, pl.Series, pa.array, list], ids=str)
def test_performance_equals_the_native_functions(backend):
    rng = np.random.default_rng(9)
    y = rng.integers(0, 2, 500)
    s = rng.random(500)
    yhat = (s > 0.4).astype(np.int64)
    assert q.performance(backend(y), backend(yhat)).metrics == q.py_model_perf_classification(y, yhat)
    assert q.performance(backend(y), backend(s), "logistic", threshold=0.3).metrics == \
        q.py_model_perf_logistic_regression(y, s, 0.3)
    r = rng.normal(size=500)
    got = q.performance(backend(r), backend(r + s), "regression").metrics
    want = q.py_model_perf_linear_regression(r, r + s)
    assert got.keys() == want.keys() and all(same(got[k], want[k]) for k in want)


def test_performance_with_nullable_columns_and_named_positive():
    df = pd.DataFrame({"t": pd.array([1, 0, None, 1, 0], dtype="Int64"),
                       "p": pd.array([True, False, True, None, True], dtype="boolean"),
                       "lab": ["yes", "no", "yes", "no", "no"]})
    r = q.performance("t", "p", data=df)
    assert (r.rows, r.missing) == (3, 2)
    assert r.metrics == q.py_model_perf_classification(np.array([1, 0, 0]), np.array([1, 0, 1]))
    named = q.performance(df["lab"], ["yes", "yes", "no", "no", "no"], positive="yes")
    assert named["Accuracy"] == np.float32(0.6)
    with pytest.raises(ValueError, match="0/1 or booleans"):
        q.performance([0.0, 0.5, 1.0], [0, 1, 1])
    with pytest.raises(ValueError, match="differ in length"):
        q.performance([0, 1], [0, 1, 1])


def test_check_uses_the_native_runtime_checks():
    base = {"Accuracy": 0.9, "BalancedAccuracy": 0.9, "PrecisionPositive": 0.9, "PrecisionNegative": 0.9,
            "RecallPositive": 0.9, "RecallNegative": 0.9, "F1Score": 0.9}
    late = {**base, "Accuracy": 0.81}
    result = q.check(base, late, family="classification")
    assert not result.passed and result.failures == {"Accuracy": q.py_model_perf_class_rt_full(base, late)[
        "failed_report"][0]["drift"]}
    assert q.check(base, late, family="classification", metrics=["F1Score"]).passed
    with pytest.raises(ValueError, match="name the family"):
        q.check(base, late)
    with pytest.raises(ValueError, match="no value for"):
        q.check({"Accuracy": 1.0}, late, family="classification")
    d0, d1 = bias_frame(seed=1), bias_frame(seed=2)
    b0 = q.bias(d0, facet="sex", label="y")
    b1 = q.bias(d1, facet="sex", label="y")
    grouped = q.check(b0, b1, threshold=0.0)
    assert {r["group"] for r in grouped} == {"sex == 'f'", "sex == 'm'"}
    single = q.py_data_bias_runtime_check(b0.metrics_of(0), b1.metrics_of(0), 0.0)
    assert {r["metric"] for r in grouped if r["failed"] and r["group"] == "sex == 'f'"} == \
        {f["metric"] for f in single.get("failed_report", [])}


# ---------------------------------------------------------------------------
# Monitor


def test_monitor_matches_the_native_monitors_fed_by_hand():
    ref, b1, b2 = frame_data(2000, 10), frame_data(700, 11, 0.4), frame_data(500, 12, 0.8)
    m = q.Monitor(pd.DataFrame(ref), target="y", prediction="p", features=["x", "city"],
                  facets={"city": q.Label("ams")})
    m.update(pd.DataFrame(b1))
    m.update(pl.DataFrame({k: list(v) if v.dtype.kind == "U" else v for k, v in b2.items()}))
    report = m.report()
    assert report.rows == 1200
    cur_x = np.concatenate([b1["x"], b2["x"]])
    expected = q.py_compute_drift_continuous_distribtuion(ref["x"], cur_x, ALL, None)
    assert [report.drift["x"][k] for k in ALL] == expected
    cur_c = list(b1["city"]) + list(b2["city"])
    assert [report.drift["city"][k] for k in ALL] == q.py_compute_drift_categorical_distribtuion(
        list(ref["city"]), cur_c, ALL)
    perf = q.PyBinaryClassificationStreaming(ref["y"].astype(np.int32), ref["p"].astype(np.int32))
    for b in (b1, b2):
        perf.push_batch(b["y"].astype(np.int32), b["p"].astype(np.int32))
    snap = perf.performance_snapshot()
    assert {r["metric"]: r["latest"] for r in report.performance} == {k: snap[k] for k in snap}
    bias = q.PyModelBiasStreaming((ref["city"] == "ams").astype(np.int8), ref["p"].astype(np.int8),
                                  ref["y"].astype(np.int8))
    for b in (b1, b2):
        bias.push_batch((b["city"] == "ams").astype(np.int8), b["p"].astype(np.int8), b["y"].astype(np.int8))
    assert report.bias.metrics_of(0) == {k: bias.performance_snapshot()[k] for k in _bias.POST_TRAINING}


def test_a_refused_batch_changes_nothing():
    ref = frame_data(500, 1)
    m = q.Monitor(ref, target="y", prediction="p", features=["x"])
    m.update(frame_data(100, 2))
    before = m.report().to_dicts()
    bad = {**frame_data(100, 3), "p": np.full(100, 0.5)}
    with pytest.raises(ValueError, match="0/1"):
        m.update(bad)
    assert m.report().to_dicts() == before and m.rows == 100


# ---------------------------------------------------------------------------
# Real data sets and the documentation


def test_the_layer_on_scikit_learn_data_sets():
    sklearn = pytest.importorskip("sklearn.datasets")
    diabetes = sklearn.load_diabetes(as_frame=True).frame
    half = len(diabetes) // 2
    drift = q.drift(diabetes.iloc[:half], diabetes.iloc[half:])
    assert len(drift) == diabetes.shape[1] and not drift.errors
    assert drift["sex"]["kind"] == "categorical" and drift["bmi"]["kind"] == "continuous"
    iris = sklearn.load_iris(as_frame=True).frame
    m = q.Monitor(iris.iloc[::2], features=list(iris.columns[:4]))
    m.update(iris.iloc[1::2])
    assert m.report().rows == 75


@pytest.mark.parametrize("module", ["_drift", "_bias", "_performance", "_checks", "monitor"])
def test_docstring_examples_run(module):
    import importlib

    mod = importlib.import_module(f"quorvant.{module}")
    failures, tried = doctest.testmod(mod, optionflags=doctest.ELLIPSIS)
    assert tried > 0 and failures == 0


def test_importing_the_package_loads_the_layer_only_on_first_use():
    import subprocess
    import sys

    from support import child_env

    code = (
        "import sys, quorvant\n"
        "assert 'numpy' not in sys.modules and 'quorvant._drift' not in sys.modules\n"
        "assert callable(quorvant.drift) and 'quorvant._drift' in sys.modules\n"
        "assert 'Monitor' in dir(quorvant) and 'Monitor' in quorvant.__all__\n"
    )
    run = subprocess.run([sys.executable, "-c", code], env=child_env(), capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    with pytest.raises(AttributeError, match="no attribute 'nothing'"):
        q.nothing  # noqa: B018
