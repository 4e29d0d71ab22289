"""How arguments are read: a later argument's conversion (Python code) cannot pull the memory from under an
earlier one, a cheap wrong-typed array is refused without making an object per element, and ndarray subclasses go
through the protocols."""

from __future__ import annotations

import tracemalloc
import warnings

import numpy as np
import pytest

import quorvant._quorvant as q
from support import SANITIZED, raises_exactly
from test_stateful import canonical, read

N = 20_000 if SANITIZED else 70_000  # past the GIL-release size outside the sanitizer
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


# ---- the attack ------------------------------------------------------------


class Attacker:
    """Met by a conversion (__float__, __index__, __eq__, or via Armed/AttackList/AttackArray): frees, grows or
    refills the victims (what the same call already converted), allocates junk into the freed memory, then answers
    like `value`."""

    def __init__(self, victims, how, value=0.5):
        self.victims, self.how, self.value = victims, how, value
        self.junk = None

    def strike(self):
        if self.junk is not None:
            return
        for v in self.victims:
            if isinstance(v, np.ndarray):
                if self.how == "free":
                    v.resize(0, refcheck=False)
                elif self.how == "grow":
                    v.resize(v.size * 3 + 4096, refcheck=False)
                elif v.dtype.kind == "U":
                    v[...] = "zz"
                elif v.dtype.kind == "f":
                    v[...] = np.nan
                else:
                    v[...] = 100 if v.dtype.kind in "iu" else 1  # a value past every small range
            elif isinstance(v, list):
                if self.how == "free":
                    v.clear()
                elif self.how == "grow":
                    v.extend([object()] * 1000)
                else:
                    v[:] = [object()] * len(v)
            elif isinstance(v, dict):
                v.clear()
                v.update({object(): object() for _ in range(100)})
        self.junk = [np.full(N, 7.0) for _ in range(8)] + [[object() for _ in range(1000)] for _ in range(8)]

    def __float__(self):
        self.strike()
        return float(self.value)

    def __index__(self):
        self.strike()
        return int(self.value)

    def __eq__(self, other):
        self.strike()
        return NotImplemented

    __hash__ = object.__hash__


class Armed:
    """An item whose conversion sets off a shared attacker."""

    def __init__(self, attacker, value):
        self.attacker, self.value = attacker, value

    def __float__(self):
        self.attacker.strike()
        return float(self.value)

    def __index__(self):
        self.attacker.strike()
        return int(self.value)


class AttackList(list):
    """A sequence whose reading strikes first (its __len__ and __iter__)."""

    def __init__(self, items, attacker):
        super().__init__(items)
        self.attacker = attacker

    def __len__(self):
        self.attacker.strike()
        return super().__len__()

    def __iter__(self):
        self.attacker.strike()
        return super().__iter__()


class AttackArray(np.ndarray):
    """An ndarray subclass (read through the protocols) that strikes when iterated."""

    def __iter__(self):
        self.attacker.strike()
        return super().__iter__()


def attack_array(values, attacker):
    a = np.asarray(values).view(AttackArray)
    a.attacker = attacker
    return a


# ---- every face that takes two or more arguments -----------------------------


def ints(n=N, seed=0):
    return np.random.default_rng(seed).integers(0, 2, n)


def floats(n=N, seed=1):
    return np.random.default_rng(seed).random(n)


def labels(n=N):
    return [("a", "b", "c")[i % 3] for i in range(n)]


def case(victims, call, value=0.5):
    """A face's case for case(how): victims() makes fresh the arguments the call converts (or validates) before
    the attacker's, call(*victims, attacker) makes the call; the attacker answers like `value`."""
    def make(how):
        made = victims()
        attacker = Attacker(made, how, value)
        return lambda: call(*made, attacker)
    return make


def armed(attacker, values):
    """An object array whose items set off the attacker when converted."""
    return np.array([Armed(attacker, x) for x in values], dtype=object)


def rows(attacker, n=N):
    """A column of ints whose middle item is the attacker."""
    row = ints(n, seed=9).tolist()
    row[n // 2] = attacker
    return row


def monitor_cases(cls, make, columns, constructor=True):
    """The constructor and batch methods of a monitor: the leading columns are arrays, the last holds the attacker."""
    out = {cls.__name__: case(columns, lambda *c: cls(*c[:-1], rows(c[-1])), 1)} if constructor else {}
    for method in ("push_batch", "reset_baseline"):
        call = lambda *c, m=method: getattr(make(), m)(*c[:-1], rows(c[-1]))  # noqa: E731
        out[f"{cls.__name__}.{method}"] = case(columns, call, 1)
    return out


BIAS = {"ClassImbalance": 0.1, "DifferenceInProportionOfLabels": 0.2, "KlDivergence": 0.01, "JsDivergence": 0.01,
        "LpNorm": 0.2, "TotalVariationDistance": 0.1, "KolmogorovSmirnov": 0.1}
GT = (0.5, None, "GreaterThan")
LOGISTIC = lambda: q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5)  # noqa: E731
LOGISTIC_COLUMNS = lambda: [ints().astype(float), floats()]  # noqa: E731

CASES = {
    "py_data_bias_analyzer": case(lambda: [ints()],
                                  lambda t, a: q.py_data_bias_analyzer(attack_array(floats(), a), t, 0.5, 1)),
    "py_data_bias_analyzer_explicit_seg (array)": case(
        lambda: [ints(2000)], lambda f, a: q.py_data_bias_analyzer_explicit_seg(f, *GT, armed(a, floats(2000)), *GT)),
    "py_data_bias_analyzer_explicit_seg (threshold)": case(
        lambda: [ints(), floats()], lambda f, g, a: q.py_data_bias_analyzer_explicit_seg(f, *GT, g, a, *GT[1:])),
    "py_model_bias_analyzer": case(
        lambda: [ints(seed=2), ints(seed=3)],
        lambda g, p, a: q.py_model_bias_analyzer(attack_array(floats(), a), g, p, 0.5, 1, 1)),
    "py_model_bias_analyzer (str)": case(
        lambda: [ints(seed=2), ints(seed=3)],
        lambda g, p, a: q.py_model_bias_analyzer(attack_array(np.array(["x", "y"])[ints(seed=4)], a), g, p, "x", 1, 1)),
    "py_model_bias_analyzer_explicit_seg": case(
        lambda: [ints(seed=4), ints(seed=5)],
        lambda f, g, a: q.py_model_bias_analyzer_explicit_seg(f, *GT, g, *GT, armed(a, ints(2000, seed=6)), *GT)),
    "py_model_perf_linear_regression": case(
        lambda: [floats() + 1], lambda t, a: q.py_model_perf_linear_regression(t, attack_array(floats(seed=2) + 1, a))),
    "py_model_perf_classification": case(
        lambda: [ints()], lambda t, a: q.py_model_perf_classification(t, attack_array(ints(seed=7).astype(float), a))),
    "py_model_perf_logistic_regression": case(LOGISTIC_COLUMNS, q.py_model_perf_logistic_regression),
    "py_compute_drift_categorical_distribtuion": case(
        lambda: [labels(), labels()],
        lambda b, c, a: q.py_compute_drift_categorical_distribtuion(b, c, AttackList(ALL, a))),
    "py_compute_drift_continuous_distribtuion": case(
        lambda: [floats(), floats(seed=3)],
        lambda b, c, a: q.py_compute_drift_continuous_distribtuion(b, c, AttackList(ALL, a), None)),
    "py_data_bias_runtime_check": case(lambda: [dict(BIAS)],
                                       lambda b, a: q.py_data_bias_runtime_check(b, dict(BIAS, LpNorm=a), 0.1), 0.3),
    "py_data_bias_partial_check": case(lambda: [dict(BIAS), dict(BIAS)],
                                       lambda b, l, a: q.py_data_bias_partial_check(b, l, AttackList(["LpNorm"], a))),
    "PyCategoricalDataDrift.compute_drift_mutliple_criteria": case(
        lambda: [labels()],
        lambda r, a: q.PyCategoricalDataDrift(labels(100)).compute_drift_mutliple_criteria(r, AttackList(ALL, a))),
    "PyContinuousDataDrift.compute_drift_mutliple_criteria": case(
        lambda: [floats()],
        lambda r, a: q.PyContinuousDataDrift(floats(1000), None).compute_drift_mutliple_criteria(
            r, AttackList(ALL, a))),
    "PyStreamingContinuousDataDriftDecay": case(
        lambda: [floats()], lambda b, a: q.PyStreamingContinuousDataDriftDecay(b, None, a), 100),
    "PyStreamingContinuousDataDriftFlush": case(
        lambda: [floats()], lambda b, a: q.PyStreamingContinuousDataDriftFlush(b, None, a, 5), 100),
    "PyStreamingCategoricalDataDriftDecay": case(lambda: [labels()], q.PyStreamingCategoricalDataDriftDecay, 100),
    "PyStreamingCategoricalDataDriftFlush": case(
        lambda: [labels()], lambda b, a: q.PyStreamingCategoricalDataDriftFlush(b, None, a), 100),
    **monitor_cases(q.PyDataBiasStreaming, lambda: q.PyDataBiasStreaming(ints(100), ints(100, seed=1)),
                    lambda: [ints()]),
    **monitor_cases(q.PyModelBiasStreaming,
                    lambda: q.PyModelBiasStreaming(ints(100), ints(100, seed=1), ints(100, seed=2)),
                    lambda: [ints(), ints(seed=4).astype(np.int8)]),
    **monitor_cases(q.PyBinaryClassificationStreaming, lambda: q.PyBinaryClassificationStreaming([1, 0], [1, 0]),
                    lambda: [ints()]),
    **monitor_cases(q.PyLinearRegressionStreaming, lambda: q.PyLinearRegressionStreaming([1.0, 2.0], [1.0, 2.0]),
                    lambda: [floats()]),
    "PyLogisticRegressionStreaming": case(LOGISTIC_COLUMNS, q.PyLogisticRegressionStreaming),
    **monitor_cases(q.PyLogisticRegressionStreaming, LOGISTIC, lambda: [ints().astype(float)], constructor=False),
    "PyLogisticRegressionStreaming.reset_baseline_and_decision_threshold": case(
        LOGISTIC_COLUMNS, lambda t, p, a: LOGISTIC().reset_baseline_and_decision_threshold(t, p, a)),
}


@pytest.mark.parametrize("how", ["free", "grow", "refill"])
@pytest.mark.parametrize("face", list(CASES))
def test_code_run_by_a_later_argument_cannot_pull_memory_from_an_earlier_one(face, how):
    call = CASES[face](how)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            call()
        except Exception as exc:  # noqa: BLE001 - the arguments were changed under the call on purpose
            assert not isinstance(exc, SystemError), exc


class ResizingThreshold:
    """A threshold whose conversion resizes both arrays (freeing or moving
    their buffers) and fills what it added."""

    def __init__(self, arrays, size):
        self.arrays, self.size = arrays, size

    def __float__(self):
        for a, fill in zip(self.arrays, (0.0, 0.1)):
            old = a.size
            a.resize(self.size, refcheck=False)
            a[old:] = fill
        self.junk = [np.full(200_000, 7.0) for _ in range(8)]
        return 0.5


def test_the_logistic_monitor_reads_its_arrays_after_the_threshold():
    # The crash of the field: the threshold's conversion frees both arrays,
    # which are then read as they are once converted: empty.
    yt, yp = np.ones(200_000), np.full(200_000, 0.9)
    with raises_exactly(TypeError, "Metric cannot be computed with given data"):
        q.PyLogisticRegressionStreaming(yt, yp, ResizingThreshold([yt, yp], 0))


def test_an_array_resized_in_place_is_read_as_it_is_then():
    # Grown (a new buffer) while the threshold converts: the held arrays are
    # converted again and read whole.
    yt, yp = np.ones(1000), np.full(1000, 0.9)
    got = q.py_model_perf_logistic_regression(yt, yp, ResizingThreshold([yt, yp], 3000))
    assert got == q.py_model_perf_logistic_regression(yt.copy(), yp.copy(), 0.5)


# ---- wrong-typed arrays are refused at their first item ------------------------

CHEAP = np.broadcast_to(np.float64(1.0), (10**8,))  # 8 bytes of data, 10**8 elements

REFUSALS = [
    (lambda: q.PyCategoricalDataDrift(CHEAP), "argument 'baseline_data': items must be str, not numpy.float64"),
    (lambda: q.py_compute_drift_categorical_distribtuion(["a"], CHEAP, ALL),
     "argument 'candidate': items must be str, not numpy.float64"),
    (lambda: q.PyStreamingCategoricalDataDriftDecay(CHEAP, None),
     "argument 'baseline_data': items must be str, not numpy.float64"),
    (lambda: q.PyDataBiasStreaming(CHEAP, CHEAP), "argument 'feature_data': items must be int, not numpy.float64"),
    (lambda: q.PyModelBiasStreaming([1], [1], CHEAP), "argument 'ground_truth': items must be int, not numpy.float64"),
    (lambda: q.PyBinaryClassificationStreaming(CHEAP, CHEAP), "argument 'y_true': items must be int, not numpy.float64"),
    (lambda: q.PyLinearRegressionStreaming([1.0], np.broadcast_to(np.str_("x"), (10**8,))),
     "argument 'y_pred': items must be real numbers, not numpy.str_"),
    (lambda: q.py_model_perf_class_rt_partial({}, {}, CHEAP),
     "argument 'evaluation_metrics': items must be str, not numpy.float64"),
]


@pytest.mark.parametrize("call, message", REFUSALS)
def test_a_cheap_wrong_typed_array_is_refused_without_making_its_elements(call, message):
    tracemalloc.start()
    try:
        with raises_exactly(TypeError, message):
            call()
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 1_000_000, peak


def test_a_bad_code_point_after_the_first_bad_item_still_wins():
    # Making every item first meets the code point before any conversion.
    a = np.array(["a", "b", "c"], dtype="<U1")
    a.view(np.uint32)[2] = 0x110000
    with raises_exactly(ValueError, "argument 'f': item 2 holds code point 0x110000, not in range(0x110000)"):
        q.PyDataBiasStreaming([1, 0, 1], [1, 0, 1]).push_batch(a, [1, 0, 1])


def test_items_made_one_by_one_give_what_the_protocol_gives():
    swapped = np.array([1, 0, 1, 1, 0, 0, 1], dtype=">i8")  # not a native buffer: the generic path
    truth = np.array([1, 1, 0, 1, 0, 1, 0])
    ours, ref = (q.PyDataBiasStreaming([1, 0], [1, 1]) for _ in range(2))
    ours.push_batch(swapped, truth)
    ref.push_batch(swapped.tolist(), truth)
    assert ours.performance_snapshot() == ref.performance_snapshot()
    with raises_exactly(OverflowError, "argument 'f': value out of range for a signed 8-bit integer (-128..127)"):
        ours.push_batch(np.array([1, 200], dtype=">i8"), [1, 1])


# ---- one fast-path rule: exact ndarrays read the buffer, subclasses the protocols -


class Plain(np.ndarray):
    pass


def masked(values, mask):
    return np.ma.MaskedArray(values, mask=mask)


def protocol_floats(a):
    """What the float protocol makes of each element (masked: NaN)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return [float(x) for x in a]


VALUES = np.array([0.25, 0.75, 0.5, 0.9, 0.1, 0.6, 0.4, 0.8])
TRUTHS = np.array([1, 0, 1, 1, 0, 1, 0, 0])
MASK = [0, 1, 0, 0, 0, 0, 1, 0]


@pytest.mark.parametrize("wrap", [lambda a: a.view(Plain), lambda a: masked(a, MASK)], ids=["subclass", "masked"])
def test_subclasses_of_ndarray_take_the_protocol_path(wrap):
    sub = wrap(VALUES.copy())
    generic = protocol_floats(sub)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        # Sequences of numbers: as the list the protocol makes.
        m, ref = (q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5) for _ in range(2))
        m.push_batch(TRUTHS.astype(float), sub)
        ref.push_batch(TRUTHS.astype(float), generic)
        assert canonical(m.performance_snapshot()) == canonical(ref.performance_snapshot())
        # Arrays: as a plain array of the protocol's values.
        for face in (lambda a: q.py_model_perf_logistic_regression(TRUTHS.astype(float), a, 0.5),
                     lambda a: q.py_model_perf_classification(TRUTHS, a),
                     lambda a: q.py_data_bias_analyzer(a, TRUTHS, 0.5, 1),
                     lambda a: q.py_model_bias_analyzer(a, TRUTHS, 1 - TRUTHS, 0.5, 1, 1)):
            assert canonical(read(face, sub)) == canonical(read(face, np.array(generic)))


def test_an_integer_subclass_goes_through_the_integer_protocol():
    sub = np.array([1, 0, 1, 1], dtype=np.int64).view(Plain)
    ours, ref = (q.PyBinaryClassificationStreaming([1, 0], [1, 0]) for _ in range(2))
    ours.push_batch(sub, sub[::-1])
    ref.push_batch([1, 0, 1, 1], [1, 1, 0, 1])
    assert ours.performance_snapshot() == ref.performance_snapshot()
    with pytest.raises(Exception) as info:  # the masked element refuses the integer protocol
        q.PyDataBiasStreaming(masked(np.array([1, 0, 1]), [0, 1, 0]), [1, 0, 1])
    assert not isinstance(info.value, SystemError)


def test_continuous_drift_reads_the_memory_of_any_float64_ndarray():
    base, cand = np.linspace(0, 1, 1000), np.linspace(0.2, 1.2, 500)
    want = q.py_compute_drift_continuous_distribtuion(base, cand, ALL, None)
    for wrap in (lambda a: a.view(Plain), lambda a: masked(a, np.arange(a.size) % 3 == 0)):
        assert q.py_compute_drift_continuous_distribtuion(wrap(base), wrap(cand), ALL, None) == want
        assert q.PyContinuousDataDrift(wrap(base), None).compute_drift_mutliple_criteria(wrap(cand), ALL) == \
            q.PyContinuousDataDrift(base, None).compute_drift_mutliple_criteria(cand, ALL)
