"""Data drift: a production batch scored against a training feature.

A continuous feature (transaction amounts) and a categorical one (payment
channel) are compared with their training distributions by the one-shot
drift functions.
"""

from __future__ import annotations

import numpy as np

import quorvant as q

SCORES = ["JensenShannon", "PopulationStabilityIndex", "WassersteinDistance", "KullbackLeibler"]
SHORT = ["JS", "PSI", "Wasserstein", "KL"]


def show(title: str, rows: dict[str, list[float]]) -> None:
    print(f"\n{title}")
    print(f"  {'sample':<28}" + "".join(f"{s:>12}" for s in SHORT))
    for name, values in rows.items():
        print(f"  {name:<28}" + "".join(f"{v:>12.4f}" for v in values))


def continuous_section(rng: np.random.Generator) -> None:
    training = rng.lognormal(mean=3.0, sigma=0.6, size=20_000)
    same = rng.lognormal(mean=3.0, sigma=0.6, size=5_000)
    shifted = rng.lognormal(mean=3.3, sigma=0.7, size=5_000)
    rows = {
        "production, unchanged": q.py_compute_drift_continuous_distribtuion(training, same, SCORES, None),
        "production, prices up": q.py_compute_drift_continuous_distribtuion(training, shifted, SCORES, None),
    }
    show("Continuous feature 'amount' against training (FreedmanDiaconis bins)", rows)


def categorical_section(rng: np.random.Generator) -> None:
    channels = ["card", "transfer", "wallet", "cash"]
    training = list(rng.choice(channels, size=20_000, p=[0.5, 0.3, 0.15, 0.05]))
    same = list(rng.choice(channels, size=5_000, p=[0.5, 0.3, 0.15, 0.05]))
    # A new channel appears in production; the training data never saw it.
    moved = list(rng.choice(channels + ["crypto"], size=5_000, p=[0.35, 0.3, 0.2, 0.05, 0.1]))
    rows = {
        "production, unchanged": q.py_compute_drift_categorical_distribtuion(training, same, SCORES),
        "production, new channel": q.py_compute_drift_categorical_distribtuion(training, moved, SCORES),
    }
    show("Categorical feature 'channel' against training", rows)


def main() -> None:
    rng = np.random.default_rng(2026)
    continuous_section(rng)
    categorical_section(rng)


if __name__ == "__main__":
    main()
