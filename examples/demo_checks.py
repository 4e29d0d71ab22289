"""Runtime checks: metrics measured in production against their baseline.

Each family compares a "latest" dictionary with the "baseline" one taken at
training time and names the metrics that moved past the threshold.
"""

from __future__ import annotations

import numpy as np

import quorvant as q

# Metric dictionaries as the analyzers return them (sample values).
DATA_BIAS_BASELINE = {
    "ClassImbalance": 0.10, "DifferenceInProportionOfLabels": 0.05, "KlDivergence": 0.010,
    "JsDivergence": 0.0025, "LpNorm": 0.071, "TotalVariationDistance": 0.05, "KolmogorovSmirnov": 0.05,
}
DATA_BIAS_LATEST = {**DATA_BIAS_BASELINE, "DifferenceInProportionOfLabels": -0.09, "KlDivergence": 0.031}

MODEL_BIAS_BASELINE = {
    "DifferenceInPositivePredictedLabels": 0.04, "DisparateImpact": 1.08, "AccuracyDifference": 0.02,
    "RecallDifference": 0.03, "DifferenceInConditionalAcceptance": 0.05, "DifferenceInAcceptanceRate": 0.02,
    "SpecialityDifference": 0.01, "DifferenceInConditionalRejection": 0.04, "DifferenceInRejectionRate": 0.03,
    "TreatmentEquity": 0.20, "ConditionalDemographicDesparityPredictedLabels": 0.06, "GeneralizedEntropy": 0.15,
}
MODEL_BIAS_LATEST = {**MODEL_BIAS_BASELINE, "DisparateImpact": 1.31, "AccuracyDifference": -0.02}

CLASSIFICATION_BASELINE = {
    "BalancedAccuracy": 0.91, "PrecisionPositive": 0.88, "PrecisionNegative": 0.93, "RecallPositive": 0.90,
    "RecallNegative": 0.92, "Accuracy": 0.91, "F1Score": 0.89,
}
CLASSIFICATION_LATEST = {**CLASSIFICATION_BASELINE, "RecallPositive": 0.78, "F1Score": 0.82}


def regression_metrics(noise: float) -> dict[str, float]:
    """Linear-regression metrics of a model whose predictions carry `noise`."""
    rng = np.random.default_rng(7)
    y_true = rng.uniform(3.0, 10.0, 500)
    y_pred = y_true + rng.normal(0.0, noise, 500)
    return q.py_model_perf_linear_regression(y_true, y_pred)


def show(title: str, baseline: dict, latest: dict, report: dict, names=None) -> None:
    print(f"  {title}")
    for name in names or [k for k in baseline if baseline[k] != latest[k]]:
        print(f"    {name:32} baseline {baseline[name]:8.4f}  latest {latest[name]:8.4f}")
    if report["passed"]:
        print("    -> passed")
    for entry in report.get("failed_report", []):
        print(f"    -> drifted: {entry['metric']} (drift {entry['drift']:.4f})")


def main() -> None:
    print("Runtime checks (threshold 0.10)")
    show("data bias", DATA_BIAS_BASELINE, DATA_BIAS_LATEST,
         q.py_data_bias_runtime_check(DATA_BIAS_BASELINE, DATA_BIAS_LATEST))
    show("model bias", MODEL_BIAS_BASELINE, MODEL_BIAS_LATEST,
         q.py_model_bias_runtime_check(MODEL_BIAS_BASELINE, MODEL_BIAS_LATEST))
    show("classification", CLASSIFICATION_BASELINE, CLASSIFICATION_LATEST,
         q.py_model_perf_class_rt_full(CLASSIFICATION_BASELINE, CLASSIFICATION_LATEST))
    base, latest = regression_metrics(0.5), regression_metrics(0.6)
    listed = ["RootMeanSquaredError", "MeanAbsoluteError", "RSquared"]
    show("linear regression (three metrics)", base, latest,
         q.py_model_perf_lin_reg_rt_partial(base, latest, listed), listed)


if __name__ == "__main__":
    main()
