"""py_model_perf_linear_regression against the NumPy expressions and
scikit-learn's regression metrics, on the same data."""

from __future__ import annotations

import numpy as np
from sklearn import metrics as skm

import quorvant as q
from common import best_time, fmt_time, print_table


def numpy_metrics(y, p):
    y = y.astype(np.float64)
    p = p.astype(np.float64)
    e = y - p
    a = np.abs(e)
    mse = np.mean(e * e)
    msle = np.mean((np.log(y + 1.0) - np.log(p + 1.0)) ** 2)
    sst = np.sum((y - y.mean()) ** 2)
    return {
        "RootMeanSquaredError": np.sqrt(mse),
        "MeanSquaredError": mse,
        "MeanAbsoluteError": np.mean(a),
        "RSquared": 1.0 - np.sum(e * e) / sst,
        "MaxError": np.max(a),
        "MeanSquaredLogError": msle,
        "RootMeanSquaredLogError": np.sqrt(msle),
        "MeanAbsolutePercentageError": np.mean(a / np.abs(y)),
    }


def sklearn_metrics(y, p):
    mse = skm.mean_squared_error(y, p)
    msle = skm.mean_squared_log_error(y, p)
    return {
        "RootMeanSquaredError": np.sqrt(mse),
        "MeanSquaredError": mse,
        "MeanAbsoluteError": skm.mean_absolute_error(y, p),
        "RSquared": skm.r2_score(y, p),
        "MaxError": skm.max_error(y, p),
        "MeanSquaredLogError": msle,
        "RootMeanSquaredLogError": np.sqrt(msle),
        "MeanAbsolutePercentageError": skm.mean_absolute_percentage_error(y, p),
    }


def main() -> None:
    rng = np.random.default_rng(0)
    rows = []
    for n in (100, 10_000, 1_000_000):
        for dtype in (np.float32, np.float64):
            for layout in ("contiguous", "strided"):
                base = rng.uniform(0.5, 100.0, size=2 * n)
                y = base.astype(dtype)
                p = (base * rng.uniform(0.9, 1.1, size=2 * n)).astype(dtype)
                if layout == "strided":
                    y, p = y[::2], p[::2]
                else:
                    y, p = y[:n].copy(), p[:n].copy()
                ours = best_time(q.py_model_perf_linear_regression, y, p)
                npy = best_time(numpy_metrics, y, p)
                skl = best_time(sklearn_metrics, y, p) if n <= 10_000 or layout == "contiguous" else float("nan")
                rows.append([
                    f"{n:>9,}", np.dtype(dtype).name, layout, fmt_time(ours), f"{ours / n * 1e9:6.2f}",
                    fmt_time(npy), f"{npy / ours:6.1f}x",
                    fmt_time(skl) if skl == skl else "-", f"{skl / ours:6.1f}x" if skl == skl else "-",
                ])
    print_table(
        "Linear regression, eight metrics (ratio = their time / ours)",
        ["rows", "dtype", "layout", "quorvant", "ns/row", "numpy", "ratio", "sklearn", "ratio"],
        rows,
    )


if __name__ == "__main__":
    main()
