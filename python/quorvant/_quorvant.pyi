"""Type stubs of the native extension module."""

from typing import Mapping, Sequence

import numpy as np
import numpy.typing as npt

MetricDict = dict[str, float]
DriftReportDict = dict[str, object]

# Model performance

def py_model_perf_linear_regression(y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic]) -> MetricDict:
    """Eight regression metrics of (y_true, y_pred): RootMeanSquaredError, MeanSquaredError,
    MeanAbsoluteError, RSquared, MaxError, MeanSquaredLogError, RootMeanSquaredLogError,
    MeanAbsolutePercentageError."""

# Data drift
#
# Drift type names: "JensenShannon", "PopulationStabilityIndex", "WassersteinDistance",
# "KullbackLeibler". Bin rules (quantile types): "FreedmanDiaconis" (the default, for None),
# "Scott", "Sturges".

def py_compute_drift_categorical_distribtuion(
    baseline: Sequence[str], candidate: Sequence[str], drift_metrics: Sequence[str]
) -> list[float]:
    """Scores of the candidate labels against the baseline labels, one per name in drift_metrics,
    in order. Labels unknown to the baseline count in one extra bin."""

def py_compute_drift_continuous_distribtuion(
    baseline: npt.NDArray[np.float64],
    candidate: npt.NDArray[np.float64],
    drift_metrics: Sequence[str],
    quantile_type: str | None,
) -> list[float]:
    """Scores of the candidate values against a histogram of the baseline values (contiguous 1-D
    float64 arrays; the bin count follows from the rule), one per name in drift_metrics, in order."""
