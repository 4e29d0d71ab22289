"""Runtime checks against a plain-Python loop doing the same comparison.

A full check of a dozen metrics should cost about as much as building its
result dictionary. Prints the time per call of each (best of several runs)
and the ratio of the Python loop to the extension.
"""

from __future__ import annotations

import timeit

import quorvant as q

MODEL_BIAS = [
    "DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
    "DifferenceInConditionalAcceptance", "DifferenceInAcceptanceRate", "SpecialityDifference",
    "DifferenceInConditionalRejection", "DifferenceInRejectionRate", "TreatmentEquity",
    "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy",
]
SIGNED = {"DisparateImpact", "GeneralizedEntropy"}
CLASSIFICATION = ["BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
                  "RecallNegative", "Accuracy", "F1Score"]


def python_model_bias_check(baseline, latest, threshold=0.1):
    """What a caller would otherwise write (in f64, so not bit-exact)."""
    factor = 1.0 + threshold
    failed = []
    for name in MODEL_BIAS:
        b, l = baseline[name], latest[name]
        if name in SIGNED:
            if l > factor * b:
                failed.append({"metric": name, "drift": abs(l - b)})
        elif abs(l) > factor * abs(b):
            failed.append({"metric": name, "drift": abs(abs(l) - abs(b))})
    return {"passed": False, "failed_report": failed} if failed else {"passed": True}


def python_classification_check(baseline, latest, threshold=0.1):
    factor = 1.0 + threshold
    failed = []
    for name in CLASSIFICATION:
        b, l = baseline[name], latest[name]
        if factor * l < b:
            failed.append({"metric": name, "drift": b - l})
    return {"passed": False, "failed_report": failed} if failed else {"passed": True}


def build_result(result):
    """Builds a fresh dictionary of the same shape: the floor of any check."""
    if result["passed"]:
        return {"passed": True}
    return {"passed": False,
            "failed_report": [{"metric": e["metric"], "drift": e["drift"]} for e in result["failed_report"]]}


def per_call(fn, *args) -> float:
    """Best time per call in seconds."""
    timer = timeit.Timer(lambda: fn(*args))
    n, _ = timer.autorange()
    return min(timer.repeat(repeat=7, number=n)) / n


def main() -> None:
    bias_base = {name: 0.05 * (i + 1) for i, name in enumerate(MODEL_BIAS)}
    bias_same = dict(bias_base)
    bias_drift = {**bias_base, "DisparateImpact": 0.9, "TreatmentEquity": -0.9, "AccuracyDifference": 0.5}
    class_base = dict.fromkeys(CLASSIFICATION, 0.9)
    class_drift = {**class_base, "Accuracy": 0.7, "F1Score": 0.6}

    assert q.py_model_bias_runtime_check(bias_base, bias_same) == python_model_bias_check(bias_base, bias_same)
    assert [e["metric"] for e in q.py_model_bias_runtime_check(bias_base, bias_drift)["failed_report"]] == [
        e["metric"] for e in python_model_bias_check(bias_base, bias_drift)["failed_report"]]

    rows = [
        ("model bias, 12 metrics, passes", q.py_model_bias_runtime_check, python_model_bias_check,
         (bias_base, bias_same)),
        ("model bias, 12 metrics, 3 fail", q.py_model_bias_runtime_check, python_model_bias_check,
         (bias_base, bias_drift)),
        ("classification, 7 metrics, passes", q.py_model_perf_class_rt_full, python_classification_check,
         (class_base, class_base)),
        ("classification, 7 metrics, 2 fail", q.py_model_perf_class_rt_full, python_classification_check,
         (class_base, class_drift)),
    ]
    print("Runtime checks: time per call (best of 7)")
    print(f"{'case':36} {'quorvant':>10} {'Python loop':>12} {'ratio':>6} {'result dict':>12}")
    for label, ours, theirs, args in rows:
        t_ours = per_call(ours, *args)
        t_theirs = per_call(theirs, *args)
        t_dict = per_call(build_result, ours(*args))
        print(f"{label:36} {t_ours * 1e6:7.3f} us {t_theirs * 1e6:9.3f} us {t_theirs / t_ours:5.1f}x"
              f" {t_dict * 1e6:9.3f} us")
    print("ratio = Python loop / quorvant; result dict = building the same answer's dictionary in Python")


if __name__ == "__main__":
    main()
