"""Model performance on built-in sample data: a classifier's metrics on its
baseline (training-time) batch and on a production batch where it has
degraded, then a streaming monitor fed the production rows as they arrive
and its drift report."""

from __future__ import annotations

import numpy as np

import quorvant as q

ORDER = ["Accuracy", "BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
         "RecallNegative", "F1Score", "LogLoss"]


def sample(rng: np.random.Generator, n: int, noise: float):
    """Truths (0/1), the model's scores and its 0/1 decisions at 0.5."""
    truth = (rng.random(n) < 0.35).astype(np.int64)
    scores = np.clip(np.where(truth == 1, 0.75, 0.25) + rng.normal(0.0, noise, n), 0.0, 1.0)
    return truth, scores, (scores >= 0.5).astype(np.int64)


def table(rows: dict[str, dict[str, float]]) -> None:
    names = list(rows)
    print(f"  {'metric':<20}" + "".join(f"{n:>20}" for n in names))
    for metric in ORDER:
        cells = [rows[n].get(metric) for n in names]
        if all(c is None for c in cells):
            continue
        print(f"  {metric:<20}" + "".join(f"{c:>20.4f}" if c is not None else f"{'':>20}" for c in cells))


def main() -> None:
    rng = np.random.default_rng(11)
    base_truth, base_scores, base_decisions = sample(rng, 5_000, noise=0.18)
    prod_truth, prod_scores, prod_decisions = sample(rng, 2_000, noise=0.30)

    print("\nClassifier: binary classification (decisions) and logistic regression (scores)")
    table({
        "baseline": q.py_model_perf_classification(base_truth, base_decisions),
        "production": q.py_model_perf_classification(prod_truth, prod_decisions),
        "baseline, scores": q.py_model_perf_logistic_regression(base_truth, base_scores, 0.5),
        "production, scores": q.py_model_perf_logistic_regression(prod_truth, prod_scores, 0.5),
    })

    print()
    print("In production: a logistic-regression monitor built from the baseline, fed production rows")
    monitor = q.PyLogisticRegressionStreaming(base_truth.astype(float), base_scores, 0.5)
    for t, s in zip(prod_truth[:50].tolist(), prod_scores[:50].tolist()):
        monitor.push(float(t), s)  # one row at a time ...
    for start in range(50, len(prod_truth), 500):  # ... or in batches
        monitor.push_batch(prod_truth[start:start + 500].astype(float), prod_scores[start:start + 500])
    current = monitor.performance_snapshot()
    drift = monitor.drift_snapshot()
    print(f"  {'metric':<20}{'current':>12}{'drift':>12}   (drift = baseline - current)")
    for metric in ORDER:
        print(f"  {metric:<20}{current[metric]:>12.4f}{drift[metric]:>12.4f}")
    report = monitor.drift_report(0.05)
    failed = ", ".join(f"{e['metric']} ({e['drift']:.3f})" for e in report.get("failed_report", []))
    print(f"  drift_report(0.05): passed={report['passed']}" + (f"; failed: {failed}" if failed else ""))


if __name__ == "__main__":
    main()
