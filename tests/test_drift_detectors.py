"""Batch and streaming drift detectors against worked numbers and a sample-by-sample reference model."""

import gc
import inspect
import math
import time
import tracemalloc

import numpy as np
import pytest
from hypothesis import assume, given, settings, strategies as st

import drift_reference as ref
import quorvant as q
from support import SANITIZED, assert_no_leak, raises_exactly

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
EMPTY_RUNTIME = "Data used for runtime drift analysis must be non empty"
EMPTY_BASELINE = "Baseline data must be non empty"
UNSUPPORTED = "Unsupported drift type"
CONFIG = "Configuration not supported in current drift mode"
TEN = np.arange(10.0)
ABBC = ["a", "b", "b", "c"]

ContDecay = q.PyStreamingContinuousDataDriftDecay
ContFlush = q.PyStreamingContinuousDataDriftFlush
CatDecay = q.PyStreamingCategoricalDataDriftDecay
CatFlush = q.PyStreamingCategoricalDataDriftFlush


def f64(values):
    return np.array(values, dtype=np.float64)


def same_bits(got, want):
    assert [float(g).hex() for g in got] == [float(w).hex() for w in want]


def state(d):
    """Everything observable about a streaming detector."""
    try:
        snap = d.export_snapshot()
    except ValueError as e:
        snap = str(e)
    return d.total_samples, d.n_bins, snap, d.export_baseline()


# ------------------------------------------------------------------ batch --


def test_batch_continuous_worked_example():
    d = q.PyContinuousDataDrift(TEN, "Sturges")
    assert d.num_bins == 4 and d.export_baseline() == [0.0, 0.5, 0.0, 0.5]
    w = d.compute_drift(f64([1, 2, 3]), "WassersteinDistance")
    assert w == pytest.approx(0.25) and d.compute_drift(f64([1, 2, 3]), "WassersteinDistance") == w
    both = d.compute_drift_mutliple_criteria(f64([1, 2, 3]), ["KullbackLeibler", "JensenShannon"])
    assert both == [d.compute_drift(f64([1, 2, 3]), "KullbackLeibler"), d.compute_drift(f64([1, 2, 3]), "JensenShannon")]
    d.reset_baseline(np.arange(100.0))
    assert d.num_bins == 7
    cand = f64([5, 50, 99, -3, 1e9])
    same_bits(d.compute_drift_mutliple_criteria(cand, ALL),
              q.py_compute_drift_continuous_distribtuion(np.arange(100.0), cand, ALL, "Sturges"))


def test_batch_categorical_worked_example():
    d = q.PyCategoricalDataDrift(ABBC)
    assert d.num_bins == 4 and d.export_baseline() == {"a": 0.25, "b": 0.5, "c": 0.25}
    assert d.compute_drift(["x", "y"], "WassersteinDistance") == pytest.approx(1.0, abs=1e-9)
    assert d.compute_drift(["x", "y"], "JensenShannon") == pytest.approx(1.0, abs=1e-9)
    d.reset_baseline(["B", "b", "a"])
    assert d.num_bins == 4 and set(d.export_baseline()) == {"a", "b", "B"}
    with raises_exactly(ValueError, EMPTY_BASELINE):
        d.reset_baseline([])
    assert d.num_bins == 4


@settings(max_examples=25 if SANITIZED else 150, deadline=None)
@given(
    base=st.lists(st.floats(-100, 100), min_size=2, max_size=50),
    cand=st.lists(st.floats(-200, 200) | st.just(float("nan")), min_size=1, max_size=50),
    rule=st.sampled_from(["FreedmanDiaconis", "Scott", "Sturges", None]),
)
def test_batch_detectors_score_like_the_one_shot_functions(base, cand, rule):
    assume(ref.num_bins(rule or "FreedmanDiaconis", base) <= 5000)
    d = q.PyContinuousDataDrift(f64(base), rule)
    want = q.py_compute_drift_continuous_distribtuion(f64(base), f64(cand), ALL, rule)
    same_bits(d.compute_drift_mutliple_criteria(f64(cand), ALL), want)
    same_bits([d.compute_drift(f64(cand), k) for k in ALL], want)  # nothing carried over
    labels_b, labels_c = [str(int(v) % 7) for v in base], [str(int(v) % 9) for v in cand if v == v]
    if labels_c:
        k = q.PyCategoricalDataDrift(labels_b)
        same_bits(k.compute_drift_mutliple_criteria(labels_c, ALL),
                  q.py_compute_drift_categorical_distribtuion(labels_b, labels_c, ALL))


@pytest.mark.parametrize(
    "make, exc, msg",
    [
        (lambda: q.PyContinuousDataDrift(f64([5.0]), None), ValueError, EMPTY_BASELINE),
        (lambda: q.PyContinuousDataDrift(f64([1, np.nan]), None), ValueError, "NaN values are not supported"),
        (lambda: q.PyContinuousDataDrift(f64([1, np.inf]), None), ValueError, "Baseline data must be finite"),
        (lambda: q.PyContinuousDataDrift(TEN.astype(np.float32), None), TypeError, "argument 'baseline_data'"),
        (lambda: q.PyContinuousDataDrift(list(TEN), None), TypeError, "argument 'baseline_data'"),
        # the rule name is checked before contiguity here
        (lambda: q.PyContinuousDataDrift(TEN[::-1], "sturges"), ValueError, UNSUPPORTED),
        (lambda: q.PyContinuousDataDrift(TEN[::-1], "Sturges"), TypeError, "The given array is not contiguous"),
        (lambda: q.PyContinuousDataDrift(TEN), TypeError, "quantile_type_str"),
        (lambda: q.PyCategoricalDataDrift("abc"), TypeError, "argument 'baseline_data'"),
        (lambda: q.PyCategoricalDataDrift([]), ValueError, EMPTY_BASELINE),
        (lambda: q.PyCategoricalDataDrift(["a", b"b"]), TypeError, "argument 'baseline_data': items must be str"),
        # streaming: the array, then the rule, then the mode parameters, then the baseline's size
        (lambda: ContDecay(TEN[::-1], "Nope", 0), TypeError, "The given array is not contiguous"),
        (lambda: ContDecay(TEN, "Nope", 0), ValueError, UNSUPPORTED),
        (lambda: ContDecay(f64([1.0]), None, 0), ValueError, CONFIG),
        (lambda: CatDecay([], 0), ValueError, CONFIG),
        (lambda: ContFlush(f64([1.0]), None, None, "1"), TypeError, "flush_cadence_opt"),
        (lambda: CatFlush([], -3, None), OverflowError, ""),
        (lambda: CatFlush([], 0, 0), ValueError, EMPTY_BASELINE),
        (lambda: ContFlush(TEN, None, None), TypeError, ""),  # every parameter is required
    ],
)
def test_constructor_errors(make, exc, msg):
    with pytest.raises(exc) as info:
        make()
    # A capitalised message is the whole text; otherwise a fragment (argument name).
    assert str(info.value) == msg if msg[:1].isupper() else msg in str(info.value)


def test_batch_call_errors_change_nothing():
    d = q.PyContinuousDataDrift(TEN, "Sturges")
    good = d.compute_drift_mutliple_criteria(f64([1, 2, 3]), ALL)
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        d.compute_drift(f64([]), "JensenShannon")
    with raises_exactly(ValueError, UNSUPPORTED):
        d.compute_drift(f64([]), "JensenShanon")
    with raises_exactly(TypeError, "The given array is not contiguous"):
        d.compute_drift(f64([1, 2, 3, 4])[::2], "Nope")
    with raises_exactly(ValueError, UNSUPPORTED):
        d.compute_drift_mutliple_criteria(f64([1.0]), ["JensenShannon", "Nope"])
    with pytest.raises(TypeError, match="drift_types"):
        d.compute_drift_mutliple_criteria(f64([1.0]), "JensenShannon")
    with raises_exactly(ValueError, EMPTY_BASELINE):
        d.reset_baseline(f64([1.0]))
    assert d.compute_drift_mutliple_criteria(f64([1, 2, 3]), []) == []
    assert d.num_bins == 4 and d.compute_drift_mutliple_criteria(f64([1, 2, 3]), ALL) == good
    k = q.PyCategoricalDataDrift(ABBC)
    with pytest.raises(TypeError, match="runtime_data"):
        k.compute_drift(["a", 1], "JensenShannon")
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        k.compute_drift_mutliple_criteria([], [])
    assert k.compute_drift(["a"], "JensenShannon") == q.py_compute_drift_categorical_distribtuion(ABBC, ["a"], ["JensenShannon"])[0]


# -------------------------------------------------------------- streaming --


def test_decay_worked_numbers():
    d = ContDecay(TEN, "Sturges", None)
    for _ in range(100):
        d.update_stream(3.0)
    d.compute_drift("PopulationStabilityIndex")
    assert d.total_samples == 99  # 100 * 2 ** (-1 / 86400)
    h = CatDecay(ABBC, 1)
    h.update_stream_batch(["a", "a", "b", "z"])
    h.compute_drift_multiple_criteria([])  # decays once, also with no names
    assert h.export_snapshot() == {"a": 1.0, "b": 0.5, "c": 0.0} and h.total_samples == 2
    h.compute_drift("JensenShannon")
    assert h.export_snapshot() == {"a": 0.5, "b": 0.25, "c": 0.0} and h.total_samples == 1


@pytest.mark.parametrize("cls, args", [(ContDecay, (TEN, None)), (CatDecay, (ABBC,))])
def test_decay_mode_parameters(cls, args):
    with raises_exactly(ValueError, CONFIG):
        cls(*args, 0)
    with pytest.raises(OverflowError):
        cls(*args, -1)
    with pytest.raises(OverflowError):
        cls(*args, 2**64)
    with pytest.raises(TypeError, match="decay_opt|half_life_opt"):
        cls(*args, 1.5)
    assert cls(*args, 2**64 - 1).total_samples == 0 and cls(*args, np.int64(5)).total_samples == 0
    d = cls(*args, None)
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        d.compute_drift("JensenShannon")
    with raises_exactly(ValueError, UNSUPPORTED):
        d.compute_drift_multiple_criteria(["JensenShannon", "Bad"])
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        d.compute_drift_multiple_criteria(["JensenShannon"])


def test_flush_by_rate_and_by_cadence_zero():
    f = ContFlush(TEN, "Sturges", 3, None)
    for _ in range(7):
        f.update_stream(1.0)
    assert f.total_samples == 1
    g = ContFlush(TEN, "Sturges", 3, None)
    g.update_stream_batch(np.ones(7))
    assert state(g) == state(f)
    for n, want in [(300, 44), (200, 200), (512, 256), (513, 1)]:
        one, batch, halves = (CatFlush(ABBC, None, 0) for _ in range(3))
        for _ in range(n):
            one.update_stream("a")
        batch.update_stream_batch(["a"] * n)
        halves.update_stream_batch(["a"] * (n // 2))
        halves.update_stream_batch(["a"] * (n - n // 2))
        assert one.total_samples == want and state(batch) == state(one) == state(halves)
    zero = CatFlush(ABBC, 0, None)
    zero.update_stream_batch(["a", "b", "b", "z"])
    assert zero.total_samples == 1 and zero.export_snapshot() == {"a": 0.0, "b": 0.0, "c": 0.0}


def test_flush_mode_drift_calls_change_nothing():
    f = ContFlush(TEN, "Sturges", 5, 0)
    f.update_stream_batch(f64([1, 2, 6, 7]))
    before = state(f)
    for _ in range(3):
        f.compute_drift("KullbackLeibler")
        f.compute_drift_multiple_criteria(ALL)
    assert state(f) == before and f.last_flush == 0


def test_time_flush_and_last_flush():
    f = CatFlush(ABBC, None, 1)
    f.update_stream_batch(["a"] * 10)
    time.sleep(1.1)
    assert f.last_flush == 1
    f.update_stream_batch(["b"] * 246)  # total 256; the clock is read only at multiples of 256
    assert f.total_samples == 256 and f.last_flush == 1
    f.update_stream("c")  # the check before this sample finds the cadence reached
    assert f.total_samples == 1 and f.export_snapshot()["c"] == 1.0 and f.last_flush == 0
    f.update_stream_batch(["a"] * 5)
    f.flush()
    assert f.total_samples == 0 and f.last_flush == 0
    f.flush()  # an empty stream flushes too


def test_snapshots_and_exports():
    d = ContFlush(TEN, "Sturges", None, None)
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        d.export_snapshot()
    d.update_stream_batch(f64([-1, 3, 4.5, 10, np.nan]))
    s = d.export_snapshot()
    assert set(s) == {"binEdges", "baselineBins", "streamBins"}
    assert s["binEdges"] == [0.0, 4.5] and s["baselineBins"] == d.export_baseline()
    assert s["streamBins"] == [0.4, 0.2, 0.2, 0.2] and math.fsum(s["streamBins"]) == pytest.approx(1.0)
    c = CatDecay(ABBC, None)
    assert c.export_snapshot() == {"a": 0.0, "b": 0.0, "c": 0.0} and c.n_bins == 4
    c.update_stream("zz")
    c.update_stream("a")
    assert c.export_snapshot() == {"a": 1.0, "b": 0.0, "c": 0.0} and c.total_samples == 2
    assert c.export_baseline() == {"a": 0.25, "b": 0.5, "c": 0.25}


def test_reset_baseline_rebuilds_or_changes_nothing():
    d = ContFlush(TEN, "Sturges", None, None)
    d.update_stream_batch(f64([1, 2, 3]))
    before = state(d)
    for bad, exc in [(f64([1.0]), ValueError), (f64([1, np.nan]), ValueError), (f64([0, np.inf]), ValueError),
                     (TEN[::-1], TypeError),
                     (TEN.astype(np.float32), TypeError)]:
        with pytest.raises(exc):
            d.reset_baseline(bad)
        assert state(d) == before
    d.reset_baseline(np.arange(100.0))
    assert d.n_bins == 7 and d.total_samples == 0 and d.last_flush == 0
    fd = q.PyContinuousDataDrift(TEN, None)
    with raises_exactly(ValueError, "Baseline data needs too many bins"):
        fd.reset_baseline(f64(list(np.linspace(0, 1, 1000)) + [1e300]))
    assert fd.num_bins == 3
    c = CatDecay(ABBC, None)
    c.update_stream_batch(["a", "b"])
    with raises_exactly(ValueError, EMPTY_BASELINE):
        c.reset_baseline([])
    assert c.total_samples == 2
    c.reset_baseline(["x", "y", "x"])
    assert c.n_bins == 3 and c.total_samples == 0 and c.export_snapshot() == {"x": 0.0, "y": 0.0}


def test_failed_updates_change_nothing():
    c = CatFlush(ABBC, 3, 0)
    c.update_stream_batch(["a", "b"])
    before = state(c)
    for bad in (["a", "b", 3, "c"], "abc", [], ["ok", "\ud800"]):
        with pytest.raises((TypeError, ValueError)):
            c.update_stream_batch(bad)
        assert state(c) == before
    with pytest.raises(TypeError, match="runtime_example"):
        c.update_stream(1)
    d = ContDecay(TEN, None, None)
    for bad in ("1.0", None):
        with pytest.raises(TypeError, match="runtime_example"):
            d.update_stream(bad)
    for bad in (np.ones(4, dtype=np.float32), f64([1, 2, 3, 4])[::2], np.ones((2, 2)), f64([])):
        with pytest.raises((TypeError, ValueError)):
            d.update_stream_batch(bad)
    assert state(d) == (0, d.n_bins, EMPTY_RUNTIME, d.export_baseline())


def reference_counts(edges, values, bins):
    """Bins by binary search over the edges (NaN below every edge)."""
    e = np.array(edges)
    b = np.searchsorted(e, values, side="right") + (values > e[-1])
    return np.bincount(np.where(np.isnan(values), 0, b), minlength=bins)


# Equal spacing that is exact, nearly exact, subnormal or broken by rounding (large offset, small spread).
BASELINES = st.tuples(
    st.lists(st.integers(-1000, 1000), min_size=2, max_size=200),
    st.sampled_from([0.0, 0.5, 1e6, 2.0**40, -3.0e15]),
    st.sampled_from([1.0, 1e-3, 0.1, 1e-9, 7.0, 1e-310]),
).map(lambda t: t[1] + np.array(t[0], dtype=np.float64) * t[2])


@settings(max_examples=25 if SANITIZED else 150, deadline=None)
@given(base=BASELINES, rule=st.sampled_from(["FreedmanDiaconis", "Scott", "Sturges"]),
       seed=st.integers(0, 2**32 - 1))
def test_batches_bin_like_a_binary_search_over_the_edges(base, rule, seed):
    try:
        d = ContDecay(base, rule, None)
    except ValueError:
        return  # refused baselines are covered elsewhere
    assume(d.n_bins <= 50_000)
    d.update_stream(0.0)
    edges = d.export_snapshot()["binEdges"]
    assert edges == ref.continuous_baseline(list(base), rule)[0]
    e = np.array(edges)
    rng = np.random.default_rng(seed)
    lo, hi = base.min(), base.max()
    probes = np.concatenate([
        e, np.nextafter(e, -np.inf), np.nextafter(e, np.inf), base,
        rng.uniform(lo - (hi - lo) * 0.1 - 1, hi + (hi - lo) * 0.1 + 1, 1500),
        [np.nan, np.inf, -np.inf, 0.0, -0.0],
    ])
    rng.shuffle(probes)
    counts = reference_counts(edges, probes, d.n_bins)
    # The baseline histogram counts the baseline the same way.
    assert d.export_baseline() == list(reference_counts(edges, base, d.n_bins) / base.size)
    batch = q.PyContinuousDataDrift(base, rule)
    one_shot = q.py_compute_drift_continuous_distribtuion(base, probes, ALL, rule)
    assert batch.compute_drift_mutliple_criteria(probes, ALL) == one_shot
    f = ContFlush(base, rule, None, None)
    f.update_stream_batch(probes)
    for x in probes[:50]:  # the one-sample path bins the same way
        f.update_stream(float(x))
    counts += reference_counts(edges, probes[:50], d.n_bins)
    assert [round(v * f.total_samples) for v in f.export_snapshot()["streamBins"]] == list(counts)


OPS = st.lists(
    st.one_of(
        st.tuples(st.just("one"), st.integers(0, 5)),
        st.tuples(st.just("batch"), st.lists(st.integers(0, 5), min_size=1, max_size=700)),
        st.tuples(st.just("drift"), st.sampled_from(ALL)),
        st.tuples(st.just("flush"), st.none()),
    ),
    max_size=12,
)


@settings(max_examples=20 if SANITIZED else 120, deadline=None)
@given(ops=OPS, mode=st.sampled_from(["decay", "flush"]), param=st.sampled_from([None, 0, 1, 3, 7, 300]),
       cadence_zero=st.booleans(), categorical=st.booleans())
def test_streams_match_the_sample_by_sample_model(ops, mode, param, cadence_zero, categorical):
    if mode == "decay" and param == 0:
        param = None
    values = [-1.0, 0.0, 2.0, 4.5, 7.0, 11.0]
    labels = ["a", "b", "c", "q", "é", ""]
    if categorical:
        index, hist = ref.categorical_baseline(ABBC)
        model = ref.StreamModel(hist, lambda x: index.get(x, len(hist) - 1), "categorical", mode, half_life=param,
                                rate=param, time_due=cadence_zero)
        d = CatDecay(ABBC, param) if mode == "decay" else CatFlush(ABBC, param, 0 if cadence_zero else None)
        conv, batch = (lambda i: labels[i]), (lambda xs: [labels[i] for i in xs])
    else:
        edges, hist = ref.continuous_baseline(list(TEN), "Sturges")
        model = ref.StreamModel(hist, lambda x: ref.bin_of(edges, x), "continuous", mode, half_life=param, rate=param,
                                time_due=cadence_zero)
        d = ContDecay(TEN, "Sturges", param) if mode == "decay" else ContFlush(TEN, "Sturges", param,
                                                                                  0 if cadence_zero else None)
        conv, batch = (lambda i: values[i]), (lambda xs: f64([values[i] for i in xs]))
    for op, arg in ops:
        if op == "one":
            d.update_stream(conv(arg))
            model.add(conv(arg))
        elif op == "batch":
            d.update_stream_batch(batch(arg))
            for i in arg:
                model.add(conv(i))
        elif op == "flush" and mode == "flush":
            d.flush()
            model.flush()
        elif op == "drift":
            try:
                want = model.scores([arg])
            except ValueError:
                with raises_exactly(ValueError, EMPTY_RUNTIME):
                    d.compute_drift(arg)
            else:
                same_bits([d.compute_drift(arg)], want)
        assert d.total_samples == math.floor(model.total)
    if categorical:
        got = d.export_snapshot()
        same_bits([got[k] for k in sorted(index)], [model.bins[index[k]] for k in sorted(index)])
    elif model.total:
        same_bits(d.export_snapshot()["streamBins"], [w / model.total for w in model.bins])


def test_borrow_conflicts_raise_runtime_error():
    d = ContDecay(TEN, None, None)

    class Reentrant:
        def __float__(self):
            d.update_stream(1.0)
            return 1.0

    with pytest.raises(RuntimeError):
        d.update_stream(Reentrant())
    assert d.total_samples == 0

    class Peeking:
        def __index__(self):
            return k.n_bins  # a read while the constructor of another object runs is fine

    k = CatFlush(ABBC, None, None)
    assert CatFlush(ABBC, Peeking(), None).n_bins == 4

    class Names:
        def __len__(self):
            return k.n_bins  # a read during a mutating call conflicts

        def __getitem__(self, i):
            raise IndexError

    with pytest.raises(RuntimeError):
        k.compute_drift_multiple_criteria(Names())
    b = q.PyCategoricalDataDrift(ABBC)

    class Resetting(list):
        def __iter__(self):
            b.reset_baseline(["x"])
            return super().__iter__()

    with pytest.raises(RuntimeError):
        b.compute_drift_mutliple_criteria(["a"], Resetting(["JensenShannon"]))
    assert b.num_bins == 4


def test_labels_changed_while_arguments_are_read():
    labels = ["a", "b"]

    class Sneaky:
        def __index__(self):
            labels[:] = [1, 2]
            return 5

    with pytest.raises(TypeError, match="items must be str"):
        CatDecay(labels, Sneaky())


def test_memory_stays_constant_over_a_long_stream():
    d = ContFlush(np.random.default_rng(1).normal(size=1000), None, 1000, None)
    c = CatDecay(["a", "b", "c"], 10)
    chunk, labels = np.random.default_rng(2).normal(size=10_000), ["a", "b", "zz", "c"] * 2500
    for _ in range(3):
        d.update_stream_batch(chunk)
        c.update_stream_batch(labels)
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(5 if SANITIZED else 50):
        d.update_stream_batch(chunk)
        c.update_stream_batch(labels)
        for x in chunk[:200]:
            d.update_stream(x)
        c.compute_drift("JensenShannon")
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    assert after - before < 4096


def test_no_leaks_on_success_and_error_paths():
    d = ContFlush(TEN, "Sturges", 100, None)
    c = CatDecay(ABBC, 3)
    batch = q.PyContinuousDataDrift(TEN, None)
    assert_no_leak(d.update_stream_batch, f64([1.0, 5.0]))
    assert_no_leak(d.compute_drift_multiple_criteria, ALL)
    assert_no_leak(d.export_snapshot)
    assert_no_leak(c.update_stream_batch, ["a", "zz", "é"])
    assert_no_leak(c.update_stream_batch, ["a", 1])
    assert_no_leak(c.export_snapshot)
    assert_no_leak(c.compute_drift, "Nope")
    assert_no_leak(batch.compute_drift_mutliple_criteria, f64([1.0]), ["JensenShannon", "Nope"])
    assert_no_leak(ContDecay, TEN, "Scott", 0)
    assert_no_leak(ContFlush, f64([1.0, np.nan]), None, 3, 4)
    assert_no_leak(CatFlush, ABBC, None, None)
    assert_no_leak(q.PyCategoricalDataDrift, ["a", None])


def test_signatures():
    sig = lambda f: str(inspect.signature(f))  # noqa: E731
    assert sig(q.PyContinuousDataDrift) == "(baseline_data, quantile_type_str)"
    assert sig(q.PyCategoricalDataDrift) == "(baseline_data)"
    assert sig(ContDecay) == "(baseline_data, quantile_type_str, decay_opt)"
    assert sig(ContFlush) == "(baseline_data, quantile_type_str, flush_rate_opt, flush_cadence_opt)"
    assert sig(CatDecay) == "(baseline_data, half_life_opt)"
    assert sig(CatFlush) == "(baseline_data, flush_rate, flush_cadence)"
    assert sig(q.PyCategoricalDataDrift.reset_baseline) == "(self, /, new_baseline)"
    assert sig(ContFlush.update_stream) == "(self, /, runtime_example)"
    assert not hasattr(ContDecay, "flush") and not hasattr(CatDecay, "last_flush")
