"""The module itself, the call frame shared by every function, and the
conversion of NumPy inputs."""

import ctypes
import inspect
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import quorvant as q
from quorvant import _quorvant
from support import SANITIZED, child_env, raises_exactly
from test_stateful import read

FUNCTIONS = [
    "py_data_bias_analyzer", "py_data_bias_runtime_check", "py_data_bias_partial_check",
    "py_data_bias_analyzer_explicit_seg", "py_model_bias_analyzer", "py_model_bias_runtime_check",
    "py_model_bias_partial_check", "py_model_bias_analyzer_explicit_seg", "py_model_perf_linear_regression",
    "py_model_perf_class_rt_full", "py_model_perf_class_rt_partial", "py_model_perf_classification",
    "py_model_perf_log_reg_rt_partial", "py_model_perf_logistic_regression", "py_model_perf_lin_reg_rt_full",
    "py_model_perf_lin_reg_rt_partial", "py_model_perf_log_reg_rt_full",
    "py_compute_drift_categorical_distribtuion", "py_compute_drift_continuous_distribtuion",
]
CLASSES = [
    "PyCategoricalDataDrift", "PyContinuousDataDrift", "PyStreamingContinuousDataDriftFlush",
    "PyStreamingContinuousDataDriftDecay", "PyStreamingCategoricalDataDriftFlush",
    "PyStreamingCategoricalDataDriftDecay", "PyDataBiasStreaming", "PyModelBiasStreaming",
    "PyBinaryClassificationStreaming", "PyLinearRegressionStreaming", "PyLogisticRegressionStreaming",
]


def test_module_lists_its_functions_then_classes_in_order():
    public = [n for n in vars(_quorvant) if not n.startswith("__")]
    assert public == FUNCTIONS + CLASSES
    assert _quorvant.__name__ == "quorvant._quorvant" or _quorvant.__name__ == "_quorvant"


def test_stub_declares_every_function_class_and_method():
    import ast
    import pathlib

    stub = ast.parse((pathlib.Path(q.__file__).parent / "_quorvant.pyi").read_text())
    declared = {n.name: n for n in stub.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    assert set(FUNCTIONS + CLASSES) <= declared.keys()
    for name in CLASSES:
        methods = {n.name for n in declared[name].body if isinstance(n, ast.FunctionDef)}
        assert {m for m in vars(getattr(_quorvant, name)) if not m.startswith("__")} <= methods, name


@pytest.mark.parametrize("name", CLASSES)
def test_every_class_is_closed_alike(name):
    # One builder for all classes: none can be changed or subclassed.
    cls = getattr(_quorvant, name)
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        cls.__doc__ = "changed"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert cls.__module__ == "quorvant._quorvant" and cls.__qualname__ == name


def test_repeated_initialisation_returns_the_first_module():
    lib = ctypes.PyDLL(_quorvant.__file__)
    init = lib.PyInit__quorvant
    init.restype = ctypes.py_object
    assert init() is _quorvant


@pytest.mark.skipif(sys.version_info < (3, 13), reason="older interpreters reuse the first module object")
def test_sub_interpreter_import_fails():
    interpreters = pytest.importorskip("_interpreters")
    interp = interpreters.create()
    try:
        err = interpreters.run_string(interp, "import quorvant._quorvant")
        assert err is not None and "ImportError" in str(err.type)
    finally:
        interpreters.destroy(interp)


class Sentinel:
    """An argument no parameter accepts."""


SAMPLES = {  # constructor arguments of an object of each class
    "PyCategoricalDataDrift": (["a", "b"],),
    "PyContinuousDataDrift": (np.arange(10.0), None),
    "PyStreamingContinuousDataDriftFlush": (np.arange(10.0), None, None, None),
    "PyStreamingContinuousDataDriftDecay": (np.arange(10.0), None, None),
    "PyStreamingCategoricalDataDriftFlush": (["a", "b"], None, None),
    "PyStreamingCategoricalDataDriftDecay": (["a", "b"], None),
    "PyDataBiasStreaming": ([0, 1, 0, 1], [1, 1, 0, 0]),
    "PyModelBiasStreaming": ([0, 1, 0, 1, 0, 1, 1, 0], [1, 0, 1, 1, 0, 0, 1, 0], [1, 1, 0, 0, 1, 0, 1, 1]),
    "PyBinaryClassificationStreaming": ([0, 1, 0, 1], [1, 1, 0, 1]),
    "PyLinearRegressionStreaming": ([1.0, 2.0], [1.5, 2.0]),
    "PyLogisticRegressionStreaming": ([1.0, 0.0], [0.7, 0.2], 0.5),
}


def callables():
    for name in FUNCTIONS:
        yield name
    for name in CLASSES:
        yield name
        yield from (f"{name}.{attr}" for attr, member in vars(getattr(_quorvant, name)).items()
                    if callable(member) and not attr.startswith("__"))


@pytest.mark.parametrize("name", list(callables()))
def test_signatures_name_the_parameters_the_calls_take(name):
    # help() and inspect show the signature; a call by its keywords is taken
    # apart without an argument-list error (the values then fail their
    # conversion, or the call answers).
    cls, _, method = name.partition(".")
    fn = getattr(_quorvant, cls)
    if method:
        fn = getattr(fn(*SAMPLES[cls]), method)
    params = list(inspect.signature(fn).parameters.values())
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in params)
    try:
        fn(**{p.name: Sentinel() for p in params})
    except TypeError as exc:
        assert not any(word in str(exc) for word in ("keyword", "missing", "positional")), exc
    except Exception:  # noqa: BLE001 - a conversion's own error is fine here
        pass


Y = np.array([1.0, 2.0])


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((Y,), {}, "py_model_perf_linear_regression() missing required argument 'y_pred_src' (pos 2)"),
        ((), {"y_pred_src": Y}, "py_model_perf_linear_regression() missing required argument 'y_true_src' (pos 1)"),
        ((Y, Y, Y), {}, "py_model_perf_linear_regression() takes exactly 2 positional arguments (3 given)"),
        ((Y, Y), {"other": 1}, "py_model_perf_linear_regression() got an unexpected keyword argument 'other'"),
        ((Y,), {"y_true_src": Y}, "argument for py_model_perf_linear_regression() given by name ('y_true_src') and position (1)"),
    ],
)
def test_argument_errors(args, kwargs, message):
    with raises_exactly(TypeError, message):
        q.py_model_perf_linear_regression(*args, **kwargs)


class Name(str):
    pass


@pytest.mark.parametrize("key", [
    "y_pred_src",                       # interned, as written in source
    "".join(["y_pred", "_src"]),        # made at run time, not interned
    Name("y_pred_src"),                 # a str subclass
])
def test_keywords_match_by_identity_or_by_text(key):
    y = np.array([1.0, 2.0, 4.0])
    p = np.array([1.5, 2.0, 3.0])
    want = q.py_model_perf_linear_regression(y, p)
    assert q.py_model_perf_linear_regression(y, **{key: p}) == want
    assert q.py_model_perf_linear_regression(**{key: p}, y_true_src=y) == want
    m = q.PyDataBiasStreaming([0, 1, 0, 1], [1, 1, 0, 0])
    m.push_batch(**{"".join(["f"]): [1, 0], "g": [1, 1]})
    with raises_exactly(TypeError, "push() got an unexpected keyword argument 'y_pred_src'"):
        m.push(1, 0, **{key: 1})


NUMERIC = ["float64", "float32", "int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64"]


@pytest.mark.parametrize("dtype", NUMERIC)
def test_every_numeric_dtype_and_layout_reads_alike(dtype):
    values = np.array([0, 1, 3, 7, 100, 5, 2, 9], dtype=dtype)
    want = q.py_model_perf_linear_regression(values.astype(np.float64), values[::-1].astype(np.float64))
    padded = np.zeros(2 * values.size, dtype=dtype)
    padded[::2] = values
    strided = padded[::2]
    reversed_view = values[::-1].copy()[::-1]  # negative stride
    for y in (values, strided, reversed_view):
        assert q.py_model_perf_linear_regression(y, values[::-1]) == want


def test_large_integers_round_like_the_float_protocol():
    # uint64 beyond the signed range and int64 beyond 2^24 go through the
    # float protocol: nearest double, then nearest f32.
    big = np.array([2**64 - 1, 2**63 + 12345, 2**24 + 1, 3], dtype=np.uint64)
    as_floats = np.array([float(v) for v in big], dtype=np.float64)
    assert q.py_model_perf_linear_regression(big, big[::-1]) == q.py_model_perf_linear_regression(
        as_floats, as_floats[::-1]
    )


def child_output(code, **env):
    """What a fresh interpreter prints (or the last line of its error) under these environment values."""
    out = subprocess.run([sys.executable, "-c", code], env=child_env(**env), capture_output=True, text=True)
    return out.stdout.strip() or out.stderr.strip().splitlines()[-1]


LOGLOSS = r"""
import os, numpy as np, quorvant as q
y, s = np.array([1.0, 0.0]), np.array([0.0, 1.0])
first = q.py_model_perf_logistic_regression(y, s, 0.5)["LogLoss"]
os.environ["QUORVANT_STABILITY_EPS"] = "0.25"  # too late: the first use fixed the value
assert q.py_model_perf_logistic_regression(y, s, 0.5)["LogLoss"] == first
print(first)
"""


def test_the_eps_is_read_once_and_parsed_strictly():
    def logloss(value=None):
        return child_output(LOGLOSS, **({} if value is None else {"QUORVANT_STABILITY_EPS": value}))

    default = logloss()
    assert logloss("abc") == logloss(" 1e-12") == logloss("1e-12") == default
    assert logloss("0.001") != default
    assert logloss("1E-3") == logloss("0.001") == logloss("+0.001")
    # Decimals beyond the range underflow to 0 or overflow to infinity by their magnitude, with or without exponent.
    assert logloss("0." + "0" * 400 + "1") == logloss("1e-400") == logloss("0")
    assert logloss("1" + "0" * 400) == logloss("1e400") == logloss("inf")


# 100 values, 10 distinct: r = 0.1. By default the feature is continuous (5 is a threshold met by half the rows);
# at a heuristic of 0.1 no ratio is above it, so it is discrete (5 labels 10 rows).
IMBALANCE = r"""
import numpy as np, quorvant as q
feature = np.arange(100, dtype=np.float64) % 10
truth = (np.arange(100) % 3 == 0).astype(np.int64)
print(q.py_data_bias_analyzer(feature, truth, 5, 1)["ClassImbalance"])
"""


def test_the_distribution_heuristic_is_parsed_like_the_eps():
    def class_imbalance(value=None):
        return child_output(IMBALANCE, **({} if value is None else {"QUORVANT_DISTRIBUTION_HEURISTIC": value}))

    assert float(class_imbalance()) == 0.0
    assert float(class_imbalance("0.1")) == np.float32(80) / np.float32(100)
    assert class_imbalance(" 0.1") == class_imbalance()
    # NaN is taken as given: no ratio is greater than it, so discrete.
    assert class_imbalance("INF") == class_imbalance("nan") == class_imbalance("0.1")


def test_children_load_this_build():
    # Child processes keep this process's paths (and, under `make sanitize`, its preloads), so they test this build.
    assert child_output("import quorvant._quorvant as m; print(m.__file__)") == _quorvant.__file__


# ---- sequences of small ints -------------------------------------------------
#
# Exact lists and tuples are read in place without a call per item; every
# other sequence goes item by item through the integer protocol. Both must
# give the same values and the same first error.

from hypothesis import given, settings, strategies as st  # noqa: E402


class Seq:
    """A sequence that is neither list nor tuple: the protocol path."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Int(int):
    pass


ODD_ITEMS = [True, False, Int(1), np.int8(1), np.int64(-3), 2**70, -(2**70), 128, -129, 2**40, 1.0, "1", None]


@st.composite
def int_columns(draw):
    n = draw(st.integers(1, 3000))
    pool = draw(st.sampled_from([[0, 1], list(range(-128, 128)), list(range(-5, 40))]))
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    cols = []
    for _ in range(2):
        # Values made afresh, so large ones are distinct objects.
        col = [int(str(v)) for v in rng.choice(pool, n)]
        for _ in range(draw(st.integers(0, 2))):
            col[draw(st.integers(0, n - 1))] = draw(st.sampled_from(ODD_ITEMS))
        cols.append(col)
    return cols


def outcome(fn, *args):
    """The monitor's snapshot, or the error of making it or of the snapshot."""
    return read(lambda: {k: repr(v) for k, v in fn(*args).performance_snapshot().items()})


@settings(max_examples=60 if not SANITIZED else 10, deadline=None)
@given(int_columns())
def test_int_lists_read_in_place_agree_with_the_protocol(cols):
    f, g = cols
    want = outcome(q.PyDataBiasStreaming, Seq(f), Seq(g))
    assert outcome(q.PyDataBiasStreaming, f, g) == want
    assert outcome(q.PyDataBiasStreaming, tuple(f), tuple(g)) == want

    def pushed(*cols):
        m = q.PyDataBiasStreaming([0, 1, 0, 1], [1, 1, 0, 0])
        m.push_batch(*cols)
        return m

    assert outcome(pushed, f, g) == outcome(pushed, Seq(f), Seq(g))


# ---- failed allocations ------------------------------------------------------

NOMEMORY = r"""
import json, os, sys
import _testcapi
import quorvant as q

base = {"ClassImbalance": 0.1, "DifferenceInProportionOfLabels": 0.2, "KlDivergence": 0.01, "JsDivergence": 0.01,
        "LpNorm": 0.2, "TotalVariationDistance": 0.1, "KolmogorovSmirnov": 0.1}

def calls():
    # Metric names and report keys (interned on first use), and keywords.
    out = [q.py_data_bias_runtime_check(base, latest=dict(base, KlDivergence=0.5))]
    m = q.PyDataBiasStreaming(feature_data=[0, 1, 0, 1], gt_data=[1, 1, 0, 0])
    m.push_batch(f=[1, 0], g=[0, 1])
    out.append(m.drift_report(drift_threshold=0.1))
    out.append(m.performance_snapshot())
    return repr(out)

def attempt():
    try:
        return calls()
    except MemoryError:
        return "MemoryError"
    except BaseException as e:
        return type(e).__name__ + ": " + str(e)

def run(k):
    # In a fork, so nothing is interned yet: allocation k fails, then none.
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(r)
            if k >= 0:
                _testcapi.set_nomemory(k, k + 1)
            first = attempt()
            _testcapi.remove_mem_hooks()
            os.write(w, json.dumps([first, attempt()]).encode())
        finally:
            os._exit(0)
    os.close(w)
    data = b""
    while chunk := os.read(r, 65536):
        data += chunk
    os.close(r)
    os.waitpid(pid, 0)
    return json.loads(data)

want = run(-1)[0]
bad = []
for k in range(int(sys.argv[1])):
    first, second = run(k)
    if first not in (want, "MemoryError") or second != want:
        bad.append([k, first, second])
print(json.dumps({"want": want, "bad": bad[:3]}))
"""


def test_a_failed_allocation_neither_leaves_an_error_behind_nor_poisons_later_calls():
    # Each allocation of a first use, in turn, made to fail: the call either
    # succeeds (an interned name falls back to its text) or raises
    # MemoryError, and the next calls answer correctly.
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory") or not hasattr(os, "fork"):
        pytest.skip("needs _testcapi.set_nomemory and fork")
    rounds = "60" if SANITIZED else "400"
    out = subprocess.run([sys.executable, "-c", NOMEMORY, rounds], env=child_env(), capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    got = json.loads(out.stdout)
    assert got["want"].startswith("[{'passed': False")
    assert got["bad"] == []


# ---- str arrays holding a code point past U+10FFFF ---------------------------
#
# NumPy cannot make a str of such an element; every argument that reads the
# elements of a '<U' array refuses it with the argument's ValueError.

BAD_STR = np.frombuffer(np.array([0x110000], dtype="<u4").tobytes(), dtype="<U1")
BAD_STR_3 = np.frombuffer(np.array([ord("a"), ord("b"), 0x7FFFFFFF], dtype=">u4").tobytes(), dtype=">U1")


def invalid_code_point_cases(bad):
    n = len(bad)
    ones, zeros = np.ones(n, dtype=np.int64), np.zeros(n, dtype=np.int64)
    labels, jsd = ["a", "b"], ["JensenShannon"]
    DataBias, ModelBias = q.PyDataBiasStreaming, q.PyModelBiasStreaming
    rows2, rows3 = ([0, 1, 0, 1], [1, 1, 0, 0]), ([0, 1, 0, 1, 0, 1, 1, 0], [1, 0, 1, 1, 0, 0, 1, 0], [1, 1, 0, 0, 1, 0, 1, 1])
    Cls, Lin, Log = q.PyBinaryClassificationStreaming, q.PyLinearRegressionStreaming, q.PyLogisticRegressionStreaming
    cat_streams = (lambda: q.PyStreamingCategoricalDataDriftDecay(labels, None),
                   lambda: q.PyStreamingCategoricalDataDriftFlush(labels, None, None))
    cont_streams = (lambda: q.PyStreamingContinuousDataDriftDecay(np.arange(10.0), None, None),
                    lambda: q.PyStreamingContinuousDataDriftFlush(np.arange(10.0), None, None, None))
    cases = [
        ("feature_array", lambda: q.py_data_bias_analyzer(bad, ones, "a", 1)),
        ("ground_truth_array", lambda: q.py_data_bias_analyzer(ones, bad, 1, "a")),
        ("feature_array", lambda: q.py_model_bias_analyzer(bad, ones, zeros, "a", 1, 1)),
        ("ground_truth_array", lambda: q.py_model_bias_analyzer(ones, bad, zeros, 1, "a", 1)),
        ("prediction_array", lambda: q.py_model_bias_analyzer(ones, zeros, bad, 1, 1, "a")),
        ("metrics", lambda: q.py_data_bias_partial_check({}, {}, bad)),
        ("metrics", lambda: q.py_model_bias_partial_check({}, {}, bad)),
        ("evaluation_metrics", lambda: q.py_model_perf_class_rt_partial({}, {}, bad)),
        ("evaluation_metrics", lambda: q.py_model_perf_lin_reg_rt_partial({}, {}, bad)),
        ("evaluation_metrics", lambda: q.py_model_perf_log_reg_rt_partial({}, {}, bad)),
        ("baseline", lambda: q.py_compute_drift_categorical_distribtuion(bad, labels, jsd)),
        ("candidate", lambda: q.py_compute_drift_categorical_distribtuion(labels, bad, jsd)),
        ("drift_metrics", lambda: q.py_compute_drift_categorical_distribtuion(labels, labels, bad)),
        ("drift_metrics", lambda: q.py_compute_drift_continuous_distribtuion(np.arange(5.0), np.arange(5.0), bad, None)),
        ("baseline_data", lambda: q.PyCategoricalDataDrift(bad)),
        ("runtime_data", lambda: q.PyCategoricalDataDrift(labels).compute_drift(bad, "JensenShannon")),
        ("runtime_data", lambda: q.PyCategoricalDataDrift(labels).compute_drift_mutliple_criteria(bad, jsd)),
        ("drift_types", lambda: q.PyCategoricalDataDrift(labels).compute_drift_mutliple_criteria(labels, bad)),
        ("new_baseline", lambda: q.PyCategoricalDataDrift(labels).reset_baseline(bad)),
        ("drift_types", lambda: q.PyContinuousDataDrift(np.arange(10.0), None).compute_drift_mutliple_criteria(
            np.arange(3.0), bad)),
        ("baseline_data", lambda: q.PyStreamingCategoricalDataDriftDecay(bad, None)),
        ("baseline_data", lambda: q.PyStreamingCategoricalDataDriftFlush(bad, None, None)),
        *[(arg, lambda make=make, method=method: getattr(make(), method)(bad))
          for make in cat_streams
          for arg, method in [("runtime_data", "update_stream_batch"), ("new_baseline", "reset_baseline"),
                              ("drift_types", "compute_drift_multiple_criteria")]],
        *[("drift_types", lambda make=make: make().compute_drift_multiple_criteria(bad))
          for make in cont_streams],
        ("feature_data", lambda: DataBias(bad, rows2[1][:n])),
        ("gt_data", lambda: DataBias(rows2[0][:n], bad)),
        ("f", lambda: DataBias(*rows2).push_batch(bad, [1] * n)),
        ("g", lambda: DataBias(*rows2).reset_baseline([1] * n, bad)),
        ("metrics", lambda: DataBias(*rows2).drift_report_partial_metrics(bad, 0.1)),
        ("features", lambda: ModelBias(bad, [1] * n, [1] * n)),
        ("ground_truth", lambda: ModelBias([1] * n, [1] * n, bad)),
        ("pred", lambda: ModelBias(*rows3).push_batch([1] * n, bad, [1] * n)),
        ("feature", lambda: ModelBias(*rows3).reset_baseline(bad, [1] * n, [1] * n)),
        ("metrics", lambda: ModelBias(*rows3).drift_report_partial_metrics(bad, 0.1)),
        ("y_true", lambda: Cls(bad, [1] * n)),
        ("y_pred", lambda: Cls([1, 0], [1, 1]).push_batch([1] * n, bad)),
        ("y_true", lambda: Lin(bad, [1.0] * n)),
        ("y_pred", lambda: Lin([1.0, 2.0], [1.0, 2.5]).reset_baseline([1.0] * n, bad)),
        ("y_pred", lambda: Log([1.0] * n, bad, 0.5)),
        ("y_true", lambda: Log([1.0, 0.0], [0.7, 0.2], 0.5).push_batch(bad, [0.5] * n)),
        ("y_true", lambda: Log([1.0, 0.0], [0.7, 0.2], 0.5).reset_baseline_and_decision_threshold(bad, [0.5] * n, 0.5)),
        ("metrics", lambda: Lin([1.0, 2.0], [1.0, 2.5]).drift_report_partial_metrics(bad, 0.1)),
    ]
    return cases


@pytest.mark.parametrize("bad, item, point", [(BAD_STR, 0, 0x110000), (BAD_STR_3, 2, 0x7FFFFFFF)],
                         ids=["first", "third-byteswapped"])
@pytest.mark.parametrize("case", range(len(invalid_code_point_cases(BAD_STR))))
def test_str_array_with_an_invalid_code_point_names_the_argument(case, bad, item, point):
    arg, call = invalid_code_point_cases(bad)[case]
    message = f"argument '{arg}': item {item} holds code point 0x{point:x}, not in range(0x110000)"
    with raises_exactly(ValueError, message):
        call()
