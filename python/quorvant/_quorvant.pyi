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

FloatSequence = Sequence[float] | npt.NDArray[np.generic]
IntSequence = Sequence[int] | npt.NDArray[np.integer]

class PyBinaryClassificationStreaming:
    """Streaming classification monitor: a baseline from (y_true, y_pred) of 32-bit integer labels (1 is
    positive), exact running confusion counts of production pairs, metrics and drift (baseline - current)."""

    def __init__(self, y_true: IntSequence, y_pred: IntSequence) -> None: ...
    def push(self, y_true: int, y_pred: int) -> None:
        """Counts one pair."""
    def push_batch(self, y_true: IntSequence, y_pred: IntSequence) -> None:
        """Counts the pairs of two equal-length sequences (an empty batch changes nothing)."""
    def flush(self) -> None:
        """Empties the running counts."""
    def reset_baseline(self, y_true: IntSequence, y_pred: IntSequence) -> None:
        """Replaces the baseline and empties the running counts."""
    def performance_snapshot(self) -> MetricDict:
        """The seven current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """Baseline minus current, per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""

class PyLinearRegressionStreaming:
    """Streaming regression monitor: a baseline from (y_true, y_pred), running f64 error sums of production
    pairs, the eight metrics and their drift (absolute difference from the baseline)."""

    def __init__(self, y_true: FloatSequence, y_pred: FloatSequence) -> None: ...
    def push(self, t: float, p: float) -> None:
        """Adds one pair."""
    def push_batch(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Adds the pairs of two equal-length, non-empty sequences."""
    def flush(self) -> None:
        """Empties the running sums."""
    def reset_baseline(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Replaces the baseline; the running sums are kept."""
    def performance_snapshot(self) -> MetricDict:
        """The eight current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """abs(baseline - current), per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""

class PyLogisticRegressionStreaming:
    """Streaming logistic-regression monitor: a baseline from (y_true, y_pred, threshold), exact running counts
    (truth positive when exactly 1, score positive at >= threshold), the running log loss, metrics and drift
    (baseline - current)."""

    def __init__(self, y_true: FloatSequence, y_pred: FloatSequence, threshold: float) -> None: ...
    def push(self, y_true: float, y_pred: float) -> None:
        """Adds one pair."""
    def push_batch(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Adds the pairs of two equal-length, non-empty sequences."""
    def flush(self) -> None:
        """Empties the running counts and log-loss sum."""
    def reset_baseline(self, y_true: FloatSequence, y_pred: FloatSequence) -> None:
        """Replaces the baseline, computed with the current decision threshold."""
    def reset_baseline_and_decision_threshold(self, y_true: FloatSequence, y_pred: FloatSequence, threshold: float) -> None:
        """Replaces the baseline and the decision threshold (neither changes when the call fails)."""
    def performance_snapshot(self) -> MetricDict:
        """The eight current metrics."""
    def drift_snapshot(self) -> MetricDict:
        """Baseline minus current, per metric."""
    def drift_report(self, drift_threshold: float) -> DriftReportDict:
        """The metrics whose drift is >= drift_threshold."""
    def drift_report_partial_metrics(self, metrics: Sequence[str], drift_threshold: float) -> DriftReportDict:
        """drift_report restricted to the named metrics."""
