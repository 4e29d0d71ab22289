"""State that travels: pickling and copying of every class, committed payloads of earlier versions, refused
payloads."""

from __future__ import annotations

import copy
import math
import pathlib
import pickle
import struct
import time
import zlib

import pytest

import quorvant as q
from quorvant import _quorvant
from state_cases import CASES, labels, sample, same_behaviour
from state_format import body_of, read, seal
from support import SANITIZED, assert_no_leak, call_quietly, raises_exactly

SAMPLES = pathlib.Path(__file__).parent / "data" / "state"


def in_state(name: str, state: str):
    case = CASES[name]
    m = case.make()
    if state == "new":
        return m
    case.feed(m, 0)
    case.feed(m, 1)
    if state == "after forgetting" and case.forget is not None:
        case.forget(m)
    elif state == "after a failed call":
        with pytest.raises((ValueError, TypeError)):
            case.fail(m)
    elif state == "after reset":
        case.reset(m)
    return m


STATES = ["new", "after rows", "after forgetting", "after a failed call", "after reset"]
ROUND_TRIPS = {
    **{f"pickle{p}": (lambda m, p=p: pickle.loads(pickle.dumps(m, protocol=p))) for p in range(2, 6)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    "from_state": lambda m: type(m).from_state(m.to_state()),
}


@pytest.mark.parametrize("how", ROUND_TRIPS)
@pytest.mark.parametrize("state", STATES)
@pytest.mark.parametrize("name", list(CASES))
def test_a_round_trip_gives_an_object_that_behaves_the_same(name, state, how):
    original = in_state(name, state)
    restored = ROUND_TRIPS[how](original)
    assert type(restored) is type(original) and restored is not original
    if not name.endswith("Flush"):  # a flush-mode payload holds the time since the last flush
        assert restored.to_state() == original.to_state()
    same_behaviour(original, restored, name)


@pytest.mark.parametrize("name", list(CASES))
def test_copies_are_independent(name):
    case = CASES[name]
    original = sample(name)
    before = original.to_state()
    for duplicate in (copy.copy(original), copy.deepcopy(original), pickle.loads(pickle.dumps(original))):
        case.feed(duplicate, 7)
        case.reset(duplicate)
    if not name.endswith("Flush"):
        assert original.to_state() == before
    same_behaviour(original, type(original).from_state(before), name)


@pytest.mark.parametrize("name", list(CASES))
def test_pickles_through_from_state(name):
    loader, (payload,) = sample(name).__reduce__()
    assert loader == getattr(_quorvant, name).from_state and isinstance(payload, bytes)


@pytest.mark.parametrize("name", list(CASES))
def test_a_committed_payload_of_version_1_still_loads_and_behaves(name):
    payload = (SAMPLES / "v1" / f"{name}.bin").read_bytes()
    loaded = getattr(_quorvant, name).from_state(payload)
    # The objects the payloads were written from, made again.
    same_behaviour(sample(name), loaded, name, rounds=3)
    assert read(payload)["kind"] == name


@pytest.mark.parametrize("name", list(CASES))
def test_the_format_document_describes_the_bytes(name):
    # The reader in state_format.py follows docs/state-format.md alone.
    fields = read(sample(name).to_state())
    assert fields["kind"] == name
    if "stream" in fields:
        s = fields["stream"]
        assert len(s["weights"]) == len(fields["baseline"]["shares"])
        if name.endswith("Flush"):
            assert s["total"] == sum(s["weights"]) and 0 <= s["elapsed_ns"] < 60e9


def test_flush_mode_carries_the_time_since_the_last_flush():
    m = q.PyStreamingCategoricalDataDriftFlush(labels(20), None, 3)
    m.update_stream_batch(labels(10, 1))
    fields = read(m.to_state())
    body = bytearray(body_of(m.to_state()))
    # Set the elapsed time to 5 s: the loaded detector flushed 5 s ago, and
    # with a cadence of 3 s its next sample at a multiple of 256 flushes.
    struct.pack_into("<Q", body, len(body) - 8, 5_000_000_000)
    loaded = type(m).from_state(seal(fields["kind"], bytes(body)))
    assert loaded.last_flush == 5 and loaded.total_samples == 10
    restored = pickle.loads(pickle.dumps(loaded))
    assert restored.last_flush >= 5
    loaded.flush()
    assert loaded.last_flush == 0
    time.sleep(0.01)
    assert read(loaded.to_state())["stream"]["elapsed_ns"] >= 10_000_000


# ---- loading refuses what no object can hold --------------------------------


def test_loading_checks_the_frame_before_the_body():
    good = sample("PyLinearRegressionStreaming").to_state()
    load = q.PyLinearRegressionStreaming.from_state
    with raises_exactly(ValueError, "not a quorvant state payload: 3 bytes, fewer than the 20 of an empty one"):
        load(b"QVS")
    with raises_exactly(ValueError, "not a quorvant state payload (it does not start with the bytes QVST)"):
        load(b"PK" + good[2:])
    with raises_exactly(ValueError, "state payload of format version 2 is newer than this quorvant reads (up to 1)"):
        load(good[:4] + b"\x02\x00" + good[6:])
    with raises_exactly(ValueError, "state payload is truncated or extended: its header declares a body of 112 "
                                    "bytes, the payload holds 111"):
        load(good[:-5] + good[-4:])
    with pytest.raises(ValueError, match="^state payload is corrupted: checksum 0x"):
        load(good[:30] + bytes([good[30] ^ 1]) + good[31:])
    with raises_exactly(ValueError, "state payload holds a PyLogisticRegressionStreaming, not a "
                                    "PyLinearRegressionStreaming"):
        load(sample("PyLogisticRegressionStreaming").to_state())
    with raises_exactly(ValueError, "state payload holds an unknown class kind 12"):
        head = good[:6] + b"\x0c" + good[7:-4]
        load(head + struct.pack("<I", zlib.crc32(head)))
    for data, shown in (("text", "str"), (3, "int"), (None, "None")):
        with raises_exactly(TypeError, f"argument 'data': must be a bytes-like object, not {shown}"):
            load(data)
    assert load(memoryview(good)).to_state() == good and load(bytearray(good)).to_state() == good


def _with_body(name: str, mutate) -> bytes:
    body = bytearray(body_of(sample(name).to_state()))
    mutate(body)
    return seal(name, bytes(body))


def _set(fmt: str, offset: int, value):
    return lambda b: struct.pack_into("<" + fmt, b, offset if offset >= 0 else len(b) + offset, value)


# (class, mutation of the body, message after "<class> state: ") for each invariant a decoder checks.
DB, MB, LIN = "PyDataBiasStreaming", "PyModelBiasStreaming", "PyLinearRegressionStreaming"
CONT, CAT = "PyContinuousDataDrift", "PyCategoricalDataDrift"
CATD, CATF = "PyStreamingCategoricalDataDriftDecay", "PyStreamingCategoricalDataDriftFlush"
BROKEN = [
    (DB, _set("Q", 0, 10**6), "counts hold more positives than rows in facet a"),
    (DB, lambda b: (struct.pack_into("<Q", b, 8, 2**63), struct.pack_into("<Q", b, 24, 2**63)),
     "counts overflow 64 bits in total"),
    (DB, _set("B", -4, 9), "feature rule has an unknown comparison kind 9"),
    (MB, _set("Q", 0, 2**64 - 1), "row counts overflow 64 bits in total"),
    ("PyBinaryClassificationStreaming", _set("i", 32, 2), "positive label is 2; this class counts 1"),
    (LIN, _set("d", 32 + 6 * 8, 2.5), "regression sums hold a count that is not a whole number of pairs"),
    (LIN, _set("d", 32 + 2 * 8, math.nan), "regression sums hold a negative or NaN maximum error"),
    (LIN, _set("d", 32, -1.0), "regression sums hold a negative sum of squares or absolute values"),
    ("PyLogisticRegressionStreaming", _set("f", -8, 0.75), "eps is 0.75, which makes no log-loss clamp"),
    (CONT, _set("B", 0, 3), "bin rule is 3, not 0, 1 or 2"),
    (CONT, _set("d", 17, math.nan), "bin edges hold a NaN or infinite edge"),
    (CONT, _set("d", 25, -1.0), "bin edges are not in ascending order"),
    (CONT, lambda b: (struct.pack_into("<Q", b, 9, 3), b.__delitem__(slice(17, 33))),
     "bin edges number 3 for 7 bins, not 5"),
    (CONT, _set("d", -8, 0.5), "baseline shares do not sum to 1"),
    (CONT, _set("d", -8, -0.25), "baseline shares hold a value outside [0, 1]"),
    (CAT, _set("Q", 0, 0), "label count is 0; a baseline has at least one label"),
    (CAT, lambda b: b.__setitem__(slice(12, 13), b"z"), "labels are not distinct and in byte order"),
    (CAT, lambda b: b.__setitem__(slice(12, 13), b"\xff"), "labels hold one that is not UTF-8"),
    (CAT, _set("d", -8, 0.1), "label shares give unseen labels a share"),
    (CATD, _set("d", -8, 1.5), "decay factor is 1.5, outside (0, 1]"),
    (CATD, _set("d", -8, 0.0), "decay factor is 0, outside (0, 1]"),
    (CATD, _set("d", -16, -1.0), "stream total is negative, NaN or infinite"),
    (CATF, _set("d", -36, 99.0), "stream total is 99, not the sum of the bin counts"),
    (CATF, _set("d", -44, 0.5), "stream weights hold a count that is not a whole number"),
    (CATF, _set("d", -28, 2.5), "flush rate is 2.5, not a whole number of samples below 2^64"),
    (CATF, _set("I", -12, 10**9), "flush cadence has a nanosecond part of a second or more"),
    (CATF, _set("Q", -8, 2**63), "time since the last flush is longer than 292 years"),
]


@pytest.mark.parametrize("name, mutate, message", BROKEN, ids=[f"{n}: {m}" for n, _, m in BROKEN])
def test_numbers_that_break_an_invariant_are_refused_by_name(name, mutate, message):
    with raises_exactly(ValueError, f"{name} state: {message}"):
        getattr(_quorvant, name).from_state(_with_body(name, mutate))


def test_a_declared_length_beyond_the_payload_is_refused_before_anything_is_allocated():
    payload = _with_body("PyContinuousDataDrift", _set("Q", 9, 2**61))
    with raises_exactly(ValueError, "PyContinuousDataDrift state: bin edges declares 2305843009213693952 items of at "
                                    "least 8 bytes, more than the 104 bytes left (offset 17)"):
        q.PyContinuousDataDrift.from_state(payload)
    with pytest.raises(ValueError, match="unexpected bytes after the last field"):
        q.PyBinaryClassificationStreaming.from_state(seal("PyBinaryClassificationStreaming",
                                                          body_of(sample("PyBinaryClassificationStreaming").to_state())
                                                          + b"\0"))


@pytest.mark.skipif(SANITIZED, reason="measured on the release build; the sanitizer build's allocator settles slower")
@pytest.mark.parametrize("name", list(CASES))
def test_pickling_loading_and_merging_leak_nothing(name):
    m = sample(name)
    payload = m.to_state()
    cls = type(m)
    other = sample("PyContinuousDataDrift" if name == "PyCategoricalDataDrift" else "PyCategoricalDataDrift")

    def use():
        pickle.loads(pickle.dumps(m, protocol=5))
        copy.deepcopy(m)
        cls.from_state(payload)
        for bad in (payload[:-3], other.to_state(), "x"):
            call_quietly(cls.from_state, bad)  # refused
        if hasattr(m, "merge"):
            call_quietly(copy.copy(m).merge, other)  # refused
            copy.copy(m).merge(m)

    for _ in range(300):  # pickle's own caches settle over the first hundreds of calls
        use()
    # pickle and copy keep small caches of their own that settle unevenly;
    # a leaked object per call would show as 50 KB or more.
    assert_no_leak(use, rounds=1000, slack=24576)
