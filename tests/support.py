"""Shared helpers of the test suite."""

from __future__ import annotations

import gc
import os
import sys
import tracemalloc

import pytest

# Under the sanitizer build everything is slower; tests that loop for
# statistics (leak checks, large inputs) take fewer rounds there.
SANITIZED = os.environ.get("QUORVANT_SANITIZED") == "1"


CONFIG_VARIABLES = ("QUORVANT_STABILITY_EPS", "QUORVANT_DISTRIBUTION_HEURISTIC")


def child_env(**overrides: str) -> dict[str, str]:
    """The environment of a child Python: this process's own (so it loads
    the same build, with the sanitizer's preloads and options under
    `make sanitize`), without the configuration variables, plus
    `overrides`."""
    env = {k: v for k, v in os.environ.items() if k not in CONFIG_VARIABLES}
    env.update(overrides)
    return env


def call_quietly(fn, *args, **kwargs):
    """Calls fn, swallowing any Exception; returns the exception or None."""
    try:
        fn(*args, **kwargs)
    except Exception as exc:  # noqa: BLE001 - error paths are exercised on purpose
        return exc
    return None


def _shared_singleton(obj) -> bool:
    return obj is None or type(obj) is bool or (type(obj) is int and -5 <= obj <= 256)


def assert_no_leak(fn, *args, rounds: int = 2000, slack: int = 4096, **kwargs):
    """Calls fn(*args, **kwargs) many times (errors allowed) and checks that
    neither traced memory nor the argument objects' reference counts grow."""
    rounds = 50 if SANITIZED else rounds
    # Shared singletons (None, bools, small ints) are referenced all over the
    # interpreter; from 3.12 on they are immortal with a fixed count, before
    # that their count moves with unrelated code, so they are not watched.
    objs = [o for o in list(args) + list(kwargs.values()) if not _shared_singleton(o)]
    for _ in range(20):  # warm caches (interned names, NumPy API import)
        call_quietly(fn, *args, **kwargs)
    gc.collect()
    refs_before = [sys.getrefcount(o) for o in objs]
    tracemalloc.start()
    try:
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(rounds):
            call_quietly(fn, *args, **kwargs)
        gc.collect()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    refs_after = [sys.getrefcount(o) for o in objs]
    assert refs_after == refs_before, "argument reference counts changed"
    assert after - before < slack, f"memory grew by {after - before} bytes over {rounds} calls"


def raises_exactly(exc_type, message: str):
    """pytest.raises that also checks the whole message text."""
    import re

    return pytest.raises(exc_type, match="^" + re.escape(message) + "$")


class Reenter:
    """A value whose conversion (as int or float) first runs `action`: a call back into the object being used."""

    def __init__(self, action, value=1):
        self.action, self.value = action, value

    def __index__(self):
        self.action()
        return self.value

    def __float__(self):
        self.action()
        return float(self.value)
