"""Categorical drift reads 1-D '<U'/'>U' arrays natively, with exactly the results of the labels as str objects
(trailing NULs dropped, embedded ones kept) and exactly the errors of the generic path (an ndarray subclass) for
elements a str cannot hold or UTF-8 cannot encode, at every argument position."""

from __future__ import annotations

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvant._quorvant as q
from support import SANITIZED
from test_stateful import read as outcome
from test_views import AttackList, case

ALL = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
N = 20_000 if SANITIZED else 80_000  # past the GIL-release size outside the sanitizer


class Plain(np.ndarray):
    """A subclass: read through the protocols, today's generic path."""


def with_code_point(labels, row, code_point, dtype="<U4"):
    a = np.array(labels, dtype=dtype)
    a.view(np.uint32).reshape(len(a), -1)[row, 0] = code_point if dtype.startswith("<") else \
        int.from_bytes(code_point.to_bytes(4, "little"), "big")
    return a


def raw(labels, width, code_units):
    """A '<U' array whose elements hold exactly `code_units` (NULs included)."""
    a = np.zeros(len(labels), dtype=f"<U{width}")
    units = a.view(np.uint32).reshape(len(labels), width)
    for i, text in enumerate(code_units):
        units[i, :len(text)] = text
    return a


def field(a):
    """`a` as the unaligned field of a packed record array (stride 33)."""
    rec = np.zeros(len(a), dtype=np.dtype([("flag", "u1"), ("label", "<U8")], align=False))
    rec["label"] = a
    return rec["label"]


rng = np.random.default_rng(3)
POOL = np.array(["card", "cash", "transfer", "", "é", "ünïcode", "\U0001f600x", "a\x00b", "日本"])
BASE = POOL[rng.integers(0, len(POOL), N)]
CAND = np.concatenate([POOL[rng.integers(0, len(POOL) - 2, N // 2)], np.array(["unseen", "z"] * 50)])

ARRAYS = {
    "contiguous": (BASE, CAND),
    "strided": (BASE[::3], CAND[1::2]),
    "reversed": (BASE[::-1], CAND[::-1]),
    "big-endian": (BASE.astype(">U8"), CAND.astype(">U8")),
    "wide": (BASE.astype("<U40"), CAND.astype("<U40")),
    "unaligned field": tuple(field(a) for a in (BASE, CAND)),
    "one element": (np.array(["only"]), np.array(["only"])),
    "empty strings": (np.array(["", "", "a"]), np.array(["", "b"])),
    "empty baseline": (np.array([], dtype="<U3"), np.array(["a"])),
    "empty candidate": (np.array(["a"]), np.array([], dtype="<U3")),
    "trailing and embedded NULs": (raw(["x"] * 6, 4, [[97, 0, 0, 0], [97], [0, 97], [97, 0, 98], [0], []]),
                                   raw(["x"] * 3, 4, [[97, 0], [0, 97, 0], [0, 0]])),
    "astral": (np.array(["\U0010ffff", "\U0001f600", "\u07ff", "\u0800", "\uffff", "\x7f", "\x80"] * 3),
               np.array(["\U0010ffff", "\x80", "\ud7ff", "\ue000"])),
    "many distinct": (np.array([f"label-{i}" for i in range(N)]), np.array([f"label-{i}" for i in range(0, 2 * N, 3)])),
    "long shared prefix": (np.array([f"{'p' * 30}{i % 7000}" for i in range(N)]),
                           np.array([f"{'p' * 30}{i % 9000}" for i in range(N // 2)])),
}


def streaming(cls, mode, base):
    return cls(base, 3) if mode == "decay" else cls(base, 1000, None)


def every_face(base, cand):
    """Every categorical face and method on (base, cand); what each returns
    or raises, in order."""
    out = []

    def record(f):
        try:
            value = f()
        except Exception as exc:  # noqa: BLE001 - compared across paths
            out.append((type(exc), str(exc)))
            return None
        out.append(value if not hasattr(value, "export_baseline") else "made")
        return value

    record(lambda: q.py_compute_drift_categorical_distribtuion(base, cand, ALL))
    record(lambda: q.py_compute_drift_categorical_distribtuion(cand, base, ALL[::-1]))
    d = record(lambda: q.PyCategoricalDataDrift(base))
    if d is not None:
        record(lambda: (d.num_bins, d.export_baseline()))
        record(lambda: d.compute_drift(cand, "KullbackLeibler"))
        record(lambda: d.compute_drift_mutliple_criteria(cand, ALL))
        record(lambda: d.reset_baseline(cand))
        record(lambda: (d.num_bins, d.export_baseline(), d.compute_drift(base, "JensenShannon")))
    for cls, mode in ((q.PyStreamingCategoricalDataDriftDecay, "decay"),
                      (q.PyStreamingCategoricalDataDriftFlush, "flush")):
        s = record(lambda: streaming(cls, mode, base))
        if s is None:
            continue
        record(lambda: s.update_stream_batch(cand))
        record(lambda: s.update_stream_batch(base))
        record(lambda: (s.total_samples, s.n_bins, s.export_snapshot(), s.export_baseline()))
        record(lambda: s.compute_drift_multiple_criteria(ALL))
        record(lambda: s.reset_baseline(cand))
        record(lambda: (s.total_samples, s.n_bins, s.export_snapshot(), s.export_baseline()))
    return out


@pytest.mark.parametrize("name", list(ARRAYS))
def test_str_arrays_give_exactly_the_results_of_their_labels_as_str(name):
    base, cand = ARRAYS[name]
    want = every_face(base.tolist(), cand.tolist())
    assert every_face(base, cand) == want
    # Mixed: one side native, the other str objects.
    assert every_face(base, cand.tolist()) == want
    assert every_face(base.tolist(), cand) == want


OK = np.array(["a", "b", "b", "c"])
BAD = {
    "past U+10FFFF": with_code_point(["a", "b", "c"], 1, 0x110000),
    "past U+10FFFF, big-endian": with_code_point(["a", "b", "c"], 2, 0x110000, ">U4"),
    "lone surrogate": with_code_point(["a", "b", "c"], 0, 0xD800),
    "lone low surrogate": with_code_point(["a", "b"], 1, 0xDFFF),
    "surrogate, then past U+10FFFF": with_code_point(with_code_point(["a", "b", "c"], 0, 0xDC00), 2, 0xFFFFFFFF),
}

# Every argument position of every face: (call, the argument position that
# takes the labels). Later arguments are valid unless the case says so.
POSITIONS = {
    "one-shot baseline": lambda x: q.py_compute_drift_categorical_distribtuion(x, OK, ALL),
    "one-shot candidate": lambda x: q.py_compute_drift_categorical_distribtuion(OK, x, ALL),
    "one-shot baseline, bad candidate": lambda x: q.py_compute_drift_categorical_distribtuion(x, 5, ALL),
    "one-shot candidate, bad names": lambda x: q.py_compute_drift_categorical_distribtuion(OK, x, ["Nope"]),
    "one-shot bad baseline first": lambda x: q.py_compute_drift_categorical_distribtuion([1], x, ALL),
    "batch constructor": lambda x: q.PyCategoricalDataDrift(x),
    "batch compute_drift": lambda x: q.PyCategoricalDataDrift(OK).compute_drift(x, "Nope"),
    "batch multiple": lambda x: q.PyCategoricalDataDrift(OK).compute_drift_mutliple_criteria(x, ALL),
    "batch reset": lambda x: q.PyCategoricalDataDrift(OK).reset_baseline(x),
    "decay constructor": lambda x: q.PyStreamingCategoricalDataDriftDecay(x, 0),
    "flush constructor": lambda x: q.PyStreamingCategoricalDataDriftFlush(x, -1, None),
    "decay batch": lambda x: q.PyStreamingCategoricalDataDriftDecay(OK, None).update_stream_batch(x),
    "flush batch": lambda x: q.PyStreamingCategoricalDataDriftFlush(OK, 2, None).update_stream_batch(x),
    "flush reset": lambda x: q.PyStreamingCategoricalDataDriftFlush(OK, None, None).reset_baseline(x),
}


@pytest.mark.parametrize("bad", list(BAD))
@pytest.mark.parametrize("position", list(POSITIONS))
def test_elements_a_str_cannot_be_made_of_raise_what_the_generic_path_raises(position, bad):
    call, a = POSITIONS[position], BAD[bad]
    got = outcome(lambda: call(a))
    assert got == outcome(lambda: call(a.view(Plain)))  # the generic path, item by item
    assert isinstance(got, tuple) and got[0] != "SystemError", got


@pytest.mark.parametrize(("bad", "message"), [
    ("surrogate, then past U+10FFFF",
     "argument 'baseline_data': item 2 holds code point 0xffffffff, not in range(0x110000)"),
    ("lone surrogate", "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
])
def test_the_errors_are_the_ones_users_saw_before(bad, message):
    with pytest.raises(ValueError) as info:
        q.PyCategoricalDataDrift(BAD[bad])
    assert str(info.value) == message
    if "surrogate" in bad and "10FFFF" not in bad:  # a str of it can be made: the list gives the same
        with pytest.raises(type(info.value), match="surrogates not allowed"):
            q.PyCategoricalDataDrift(BAD[bad].tolist())


@pytest.mark.parametrize(("a", "message"), [
    (np.array([["a"], ["b"]]), "argument 'baseline_data': items must be str, not numpy.ndarray"),
    (np.array("ab"), "argument 'baseline_data': must be a sequence of str, not numpy.ndarray"),
])
def test_str_arrays_of_other_shapes_keep_the_generic_path(a, message):
    with pytest.raises(TypeError) as info:
        q.PyCategoricalDataDrift(a)
    assert str(info.value) == message


# A later argument's conversion frees, grows or refills the '<U' array: it was read in its own turn, so the call
# sees the labels it was given.
ATTACKED = {
    "one-shot": case(lambda: [BASE[:N].copy(), CAND.copy()],
                     lambda b, c, a: q.py_compute_drift_categorical_distribtuion(b, c, AttackList(ALL, a))),
    "batch": case(lambda: [CAND.copy()],
                  lambda c, a: q.PyCategoricalDataDrift(BASE[:100]).compute_drift_mutliple_criteria(
                      c, AttackList(ALL, a))),
    "decay": case(lambda: [BASE[:N].copy()],
                  lambda b, a: q.PyStreamingCategoricalDataDriftDecay(b, a).export_baseline(), 100),
    "flush": case(lambda: [BASE[:N].copy()],
                  lambda b, a: q.PyStreamingCategoricalDataDriftFlush(b, None, a).export_baseline(), 100),
}

UNTOUCHED = {
    "one-shot": lambda: q.py_compute_drift_categorical_distribtuion(BASE[:N], CAND, ALL),
    "batch": lambda: q.PyCategoricalDataDrift(BASE[:100]).compute_drift_mutliple_criteria(CAND, ALL),
    "decay": lambda: q.PyStreamingCategoricalDataDriftDecay(BASE[:N], 100).export_baseline(),
    "flush": lambda: q.PyStreamingCategoricalDataDriftFlush(BASE[:N], None, 100).export_baseline(),
}


@pytest.mark.parametrize("how", ["free", "grow", "refill"])
@pytest.mark.parametrize("face", list(UNTOUCHED))
def test_a_str_array_changed_by_a_later_argument_is_read_as_given(face, how):
    assert ATTACKED[face](how)() == UNTOUCHED[face]()


# Any code units, either byte order, any stride: the native reading gives what the list of the elements' str
# gives, except that an element past U+10FFFF (NumPy makes no str of it, or another element fails first) is the
# argument's ValueError. (Labels whose str the interpreter can make keep their code points in UTF-8 and pass.)
VALID_UNITS = st.one_of(
    st.sampled_from([0, 0x61, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF]),
    st.integers(0, 0x7F),
    st.integers(0, 0x10FFFF).filter(lambda c: not 0xD800 <= c <= 0xDFFF),
)
CODE_UNITS = st.one_of(
    VALID_UNITS, VALID_UNITS, VALID_UNITS, VALID_UNITS, VALID_UNITS, VALID_UNITS,
    st.integers(0xD800, 0xDFFF),  # surrogates
    st.integers(0x110000, 2**32 - 1),  # past the last code point
)


@st.composite
def str_arrays(draw):
    width = draw(st.integers(1, 5))
    pool = draw(st.lists(st.lists(CODE_UNITS, min_size=0, max_size=width), min_size=1, max_size=5))
    rows = draw(st.lists(st.integers(0, len(pool) - 1), min_size=0, max_size=40))
    a = raw(rows, width, [pool[i] for i in rows])
    if draw(st.booleans()):
        a = a.astype(f">U{width}") if not draw(st.booleans()) else \
            a.view(np.uint32).byteswap().view(f">U{width}").copy()
    step = draw(st.sampled_from([1, 2, -1, -3]))
    return np.repeat(a, abs(step))[::step] if step != 1 else a


def element_by_element(a, arg, call):
    units = a.astype(a.dtype.newbyteorder("<")).view(np.uint32).reshape(len(a), -1) if len(a) else []
    past = next(((i, int(c)) for i, row in enumerate(units) for c in row if c > 0x10FFFF), None)
    past_error = past and ("ValueError", f"argument '{arg}': item {past[0]} holds code point {past[1]:#x}, "
                                       "not in range(0x110000)")
    try:
        items = a.tolist()
    except SystemError:
        return past_error
    got = outcome(lambda: call(items))
    if past and isinstance(got, tuple) and got[0] == "UnicodeEncodeError":
        return past_error
    return got


CALLS = {
    "baseline": lambda x: q.py_compute_drift_categorical_distribtuion(x, ["a", "é"], ALL),
    "candidate": lambda x: q.py_compute_drift_categorical_distribtuion(["a", "é", "b"], x, ALL),
    "baseline_data": lambda x: q.PyCategoricalDataDrift(x).export_baseline(),
    "runtime_data": lambda x: (lambda s: (s.update_stream_batch(x), s.export_snapshot(), s.total_samples))(
        q.PyStreamingCategoricalDataDriftFlush(["a", "b", ""], 7, None)),
}


@pytest.mark.parametrize("arg", list(CALLS))
@given(a=str_arrays())
@settings(max_examples=150, deadline=None)
def test_any_code_units_read_as_element_by_element(arg, a):
    assert outcome(lambda: CALLS[arg](a)) == element_by_element(a, arg, CALLS[arg])
