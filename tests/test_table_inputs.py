"""How the table layer reads columns (kind decision, missing values, codes, labels), each against a plain rule."""

from __future__ import annotations

import collections

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvant as q
from quorvant import _drift, _inputs

pd = pytest.importorskip("pandas")
pl = pytest.importorskip("polars")
pa = pytest.importorskip("pyarrow")

ALL = list(_drift.DRIFT_METRICS)
HEURISTICS = [0.05, 0.5, 0.001, 0.95, 0.0, -1.0, 1.0, float("inf"), float("nan")]
#: The default most often, the others for the bound's edges.
COMMON_HEURISTICS = st.one_of(st.just(0.05), st.sampled_from([0.01, 0.2, 0.5]), st.sampled_from(HEURISTICS))


def plain_is_continuous(values: np.ndarray, heuristic: float = 0.05) -> bool:
    """The rule by a full count: bit patterns for floats, every NaN new."""
    if values.dtype.kind == "f":
        nan = np.isnan(values)
        k = int(nan.sum()) + len({v.tobytes() for v in values[~nan]})
    else:
        k = len(set(values.tolist()))
    n = values.shape[0]
    return bool(n >= 4 and k >= 4 and np.float32(k) / np.float32(n) > np.float32(heuristic))


@st.composite
def columns(draw):
    """Columns with k distinct values, often where the rule flips, in shapes that reach every shortcut."""
    n = draw(st.integers(1, 20_000))
    heuristic = draw(COMMON_HEURISTICS)
    bound = _inputs.continuous_bound(n, heuristic) or n
    k = draw(st.one_of(st.integers(1, min(n, 40)), st.integers(bound - 3, bound + 3), st.integers(1, n)))
    k = min(max(k, 1), n)
    dtype = draw(st.sampled_from(["f8", "f4", "i8", "u8", "i4", "i2", "u1"]))
    if dtype == "u1":
        k = min(k, 256)
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    if dtype[0] == "f":
        pool = rng.normal(size=k) if draw(st.booleans()) else rng.choice(10**6, size=k, replace=False).astype(float)
        if k >= 2 and draw(st.booleans()):
            pool[:2] = [0.0, -0.0]
    elif dtype == "u8":
        pool = rng.choice(10**6, size=k, replace=False).astype(np.uint64) + np.uint64(2**63)
    elif dtype == "i4":  # a narrow range: marked by offset rather than sorted
        pool = rng.choice(2 * k + 8, size=k, replace=False) - k
    else:
        top = {"i8": 10**12, "i2": 30000, "u1": 256}[dtype]
        pool = rng.choice(min(top, 10**6), size=k, replace=False) - (top // 2 if dtype != "u1" else 0)
    pool = pool.astype(dtype)
    # Every value at least once; the other rows mostly on a few heavy values
    # or spread over all of them.
    heavy = draw(st.integers(1, 12))
    share = draw(st.sampled_from([0.0, 0.5, 0.95, 1.0]))
    extra = max(n - k, 0)
    on_heavy = rng.random(extra) < share
    rows = np.r_[np.arange(min(k, n)), np.where(on_heavy, rng.integers(0, min(heavy, k), extra),
                                                rng.integers(0, k, extra))]
    layout = draw(st.sampled_from(["shuffled", "sorted", "as drawn"]))
    if layout == "shuffled":
        rng.shuffle(rows)
    elif layout == "sorted":
        rows.sort()
    values = pool[rows]
    if dtype[0] == "f" and draw(st.booleans()):
        values[rng.choice(n, size=min(n, draw(st.integers(1, 6))), replace=False)] = np.nan
    if draw(st.booleans()) and n > 1:  # a strided view, as a column of a 2-D array is
        values = np.repeat(values, 2)[::2]
    return values, heuristic


@given(columns())
@settings(max_examples=500, deadline=None)
def test_kind_decision_equals_the_full_count(case):
    values, heuristic = case
    expected = plain_is_continuous(values, heuristic)
    assert _inputs.is_continuous(values, heuristic) == expected
    if values.dtype.kind != "f" or not np.isnan(values).any():
        assert _inputs.is_continuous(values, heuristic, nan_free=True) == expected


def shapes(n: int = 100_000):
    rng = np.random.default_rng(11)
    heavy_rare = np.where(rng.random(n) < 0.97, rng.integers(0, 5, n), rng.integers(5, 10**6, n)).astype(float)
    return {
        # name: (values, whether the full sort of every row may be needed)
        "normal": (rng.normal(size=n), False),
        "normal with duplicated rows": (np.resize(rng.normal(size=n // 3), n), False),
        "few floats": (rng.integers(0, 6, n).astype(float), False),
        "few heavy values, rare others": (heavy_rare, False),
        "integer codes": (rng.integers(0, 3000, n), False),
        "sorted integers": (np.sort(rng.integers(-50, 50, n)), False),
        "rounded floats": (np.round(rng.normal(size=n), 2), True),
        "wide integers near the bound": (rng.choice(10**15, n // 20, replace=False)[rng.integers(0, n // 20, n)], True),
    }


@pytest.mark.parametrize("name", list(shapes(100)))
def test_kind_decision_sorts_every_row_only_when_the_column_is_ambiguous(name, monkeypatch):
    values, may_sort_all = shapes()[name]
    sorted_sizes = []
    count = _inputs._distinct_count
    monkeypatch.setattr(_inputs, "_distinct_count",
                        lambda keys, **kw: sorted_sizes.append(len(keys)) or count(keys, **kw))
    assert _inputs.is_continuous(values) == plain_is_continuous(values)
    assert may_sort_all or max(sorted_sizes, default=0) < len(values)


@pytest.mark.parametrize(("n", "k", "continuous"), [
    (1000, 50, False), (1000, 51, True),  # 50/1000 in f32 is the heuristic itself: not above it
    (3, 3, False), (4, 4, True), (80, 4, False), (79, 4, True),
    (100_000, 5000, False), (100_000, 5001, True),
])
def test_kind_decision_at_the_exact_f32_boundary(n, k, continuous):
    rng = np.random.default_rng(n + k)
    for values in (rng.permutation(np.resize(np.arange(k, dtype=np.float64), n)),
                   np.sort(np.resize(np.arange(k, dtype=np.int64) * 7919, n))):
        assert _inputs.is_continuous(values) is continuous
        assert plain_is_continuous(values) is continuous
        assert _inputs.is_continuous(values.astype(values.dtype.newbyteorder(">"))) is continuous


@given(st.integers(1, 10**7), st.sampled_from(HEURISTICS))
@settings(max_examples=300, deadline=None)
def test_continuous_bound_is_the_first_count_where_the_f32_rule_holds(n, heuristic):
    h, total = np.float32(heuristic), np.float32(n)

    def rule(k):
        return np.float32(k) / total > h

    bound = _inputs.continuous_bound(n, heuristic)
    if bound is None:
        assert n < 4 or not rule(n)
    else:
        assert 4 <= bound <= n and rule(bound) and (bound == 4 or not rule(bound - 1))


def test_nan_counts_as_a_new_value_and_signed_zeros_as_two():
    # 96 rows: four distinct values make 4/96 > 0.04; NaNs and -0.0 supply them.
    base = np.zeros(96)
    assert not _inputs.is_continuous(base, 0.04)
    for extra in ([np.nan, np.nan, np.nan], [-0.0, np.nan, np.nan], [-0.0, 1.0, 2.0]):
        x = base.copy()
        x[[5, 50, 90]] = extra
        assert _inputs.is_continuous(x, 0.04)
        assert plain_is_continuous(x, 0.04)


# ---------------------------------------------------------------------------
# Missing values


@pytest.mark.parametrize(("obj", "missing"), [
    (np.array([1.0, np.nan, 3.0, np.nan]), [1, 3]),
    (np.array([np.inf, -np.inf, 1.0]), []),  # infinities are values (their sum is NaN, their minimum is not)
    (np.array([1.0, 2.0], dtype=np.float32), []),
    (np.arange(5), []),
    (pl.Series([1.0, None, float("nan"), 4.0]), [1, 2]),
    (pl.Series([1, None, 3]), [1]),
    (pa.chunked_array([[1.5, None], [None, 2.5]]), [1, 2]),
    (pd.Series([1, None, 3], dtype="Int64"), [1]),
    (pd.Series([True, False]), []),
    (pd.Series([True, None], dtype="boolean"), [1]),
])
def test_missing_rows_are_found_once(obj, missing):
    col = _inputs.read_column(obj, "c")
    found = [] if col.missing is None else np.flatnonzero(col.missing).tolist()
    assert found == missing and col.n_missing == len(missing)
    assert len(col.present()) == len(col) - len(missing)


def test_a_column_that_fits_reaches_the_native_faces_as_it_is():
    x = np.random.default_rng(0).normal(size=1000)
    col = _inputs.read_column(x, "x")
    assert col.present() is x and _inputs.as_float64(col.present()) is x
    strided = np.arange(20.0).reshape(10, 2)[:, :1]
    assert np.shares_memory(_inputs.read_column(strided, "c").values, strided)
    frame = pd.DataFrame({"x": x, "y": x})
    assert np.shares_memory(_inputs.read_table(frame, "t").read("x").present(), frame["x"].to_numpy())
    # Dropping missing rows compacts once, and only then.
    x[3] = np.nan
    col = _inputs.read_column(x, "x")
    assert col.present() is col.present() and len(col.present()) == 999


# ---------------------------------------------------------------------------
# Categorical codes and the labels handed to the native faces


def coded_columns():
    cats = [f"c{i}" for i in range(12)]  # more than eight: the bincount path
    rng = np.random.default_rng(4)
    labels = rng.choice(cats[:10] + ["z"], 500).astype(object)  # c10, c11 unused
    labels[rng.random(500) < 0.1] = None
    few = rng.choice(["a", "b", "c"], 500).astype(object)
    few[::7] = None
    return [
        pd.Series(pd.Categorical(labels, categories=cats + ["z"])),
        pd.Series(pd.Categorical(few)),
        pa.chunked_array([pa.array(labels[:200]).dictionary_encode(), pa.array(labels[200:]).dictionary_encode()]),
        pl.Series(labels.tolist(), dtype=pl.Categorical),
        pa.chunked_array([pa.array(few[:200].tolist()), pa.array(few[200:].tolist())]),
    ]


@pytest.mark.parametrize("obj", coded_columns(), ids=lambda o: type(o).__module__.split(".")[0])
def test_coded_text_keeps_every_label_and_drifts_as_its_rows(obj):
    col = _inputs.read_column(obj, "c")
    expected = pd.Series(obj.to_pylist() if hasattr(obj, "to_pylist") else list(obj)).astype(object)
    expected = [None if v is None or v != v else v for v in expected]
    assert col.kind == "text" and col.codes is not None
    assert col.values.tolist() == expected
    assert col.n_missing == sum(v is None for v in expected)
    rows = [v for v in expected if v is not None]
    assert collections.Counter(_drift.category_labels(col, floats=False)) == collections.Counter(rows)
    cur = rows[::-1][: len(rows) // 2] + ["new"] * 5
    got = q.drift({"c": obj}, {"c": cur})["c"]
    assert [got[m] for m in ALL] == q.py_compute_drift_categorical_distribtuion(rows, cur, ALL)


@pytest.mark.parametrize(("values", "floats", "expected"), [
    (np.array([3, 1, 3, 2]), False, ["3", "1", "3", "2"]),
    (np.array([3, 1, 3, 2]), True, ["3.0", "1.0", "3.0", "2.0"]),
    (np.array([0.5, -0.0, 0.0, 0.5, -0.0]), True, ["0.5", "0.0", "0.0", "0.5", "0.0"]),
    (np.array([True, False, True]), False, ["True", "False", "True"]),
    (np.array([np.nan, 2.0, 2.0, np.nan]), True, ["2.0", "2.0"]),
])
def test_category_labels_are_the_rows_labels_in_any_order(values, floats, expected):
    labels = _drift.category_labels(_inputs.read_column(values, "v"), floats)
    assert collections.Counter(labels) == collections.Counter(expected)


def test_signed_zeros_are_one_label_on_both_sides():
    # Whichever zero the sort puts first, both tables name it "0.0".
    ref = {"v": np.array([0.0, 1.0, 2.0, -0.0] * 5)}
    cur = {"v": np.array([-0.0, 1.0, 2.0, -0.0] * 5)}
    h = q.drift(ref, cur, categorical=["v"]).histograms["v"]
    assert h.labels == ["0.0", "1.0", "2.0", None] and h.current_counts == [10.0, 5.0, 5.0, 0.0]


# ---------------------------------------------------------------------------
# Continuous columns scored without a scan for NaN


def native_scores(ref, cur, rule=None):
    r, c = ref[~np.isnan(ref)], cur[~np.isnan(cur)]
    return q.py_compute_drift_continuous_distribtuion(r, c, ALL, rule)


def nan_cases():
    rng = np.random.default_rng(21)
    ref, cur = rng.normal(size=2000), rng.normal(0.2, 1.0, 1500)
    inside = np.clip(cur, ref.min(), ref.max())  # nothing below the reference: the first bin stays empty
    with_nan = inside.copy()
    with_nan[[3, 700]] = np.nan
    low_nan = cur.copy()
    low_nan[[0, 9, 1400]] = np.nan
    ref_nan = ref.copy()
    ref_nan[[5, 6]] = np.nan
    return {
        "clean, current inside the reference": (ref, inside),
        "clean, current below the reference": (ref, cur),
        "NaN in the current only": (ref, with_nan),
        "NaN and low values in the current": (ref, low_nan),
        "NaN in the reference": (ref_nan, cur),
        "NaN on both sides": (ref_nan, low_nan),
        "integers in the current": (ref, np.round(cur * 10).astype(np.int64)),
    }


@pytest.mark.parametrize("name", list(nan_cases()))
@pytest.mark.parametrize("continuous", [None, ["x"]])
def test_continuous_scores_without_a_scan_equal_the_native_faces(name, continuous):
    ref, cur = nan_cases()[name]
    row = q.drift({"x": ref}, {"x": cur}, continuous=continuous)["x"]
    cur_f = cur.astype(np.float64)
    assert [row[m] for m in ALL] == native_scores(ref, cur_f)
    assert (row["kind"], row["reference_missing"], row["current_missing"]) == (
        "continuous", int(np.isnan(ref).sum()), int(np.isnan(cur_f).sum()))
    assert row["current_rows"] == int((~np.isnan(cur_f)).sum())
    h = q.drift({"x": ref}, {"x": cur}).histograms["x"]
    assert sum(h.current_counts) == row["current_rows"]


@pytest.mark.parametrize(("name", "scanned"), [
    ("clean, current inside the reference", []),  # the native faces proved both sides complete
    ("clean, current below the reference", ["current"]),  # the first bin holds values: is a NaN among them?
    ("NaN in the reference", ["reference", "current"]),  # refused by the baseline: the general path
])
def test_a_float_column_is_scanned_for_nan_only_when_the_native_faces_leave_it_open(name, scanned, monkeypatch):
    ref, cur = nan_cases()[name]
    seen = []
    scan = _inputs.Column._scan
    monkeypatch.setattr(_inputs.Column, "_scan", lambda col: seen.append(col) or scan(col))
    q.drift({"x": ref}, {"x": cur})
    assert [("reference" if c.values is ref else "current") for c in seen] == scanned


@pytest.mark.parametrize(("ref", "cur", "kwargs", "outcome"), [
    (np.r_[np.arange(99.0), np.inf], np.arange(50.0), {}, "reference refused"),
    (np.arange(100.0), np.full(10, np.nan), {}, "the current column has no values"),
    (np.arange(100.0), np.r_[np.nan, np.arange(9.0) - 5], {"missing": "error"}, "current: column 'x' has 1 missing"),
    (np.r_[np.nan, np.arange(99.0)], np.arange(9.0), {"missing": "error"}, "reference: column 'x' has 1 missing"),
])
def test_refusals_of_the_unscanned_path_read_as_before(ref, cur, kwargs, outcome):
    if "missing" in kwargs:
        with pytest.raises(ValueError, match=outcome):
            q.drift({"x": ref}, {"x": cur}, **kwargs)
    else:
        assert outcome in q.drift({"x": ref}, {"x": cur})["x"]["error"]


# ---------------------------------------------------------------------------
# NumPy string arrays


@given(st.lists(st.text(alphabet=st.sampled_from("ab\x00é\u0100\U0001f600 "), max_size=10), min_size=1, max_size=12),
       st.integers(1, 3000), st.integers(0, 2**32 - 1))
@settings(max_examples=200, deadline=None)
def test_a_string_array_reads_as_the_labels_it_holds(pool, n, seed):
    a = np.array(pool)[np.random.default_rng(seed).integers(0, len(pool), n)]
    col = _inputs.read_column(a, "s")
    assert col.kind == "text" and col.n_missing == 0
    assert col.values.tolist() == a.tolist()
    labels = _drift.category_labels(col, floats=False)
    assert collections.Counter(labels) == collections.Counter(a.tolist())


@pytest.mark.parametrize("labels", [
    ["card", "transfer", "cash"],
    ["a\x00b", "a", ""],  # embedded NUL, a prefix, the empty label: all distinct
    ["café", "cafe", "Ā", "\U0001f600"],
    ["ninechars", "a"],
    [f"l{i}" for i in range(40)],
])
@pytest.mark.parametrize("order", ["<", ">"])
def test_string_arrays_reach_the_native_faces_as_they_are(labels, order):
    a = np.array(labels * 50).astype(f"{order}U12")
    col = _inputs.read_column(a, "s")
    assert _drift.category_labels(col, False) is a  # no str per row
    assert col.values.tolist() == a.tolist()
    row = q.drift({"s": a}, {"s": a[::3]})["s"]
    assert [row[m] for m in ALL] == q.py_compute_drift_categorical_distribtuion(a.tolist(), a[::3].tolist(), ALL)


def test_a_string_array_with_an_invalid_code_point_is_an_error_naming_the_column():
    a = np.array(["a", "b", "a"])
    a.view(np.uint32)[1] = 0xD800
    with pytest.raises(_inputs.InputError, match="column 's': a label is not valid text"):
        q.drift({"s": a}, {"s": np.array(["a", "b"])})


@pytest.mark.parametrize("storage", ["python", "pyarrow"])
def test_pandas_string_columns_give_the_labels_of_their_rows(storage):
    rows = ["b", "a", None, "é", "a", "\U0001f600"] * 30
    cur_rows = rows[::-1][:100] + ["new"]
    ref, cur = (pd.Series(r, dtype=f"string[{storage}]") for r in (rows, cur_rows))
    row = q.drift({"s": ref}, {"s": cur})["s"]
    present = [[v for v in r if v is not None] for r in (rows, cur_rows)]
    assert [row[m] for m in ALL] == q.py_compute_drift_categorical_distribtuion(*present, ALL)
