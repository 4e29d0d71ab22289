"""Runtime checks of the data-bias, model-bias and model-performance families."""

import inspect
import math
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvant as q
from support import assert_no_leak, call_quietly, raises_exactly

f32 = np.float32

DB = ["ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence", "LpNorm",
      "TotalVariationDistance", "KolmogorovSmirnov"]
MB = ["DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
      "DifferenceInConditionalAcceptance", "DifferenceInAcceptanceRate", "SpecialityDifference",
      "DifferenceInConditionalRejection", "DifferenceInRejectionRate", "TreatmentEquity",
      "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy"]
CLS = ["BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive", "RecallNegative",
       "Accuracy", "F1Score"]
LOG = CLS + ["LogLoss"]
LIN = ["RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "RSquared", "MaxError",
       "MeanSquaredLogError", "RootMeanSquaredLogError", "MeanAbsolutePercentageError"]

# When a metric fails and which number it carries, written independently of
# the extension in NumPy f32 arithmetic: (crosses(L, B, grow, shrink), drift(L, B)).
RISE = (lambda l, b, g, s: l > g * b, lambda l, b: l - b)
FALL = (lambda l, b, g, s: l < s * b, lambda l, b: b - l)
MAGNITUDE = (lambda l, b, g, s: abs(l) > g * abs(b), lambda l, b: abs(abs(l) - abs(b)))
RULES = {
    "data_bias": {"ClassImbalance": (lambda l, b, g, s: abs(l) > abs(g * abs(b)), MAGNITUDE[1]),
                  "DifferenceInProportionOfLabels": (MAGNITUDE[0], lambda l, b: abs(l - b)),
                  **{m: RISE for m in DB[2:]}},
    "model_bias": {m: (RISE[0], lambda l, b: abs(l - b)) if m in ("DisparateImpact", "GeneralizedEntropy")
                   else MAGNITUDE for m in MB},
    "class": {m: (lambda l, b, g, s: g * l < b, FALL[1]) for m in CLS},
    "lin_reg": {m: FALL if m == "RSquared" else RISE for m in LIN},
    "log_reg": {m: RISE if m == "LogLoss" else FALL for m in LOG},
}
FAMILIES = {  # full, partial, metric names, list argument
    "data_bias": (q.py_data_bias_runtime_check, q.py_data_bias_partial_check, DB, "metrics"),
    "model_bias": (q.py_model_bias_runtime_check, q.py_model_bias_partial_check, MB, "metrics"),
    "class": (q.py_model_perf_class_rt_full, q.py_model_perf_class_rt_partial, CLS, "evaluation_metrics"),
    "lin_reg": (q.py_model_perf_lin_reg_rt_full, q.py_model_perf_lin_reg_rt_partial, LIN, "evaluation_metrics"),
    "log_reg": (q.py_model_perf_log_reg_rt_full, q.py_model_perf_log_reg_rt_partial, LOG, "evaluation_metrics"),
}
ALL_CHECKS = [(fam, i) for fam in FAMILIES for i in (0, 1)]


def call(fam, which, baseline, latest, *rest, **kw):
    full, partial, names, _ = FAMILIES[fam]
    if which == 0:
        return full(baseline, latest, *rest, **kw)
    return partial(baseline, latest, names, *rest, **kw)


def dicts(fam, metric, b, l, fill=0.0):
    names = FAMILIES[fam][2]
    base = dict.fromkeys(names, fill)
    return {**base, metric: b}, {**base, metric: l}


def failed(result):
    return {e["metric"]: e["drift"] for e in result.get("failed_report", [])}


@pytest.mark.parametrize("fam, metric, b, l, t, drift", [
    ("class", "Accuracy", 0.9, 0.81, 0.1, 0.0899999737739563),
    ("class", "Accuracy", 0.9, 0.82, 0.1, None),
    ("class", "Accuracy", 0.8910000324249268, 0.81, 0.1, None),  # equal to the f32 product (the f64 one is below)
    ("log_reg", "Accuracy", 0.9, 0.81, 0.1, None),
    ("log_reg", "Accuracy", 0.9, 0.80, 0.1, float(f32(0.9) - f32(0.8))),
    ("log_reg", "LogLoss", 0.3, 0.34, 0.1, 0.03999999165534973),
    ("lin_reg", "MeanSquaredError", 2.0, 2.3, 0.1, 0.2999999523162842),
    ("lin_reg", "MeanSquaredError", 2.0, 2.2, 0.1, None),   # exactly on the f32 bound
    ("lin_reg", "MeanSquaredError", 2.0, 0.1, 0.1, None),   # improvement
    ("lin_reg", "RSquared", 0.8, 0.7, 0.1, 0.10000002384185791),
    ("lin_reg", "RSquared", -1.0, -0.95, 0.1, float(f32(-1) - f32(-0.95))),  # literal bound, negative drift
    ("data_bias", "KlDivergence", 0.10, 0.12, 0.1, 0.019999995827674866),
    ("data_bias", "KlDivergence", 1.0, 1.1, 0.1, None),
    ("data_bias", "KlDivergence", 5.0, 0.0, 0.1, None),
    ("data_bias", "LpNorm", 0.0, 1e-30, 0.1, float(f32(1e-30))),
    ("data_bias", "DifferenceInProportionOfLabels", 0.2, -0.3, 0.1, 0.5),
    ("data_bias", "ClassImbalance", 0.2, -0.3, 0.1, 0.10000000894069672),
    # (1 + t) < 0: the magnitude of the whole bound counts for ClassImbalance only.
    ("data_bias", "ClassImbalance", 0.2, 0.1, -3.0, None),
    ("data_bias", "ClassImbalance", 0.2, 0.5, -3.0, float(f32(0.5) - f32(0.2))),
    ("data_bias", "DifferenceInProportionOfLabels", 0.2, 0.1, -3.0, float(f32(0.2) - f32(0.1))),
    ("model_bias", "DisparateImpact", 1.0, 1.2, 0.1, 0.20000004768371582),
    ("model_bias", "DisparateImpact", 1.0, 0.5, 0.1, None),
    ("model_bias", "AccuracyDifference", 0.1, -0.3, 0.1, 0.20000001788139343),
    ("model_bias", "TreatmentEquity", 0.0, -1e-3, 0.1, float(f32(1e-3))),
])
@pytest.mark.parametrize("which", [0, 1])
def test_worked_examples(fam, metric, b, l, t, drift, which):
    baseline, latest = dicts(fam, metric, b, l)
    expected = {} if drift is None else {metric: drift}
    assert failed(call(fam, which, baseline, latest, t)) == expected


@pytest.mark.parametrize("fam, which", ALL_CHECKS)
def test_report_shape_and_threshold_default(fam, which):
    names = FAMILIES[fam][2]
    same = dict.fromkeys(names, 0.25)
    assert call(fam, which, same, same) == {"passed": True}
    assert call(fam, which, same, same, threshold=7) == {"passed": True}
    assert call(fam, which, dict.fromkeys(names, math.nan), same) == {"passed": True}
    # Around the bounds, an omitted threshold behaves as the f32 value 0.1.
    g, s, b = f32(1) + f32(0.1), f32(1) - f32(0.1), f32(0.25)
    near = [x for y in (g * b, s * b, b / g) for x in (y, np.nextafter(y, f32(-1)), np.nextafter(y, f32(1)))]
    outcomes = set()
    for value in near:
        latest = {**same, names[-1]: float(value)}
        result = call(fam, which, same, latest)
        assert result == call(fam, which, same, latest, 0.1)
        outcomes.add(result["passed"])
    assert outcomes == {True, False}
    with raises_exactly(TypeError, "argument 'threshold': must be real number, not None"):
        call(fam, which, same, same, None)


class Key(str):
    pass


@pytest.mark.parametrize("value", [np.float32(0.5), np.float64(0.75), np.int64(1), 1, True, 2**70])
@pytest.mark.parametrize("key", ["MaxError", "".join(["Max", "Error"]), Key("MaxError"), np.str_("MaxError")])
def test_values_and_keys_as_given(value, key):
    base = dict.fromkeys(LIN, 0.5)
    latest = {k: value if k == "MaxError" else v for k, v in base.items()}
    latest = {key if k == "MaxError" else k: v for k, v in latest.items()}
    expected = {"MaxError": float(f32(value) - f32(0.5))} if value > 0.5 else {}
    assert failed(q.py_model_perf_lin_reg_rt_full(base, latest, 0.0)) == expected


@pytest.mark.parametrize("fam, which", ALL_CHECKS)
def test_argument_errors_in_signature_order(fam, which):
    good = dict.fromkeys(FAMILIES[fam][2], 1.0)
    with raises_exactly(TypeError, "argument 'baseline': must be dict, not list"):
        call(fam, which, [], {1: 1})
    with raises_exactly(TypeError, "argument 'latest': keys must be str, not int"):
        call(fam, which, good, {**good, 1: 1.0}, None)
    with raises_exactly(TypeError, "argument 'baseline': values must be real numbers, not str"):
        call(fam, which, {**good, "Extra": "x"}, {})
    with raises_exactly(TypeError, "argument 'baseline': keys must be str, not NoneType"):
        call(fam, which, {"Extra": np.float32(1), None: "x"}, {})  # after a value that may run code
    with raises_exactly(TypeError, "argument 'threshold': must be real number, not str"):
        call(fam, which, {}, {"Bogus": 1}, "0.1")


# Which dict is read first, per check, and the error of a missing metric.
MISSING = {"data_bias": ("baseline", "latest", "{} not present"), "model_bias": ("latest", "latest", "{} not present"),
           **{fam: ("baseline", "baseline", "Invalid analysis report") for fam in ("class", "lin_reg", "log_reg")}}


@pytest.mark.parametrize("fam, which", ALL_CHECKS)
def test_missing_metrics(fam, which):
    names = FAMILIES[fam][2]
    first, message = MISSING[fam][which], MISSING[fam][2]
    for i, name in enumerate(names):
        lacking = {k: 1.0 for k in names if k != name}
        later_gap = {k: 1.0 for k in names if k != names[(i + 1) % len(names)]}
        # The dict read first is reported, and its first gap in variant order.
        pair = (lacking, later_gap) if first == "baseline" else (later_gap, lacking)
        with raises_exactly(ValueError, message.format(name)):
            call(fam, which, *pair)
    with raises_exactly(ValueError, message.format(names[0])):
        call(fam, which, {}, {})


def test_unknown_keys_refused_by_the_full_data_bias_check_only():
    full = dict.fromkeys(DB, 1.0)
    with raises_exactly(ValueError, 'Metrics: ["Foo", "b\\"q"] are not supported'):
        q.py_data_bias_runtime_check({"Foo": 1, **full, 'b"q': 2}, {"Bar": 3})
    with raises_exactly(ValueError, 'Metrics: ["Bar", "\\\\ud800"] are not supported'):
        q.py_data_bias_runtime_check({}, {"Bar": 3, "\ud800": 4})
    assert q.py_data_bias_partial_check({**full, "Foo": 1}, {**full, "\ud800": 4}, DB) == {"passed": True}
    assert q.py_model_perf_class_rt_full({**dict.fromkeys(CLS, 1), "LogLoss": 9}, dict.fromkeys(CLS, 1)) == {
        "passed": True}


@pytest.mark.parametrize("fam", list(FAMILIES))
def test_partial_metric_lists(fam):
    _, partial, names, arg = FAMILIES[fam]
    same = dict.fromkeys(names, 1.0)
    assert partial(same, same, []) == {"passed": True}
    # Names are parsed before the dictionaries are read.
    with raises_exactly(ValueError, 'Metrics: ["Nope", "accuracy", ""] are not supported'):
        partial({}, {}, ["Nope", names[0], "accuracy", ""])
    with raises_exactly(TypeError, f"argument '{arg}': must be a sequence of str, not str"):
        partial(same, same, names[0])
    with raises_exactly(TypeError, f"argument '{arg}': items must be str, not int"):
        partial(same, same, [names[0], 3])
    crosses = RULES[fam][names[1]][0]
    moved = 1e3 if crosses(f32(1e3), f32(1), f32(1.1), f32(0.9)) else 1e-3
    result = partial(same, {**same, names[1]: moved}, (names[1], names[0], names[1]))
    assert [e["metric"] for e in result["failed_report"]] == [names[1]]


def test_logloss_is_refused_by_the_classification_partial_check():
    with raises_exactly(ValueError, 'Metrics: ["LogLoss"] are not supported'):
        q.py_model_perf_class_rt_partial({}, {}, ["Accuracy", "Nope", "LogLoss", "Bad"])


def test_signatures():
    for full, partial, _, arg in FAMILIES.values():
        assert str(inspect.signature(full)) == "(baseline, latest, threshold=0.1)"
        assert str(inspect.signature(partial)) == f"(baseline, latest, {arg}, threshold=0.1)"


class Mutating:
    """A value whose conversion empties the dict being read."""

    def __init__(self, victim):
        self.victim = victim

    def __float__(self):
        self.victim.clear()
        return 0.5


def test_dict_changed_while_read():
    base = dict.fromkeys(MB, 1.0)
    latest = {**base}
    latest["DisparateImpact"] = Mutating(latest)
    latest[str(object())] = 2.0  # a key owned by the dict alone
    assert q.py_model_bias_runtime_check(base, latest) == {"passed": True}


@pytest.mark.parametrize("case", ["ok", "fails", "numpy", "type", "missing", "unknown", "names", "items", "threshold"])
def test_no_leak(case):
    base = dict.fromkeys(DB, 0.5)
    args = {
        "ok": (q.py_data_bias_partial_check, base, base, DB),
        "fails": (q.py_model_perf_lin_reg_rt_full, dict.fromkeys(LIN, 1.0), dict.fromkeys(LIN, 9.0)),
        "numpy": (q.py_model_perf_class_rt_full, {k: np.float32(1) for k in CLS}, {k: np.int64(0) for k in CLS}),
        "type": (q.py_data_bias_runtime_check, base, {**base, "x": np.float32(1), "y": object()}),
        "missing": (q.py_model_bias_runtime_check, base, base),
        "unknown": (q.py_data_bias_runtime_check, {**base, "Foo": 1}, base),
        "names": (q.py_model_perf_class_rt_partial, base, base, ["Nope", "LogLoss"]),
        "items": (q.py_model_bias_partial_check, base, base, ["DisparateImpact", 3]),
        "threshold": (q.py_model_perf_log_reg_rt_full, base, base, None),
    }[case]
    inner = [o for a in args if isinstance(a, (dict, list)) for o in (list(a.items()) if isinstance(a, dict) else a)]
    inner = [o for pair in inner for o in (pair if isinstance(pair, tuple) else (pair,))]
    call_quietly(*args)  # the first call interns the names its family uses, once
    before = [sys.getrefcount(o) for o in inner]
    assert_no_leak(*args)
    assert [sys.getrefcount(o) for o in inner] == before, "references to keys or values leaked"


any_f32 = st.floats(width=32)


@settings(max_examples=300, deadline=None)
@given(fam=st.sampled_from(list(FAMILIES)), t=st.floats(-2, 2, width=32) | st.just(0.1), data=st.data())
def test_passes_exactly_when_no_metric_crosses_its_bound(fam, t, data):
    names = FAMILIES[fam][2]
    g, s = f32(1) + f32(t), f32(1) - f32(t)
    baseline, latest = {}, {}
    with np.errstate(all="ignore"):
        for m in names:
            b = baseline[m] = f32(data.draw(any_f32))
            # Often on a bound or one step either side of it.
            on = data.draw(st.sampled_from([g * b, s * b, b / g]))
            step = data.draw(st.sampled_from([None, 0, -np.inf, np.inf]))
            latest[m] = f32(data.draw(any_f32)) if step is None else on if step == 0 else np.nextafter(on, f32(step))
        listed = data.draw(st.lists(st.sampled_from(names), max_size=2 * len(names)))
        expected = {m: float(RULES[fam][m][1](latest[m], baseline[m]))
                    for m in listed if RULES[fam][m][0](latest[m], baseline[m], g, s)}
    as_py = [{m: float(v) for m, v in d.items()} for d in (baseline, latest)]
    result = FAMILIES[fam][1](*as_py, listed, float(t))
    assert result["passed"] == (not expected)
    got = failed(result)
    assert got.keys() == expected.keys()
    assert all(got[m] == expected[m] or (math.isnan(got[m]) and math.isnan(expected[m])) for m in got)


# ---- names that hold a NUL --------------------------------------------------
#
# A message quoting a name keeps every character of it.

NUL_NAME = "Acc\x00uracy"
NUL_MESSAGE = 'Metrics: ["Acc\x00uracy", "x"] are not supported'


def monitor_partial(cls, *rows):
    return lambda: cls(*rows).drift_report_partial_metrics([NUL_NAME, "x"], 0.1)


@pytest.mark.parametrize("call", [
    *[lambda fam=fam: FAMILIES[fam][1](dict.fromkeys(FAMILIES[fam][2], 1.0), dict.fromkeys(FAMILIES[fam][2], 1.0),
                                        [NUL_NAME, "x"]) for fam in FAMILIES],
    lambda: q.py_data_bias_runtime_check({**dict.fromkeys(DB, 1.0), NUL_NAME: 1.0, "x": 2.0}, dict.fromkeys(DB, 1.0)),
    monitor_partial(q.PyDataBiasStreaming, [0, 1, 0, 1], [1, 1, 0, 0]),
    monitor_partial(q.PyModelBiasStreaming, [0, 1, 0, 1, 0, 1, 1, 0], [1, 0, 1, 1, 0, 0, 1, 0],
                    [1, 1, 0, 0, 1, 0, 1, 1]),
    monitor_partial(q.PyBinaryClassificationStreaming, [0, 1, 0, 1], [1, 1, 0, 1]),
    monitor_partial(q.PyLinearRegressionStreaming, [1.0, 2.0], [1.5, 2.0]),
    monitor_partial(q.PyLogisticRegressionStreaming, [1.0, 0.0], [0.7, 0.2], 0.5),
], ids=[f"{fam}_partial" for fam in FAMILIES] + ["data_bias_unknown_keys", "data_bias_monitor", "model_bias_monitor",
                                                   "classification_monitor", "linear_monitor", "logistic_monitor"])
def test_a_name_holding_nul_is_quoted_whole(call):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == NUL_MESSAGE
