"""A monitoring cycle on built-in sample data.

At training time we compute baseline metrics; in production we compute the
same metrics on a recent batch, compare them with the baseline and report
what drifted. Every section uses data generated here with a seeded RNG. A
Monitor is saved at the end of one day, loaded the next and merged with two
shards; the cycle ends with a Monitor's report written as one HTML page.
"""

from __future__ import annotations

import numpy as np

import quorvant as q


def show_metrics(title: str, baseline: dict, production: dict) -> None:
    print(f"\n{title}")
    print(f"  {'metric':<32}{'baseline':>12}{'production':>12}")
    for name in baseline:
        print(f"  {name:<32}{baseline[name]:>12.4f}{production[name]:>12.4f}")


def regression_section(rng: np.random.Generator) -> None:
    # A house-price model: production prices moved up, the model did not follow.
    x = rng.uniform(50, 250, size=5_000)
    y_train = 2.0 * x + rng.normal(0, 10, size=x.size)
    pred_train = 2.0 * x
    x_prod = rng.uniform(50, 250, size=5_000)
    y_prod = 2.3 * x_prod + rng.normal(0, 15, size=x_prod.size)
    pred_prod = 2.0 * x_prod
    baseline = q.py_model_perf_linear_regression(y_train, pred_train)
    production = q.py_model_perf_linear_regression(y_prod, pred_prod)
    show_metrics("Regression model: performance at training time and in production", baseline, production)


def main() -> None:
    import demo_bias
    import demo_checks
    import demo_drift
    import demo_perf
    import demo_report
    import demo_state

    rng = np.random.default_rng(2026)
    print("Quorvant monitoring cycle on sample data")
    print("\n== Training time: bias of the data and of the model's predictions")
    demo_bias.main()
    print("\n== Training time and production: model performance")
    regression_section(rng)
    demo_perf.main()
    print("\n== Production: runtime checks against the baseline")
    demo_checks.main()
    print("\n== Production: data drift of the input features")
    demo_drift.main()
    print("\n== Across days and machines: save, load and merge a Monitor")
    demo_state.main()
    print("\n== Production: everything in one report")
    demo_report.main()


if __name__ == "__main__":
    main()
