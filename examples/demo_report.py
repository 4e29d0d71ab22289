"""The monitoring cycle as one HTML page: a loan model watched by a Monitor.

Training rows make the reference; a production window (prices up, a new
payment channel, a model that favours older applicants more) is fed to the
Monitor, and its report becomes a self-contained HTML page with the drift of
every feature, the performance against the baseline and the bias per facet.
"""

from __future__ import annotations

import sys
from pathlib import Path

import numpy as np

import quorvant as q

CHANNELS = ["card", "transfer", "wallet", "cash"]


def loans(rng: np.random.Generator, n: int, production: bool) -> dict[str, np.ndarray]:
    """Loan applications with the model's decision; production shifts amounts,
    adds a channel and tilts the model towards applicants of 40 and over."""
    age = rng.normal(42.0, 11.0, n)
    amount = rng.lognormal(3.3 if production else 3.0, 0.6, n)
    channels = CHANNELS + ["crypto"] if production else CHANNELS
    p = [0.35, 0.3, 0.2, 0.05, 0.1] if production else [0.5, 0.3, 0.15, 0.05]
    older = age >= 40.0
    repaid = (rng.random(n) < np.where(older, 0.62, 0.55)).astype(np.int8)
    tilt = 0.12 if production else 0.05
    approve = np.where(repaid == 1, 0.8, 0.25) + np.where(older, tilt, -tilt)
    return {
        "age": age,
        "amount": amount,
        "items": rng.poisson(2.0, n),
        "channel": rng.choice(channels, size=n, p=p),
        "repaid": repaid,
        "approved": (rng.random(n) < np.clip(approve, 0.0, 1.0)).astype(np.int8),
    }


def demo_report() -> q.MonitorReport:
    """The Monitor's report after one production window."""
    rng = np.random.default_rng(2026)
    # Windows as long as the reference keep the generalized-entropy sums comparable.
    training, production = loans(rng, 20_000, False), loans(rng, 20_000, True)
    monitor = q.Monitor(training, target="repaid", prediction="approved", facets={"age": q.AtLeast(40)},
                        drift_threshold=0.25)
    monitor.update(production)
    return monitor.report()


DEFAULT_PATH = Path(__file__).resolve().parent.parent / "build" / "demo-report.html"


def main(path: str | Path = DEFAULT_PATH) -> Path | None:
    report = demo_report()
    print(f"\nThe monitor's report: {report.rows:,} production rows, "
          f"{len(report.drift.drifted)} of {len(report.drift)} features drifted "
          f"({', '.join(report.drift.drifted)}), performance check "
          f"{'passed' if report.performance.passed else 'failed'}, bias check "
          f"{'passed' if report.bias_check.passed else 'failed'}")
    try:
        import jinja2  # noqa: F401
    except ImportError:
        print("(Jinja2 is not installed, so no HTML report: pip install 'quorvant[report]')")
        return None
    out = Path(path)
    out.parent.mkdir(parents=True, exist_ok=True)
    report.to_html(out)
    print(f"HTML report written to {out.resolve()}")
    return out


if __name__ == "__main__":
    main(*sys.argv[1:])
