"""Data drift: production data scored against a training feature.

A continuous feature (transaction amounts) and a categorical one (payment
channel) are compared with their training distributions, first batch by
batch with the one-shot functions, then value by value with streaming
detectors that forget old data by decay or by flushing.
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


def streaming_section(rng: np.random.Generator) -> None:
    training = rng.lognormal(mean=3.0, sigma=0.6, size=20_000)
    # Half-life of 5 drift computations: each hourly score weighs the last
    # few hours most.
    detector = q.PyStreamingContinuousDataDriftDecay(training, "Sturges", 5)
    channels = q.PyStreamingCategoricalDataDriftFlush(["card", "transfer", "wallet"] * 100, 2_000, None)
    print("\nStreaming detectors fed production values, scored every hour")
    print(f"  {'hour':<6}{'mean amount':>12}{'PSI amount':>12}{'weight':>10}{'JS channel':>12}{'in window':>11}")
    for hour in range(8):
        mu = 3.0 if hour < 4 else 3.4  # amounts move up from hour 4 on
        for value in rng.lognormal(mean=mu, sigma=0.6, size=3_000):
            detector.update_stream(float(value))
        new_share = 0.0 if hour < 6 else 0.3  # a new channel from hour 6 on
        channels.update_stream_batch(
            list(rng.choice(["card", "transfer", "wallet", "crypto"], size=500,
                            p=[(1 - new_share) / 3] * 3 + [new_share])))
        psi = detector.compute_drift("PopulationStabilityIndex")
        js = channels.compute_drift("JensenShannon")
        print(f"  {hour:<6}{np.exp(mu + 0.18):>12.1f}{psi:>12.4f}{detector.total_samples:>10}{js:>12.4f}"
              f"{channels.total_samples:>11}")


def table_section(rng: np.random.Generator) -> None:
    """The same features as one table: quorvant.drift scores every column."""
    try:
        import pandas as pd
    except ImportError:
        print("\n(pandas is not installed: the drift table of a DataFrame is skipped)")
        return
    channels = ["card", "transfer", "wallet", "cash"]

    def table(n: int, mu: float, p: list[float]) -> "pd.DataFrame":
        return pd.DataFrame({
            "amount": rng.lognormal(mean=mu, sigma=0.6, size=n),
            "items": rng.poisson(2.0, size=n),
            "channel": pd.Categorical(rng.choice(channels, size=n, p=p)),
        })

    training = table(20_000, 3.0, [0.5, 0.3, 0.15, 0.05])
    production = table(5_000, 3.3, [0.35, 0.3, 0.3, 0.05])
    result = q.drift(training, production)
    print(f"\nThe whole table at once: quorvant.drift(training, production) ({len(result.drifted)} of "
          f"{len(result)} columns drifted)")
    print(f"  {'column':<10}{'kind':<13}{'bins':>5}" + "".join(f"{s:>12}" for s in SHORT) + f"{'drifted':>9}")
    for row in result.to_dicts():
        print(f"  {row['column']:<10}{row['kind']:<13}{row['bins']:>5}"
              + "".join(f"{row[m]:>12.4f}" for m in SCORES) + f"{'yes' if row['drifted'] else 'no':>9}")


def main() -> None:
    rng = np.random.default_rng(2026)
    continuous_section(rng)
    categorical_section(rng)
    table_section(rng)
    streaming_section(rng)


if __name__ == "__main__":
    main()
