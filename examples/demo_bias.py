"""Bias of a model across a facet: before training (the labels themselves),
after training (the model's predictions), and in production (a streaming
monitor fed labeled rows, then a drift report), on built-in sample data."""

from __future__ import annotations

import numpy as np

import quorvant as q


def sample(rng, n, tilt):
    """Loan applications: an age feature, the true outcome, and a model's
    prediction that favours applicants of 40 and over by `tilt`."""
    age = rng.normal(42.0, 11.0, n)
    older = age >= 40.0
    repaid = (rng.random(n) < np.where(older, 0.62, 0.55)).astype(np.int8)
    approve_p = np.where(repaid == 1, 0.8, 0.25) + np.where(older, tilt, -tilt)
    approved = (rng.random(n) < np.clip(approve_p, 0.0, 1.0)).astype(np.int8)
    return age, repaid, approved


def show(title, metrics, names):
    print(f"  {title}")
    for name in names:
        print(f"    {name:<48} {metrics[name]: .4f}")


def main():
    rng = np.random.default_rng(2024)
    rows = 20_000
    age, repaid, approved = sample(rng, rows, tilt=0.08)

    print("Bias across the facet 'age >= 40' (age is continuous, so 40.0 is a threshold)")
    pre = q.py_data_bias_analyzer(age, repaid, 40.0, 1)
    show("before training: the labels", pre,
         ["ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "TotalVariationDistance"])
    post = q.py_model_bias_analyzer(age, repaid, approved, 40.0, 1, 1)
    show("after training: the model's approvals", post,
         ["DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
          "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy"])

    # The same facet named explicitly, on a text column.
    band = np.where(age >= 40.0, "40+", "under 40")
    explicit = q.py_model_bias_analyzer_explicit_seg(band, None, "40+", None, repaid, 0.5, None, "GreaterThan",
                                                     approved, 0.5, None, "GreaterThan")
    same = all(explicit[k] == post[k] or (explicit[k] != explicit[k] and post[k] != post[k]) for k in post)
    print(f"  explicit segmentation of the band column gives the same metrics: {same}")

    # Production: rows arrive already labeled (1 = aged 40+, repaid,
    # approved). The monitor keeps the training metrics as its baseline;
    # weeks as long as the baseline keep the generalized-entropy sums
    # comparable.
    older = (age >= 40.0).astype(np.int8)
    monitor = q.PyModelBiasStreaming(older, approved, repaid)
    print("\nIn production: a streaming monitor with the training data as baseline")
    for week, tilt in enumerate((0.08, 0.08, 0.2), start=1):
        p_age, p_repaid, p_approved = sample(rng, rows, tilt)
        monitor.push_batch((p_age >= 40.0).astype(np.int8), p_approved, p_repaid)
        report = monitor.drift_report(0.5)
        failed = sorted(e["metric"] for e in report.get("failed_report", []))
        shown = ", ".join(failed[:3]) + (f" and {len(failed) - 3} more" if len(failed) > 3 else "")
        print(f"  week {week}: model tilt {tilt:.2f}, passed={report['passed']}"
              + (f"; relative drift >= 0.5 in {shown}" if failed else ""))
        monitor.flush()


if __name__ == "__main__":
    main()
