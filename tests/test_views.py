"""How arguments are read: conversions that run Python code cannot pull the
memory from under an argument read in place, a cheap wrong-typed array is
refused without first making an object per element, and ndarray subclasses
go through the protocols (the defined behaviour) wherever a face has them."""

from __future__ import annotations

import tracemalloc
import warnings

import numpy as np
import pytest

import quorvant._quorvant as q
from support import SANITIZED, raises_exactly

N = 20_000 if SANITIZED else 70_000  # past the GIL-release size outside the sanitizer
ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]


# ---- the attack ------------------------------------------------------------


class Attacker:
    """Called by whatever conversion meets it (__float__, __index__, __eq__,
    __len__, __iter__): frees, grows or refills the victims (arrays, lists,
    dicts already converted or validated by the same call), allocates junk
    that reuses the freed memory, then answers like `value`."""

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
    """A value (an item of a sequence or object array) whose conversion sets
    off a shared attacker."""

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
    """An ndarray subclass (read through the protocols) that strikes when
    iterated."""

    def __iter__(self):
        self.attacker.strike()
        return super().__iter__()


def attack_array(values, attacker):
    a = np.asarray(values).view(AttackArray)
    a.attacker = attacker
    return a


# ---- every face that takes two or more arguments -----------------------------
#
# Each case builds fresh inputs and returns the call to make; the victims are
# the arguments the call converted (or validated) before the attacker's.


def ints(n=N, seed=0):
    return np.random.default_rng(seed).integers(0, 2, n)


def floats(n=N, seed=1):
    return np.random.default_rng(seed).random(n)


def labels(n=N):
    return [("a", "b", "c")[i % 3] for i in range(n)]


def data_bias(how):
    truth = ints()
    return lambda: q.py_data_bias_analyzer(attack_array(floats(), Attacker([truth], how)), truth, 0.5, 1)


def data_bias_explicit(how):
    f = ints(2000)
    attacker = Attacker([f], how)
    truth = np.array([Armed(attacker, x) for x in floats(2000)], dtype=object)
    return lambda: q.py_data_bias_analyzer_explicit_seg(f, 0.5, None, "GreaterThan", truth, 0.5, None, "GreaterThan")


def data_bias_explicit_threshold(how):
    f, g = ints(), floats()
    return lambda: q.py_data_bias_analyzer_explicit_seg(f, 0.5, None, "GreaterThan", g, Attacker([f, g], how), None,
                                                        "GreaterThan")


def model_bias(how):
    g, p = ints(seed=2), ints(seed=3)
    return lambda: q.py_model_bias_analyzer(attack_array(floats(), Attacker([g, p], how)), g, p, 0.5, 1, 1)


def model_bias_str(how):
    g, p = ints(seed=2), ints(seed=3)
    feature = np.array(["x", "y"])[ints(seed=4)]
    return lambda: q.py_model_bias_analyzer(attack_array(feature, Attacker([g, p], how)), g, p, "x", 1, 1)


def model_bias_explicit(how):
    f, g = ints(seed=4), ints(seed=5)
    attacker = Attacker([f, g], how)
    pred = np.array([Armed(attacker, x) for x in ints(2000, seed=6)], dtype=object)
    return lambda: q.py_model_bias_analyzer_explicit_seg(f, 0.5, None, "GreaterThan", g, 0.5, None, "GreaterThan",
                                                         pred, 0.5, None, "GreaterThan")


def linear_regression(how):
    yt = floats() + 1
    return lambda: q.py_model_perf_linear_regression(yt, attack_array(floats(seed=2) + 1, Attacker([yt], how)))


def classification(how):
    yt = ints()
    return lambda: q.py_model_perf_classification(yt, attack_array(ints(seed=7).astype(float), Attacker([yt], how)))


def logistic_regression(how):
    yt, yp = ints().astype(float), floats()
    return lambda: q.py_model_perf_logistic_regression(yt, yp, Attacker([yt, yp], how))


def categorical_distribution(how):
    base, cand = labels(), labels()
    return lambda: q.py_compute_drift_categorical_distribtuion(base, cand, AttackList(ALL, Attacker([base, cand], how)))


def continuous_distribution(how):
    base, cand = floats(), floats(seed=3)
    return lambda: q.py_compute_drift_continuous_distribtuion(base, cand, AttackList(ALL, Attacker([base, cand], how)),
                                                              None)


BIAS = {"ClassImbalance": 0.1, "DifferenceInProportionOfLabels": 0.2, "KlDivergence": 0.01, "JsDivergence": 0.01,
        "LpNorm": 0.2, "TotalVariationDistance": 0.1, "KolmogorovSmirnov": 0.1}


def runtime_check(how):
    base = dict(BIAS)
    return lambda: q.py_data_bias_runtime_check(base, dict(BIAS, LpNorm=Attacker([base], how, 0.3)), 0.1)


def partial_check(how):
    base, latest = dict(BIAS), dict(BIAS)
    return lambda: q.py_data_bias_partial_check(base, latest, AttackList(["LpNorm"], Attacker([base, latest], how)))


def categorical_detector(how):
    d = q.PyCategoricalDataDrift(labels(100))
    runtime = labels()
    return lambda: d.compute_drift_mutliple_criteria(runtime, AttackList(ALL, Attacker([runtime], how)))


def continuous_detector(how):
    d = q.PyContinuousDataDrift(floats(1000), None)
    runtime = floats()
    return lambda: d.compute_drift_mutliple_criteria(runtime, AttackList(ALL, Attacker([runtime], how)))


def continuous_decay(how):
    base = floats()
    return lambda: q.PyStreamingContinuousDataDriftDecay(base, None, Attacker([base], how, 100))


def continuous_flush(how):
    base = floats()
    return lambda: q.PyStreamingContinuousDataDriftFlush(base, None, Attacker([base], how, 100), 5)


def categorical_decay(how):
    base = labels()
    return lambda: q.PyStreamingCategoricalDataDriftDecay(base, Attacker([base], how, 100))


def categorical_flush(how):
    base = labels()
    return lambda: q.PyStreamingCategoricalDataDriftFlush(base, None, Attacker([base], how, 100))


def rows_with_attacker(victims, how, n=N):
    row = ints(n, seed=9).tolist()
    row[n // 2] = Attacker(victims, how, 1)
    return row


def monitor_case(make, columns):
    """Cases of a monitor's constructor and batch methods: the leading
    columns are arrays (columns() makes them), the last a list holding an
    armed item that attacks them."""
    def for_method(method):
        def case(how):
            arrays = columns()
            call = getattr(make(), method) if method else make
            return lambda: call(*arrays, rows_with_attacker(arrays, how))
        return case
    return for_method


data_bias_stream = monitor_case(lambda *a: q.PyDataBiasStreaming(*(a or (ints(100), ints(100, seed=1)))),
                                lambda: [ints()])
model_bias_stream = monitor_case(
    lambda *a: q.PyModelBiasStreaming(*(a or (ints(100), ints(100, seed=1), ints(100, seed=2)))),
    lambda: [ints(), ints(seed=4).astype(np.int8)])
classification_stream = monitor_case(lambda *a: q.PyBinaryClassificationStreaming(*(a or ([1, 0], [1, 0]))),
                                     lambda: [ints()])
linear_stream = monitor_case(lambda *a: q.PyLinearRegressionStreaming(*(a or ([1.0, 2.0], [1.0, 2.0]))),
                             lambda: [floats()])


def logistic_stream(method):
    def case(how):
        yt, yp = ints().astype(float), floats()
        if method is None:
            return lambda: q.PyLogisticRegressionStreaming(yt, yp, Attacker([yt, yp], how))
        m = q.PyLogisticRegressionStreaming([1.0, 0.0], [0.8, 0.2], 0.5)
        if method == "reset_baseline_and_decision_threshold":
            return lambda: m.reset_baseline_and_decision_threshold(yt, yp, Attacker([yt, yp], how))
        return lambda: getattr(m, method)(yt, rows_with_attacker([yt], how))
    return case


CASES = {
    "py_data_bias_analyzer": data_bias,
    "py_data_bias_analyzer_explicit_seg (array)": data_bias_explicit,
    "py_data_bias_analyzer_explicit_seg (threshold)": data_bias_explicit_threshold,
    "py_model_bias_analyzer": model_bias,
    "py_model_bias_analyzer (str)": model_bias_str,
    "py_model_bias_analyzer_explicit_seg": model_bias_explicit,
    "py_model_perf_linear_regression": linear_regression,
    "py_model_perf_classification": classification,
    "py_model_perf_logistic_regression": logistic_regression,
    "py_compute_drift_categorical_distribtuion": categorical_distribution,
    "py_compute_drift_continuous_distribtuion": continuous_distribution,
    "py_data_bias_runtime_check": runtime_check,
    "py_data_bias_partial_check": partial_check,
    "PyCategoricalDataDrift.compute_drift_mutliple_criteria": categorical_detector,
    "PyContinuousDataDrift.compute_drift_mutliple_criteria": continuous_detector,
    "PyStreamingContinuousDataDriftDecay": continuous_decay,
    "PyStreamingContinuousDataDriftFlush": continuous_flush,
    "PyStreamingCategoricalDataDriftDecay": categorical_decay,
    "PyStreamingCategoricalDataDriftFlush": categorical_flush,
    **{f"PyDataBiasStreaming{'.' + m if m else ''}": data_bias_stream(m) for m in (None, "push_batch", "reset_baseline")},
    **{f"PyModelBiasStreaming{'.' + m if m else ''}": model_bias_stream(m) for m in (None, "push_batch", "reset_baseline")},
    **{f"PyBinaryClassificationStreaming{'.' + m if m else ''}": classification_stream(m)
       for m in (None, "push_batch", "reset_baseline")},
    **{f"PyLinearRegressionStreaming{'.' + m if m else ''}": linear_stream(m)
       for m in (None, "push_batch", "reset_baseline")},
    **{f"PyLogisticRegressionStreaming{'.' + m if m else ''}": logistic_stream(m)
       for m in (None, "push_batch", "reset_baseline", "reset_baseline_and_decision_threshold")},
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
        assert _same(m.performance_snapshot(), ref.performance_snapshot())
        # Arrays: as a plain array of the protocol's values.
        for face in (lambda a: q.py_model_perf_logistic_regression(TRUTHS.astype(float), a, 0.5),
                     lambda a: q.py_model_perf_classification(TRUTHS, a),
                     lambda a: q.py_data_bias_analyzer(a, TRUTHS, 0.5, 1),
                     lambda a: q.py_model_bias_analyzer(a, TRUTHS, 1 - TRUTHS, 0.5, 1, 1)):
            assert _same(outcome(face, sub), outcome(face, np.array(generic)))


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


def outcome(face, arg):
    """The result of face(arg), or its exception as (type, text)."""
    try:
        return face(arg)
    except Exception as exc:  # noqa: BLE001
        return type(exc), str(exc)


def _same(a, b):
    if not isinstance(a, dict) or not isinstance(b, dict):
        return a == b
    return a.keys() == b.keys() and all(x == y or (x != x and y != y) for x, y in zip(a.values(), (b[k] for k in a)))

