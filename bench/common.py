"""Timing helpers shared by the benchmarks."""

from __future__ import annotations

import time


def best_time(fn, *args, repeat: int = 5, min_time: float = 0.05) -> float:
    """Best seconds per call of fn(*args) over `repeat` rounds, each round
    looping until it has run for at least `min_time`."""
    fn(*args)
    best = float("inf")
    for _ in range(repeat):
        n = 0
        start = time.perf_counter()
        while True:
            fn(*args)
            n += 1
            elapsed = time.perf_counter() - start
            if elapsed >= min_time:
                break
        best = min(best, elapsed / n)
    return best


def fmt_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:8.2f} {unit}"
    return f"{seconds / 1e-9:8.2f} ns"


def print_table(title: str, header: list[str], rows: list[list[str]]) -> None:
    print(f"\n{title}")
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(header)]
    print("  ".join(h.rjust(w) for h, w in zip(header, widths)))
    for r in rows:
        print("  ".join(c.rjust(w) for c, w in zip(r, widths)))
