"""The one-shot drift scores (bin rules, histograms, bin lookup, the four scores) against a reference."""

import math
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import assume, given, settings, strategies as st

import drift_reference as ref
import quorvant as q
from support import SANITIZED, assert_no_leak, child_env, raises_exactly

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
RULES = ["FreedmanDiaconis", "Scott", "Sturges"]
EMPTY_RUNTIME = "Data used for runtime drift analysis must be non empty"
EMPTY_BASELINE = "Baseline data must be non empty"

cont = q.py_compute_drift_continuous_distribtuion
cat = q.py_compute_drift_categorical_distribtuion


def f64(values):
    return np.array(values, dtype=np.float64)


def same_bits(got, want):
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert g == w or (math.isnan(g) and math.isnan(w)), (got, want)
        assert math.copysign(1.0, g) == math.copysign(1.0, w)


# Worked examples: baseline 0..9 under Sturges has bins [<0, [0,4.5), 4.5, >4.5].
@pytest.mark.parametrize(
    "candidate, approx, rel",
    [
        (list(range(10)), [0.0, 3e-24, 0.0, 6.4e-12], 0.1),
        ([1.0, 2.0, 3.0], [0.311278, 13.8155, 0.25, 13.6716], 1e-4),
        ([1.0, 2.0, 6.0, 7.0, 8.0, 9.0, 9.5, 9.9], [0.048794, 0.274653, 0.125, 0.143841], 1e-4),
    ],
)
def test_worked_continuous_scores(candidate, approx, rel):
    got = cont(f64(range(10)), f64(candidate), ALL, "Sturges")
    same_bits(got, ref.continuous_scores(range(10), candidate, ALL, "Sturges"))
    assert got == pytest.approx(approx, rel=rel)


def test_worked_categorical_scores():
    got = cat(["a", "b", "b", "c"], ["a", "a", "z", "z"], ALL)
    same_bits(got, ref.categorical_scores("abbc", "aazz", ALL))
    assert got == pytest.approx([0.655639, 33.672, 0.75, 20.8965], rel=1e-4)


@pytest.mark.parametrize(
    "values, rule, bins",
    [
        (range(100), "FreedmanDiaconis", 5), (range(100), "Scott", 5), (range(100), "Sturges", 7),
        (range(1000), "FreedmanDiaconis", 10), (range(1000), "Scott", 10), (range(1000), "Sturges", 10),
        ([0, 1], "FreedmanDiaconis", 3), ([0, 1], "Scott", 3), ([0, 1], "Sturges", 3),
        (range(7), "Sturges", 3), (range(8), "Sturges", 4), (range(15), "Sturges", 4),
        (range(16), "Sturges", 5), (range(31), "Sturges", 5),
        ([0] + [5] * 50 + [9], "FreedmanDiaconis", 3), ([2.5] * 100, "Scott", 3),
    ],
)
def test_bin_rules_through_the_scores(values, rule, bins):
    assert ref.num_bins(rule, values) == bins
    candidate = [-1.0, 0.0, 0.5, 33.0, 66.0, 99.0, 1e6, float("nan")]
    same_bits(cont(f64(values), f64(candidate), ALL, rule), ref.continuous_scores(values, candidate, ALL, rule))


def test_default_rule_is_freedman_diaconis_and_names_are_exact():
    base, cand = f64(np.arange(100) ** 1.5), f64([3.0, 50.0, 700.0])
    assert cont(base, cand, ALL, None) == cont(base, cand, ALL, "FreedmanDiaconis")
    for bad in ["scott", " Scott", "Scott ", "", "FreedmanDiaconis\0"]:
        with raises_exactly(ValueError, "Unsupported drift type"):
            cont(base, cand, ALL, bad)


finite = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_subnormal=True)
specials = st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 1.0, 2.5, float("inf"), -float("inf"), float("nan")])


@settings(max_examples=40 if SANITIZED else 300, deadline=None)
@given(
    baseline=st.lists(st.one_of(finite, st.integers(-5, 5).map(float)), min_size=2, max_size=60),
    candidate=st.lists(st.one_of(finite, specials), min_size=1, max_size=60),
    rule=st.sampled_from(RULES),
)
def test_continuous_matches_reference(baseline, candidate, rule):
    assume(ref.num_bins(rule, baseline) <= 5000)
    same_bits(cont(f64(baseline), f64(candidate), ALL, rule), ref.continuous_scores(baseline, candidate, ALL, rule))


def test_bin_lookup_agrees_with_binary_search_on_edge_neighbours():
    # Baselines whose repeated-addition edges drift from min + i * step.
    for baseline in [np.linspace(0.1, 0.7, 1000), np.linspace(-3e-310, 1e-309, 50),
                     np.array([1e15, 1e15 + 1, 1e15 + 7, 1e15 + 64] * 10), np.arange(-50.0, 50.0) / 3]:
        for rule in RULES:
            if ref.num_bins(rule, list(baseline)) > 1_000_000:  # Scott on subnormal spacing
                with raises_exactly(ValueError, "Baseline data needs too many bins"):
                    cont(baseline, f64([1.0]), ALL, rule)
                continue
            edges, _ = ref.continuous_baseline(list(baseline), rule)
            probes = [0.0, -0.0, 5e-324, -5e-324, np.inf, -np.inf, np.nan, baseline.max(), baseline.min()]
            for e in edges:
                probes += [e, np.nextafter(e, -np.inf), np.nextafter(e, np.inf)]
            for chunk in range(0, len(probes), 7):
                c = probes[chunk:chunk + 7]
                same_bits(cont(baseline, f64(c), ALL, rule), ref.continuous_scores(list(baseline), c, ALL, rule))


@settings(max_examples=30 if SANITIZED else 200, deadline=None)
@given(
    baseline=st.lists(st.text(max_size=4), min_size=1, max_size=40),
    candidate=st.lists(st.text(max_size=4), min_size=1, max_size=40),
)
def test_categorical_matches_reference(baseline, candidate):
    assume(not any("\ud800" <= ch <= "\udfff" for s in baseline + candidate for ch in s))
    same_bits(cat(baseline, candidate, ALL), ref.categorical_scores(baseline, candidate, ALL))


def test_labels_are_exact_bytes_in_any_sequence_form():
    base = ["a", "A", "a ", "é", "e\u0301", "日本", "日本語"]
    cand = ["A", "é", "日本語", "e", "a"]
    want = ref.categorical_scores(base, cand, ALL)
    same_bits(cat(base, cand, ALL), want)
    same_bits(cat(tuple(base), np.array(cand), ALL), want)

    class Label(str):
        pass

    same_bits(cat([Label(s) for s in base], cand, ALL), want)


def test_long_label_lists_with_shared_and_separate_objects():
    rng = np.random.default_rng(3)
    words = ["alpha", "beta", "gamma", "δέλτα", "", "e" * 40]
    base = [words[i] for i in rng.integers(0, len(words), size=3000)]
    # Equal text in separate objects, shared objects, and unseen labels.
    cand = ["".join(list(words[i])) if k % 3 else words[i] for k, i in enumerate(rng.integers(0, len(words), 6000))]
    cand += ["zeta"] * 500 + ["".join(["al", "pha"]) for _ in range(500)]
    same_bits(cat(base, cand, ALL), ref.categorical_scores(base, cand, ALL))


def test_unusual_metric_lists():
    base, cand = f64(range(10)), f64([1.0, 2.0, 3.0])
    kl = cont(base, cand, ["KullbackLeibler", "KullbackLeibler"], "Sturges")
    assert kl[0] == kl[1]
    assert cont(base, cand, [], None) == [] and cat(["a"], ["b"], ()) == []
    with raises_exactly(ValueError, EMPTY_RUNTIME):
        cont(base, f64([]), [], None)
    with pytest.raises(TypeError, match="drift_metrics"):
        cont(base, cand, "JensenShannon", None)
    with pytest.raises(TypeError, match="drift_metrics"):
        cat(["a"], ["a"], "JensenShannon")
    with pytest.raises(TypeError, match="drift_metrics"):
        cat(["a"], ["a"], ["JensenShannon", 1])


@pytest.mark.parametrize(
    "args, exc, msg",
    [
        (([0.0, 1.0], f64([1]), ALL, None), TypeError, "argument 'baseline'"),
        ((f64([0, 1]), [1.0], ALL, None), TypeError, "argument 'candidate'"),
        ((np.zeros((2, 2)), f64([1]), ALL, None), TypeError, "argument 'baseline'"),
        ((f64([0, 1]).astype(np.float32), f64([1]), ALL, None), TypeError, "argument 'baseline'"),
        ((np.arange(3), f64([1]), ALL, None), TypeError, "argument 'baseline'"),
        ((f64([0, 1]).astype(">f8"), f64([1]), ALL, None), TypeError, "argument 'baseline'"),
        ((f64([0, 1]), f64([1]), ALL, 3), TypeError, "argument 'quantile_type'"),
        # conversion of every argument comes before contiguity, names, rule
        ((f64([0, 1, 2])[::-1], f64([1]), ["Nope"], "Nope"), TypeError, "The given array is not contiguous"),
        ((f64([0, 1, 2]), f64([1, 2, 3])[::2], ["Nope"], None), TypeError, "The given array is not contiguous"),
        ((f64([5.0]), f64([]), ["Nope"], "Sturges"), ValueError, "Unsupported drift type"),
        ((f64([5.0]), f64([]), ALL, "Nope"), ValueError, "Unsupported drift type"),
        ((f64([5.0]), f64([]), ALL, None), ValueError, EMPTY_BASELINE),
        ((f64([np.nan]), f64([1]), ALL, None), ValueError, EMPTY_BASELINE),
        ((f64([1, np.nan, np.inf]), f64([]), ALL, None), ValueError, "NaN values are not supported"),
        ((f64([1, np.inf]), f64([]), ALL, None), ValueError, "Baseline data must be finite"),
        ((f64([-np.inf, 1, 2]), f64([1]), ALL, "Sturges"), ValueError, "Baseline data must be finite"),
        ((f64(list(np.linspace(0, 1, 1000)) + [1e9]), f64([1]), ALL, None), ValueError,
         "Baseline data needs too many bins"),
        ((f64([0, 1]), f64([]), ALL, None), ValueError, EMPTY_RUNTIME),
    ],
)
def test_continuous_errors_in_order(args, exc, msg):
    with pytest.raises(exc) as info:
        cont(*args)
    assert msg in str(info.value)
    if not msg.startswith("argument"):
        assert str(info.value) == msg


def test_bin_count_bound():
    # Far outliers under FreedmanDiaconis: a million bins at most.
    body = list(np.linspace(0, 1, 1000))
    some = body + [4e3]
    same_bits(cont(f64(some), f64([0.5, 4e3]), ALL, None), ref.continuous_scores(some, [0.5, 4e3], ALL))
    near, over = body + [9.5e4], body + [1.05e5]
    assert ref.num_bins("FreedmanDiaconis", near) <= 1_000_000 < ref.num_bins("FreedmanDiaconis", over)
    assert all(math.isfinite(s) for s in cont(f64(near), f64([0.5]), ALL, None))
    for values in (over, body + [1e300, -1e300]):
        with raises_exactly(ValueError, "Baseline data needs too many bins"):
            cont(f64(values), f64([1.0]), ALL, None)


@pytest.mark.parametrize(
    "args, exc, msg",
    [
        (("abc", ["a"], ALL), TypeError, "argument 'baseline'"),
        ((["a"], b"ab", ALL), TypeError, "argument 'candidate'"),
        ((["a", 1], ["a"], ALL), TypeError, "argument 'baseline': items must be str, not int"),
        (([], [None], ["Nope"]), TypeError, "argument 'candidate'"),
        (([], [], ["JensenShannon", "Nope"]), ValueError, "Unsupported drift type"),
        (([], [], ALL), ValueError, EMPTY_BASELINE),
        ((["a"], [], ALL), ValueError, EMPTY_RUNTIME),
        (({"a": 1}, ["a"], ALL), TypeError, "argument 'baseline'"),
    ],
)
def test_categorical_errors_in_order(args, exc, msg):
    with pytest.raises(exc, match="^" + msg.replace("(", r"\(")):
        cat(*args)


def test_metric_list_that_changes_the_labels_while_read():
    base = ["a", "b"]

    class Sneaky:
        def __len__(self):
            base.clear()
            base.append(3)
            return 1

        def __getitem__(self, i):
            if i == 0:
                return "JensenShannon"
            raise IndexError

    with pytest.raises(TypeError, match="argument 'baseline': items must be str"):
        cat(base, ["a"], Sneaky())


def test_stability_eps_comes_from_the_environment():
    code = (
        "import numpy as np, quorvant as q, json;"
        "print(json.dumps([q.py_compute_drift_continuous_distribtuion(np.arange(10.0), np.array([1.0, 2, 3]),"
        f" {ALL!r}, 'Sturges'), q.py_compute_drift_categorical_distribtuion(list('abbc'), list('aazz'), {ALL!r})]))"
    )
    env = child_env(QUORVANT_STABILITY_EPS="0.001")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    import json

    got_cont, got_cat = json.loads(out.stdout)
    same_bits(got_cont, ref.continuous_scores(range(10), [1, 2, 3], ALL, "Sturges", eps=0.001))
    same_bits(got_cat, ref.categorical_scores("abbc", "aazz", ALL, eps=0.001))


def test_large_inputs_match_numpy_histogram():
    rng = np.random.default_rng(5)
    base = rng.normal(size=20_000)
    cand = np.concatenate([rng.normal(0.3, 1.2, size=30_000), [np.nan, np.inf, -np.inf]])
    edges, hist = ref.continuous_baseline(list(base), "FreedmanDiaconis")
    e = np.array(edges)
    counts = (e[None, :] <= cand[:, None]).sum(axis=1) + (cand > e[-1])
    r = np.bincount(counts, minlength=len(hist)).astype(float)
    want = [ref.score(k, hist, list(r), ref.seq_sum(r), "continuous") for k in ALL]
    same_bits(cont(base, cand, ALL, None), want)


@pytest.mark.parametrize("rule", RULES)
def test_large_baselines_take_the_linear_time_orderings(rule):
    # Above a few thousand values the quartiles come from a radix selection
    # and Scott's sums from a radix sort; they must match a full sort.
    rng = np.random.default_rng(9)
    n = 20_000 if SANITIZED else 70_000
    baselines = [
        rng.normal(size=n),
        np.concatenate([np.zeros(n // 2), -np.zeros(n // 4), rng.integers(-3, 4, n // 4)]).astype(float),
        rng.uniform(1.0, 1.0625, size=n),  # one selection bucket holds everything
        np.concatenate([rng.exponential(size=n) * 1e-3, [-1e6, 1e6]]),
    ]
    cand = np.concatenate([rng.normal(size=500), [0.0, -0.0, 1.03125, np.nan]])
    for base in baselines:
        if ref.num_bins(rule, list(base)) > 20_000:
            continue
        same_bits(cont(base, cand, ALL, rule), ref.continuous_scores(list(base), list(cand), ALL, rule))


def test_no_leaks_on_success_and_error_paths():
    base, cand = f64(np.arange(50.0)), f64([1.0, 70.0])
    assert_no_leak(cont, base, cand, ALL, "Scott")
    assert_no_leak(cont, base, cand, ["Nope"], None)
    assert_no_leak(cont, base[::-1], cand, ALL, None)
    assert_no_leak(cont, f64([1.0, np.inf]), cand, ALL, None)
    labels = ["x", "y", "é", "z"]
    assert_no_leak(cat, labels, ["x", "w"], ALL)
    assert_no_leak(cat, labels, ["x", 2], ALL)
    assert_no_leak(cat, [], ["x"], ALL)
