"""Monitors that outlive their process: a nightly job saves its Monitor at
the end of one day, the next night's job loads it and goes on, and two
workers that each watched half of a day merge their shards into it."""

from __future__ import annotations

import pickle
import tempfile
from pathlib import Path

import numpy as np

import quorvant as q
from demo_report import loans


def monitor(reference: dict) -> q.Monitor:
    return q.Monitor(reference, target="repaid", prediction="approved", facets={"age": q.AtLeast(40)})


def line(label: str, m: q.Monitor) -> None:
    r = m.report()
    accuracy = next(row["latest"] for row in r.performance.to_dicts() if row["metric"] == "Accuracy")
    print(f"  {label:<44} rows {m.rows:>6,}   accuracy {accuracy:.4f}   drifted {r.drift.drifted}")


def main() -> None:
    rng = np.random.default_rng(15)
    reference = loans(rng, 20_000, production=False)
    days = [loans(rng, 4_000, production=d > 0) for d in range(3)]
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "monitor.pickle"
        # Day 1: the job watches the day's rows and saves its Monitor.
        day1 = monitor(reference)
        day1.update(days[0])
        path.write_bytes(pickle.dumps(day1))
        line("day 1, saved", day1)
        print(f"  {'':<44} ({path.stat().st_size:,} bytes in {path.name})")
        # Day 2: a new process loads yesterday's Monitor and goes on.
        day2 = pickle.loads(path.read_bytes())
    day2.update(days[1])
    line("day 2, loaded and updated", day2)

    # Day 3: two workers each watch half of the rows; their shards merge in.
    half = {k: v[:2_000] for k, v in days[2].items()}, {k: v[2_000:] for k, v in days[2].items()}
    shards = [monitor(reference) for _ in half]
    for shard, rows in zip(shards, half):
        shard.update(rows)
    merged = q.merge_all([day2, *shards])
    line("day 3, two shards merged", merged)

    one = monitor(reference)
    for rows in days:
        one.update(rows)
    same = merged.report().drift.to_dicts() == one.report().drift.to_dicts()
    print(f"  the same as one Monitor that saw every row: {same}")


if __name__ == "__main__":
    main()
