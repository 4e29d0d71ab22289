"""Mutated state payloads: each loads into a working object or raises ValueError, and no declared length makes a
decoder allocate beyond the payload's size. QUORVANT_FUZZ_PER_CLASS sets the payloads per class."""

from __future__ import annotations

import os
import random
import struct
import subprocess
import sys
import textwrap
import zlib

import pytest

from quorvant import _quorvant
from state_cases import CASES, sample
from support import SANITIZED, child_env

PER_CLASS = int(os.environ.get("QUORVANT_FUZZ_PER_CLASS", str(100_000 // len(CASES) + 1)))
HUGE = [2**64 - 1, 2**63, 2**62 + 7, 2**32, 2**31 - 1, 2**24, 10**6 + 1, 65536, 4096, 1000]


def reseal(head_and_body: bytearray, fix_length: bool) -> bytes:
    if fix_length and len(head_and_body) >= 16:
        struct.pack_into("<Q", head_and_body, 8, len(head_and_body) - 16)
    return bytes(head_and_body) + struct.pack("<I", zlib.crc32(head_and_body))


def mutate(payload: bytes, rng: random.Random) -> bytes:
    """Bit flips, a truncation, an extension, or a field set huge or overwritten; mostly with length and checksum
    made right again, so that the body's own checks are reached."""
    data = bytearray(payload[:-4])
    fix = rng.random() < 0.9
    kind = rng.randrange(6)
    if kind == 0:
        for _ in range(rng.randint(1, 3)):
            i = rng.randrange(len(data) * 8)
            data[i // 8] ^= 1 << (i % 8)
        if not fix:
            return bytes(data) + payload[-4:]
    elif kind == 1:
        del data[rng.randrange(16, len(data) + 1):]
    elif kind == 2:
        data += bytes(rng.randrange(256) for _ in range(rng.randint(1, 24)))
    elif kind in (3, 4):
        # A length field (or any field) set huge; counts are u64 and text
        # lengths u32, at any offset of the body.
        width, fmt = (8, "<Q") if kind == 3 else (4, "<I")
        if len(data) >= 16 + width:
            i = rng.randrange(16, len(data) - width + 1)
            value = rng.choice(HUGE) % (1 << (8 * width))
            struct.pack_into(fmt, data, i, value)
    else:
        i = rng.randrange(16, max(17, len(data)))
        data[i:i + 8] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 8)))
    if rng.random() < 0.05:
        data[rng.randrange(16)] = rng.randrange(256)  # the header itself
    return reseal(data, fix_length=fix)


def seeds(name: str) -> list[bytes]:
    case = CASES[name]
    fresh = case.make()
    reset = sample(name)
    case.reset(reset)
    return [sample(name).to_state(), fresh.to_state(), reset.to_state()]


@pytest.mark.parametrize("name", list(CASES))
def test_mutated_payloads_load_or_raise_value_error(name):
    cls = getattr(_quorvant, name)
    rng = random.Random(f"fuzz {name}")
    bases = seeds(name)
    loaded = 0
    for n in range(PER_CLASS):
        payload = mutate(bases[n % len(bases)], rng)
        try:
            obj = cls.from_state(payload)
        except ValueError:
            continue
        loaded += 1
        # What loads is an object like any other: it saves again and answers.
        again = obj.to_state()
        assert cls.from_state(again) is not None
        try:
            CASES[name].observe(obj)
            CASES[name].feed(obj, 1)
        except (ValueError, TypeError):
            pass
    assert loaded < PER_CLASS  # the mutations reach the refusals


def test_declared_lengths_allocate_nothing_beyond_the_payload():
    # In a fresh process: counts claiming up to 2^30 items must not raise the peak resident size by much.
    script = textwrap.dedent("""
        import random, resource, struct, sys, zlib
        sys.path.insert(0, sys.argv[1])
        from quorvant import _quorvant as q
        labels = [f"label-{i:06d}" for i in range(20000)]
        payloads = {
            "PyCategoricalDataDrift": q.PyCategoricalDataDrift(labels).to_state(),
            "PyStreamingCategoricalDataDriftFlush": q.PyStreamingCategoricalDataDriftFlush(labels, None, None).to_state(),
        }
        import numpy as np
        payloads["PyStreamingContinuousDataDriftDecay"] = q.PyStreamingContinuousDataDriftDecay(
            np.arange(0.0, 200000.0), "Sturges", None).to_state()
        size = max(len(p) for p in payloads.values())
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        rng = random.Random(7)
        for name, payload in payloads.items():
            cls = getattr(q, name)
            for _ in range(300):
                data = bytearray(payload[:-4])
                i = rng.randrange(16, len(data) - 8)
                struct.pack_into("<Q", data, i, rng.choice([2**20, 2**24, 2**27, 2**30]) + rng.randrange(8))
                try:
                    cls.from_state(bytes(data) + struct.pack("<I", zlib.crc32(data)))
                except ValueError:
                    pass
        grew = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024
        print(size, grew)
    """)
    tests = os.path.dirname(__file__)
    run = subprocess.run([sys.executable, "-c", script, tests], env=child_env(), capture_output=True, text=True,
                         timeout=600)
    assert run.returncode == 0, run.stderr
    size, grew = map(int, run.stdout.split())
    limit = 64 * size + (64 << 20 if SANITIZED else 16 << 20)
    assert grew < limit, f"peak memory grew by {grew} bytes for payloads of {size} bytes"
