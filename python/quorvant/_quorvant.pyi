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

def py_model_perf_classification(y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic]) -> MetricDict:
    """Seven confusion-matrix metrics (values equal to 1 are positive): BalancedAccuracy, PrecisionPositive,
    PrecisionNegative, RecallPositive, RecallNegative, Accuracy, F1Score."""

def py_model_perf_logistic_regression(
    y_true_src: npt.NDArray[np.generic], y_pred_src: npt.NDArray[np.generic], threshold: float
) -> MetricDict:
    """The seven confusion-matrix metrics with truths and scores positive at >= threshold, plus LogLoss."""
