"""Facet and outcome labeling, seen through the analyzers: their metrics must equal those of a plain-Python
reference labeling, on a ground truth that tells labelings apart."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import quorvant as q
from support import SANITIZED, assert_no_leak, raises_exactly
from test_stateful import canonical

HETEROGENEOUS = "Data passed in is of hetergeneous types"
CONFIG = "Invalid bias configuration"
NO_FACET = "No deviation in behavior between facets"
HEURISTIC = np.float32(0.05)

FLOATS = [np.dtype(t) for t in ("f8", "f4")]
INTEGERS = [np.dtype(t) for t in ("i1", "i2", "i4", "i8", "u1", "u2", "u4", "u8")]


# ---- reference labeling ---------------------------------------------------


def category(arr):
    if arr.dtype in FLOATS:
        return "float"
    if arr.dtype in INTEGERS:
        return "integer"
    if arr.dtype == np.dtype(bool):
        return "bool"
    return "text"


def is_continuous(values, heuristic=HEURISTIC):
    """Distinct count over bit patterns (every NaN new) against the f32 rule."""
    seen, k = set(), 0
    for v in values:
        if isinstance(v, float) and math.isnan(v):
            k += 1
        else:
            key = np.float64(v).tobytes() if isinstance(v, float) else v
            if key not in seen:
                seen.add(key)
                k += 1
    if k < 4:
        return False
    return np.float32(k) / np.float32(len(values)) > heuristic


def saturating_trunc(x: float) -> int:
    if math.isnan(x):
        return 0
    if x >= 2.0**63:
        return 2**63 - 1
    if x <= -(2.0**63):
        return -(2**63)
    return int(x)


def reference_labels(arr, value):
    """0/1 labels by one label-or-threshold value, or the exception."""
    cat = category(arr)
    if cat in ("float", "integer"):
        xs = [float(x) if cat == "float" else int(x) for x in arr]
        if cat == "integer" and any(x >= 2**63 for x in xs):
            raise OverflowError
        if isinstance(value, float):
            v = value if cat == "float" else saturating_trunc(value)
        elif isinstance(value, int):
            if not -(2**63) <= value < 2**63:
                raise OverflowError
            v = float(value) if cat == "float" else int(value)
        else:
            raise TypeError(HETEROGENEOUS)
        cont = is_continuous(xs)
        return [int(x >= v) if cont else int(x == v) for x in xs]
    if cat == "bool":
        xs = [bool(x) for x in arr]
        if type(value) is bool:
            v = value
        elif isinstance(value, int):
            v = value == 1
        else:
            raise TypeError(HETEROGENEOUS)
        return [int(x == v) for x in xs]
    xs = list(arr)
    if not all(isinstance(x, str) for x in xs):
        raise TypeError
    if not isinstance(value, str):
        raise TypeError(HETEROGENEOUS)
    return [int(x == value) for x in xs]


# ---- comparing through the analyzer --------------------------------------


def truth_for(n: int) -> np.ndarray:
    """A ground truth on which different facet labelings give different metrics."""
    return (np.arange(n) * 7 % 5 < 2).astype(np.int8)


def through_analyzer(arr, value, explicit=None):
    g = truth_for(len(arr))
    if explicit is None:
        return q.py_data_bias_analyzer(arr, g, value, 1)
    threshold, label, kind = explicit
    return q.py_data_bias_analyzer_explicit_seg(arr, threshold, label, kind, g, 0.5, None, "GreaterThan")


def expected_from(labels):
    g = truth_for(len(labels))
    return q.py_data_bias_analyzer(np.array(labels, dtype=np.int8), g, 1, 1)


def check(labels, call, *args):
    """call(*args) gives the metrics of these facet labels (or, when they
    leave a facet empty, the analyzer's error)."""
    if min(labels) == max(labels):
        with raises_exactly(ValueError, NO_FACET):
            call(*args)
    else:
        assert canonical(call(*args)) == canonical(expected_from(labels))


def assert_labels(arr, value, labels):
    check(labels, through_analyzer, arr, value)


# ---- worked examples ------------------------------------------------------


@pytest.mark.parametrize(
    "arr, value, labels",
    [
        (np.array([0.5, 1.5, 2.5, 3.5]), 2.5, [0, 0, 1, 1]),  # continuous: >= threshold
        (np.array([1.0, 2.0, 1.0, 2.0]), 2, [0, 1, 0, 1]),  # discrete: int label on floats
        (np.array([0, 1, 1, 0]), 1.9, [0, 1, 1, 0]),  # float label truncates on integers
        (np.array([True, False, True, False]), 1, [1, 0, 1, 0]),
        (np.array([True, False, True, False]), 2, [0, 1, 0, 1]),  # 2 is not 1, so False
        (np.array([True, False, True, False]), False, [0, 1, 0, 1]),
        (np.array(["a", "b", "a", "b"]), "a", [1, 0, 1, 0]),
        (np.array(["a", "b", "a", "b"], dtype=object), "b", [0, 1, 0, 1]),
        (np.array([1.0, 2.0, 3.0, 4.0], dtype=np.float32), 3, [0, 0, 1, 1]),
        (np.array([2**63 - 1, 0, 5, 2**63 - 2], dtype=np.uint64), 5, [1, 0, 1, 1]),  # continuous
        (np.array([-1, -2, 7, 7, -1, -2, 7, 7], dtype=np.int16), -1.5, [1, 0, 0, 0, 1, 0, 0, 0]),
        # Distinct values count by bit pattern: 0.0 and -0.0 are two, every NaN is new (4 of 4: continuous).
        (np.array([0.0, -0.0, np.nan, np.nan]), -0.0, [1, 1, 0, 0]),
        # Three distinct values are discrete whatever the length.
        (np.array([0.0, -0.0, 1.0, 0.0]), 0.0, [1, 1, 0, 1]),
        (np.array([np.nan, 1.0, np.nan, 1.0]), np.nan, [0, 0, 0, 0]),
        (np.array([1.0, 2.0, 3.0, 1.0]), 2.0, [0, 1, 0, 0]),
    ],
)
def test_label_or_threshold(arr, value, labels):
    assert_labels(arr, value, labels)


@pytest.mark.parametrize(
    "arr, explicit, labels",
    [
        (np.array([1, 3, 5, 7]), (3.0, None, "LessThanEqualTo"), [1, 1, 0, 0]),
        (np.array([1, 3, 5, 7]), (3.0, None, "LessThan"), [1, 0, 0, 0]),
        (np.array([1.0, 3.0, 5.0, 7.0]), (3.0, None, "GreaterThan"), [0, 0, 1, 1]),
        (np.array([1, 3, 5, 7], dtype=np.uint8), (3.0, None, "GreaterThanEqualTo"), [0, 1, 1, 1]),
        (np.array([True, False, True, True]), (0.5, None, "GreaterThan"), [1, 0, 1, 1]),
        (np.array([1, 2, 3, 4], dtype=np.int32), (2.5, None, "GreaterThan"), [0, 0, 1, 1]),
        (np.array([1, 2, 3, 4], dtype=np.int8), (float("nan"), None, "LessThan"), [0, 0, 0, 0]),
        (np.array([1, 2, 3, 4], dtype=np.int8), (float("inf"), None, "LessThan"), [1, 1, 1, 1]),
        (np.array([1, 2, 3, 4], dtype=np.int64), (-float("inf"), None, "GreaterThan"), [1, 1, 1, 1]),
        (np.array([1.5, 2.5, 3.5, 4.5], dtype=object), (3.0, None, "GreaterThan"), [0, 0, 1, 1]),
        (np.array(["x", "y", "x", "z"]), (None, "x", None), [1, 0, 1, 0]),
        (np.array(["x", "y", "x", "z"], dtype=object), (None, "z", None), [0, 0, 0, 1]),
    ],
)
def test_explicit_segmentation(arr, explicit, labels):
    check(labels, through_analyzer, arr, None, explicit)


@pytest.mark.parametrize(
    "arr, value",
    [
        (np.array(["a", "b", "a"]), 1),
        (np.array([1.0, 2.0]), "a"),
        (np.array([1, 2]), "a"),
        (np.array([1, 2]), None),
        (np.array([True, False]), 1.0),
        (np.array([1.0, 2.0]), np.float32(1.0)),  # a NumPy float32 is not a Python float
    ],
)
def test_heterogeneous_value(arr, value):
    with raises_exactly(TypeError, HETEROGENEOUS):
        q.py_data_bias_analyzer(arr, np.zeros(len(arr), dtype=np.int8), value, 1)


NUMBERS = np.array([1.0, 5.0])


@pytest.mark.parametrize(
    "arr, params",
    [
        (NUMBERS, (3.0, "a", "GreaterThan")),  # threshold with label
        (NUMBERS, (3.0, None, None)),  # threshold without type
        (NUMBERS, (None, None, None)),  # nothing
        (NUMBERS, (None, "a", "GreaterThan")),  # label with type
        (NUMBERS, (3.0, None, "greaterthan")),  # type in the wrong case
        (NUMBERS, (3.0, None, " GreaterThan")),
        # a label needs str elements
        *[(arr, (None, "a", None)) for arr in (np.array([1.0, 2.0]), np.array([1, 2]), np.array([True, False]),
                                               np.array([b"a", b"b"]), np.array(["a", 1], dtype=object))],
        # a threshold needs numbers
        *[(arr, (1.0, None, "GreaterThan")) for arr in (np.array(["1.5", "2"]), np.array([b"1", b"2"]),
                                                        np.array(["a", None], dtype=object))],
    ],
)
def test_explicit_configuration_errors(arr, params):
    with raises_exactly(ValueError, CONFIG):
        q.py_data_bias_analyzer_explicit_seg(arr, *params, np.array([1, 0]), 0.5, None, "GreaterThan")


def test_empty_arrays_label_on_the_explicit_path():
    # Labeling succeeds with no rows; the analyzer then finds no facets (the plain path: tests/test_data_bias.py).
    empty = np.array([], dtype=np.float64)
    with raises_exactly(ValueError, NO_FACET):
        q.py_data_bias_analyzer_explicit_seg(empty, None, "a", None, empty, 1.0, None, "GreaterThan")


# ---- discrete versus continuous -------------------------------------------


@pytest.mark.parametrize(
    "distinct, continuous",
    [(50, False), (51, True)],  # 1000 elements: r = 0.05 is not above the heuristic
)
def test_heuristic_boundary(distinct, continuous):
    arr = np.arange(1000) % distinct
    value = 10
    labels = (arr >= value) if continuous else (arr == value)
    assert_labels(arr, value, labels.astype(int).tolist())
    assert_labels(arr.astype(np.float64), float(value), labels.astype(int).tolist())


# ---- element reading ------------------------------------------------------


@pytest.mark.parametrize(
    "arr, value, exc, message",
    [
        # Types that are not listed numeric types are text, and their
        # elements are not str.
        (np.array([1.0, 2.0], dtype=np.float16), "a", TypeError, "'numpy.float16' object cannot be converted to 'str'"),
        (np.array([1 + 2j, 3j]), "a", TypeError, "'numpy.complex128' object cannot be converted to 'str'"),
        (np.array([1, 2], dtype=object), "a", TypeError, "'int' object cannot be converted to 'str'"),
        (np.array([1.0, 2.0], dtype=">f8"), "a", TypeError, "'numpy.float64' object cannot be converted to 'str'"),
        (np.array([2**63, 0, 1, 2], dtype=np.uint64), 1, OverflowError, None),
        (np.array(1.0), 1.0, TypeError, "iteration over a 0-d array"),
    ],
)
def test_reading_errors(arr, value, exc, message):
    # The value suits the category, so the error is the reading's; it also
    # comes before a value of the wrong kind is looked at.
    g = np.zeros(arr.size, dtype=np.int8)
    for v in (value, object()):
        with pytest.raises(exc) as info:
            q.py_data_bias_analyzer(arr, g, v, 1)
        if message is not None:
            assert str(info.value) == message


def test_str_array_errors_come_from_the_elements():
    # (A code point NumPy cannot make a str of: tests/test_frame.py names the argument.)
    bad = np.array(["a\ud800", "b"])
    with pytest.raises(UnicodeEncodeError):
        q.py_data_bias_analyzer(bad, np.zeros(2, dtype=np.int8), "a", 1)


@pytest.mark.parametrize(
    "arr",
    [
        np.array(["ab", "a", "", "a\x00b", "é", "ab"]),
        np.array(["ab", "a", "", "a\x00b", "é", "ab"], dtype=object),
        np.array(["ab", "a", "", "a\x00b", "é", "ab"], dtype=">U3"),
        np.array(["ab", "a", "", "a\x00b", "é", "ab", "x", "x"])[::2],
        np.array(["ab", "a", "", "a\x00b", "é", "ab"]).reshape(6, 1)[:, 0],
    ],
)
@pytest.mark.parametrize("label", ["ab", "a", "", "a\x00", "a\x00b", "é", "abc"])
def test_str_forms_agree(arr, label):
    assert_labels(arr, label, reference_labels(arr, label))


def test_str_subclass_elements_and_nul_slots():
    class S(str):
        pass

    arr = np.array([S("a"), "b", S("a"), "c"], dtype=object)
    assert_labels(arr, "a", [1, 0, 1, 0])
    holes = np.empty(3, dtype=object)  # slots read as None
    with pytest.raises(TypeError):
        q.py_data_bias_analyzer(holes, np.zeros(3, dtype=np.int8), "a", 1)


@pytest.mark.parametrize("dtype", FLOATS + INTEGERS)
def test_buffer_and_generic_paths_agree(dtype):
    base = (np.arange(40) * 37 % 23).astype(dtype)
    for arr in (base, base[::3], np.ascontiguousarray(base[::-1])):
        value = int(base[5])
        assert_labels(arr, value, reference_labels(arr, value))
    # A column of a 2-D array goes through the iteration path.
    col = np.stack([base, base], axis=1)[:, 1]
    assert_labels(col, int(base[5]), reference_labels(col, int(base[5])))


def test_bool_bytes_other_than_one_are_true():
    raw = np.array([0, 1, 2, 255, 0, 7], dtype=np.uint8).view(bool)
    assert_labels(raw, True, [0, 1, 1, 1, 0, 1])


# ---- properties -----------------------------------------------------------

examples = 20 if SANITIZED else 150

numeric_arrays = st.one_of(
    hnp.arrays(st.sampled_from(FLOATS), st.integers(4, 60),
               elements=st.sampled_from([0.0, -0.0, 1.0, 2.5, -3.0, np.nan, np.inf, 2.0**127])),
    hnp.arrays(st.sampled_from(FLOATS), st.integers(4, 60), elements=st.floats(-1e6, 1e6, width=32)),
    hnp.arrays(st.sampled_from(INTEGERS), st.integers(4, 60), elements=st.integers(0, 100)),
    hnp.arrays(np.dtype(bool), st.integers(4, 60)),
)
values = st.one_of(st.integers(-5, 105), st.floats(allow_nan=True), st.booleans(),
                   st.integers(2**63 - 2, 2**63 + 2), st.text(max_size=2))


@settings(max_examples=examples, deadline=None)
@given(numeric_arrays, values)
def test_labels_match_reference(arr, value):
    g = truth_for(len(arr))
    try:
        labels = reference_labels(arr, value)
    except (TypeError, OverflowError) as exc:
        with pytest.raises(type(exc)):
            q.py_data_bias_analyzer(arr, g, value, 1)
        return
    check(labels, through_analyzer, arr, value)


@settings(max_examples=examples, deadline=None)
@given(st.lists(st.sampled_from(["", "a", "ab", "é", "a\x00b", "zz"]), min_size=2, max_size=40),
       st.sampled_from(["", "a", "ab", "é", "a\x00", "zz", "zzz"]), st.booleans())
def test_text_labels_match_reference(items, label, as_object):
    arr = np.array(items, dtype=object if as_object else None)
    labels = reference_labels(arr, label)
    check(labels, through_analyzer, arr, label)
    check(labels, through_analyzer, arr, None, (None, label, None))


# ---- long arrays: the decision and the labels in one pass -----------------
#
# Rows cross the labeling's blocks of 64 and stretches of 1,024, distinct counts sit around the discrete bound and
# new values arrive late, so the decision comes at any row; the reference labels go in as bool arrays.

I64_EXTREMES = [-(2**63), 2**63 - 1, -(2**63) + 1, 0, -1]
FLOAT_SPECIALS = [0.0, -0.0, np.nan, np.inf, -np.inf, 5e-324, -1.5, 2.0**63]


def discrete_bound(n: int) -> int | None:
    """The smallest distinct count that makes n rows continuous."""
    return next((k for k in range(4, n + 1) if np.float32(k) / np.float32(n) > HEURISTIC), None)


long_sizes = st.one_of(st.integers(1, 3000), st.sampled_from([63, 64, 65, 1023, 1024, 1025, 2048, 2049, 4097]))


@st.composite
def long_columns(draw, n: int):
    """A column of n rows and a label or threshold for it."""
    dtype = draw(st.sampled_from([np.dtype(t) for t in ("i8", "i4", "u1", "i2", "u8", "f8", "f4", "?")]))
    if dtype == np.dtype(bool):
        return draw(hnp.arrays(dtype, n)), draw(st.sampled_from([True, False, 1, 0, 2]))
    bound = discrete_bound(n) or n
    k = max(1, min(n, draw(st.sampled_from([1, 2, 3, 4, 8, 9, bound - 1, bound, bound + 1]))))
    if dtype.kind == "f":
        pool = draw(st.lists(st.sampled_from(FLOAT_SPECIALS), max_size=3)) + list(np.arange(k) * 0.75 - 2.0)
    elif dtype == np.dtype("i8"):
        pool = draw(st.lists(st.sampled_from(I64_EXTREMES), max_size=3)) + list(range(k))
    elif dtype == np.dtype("u8"):
        pool = draw(st.lists(st.sampled_from([0, 2**63 - 1, 2**62]), max_size=2)) + list(range(k))
    else:
        pool = list(range(k))
    pool = pool[:k]
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    late = draw(st.booleans())
    # Every pool value appears; when late, all but three only in the last rows.
    picks = rng.integers(0, min(3, len(pool)) if late else len(pool), n)
    first = np.arange(min(n, len(pool)))
    picks[(n - first.size + first) if late else rng.permutation(n)[: first.size]] = first
    values = np.array(pool, dtype=np.float64 if dtype.kind == "f" else object)[picks]
    arr = values.astype(dtype)
    label = draw(st.one_of(st.sampled_from(pool), st.integers(-3, k + 3), st.floats(-3.0, k + 3.0),
                           st.sampled_from([np.nan, 1e30, -1e30, -0.0])))
    if dtype.kind == "f" or not isinstance(label, float):
        label = float(label) if dtype.kind == "f" else int(label)
    return arr, label


def outcome_of(call, *args):
    try:
        return canonical(call(*args))
    except ValueError as exc:  # the metrics' guards
        return f"ValueError: {exc}"


@settings(max_examples=40 if SANITIZED else 200, deadline=None)
@given(st.data())
def test_long_columns_match_reference(data):
    n = data.draw(long_sizes)
    columns = [data.draw(long_columns(n)) for _ in range(3)]
    ref = [np.array(reference_labels(a, v), dtype=bool) for a, v in columns]
    # Each column as the feature, against a ground truth that tells
    # labelings apart.
    g = truth_for(n)
    for (arr, value), labels in zip(columns, ref):
        want = outcome_of(q.py_data_bias_analyzer, labels, g.astype(bool), True, True)
        assert outcome_of(q.py_data_bias_analyzer, arr, g, value, 1) == want
    # The three in every position of the post-training analyzer.
    (f, vf), (t, vt), (p, vp) = columns
    want = outcome_of(q.py_model_bias_analyzer, *ref, True, True, True)
    assert outcome_of(q.py_model_bias_analyzer, f, t, p, vf, vt, vp) == want


# ---- safety ---------------------------------------------------------------


@pytest.mark.parametrize(
    "arr, value",
    [
        (np.array(["a", "b"]), 1),
        (np.array([1.0, 2.0]), "a"),
        (np.array([1, "a"], dtype=object), "a"),
        (np.array([2**63, 1], dtype=np.uint64), 1),
        (np.array(["a", "b"], dtype=object), "a"),
    ],
)
def test_error_paths_do_not_leak(arr, value):
    assert_no_leak(q.py_data_bias_analyzer, arr, np.array([1, 0], dtype=np.int8), value, 1)
    assert_no_leak(q.py_data_bias_analyzer_explicit_seg, arr, None, "a", None, np.array([1, 0]), 0.5, None, "LessThan")
